// A shared file on Windows: a named mutex made from the file's folder and name stands for
// the file. The file itself stays unlocked, so the rename that replaces it is not refused
// for a handle held open, and a mutex outlives no process: one that ends holding it
// abandons it to the next.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "toolrun/host_text.h"
#include "toolrun/named_mutex_win32.h"
#include "toolrun/platform_files.h"

namespace {

// The identity of the file's folder, which every spelling of its path shares (another drive
// letter, a short name, a junction), and the file's own name lower-cased, as Windows
// compares names: a double-byte character is left as it is. A name too long for a mutex is
// cut: two such files then merely take turns.
bool mutex_name(const char* file, char (&name)[MAX_PATH]) {
  char path[MAX_PATH * 4];
  char* leaf = nullptr;
  const DWORD length = GetFullPathNameA(file, sizeof path, path, &leaf);
  if (length == 0 || length >= sizeof path || leaf == nullptr) return false;
  const std::string leaf_name = leaf;
  *leaf = '\0';  // the folder, its separator kept: "C:\" stays the root
  char identity[identity_size];
  if (!identify(path, identity)) return false;
  std::size_t at =
      static_cast<std::size_t>(std::snprintf(name, sizeof name, "Local\\vexa-file:%s:", identity));
  for (const char* c = leaf_name.c_str(); *c != '\0';) {
    const std::size_t size = character_size(c);
    if (at + size >= sizeof name) break;
    for (std::size_t i = 0; i < size; ++i, ++c) {
      name[at++] = size == 1 && *c >= 'A' && *c <= 'Z' ? static_cast<char>(*c - 'A' + 'a') : *c;
    }
  }
  name[at] = '\0';
  return true;
}

}  // namespace

// Windows follows the links itself when the file is opened; the path it reached is asked of
// the handle. "\\?\" before it is left out, as the file functions here do not need it.
std::string followed_links(const char* name) {
  const DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return name;
  }
  HANDLE file = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return name;
  char path[MAX_PATH * 4];
  const DWORD length = GetFinalPathNameByHandleA(file, path, sizeof path, VOLUME_NAME_DOS);
  CloseHandle(file);
  if (length == 0 || length >= sizeof path) return name;
  const std::string_view reached(path, length);
  if (reached.starts_with("\\\\?\\UNC\\")) return "\\\\" + std::string(reached.substr(8));
  return std::string(reached.starts_with("\\\\?\\") ? reached.substr(4) : reached);
}

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
  if (MoveFileExA(temporary, name, MOVEFILE_REPLACE_EXISTING)) return Installed::done;
  set_errno_from(GetLastError());
  return Installed::failed;
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
