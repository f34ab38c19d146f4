// A file that any number of runs update in turn, each reading it and renaming a new one
// into its place (the compilation database), and the host facts its entries need. One
// implementation per platform; the build picks it.
#pragma once

#include <cstdint>
#include <string>

struct SharedFileLock {
  std::intptr_t handle = -1;  // descriptor or mutex handle, -1 while nothing is held
};

enum class SharedFileState { existing, absent, unreadable, interrupted };

// Waits for the exclusive lock on the file `name`, which every holder may replace before it
// lets go. Tells whether a file is there to be read (existing), or none (absent); on
// unreadable and interrupted nothing is held. Where the file system has no locks, the file
// is taken unlocked, as the command file's folder is.
SharedFileState lock_shared_file(const char* name, SharedFileLock& lock);

// Releases what lock_shared_file took, if anything.
void unlock_shared_file(SharedFileLock& lock);

enum class Installed { done, name_taken, failed };

// Puts the file `temporary` at `name` while the lock is held: in place of the file found
// there, or, where none was, only if no other run has made one meanwhile (name_taken: lock
// again and read it). On failure both names are left as they were.
Installed install_shared_file(const char* temporary, const char* name, const SharedFileLock& lock);

// The current folder, as an absolute path in UTF-8; false when it cannot be had.
bool current_folder_utf8(std::string& folder);

// A name as the host's file functions take it, in UTF-8: on Windows converted from the active
// code page; elsewhere names are bytes, taken as they are.
std::string host_text_as_utf8(const std::string& text);
