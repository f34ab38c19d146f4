// The driver's own output files on POSIX, and files told apart by device and inode.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "toolrun/platform_files.h"

// O_NOFOLLOW refuses a link at the name in the very call that opens the file (ELOOP), so
// no link put there between a test and the open is ever written through.
std::FILE* create_output_file(const char* name, const char* mode) {
  int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, mode);
  if (file == nullptr) close(fd);
  return file;
}

bool replace_output_file(const char* temporary, const char* name) {
  return std::rename(temporary, name) == 0;
}

bool file_identity(const char* name, std::string& identity) {
  struct stat status;
  if (stat(name, &status) != 0) return false;
  identity = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
  return true;
}
