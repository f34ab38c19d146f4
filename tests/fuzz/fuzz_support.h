// What the fuzz targets share: a failed check ends the run as a crash libFuzzer keeps, and
// the driver's console output is counted instead of shown.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/driver_state.h"

inline void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// Every text field of the driver state holds its terminating zero within its size.
inline void require_fields_terminated() {
  const struct {
    const char* name;
    const char* text;
    std::size_t size;
  } fields[] = {
      {"start_address", state.start_address, sizeof state.start_address},
      {"include_dir", state.include_dir, sizeof state.include_dir},
      {"lib_dir", state.lib_dir, sizeof state.lib_dir},
      {"compiler_options", state.compiler_options, sizeof state.compiler_options},
      {"extend_options", state.extend_options, sizeof state.extend_options},
      {"linker_options", state.linker_options, sizeof state.linker_options},
      {"command_file_options", state.command_file_options, sizeof state.command_file_options},
      {"object_list", state.object_list, sizeof state.object_list},
      {"library_list", state.library_list, sizeof state.library_list},
      {"default_libraries", state.default_libraries, sizeof state.default_libraries},
      {"command_text", state.command_text, sizeof state.command_text},
      {"slot 0", state.slots[0].text, sizeof state.slots[0].text},
      {"slot 1", state.slots[1].text, sizeof state.slots[1].text},
      {"slot 2", state.slots[2].text, sizeof state.slots[2].text},
      {"slot 3", state.slots[3].text, sizeof state.slots[3].text},
  };
  for (const auto& field : fields) {
    if (std::memchr(field.text, '\0', field.size) == nullptr) {
      std::fprintf(stderr, "fuzz check failed: %s is not terminated\n", field.name);
      std::abort();
    }
  }
}

// Standard output and standard error of the code under test go to a stream that only
// counts bytes. The driver writes through the stdout and stderr streams, which glibc lets
// us swap; libFuzzer and the sanitizers keep their own handle on the real standard error.
class CountedConsole {
 public:
  CountedConsole() {
    static cookie_io_functions_t counting = {nullptr, count_bytes, nullptr, nullptr};
    stream_ = fopencookie(&bytes_, "w", counting);
    require(stream_ != nullptr, "counting stream");
    std::setvbuf(stream_, nullptr, _IONBF, 0);
  }
  // Bytes written by `step`.
  template <typename Step>
  std::size_t count(Step step) {
    std::FILE* real_out = stdout;
    std::FILE* real_err = stderr;
    stdout = stream_;
    stderr = stream_;
    std::size_t before = bytes_;
    step();
    std::fflush(stream_);
    stdout = real_out;
    stderr = real_err;
    return bytes_ - before;
  }

 private:
  static ssize_t count_bytes(void* cookie, const char*, std::size_t size) {
    *static_cast<std::size_t*>(cookie) += size;
    return static_cast<ssize_t>(size);
  }
  std::FILE* stream_;
  std::size_t bytes_ = 0;
};
