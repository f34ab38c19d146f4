#include "pipeline/output_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pipeline/effects.h"
#include "record/console.h"
#include "record/driver_state.h"
#include "toolrun/platform_files.h"

// A full disk may show only when a buffer goes out: the flush is checked before the close,
// since not every C runtime's fclose reports a failure of its own last write.
bool write_whole_file(const char* name, const char* mode, std::string_view text,
                      bool failed_step_output) {
  std::FILE* file = create_output_file(name, mode);
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
                       std::fflush(file) == 0 && std::ferror(file) == 0;
  const int reason = errno;
  if (std::fclose(file) == 0 && written) return true;
  const int failure = written ? errno : reason;
  if (!failed_step_output) {
    std::remove(name);
  } else if (state.delete_temps) {
    delete_file(name);
  }
  errno = failure;
  return false;
}

std::string temporary_name_for(const std::string& name) {
  return name + "." + std::to_string(process_id()) + ".tmp";
}

void refuse_with_reason(const char* message, const char* name, int error) {
  const std::string format = std::string(message) + ": %s\n";
  print_err(format.c_str(), name, std::strerror(error));
  if (state.status == 0) state.status = 1;
}
