// The driver's own output files on Windows, and files told apart by volume and file index.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "toolrun/named_mutex_win32.h"
#include "toolrun/platform_files.h"

// The reasons a file call meets in practice; any other reads as a refused access.
void set_errno_from(unsigned long error) {
  errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT
          : error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL  ? ENOSPC
                                                                         : EACCES;
}

// What stays the same however a file or folder is named (another drive letter for it, a
// short name, a junction, a share): its volume's serial number and its file index, kept
// while it exists. A folder opens only with FILE_FLAG_BACKUP_SEMANTICS. A share of an older
// server may give every file the index 0: its folders then share one lock, which only makes
// their users take turns.
bool identify(const char* name, char (&identity)[identity_size]) {
  HANDLE file = CreateFileA(name, FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  bool known = GetFileInformationByHandle(file, &information) != 0;
  CloseHandle(file);
  if (known) {
    std::snprintf(identity, identity_size, "%08lx:%08lx%08lx", information.dwVolumeSerialNumber,
                  information.nFileIndexHigh, information.nFileIndexLow);
  }
  return known;
}

// The file is opened first, a link at the name opened as itself rather than followed
// (FILE_FLAG_OPEN_REPARSE_POINT), and only what the handle shows decides: no link put at
// the name between a test and the open is ever written through. A link is refused as a
// file that may not be written, and left as it is.
std::FILE* create_output_file(const char* name, const char* mode) {
  HANDLE file =
      CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    set_errno_from(GetLastError());
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION information;
  const bool known = GetFileInformationByHandle(file, &information);
  const bool link = known && (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (!known || link || !SetEndOfFile(file)) {
    set_errno_from(link ? ERROR_ACCESS_DENIED : GetLastError());
    CloseHandle(file);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(file),
                                 std::strchr(mode, 'b') != nullptr ? _O_BINARY : _O_TEXT);
  if (fd < 0) {
    CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = _fdopen(fd, mode);
  if (stream == nullptr) _close(fd);
  return stream;
}

// The C runtime's rename refuses a name that exists.
bool replace_output_file(const char* temporary, const char* name) {
  if (MoveFileExA(temporary, name, MOVEFILE_REPLACE_EXISTING)) return true;
  set_errno_from(GetLastError());
  return false;
}

// Files of a volume without file indexes are told apart by their full paths.
bool file_identity(const char* name, std::string& identity) {
  char text[identity_size];
  char full_path[MAX_PATH];
  if (!identify(name, text)) return false;
  const bool numbered = std::strcmp(std::strchr(text, ':'), ":0000000000000000") != 0;
  const DWORD length = numbered ? 0 : GetFullPathNameA(name, sizeof full_path, full_path, nullptr);
  identity = length == 0 || length >= sizeof full_path ? text : full_path;
  return true;
}
