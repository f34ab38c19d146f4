#include "tests/fake_platform.h"

#include <algorithm>
#include <cstring>

#include "toolrun/platform_files.h"
#include "toolrun/platform_host.h"
#include "toolrun/platform_process.h"

std::string fake_output;
std::size_t fake_read_size = 1;

namespace {
std::size_t position = 0;
}  // namespace

ToolStart start_tool(ToolProcess&, const char*, const char*, const char*) {
  position = 0;
  return ToolStart::started;
}

// The launcher is tested end to end only: here no tool is ever found for one.
std::string find_tool_path(const char*, const char*) {
  return "";
}

std::string launched_program_text(const char*, const char*) {
  return "";
}

ToolStart start_launched_tool(ToolProcess&, const char*, const char*, const char*) {
  return ToolStart::start_failed;
}

long read_tool_output(ToolProcess&, char* buffer, std::size_t size) {
  std::size_t count = std::min({size, fake_read_size, fake_output.size() - position});
  std::memcpy(buffer, fake_output.data() + position, count);
  position += count;
  return static_cast<long>(count);
}

bool finish_tool(ToolProcess&, ToolEnd& end) {
  end = ToolEnd{};
  return true;
}

const char* signal_name(int) {
  return "";
}

int interrupt_signal() {
  return 0;
}

// No executable path: the configuration file beside it and the default directories are
// left out.
std::size_t command_line_limit() {
  return 32767;
}

void remember_program_word(const char*) {}

std::size_t module_file_name(char*, std::size_t) {
  return 0;
}

std::FILE* create_output_file(const char* name, const char* mode) {
  return std::fopen(name, mode);
}

bool lock_current_folder(FolderLock& lock) {
  lock.handle = -1;
  return true;
}

void unlock_folder(FolderLock& lock) {
  lock.handle = -1;
}

void close_handle(std::intptr_t) {}

bool finish_worker(WorkerProcess&, int& exit_code) {
  exit_code = 0;
  return true;
}

bool replace_output_file(const char* temporary, const char* name) {
  return std::rename(temporary, name) == 0;
}

unsigned long process_id() {
  return 1;
}
