// The one wait for a file lock on POSIX, shared by the folder lock and the database's lock.
#pragma once

enum class LockWait { locked, unlockable, interrupted };

// Blocks until `fd` holds an exclusive flock, or an interruption arrives (interrupted: the
// caller closes `fd`, which lets go of a lock taken in the same instant). A file system
// without locks (ENOLCK, EOPNOTSUPP, EINVAL) gives unlockable, and the caller goes on
// without one.
LockWait wait_for_file_lock(int fd);
