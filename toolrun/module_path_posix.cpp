#include <unistd.h>

#include <algorithm>
#include <climits>

#include "toolrun/platform_host.h"

// _POSIX_ARG_MAX where the host will not tell.
std::size_t command_line_limit() {
  const long limit = sysconf(_SC_ARG_MAX);
  return static_cast<std::size_t>(std::max<long>(limit, _POSIX_ARG_MAX));
}

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
