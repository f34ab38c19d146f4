#include <unistd.h>

#include "toolrun/platform_host.h"

std::size_t module_file_name(char* buffer, std::size_t size) {
  if (size == 0) return 0;
  // readlink does not terminate the text, and a result that fills the buffer may be cut.
  ssize_t length = readlink("/proc/self/exe", buffer, size);
  if (length <= 0 || static_cast<std::size_t>(length) >= size) {
    buffer[0] = '\0';
    return 0;
  }
  buffer[length] = '\0';
  return static_cast<std::size_t>(length);
}
