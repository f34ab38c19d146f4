#include "pipeline/output_files.h"

#include <cstdio>

#include "driver/driver_state.h"
#include "pipeline/effects.h"
#include "toolrun/platform_files.h"

// A full disk may show only when the last buffer goes out, at the close.
bool write_whole_file(const char* name, const char* mode, std::string_view text,
                      bool failed_step_output) {
  std::FILE* file = create_output_file(name, mode);
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) == 0 && written) return true;
  if (!failed_step_output) {
    std::remove(name);
  } else if (state.delete_temps) {
    delete_file(name);
  }
  return false;
}

std::string temporary_name_for(const std::string& name) {
  return name + "." + std::to_string(process_id()) + ".tmp";
}
