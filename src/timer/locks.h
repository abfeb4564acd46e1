#pragma once

// Mutual-exclusion locks for the timer service. A lock created with a name is
// shared: every caller in the process that creates a lock with the same name
// gets the same lock, which lives until each of them has discarded it.

namespace ostrel {

struct Lock;

// Creates a lock (named when name is not null) and stores its handle in
// *lockOut. Returns 0, or a negative value when the lock cannot be created.
int NewLock(const char *name, Lock **lockOut);

// Blocks until the calling thread holds the lock. Not recursive.
int GetLock(Lock *lock);
int ReleaseLock(Lock *lock);

// Drops the caller's reference; the lock must not be held by the caller.
int DiscardLock(Lock *lock);

}  // namespace ostrel
