// Locks that every process of the user finds by name (the hand-over of the shared macro block
// takes one beside the block). Each user of a lock opens it on its own: two openings exclude
// each other, in one process or in two.
#pragma once

struct NamedLock;  // opaque handle, owned by the backend

// Opens the lock of that name, creating it when it does not exist yet; a created lock is open to
// its creating user only. Null on failure, with LastSystemError set.
NamedLock* NamedLockOpen(const char* name);
// Waits until this opening holds the lock, at most timeoutMs milliseconds (a negative limit waits
// without one). A holder that ended without releasing the lock has given it up. False on a system
// failure or when the limit passed, with LastSystemError set (the system's "timed out" code then).
bool NamedLockAcquire(NamedLock* lock, int timeoutMs);
void NamedLockRelease(NamedLock* lock);
// Closes the opening (null is ignored); a lock it still holds is released.
void NamedLockClose(NamedLock* lock);
