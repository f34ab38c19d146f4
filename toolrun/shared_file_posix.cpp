// A shared file on POSIX: flock on the file itself. A holder replaces it by renaming a new
// file over it, so a run that waited may hold the lock of a file no longer at the name: it
// looks again and locks the new one. Only the runs that lock the file at its name replace it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "toolrun/file_lock_posix.h"
#include "toolrun/platform_files.h"

namespace {

bool still_named(int fd, const char* name) {
  struct stat held, named;
  return fstat(fd, &held) == 0 && stat(name, &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

constexpr int most_links = 40;  // as many as the kernel follows in one path

}  // namespace

// A link's relative target is read from the link's own folder. A link that cannot be read
// (gone meanwhile, a loop past the bound) is taken as it is, and opening it tells the rest.
std::string followed_links(const char* name) {
  std::string path = name;
  char target[4096];
  for (int followed = 0; followed < most_links; ++followed) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) break;
    const ssize_t length = readlink(path.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) break;
    const std::string text(target, static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    path = text[0] == '/' || slash == std::string::npos ? text : path.substr(0, slash + 1) + text;
  }
  return path;
}

SharedFileState lock_shared_file(const char* name, SharedFileLock& lock) {
  lock = SharedFileLock{};
  for (;;) {
    int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      // A dangling link is no file to read, and no name a new one could take.
      struct stat link;
      return errno == ENOENT && lstat(name, &link) != 0 ? SharedFileState::absent
                                                        : SharedFileState::unreadable;
    }
    // Where the file system has no locks, the file is taken unlocked.
    if (wait_for_file_lock(fd) == LockWait::interrupted) {
      close(fd);
      return SharedFileState::interrupted;
    }
    if (still_named(fd, name)) {
      lock.handle = fd;
      return SharedFileState::existing;
    }
    close(fd);
  }
}

void unlock_shared_file(SharedFileLock& lock) {
  if (lock.handle >= 0) close(static_cast<int>(lock.handle));
  lock.handle = -1;
}

// A new file is linked to its name, which fails where another run got there first; a file
// system without hard links gets a plain rename, which a run creating the same file in the
// same instant could overwrite.
Installed install_shared_file(const char* temporary, const char* name, const SharedFileLock& lock) {
  if (lock.handle < 0) {
    if (link(temporary, name) == 0) {
      unlink(temporary);
      return Installed::done;
    }
    if (errno == EEXIST) return Installed::name_taken;
  }
  return std::rename(temporary, name) == 0 ? Installed::done : Installed::failed;
}

bool current_folder_utf8(std::string& folder) {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return false;
    buffer.resize(buffer.size() * 2);
  }
  folder = buffer.data();
  return true;
}

std::string host_text_as_utf8(const std::string& text) {
  return text;
}
