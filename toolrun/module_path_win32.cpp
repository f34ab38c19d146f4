#include <windows.h>

#include "toolrun/platform_host.h"

// One process's command line holds 32,767 characters with its terminating zero; the tool's
// name before the text has to fit too, which starting the tool tests.
std::size_t command_line_limit() {
  return 32767;
}

// The system always tells the path.
void remember_program_word(const char*) {}

std::size_t module_file_name(char* buffer, std::size_t size) {
  if (size == 0) return 0;
  HMODULE self = GetModuleHandleA(nullptr);
  DWORD capacity = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
  DWORD length = self == nullptr ? 0 : GetModuleFileNameA(self, buffer, capacity);
  // A path that fills the buffer was cut, and older systems leave it unterminated.
  if (length == 0 || length >= capacity) {
    buffer[0] = '\0';
    return 0;
  }
  return length;
}
