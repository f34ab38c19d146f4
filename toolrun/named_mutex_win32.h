// The named mutexes behind the Windows locks (the folder's, a shared file's): Windows-only,
// shared by the platform files that take them. A mutex outlives no process: one that ends
// holding it abandons it to the next waiter.
#pragma once

#include <cstdint>

enum class MutexWait { held, unavailable, interrupted };

// Waits for the mutex `name`, in steps so that an interruption ends the wait; on `held` the
// handle is in `handle`, otherwise nothing is held (unavailable: no mutex could be made or
// waited for, and the caller goes on unlocked).
MutexWait wait_for_named_mutex(const char* name, std::intptr_t& handle);

// Releases and closes what wait_for_named_mutex took, if anything; `handle` becomes -1.
void release_named_mutex(std::intptr_t& handle);
