// The platform layer's files: opening the files the driver itself writes and telling files
// apart, the lock on the current folder, and the file that many runs update in turn. One
// implementation per platform; the build picks it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Opens `name` for writing with `mode` ("w" or "wb"), created or truncated, and never
// through a symbolic link (or other reparse point) already at that name: a name that is
// one is refused and left as it is. Returns nullptr when the file cannot be opened; errno
// then tells why.
std::FILE* create_output_file(const char* name, const char* mode);

// Puts the file `temporary` in the place of `name`, replacing a file already there in one
// step, so that a reader finds the old file or the new one and never a part of either.
// Returns false when it cannot (errno tells why); both are then left as they were.
bool replace_output_file(const char* temporary, const char* name);

// This process's id: no other process running at the same time has it, so a temporary
// name that carries it is this run's own.
unsigned long process_id();

// Sets `identity` to a text that is the same for every name of the file `name` (through
// "..", a link, another drive letter) and differs for every other file; false when there
// is no such file. Windows reads the name in the active code page, as every file call does.
bool file_identity(const char* name, std::string& identity);

// A file for bytes that must wait, in the folder for temporary files (TMPDIR on POSIX,
// GetTempPath on Windows), deleted when it is closed and whenever the driver ends, however
// it ends; `name` is set to its name, for messages. nullptr when none can be made.
std::FILE* create_scratch_file(std::string& name);

// An exclusive lock on the current folder, held by the link stage while it writes, hands
// over and removes its command file, so that links in one folder take turns on it. The
// system releases it however the driver ends; it leaves nothing in the folder.
// Released when it goes, on every path; neither copied nor moved.
struct FolderLock {
  FolderLock() = default;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();
  std::intptr_t handle = -1;  // descriptor or mutex handle, -1 while nothing is held
};

// Waits for the lock on the current folder. Returns false only when an interruption ended
// the wait; where the folder cannot be locked (no locks on its file system, say) it
// returns true with nothing held, and the caller goes on unlocked.
bool lock_current_folder(FolderLock& lock);

// Releases what lock_current_folder took, if anything.
void unlock_folder(FolderLock& lock);

inline FolderLock::~FolderLock() {
  unlock_folder(*this);
}

// A file that any number of runs update in turn, each reading it and renaming a new one
// into its place (the compilation database), and the host facts its entries need.
// Released when it goes, on every path; moved, never copied.
struct SharedFileLock {
  SharedFileLock() = default;
  SharedFileLock(SharedFileLock&& other) noexcept : handle(other.handle) { other.handle = -1; }
  SharedFileLock& operator=(SharedFileLock&& other) noexcept;
  ~SharedFileLock();
  std::intptr_t handle = -1;  // descriptor or mutex handle, -1 while nothing is held
};

// The file `name` stands for once each symbolic link at it is followed: `name` itself
// where it is no link, and the name a link points at even where no file is there yet. The
// shared file is locked, read and replaced there, so a link to it (to a build folder's
// compilation database, say) stays a link and the file it points at is updated.
std::string followed_links(const char* name);

enum class SharedFileState { existing, absent, unreadable, interrupted };

// Waits for the exclusive lock on the file `name`, which every holder may replace before it
// lets go. Tells whether a file is there to be read (existing), or none (absent); on
// unreadable and interrupted nothing is held. Where the file system has no locks, the file
// is taken unlocked, as the command file's folder is.
SharedFileState lock_shared_file(const char* name, SharedFileLock& lock);

// Releases what lock_shared_file took, if anything.
void unlock_shared_file(SharedFileLock& lock);

inline SharedFileLock& SharedFileLock::operator=(SharedFileLock&& other) noexcept {
  if (this != &other) {
    unlock_shared_file(*this);
    handle = other.handle;
    other.handle = -1;
  }
  return *this;
}

inline SharedFileLock::~SharedFileLock() {
  unlock_shared_file(*this);
}

enum class Installed { done, name_taken, failed };

// Puts the file `temporary` at `name` while the lock is held: in place of the file found
// there, or, where none was, only if no other run has made one meanwhile (name_taken: lock
// again and read it). On failure both names are left as they were, and errno tells why.
Installed install_shared_file(const char* temporary, const char* name, const SharedFileLock& lock);

// The current folder, as an absolute path in UTF-8; false when it cannot be had.
bool current_folder_utf8(std::string& folder);

// A name as the host's file functions take it, in UTF-8: on Windows converted from the active
// code page; elsewhere names are bytes, taken as they are.
std::string host_text_as_utf8(const std::string& text);
