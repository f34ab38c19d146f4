// What the Windows platform files share: the named mutexes behind the locks (the folder's, a
// shared file's), the file identity they are named from, and errno for a failed file call.
// A mutex outlives no process: one that ends holding it abandons it to the next waiter.
#pragma once

#include <cstddef>
#include <cstdint>

enum class MutexWait { held, unavailable, interrupted };

// Waits for the mutex `name` or an interruption, whichever comes first; on `held` the
// handle is in `handle`, otherwise nothing is held (unavailable: no mutex could be made or
// waited for, and the caller goes on unlocked).
MutexWait wait_for_named_mutex(const char* name, std::intptr_t& handle);

// Releases and closes what wait_for_named_mutex took, if anything; `handle` becomes -1.
void release_named_mutex(std::intptr_t& handle);

constexpr std::size_t identity_size = 32;

// The volume's serial number and the file index of the file or folder `name`, as text: the
// same for every spelling of its path. False when it cannot be opened.
bool identify(const char* name, char (&identity)[identity_size]);

// Sets errno to the C runtime's nearest reason for the system error `error`, as its own file
// functions would, so that a failed file call is reported as theirs are.
void set_errno_from(unsigned long error);
