// A shared file on Windows: a named mutex made from the file's full path stands for the
// file. The file itself stays unlocked, so the rename that replaces it is not refused for a
// handle held open, and a mutex outlives no process: one that ends holding it abandons it
// to the next.
#include <windows.h>

#include <cstring>
#include <string>

#include "toolrun/named_mutex_win32.h"
#include "toolrun/platform_files.h"

namespace {

// '/' for '\\' (not allowed in a name past the namespace) and lower-cased, as Windows
// compares paths. A path too long for a name is cut: two such files then merely take turns.
bool mutex_name(const char* file, char (&name)[MAX_PATH]) {
  std::strcpy(name, "Local\\vexa-file:");
  std::size_t prefix = std::strlen(name);
  char path[MAX_PATH * 4];
  DWORD length = GetFullPathNameA(file, sizeof path, path, nullptr);
  if (length == 0 || length >= sizeof path) return false;
  std::size_t i = 0;
  for (; i < length && prefix + i + 1 < sizeof name; ++i) {
    char c = path[i] == '\\' ? '/' : path[i];
    name[prefix + i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  name[prefix + i] = '\0';
  return true;
}

}  // namespace

SharedFileState lock_shared_file(const char* name, SharedFileLock& lock) {
  lock = SharedFileLock{};
  char mutex_text[MAX_PATH];
  if (mutex_name(name, mutex_text) &&
      wait_for_named_mutex(mutex_text, lock.handle) == MutexWait::interrupted) {
    return SharedFileState::interrupted;
  }
  DWORD attributes = GetFileAttributesA(name);
  if (attributes != INVALID_FILE_ATTRIBUTES) return SharedFileState::existing;
  DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return SharedFileState::absent;
  }
  unlock_shared_file(lock);
  return SharedFileState::unreadable;
}

void unlock_shared_file(SharedFileLock& lock) {
  release_named_mutex(lock.handle);
}

// Under the mutex no other run makes the file meanwhile. The C runtime's rename refuses a
// name that exists.
Installed install_shared_file(const char* temporary, const char* name, const SharedFileLock&) {
  return MoveFileExA(temporary, name, MOVEFILE_REPLACE_EXISTING) ? Installed::done
                                                                 : Installed::failed;
}

bool current_folder_utf8(std::string& folder) {
  char path[MAX_PATH * 4];
  DWORD length = GetCurrentDirectoryA(sizeof path, path);
  if (length == 0 || length >= sizeof path) return false;
  folder = host_text_as_utf8(path);
  return true;
}

// Through UTF-16, the one way Windows converts between code pages.
std::string host_text_as_utf8(const std::string& text) {
  if (text.empty()) return text;
  const int size = static_cast<int>(text.size());
  int wide_length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), wide_length);
  int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, utf8.data(), length, nullptr, nullptr);
  return utf8;
}
