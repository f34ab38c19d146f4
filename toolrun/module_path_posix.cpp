#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#elif defined(__FreeBSD__) || defined(__NetBSD__)
#include <sys/sysctl.h>
#include <sys/types.h>
#endif

#include "toolrun/platform_host.h"

namespace {

const char* program_word = nullptr;  // argv[0], which lives as long as the program

// The path the host itself gives for the running executable; false where it gives none.
// VEXA_PORTABLE_POSIX leaves it to argv[0] on every host, so that the fallback is tested.
#if defined(VEXA_PORTABLE_POSIX)
bool host_executable_path(std::string&) {
  return false;
}
#elif defined(__linux__)
bool host_executable_path(std::string& path) {
  char buffer[PATH_MAX];
  // readlink does not terminate the text, and a result that fills the buffer may be cut.
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) return false;
  path.assign(buffer, static_cast<std::size_t>(length));
  return true;
}
#elif defined(__APPLE__)
bool host_executable_path(std::string& path) {
  char buffer[PATH_MAX];
  uint32_t size = sizeof buffer;
  if (_NSGetExecutablePath(buffer, &size) != 0) return false;
  // The path the program was started by, which may hold links and "..".
  char* real = realpath(buffer, nullptr);
  if (real == nullptr) return false;
  path = real;
  std::free(real);
  return true;
}
#elif defined(__FreeBSD__) || defined(__NetBSD__)
bool host_executable_path(std::string& path) {
#if defined(__NetBSD__)
  int query[] = {CTL_KERN, KERN_PROC_ARGS, -1, KERN_PROC_PATHNAME};
#else
  int query[] = {CTL_KERN, KERN_PROC, KERN_PROC_PATHNAME, -1};
#endif
  char buffer[PATH_MAX];
  std::size_t size = sizeof buffer;
  if (sysctl(query, 4, buffer, &size, nullptr, 0) != 0 || size == 0) return false;
  path.assign(buffer, strnlen(buffer, size));
  return true;
}
#else
bool host_executable_path(std::string&) {
  return false;
}
#endif

bool is_program(const std::string& name) {
  struct stat status;
  return stat(name.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         access(name.c_str(), X_OK) == 0;
}

// argv[0] as a shell found it: a word with a slash names the file from the current folder;
// one without was looked up in PATH, where an empty entry is the current folder.
bool path_from_program_word(std::string& path) {
  if (program_word == nullptr || program_word[0] == '\0') return false;
  const std::string_view word = program_word;
  std::string found;
  if (word.find('/') != std::string_view::npos) {
    found = word;
  } else {
    const char* search = std::getenv("PATH");
    for (std::string_view rest = search != nullptr ? search : ""; found.empty();) {
      const std::size_t colon = std::min(rest.find(':'), rest.size());
      const std::string_view folder = rest.substr(0, colon);
      const std::string candidate =
          (folder.empty() ? std::string(".") : std::string(folder)) + "/" + std::string(word);
      if (is_program(candidate)) found = candidate;
      if (colon == rest.size()) break;
      rest.remove_prefix(colon + 1);
    }
  }
  if (found.empty() || !is_program(found)) return false;
  char* real = realpath(found.c_str(), nullptr);
  if (real == nullptr) return false;
  path = real;
  std::free(real);
  return true;
}

}  // namespace

// _POSIX_ARG_MAX where the host will not tell.
std::size_t command_line_limit() {
  const long limit = sysconf(_SC_ARG_MAX);
  return static_cast<std::size_t>(std::max<long>(limit, _POSIX_ARG_MAX));
}

void remember_program_word(const char* word) {
  program_word = word;
}

std::size_t module_file_name(char* buffer, std::size_t size) {
  if (size == 0) return 0;
  std::string path;
  if ((!host_executable_path(path) && !path_from_program_word(path)) || path.size() >= size) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return path.size();
}
