// An exclusive lock on the current folder, held by the link stage while it writes, hands
// over and removes its command file, so that links in one folder take turns on it. The
// system releases it however the driver ends; it leaves nothing in the folder. One
// implementation per platform.
#pragma once

#include <cstdint>

struct FolderLock {
  std::intptr_t handle = -1;  // descriptor or mutex handle, -1 while nothing is held
};

// Waits for the lock on the current folder. Returns false only when an interruption ended
// the wait; where the folder cannot be locked (no locks on its file system, say) it
// returns true with nothing held, and the caller goes on unlocked.
bool lock_current_folder(FolderLock& lock);

// Releases what lock_current_folder took, if anything.
void unlock_folder(FolderLock& lock);
