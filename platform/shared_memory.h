// Named shared-memory objects (the shared macro block).
#pragma once

#include <cstddef>
#include <string>

struct SharedMemory;  // opaque handle, owned by the backend

// Creates the named object of `size` bytes, or opens the existing one. Null on failure.
SharedMemory* SharedMemoryCreate(const char* name, size_t size);
// Opens an existing named object for reading and writing. Null when it does not exist.
SharedMemory* SharedMemoryOpen(const char* name);
// Maps `size` bytes of the object for reading and writing; null on failure.
void* SharedMemoryMap(SharedMemory* memory, size_t size);
void SharedMemoryUnmap(void* view, size_t size);  // null is ignored
void SharedMemoryClose(SharedMemory* memory);     // null is ignored
// Removes the name, so that later opens fail; existing mappings stay valid.
void SharedMemoryRemove(const char* name);

// The system name of an object (shared memory, a named lock) private to this user and this driver
// file: `base` with the user id and a hash of the module file's path in front of it, so that
// another user or another installation of the driver never meets the object. POSIX:
// "/telmar.<uid>.<hash>.<base>"; Win32: "Local\\telmar.<hash>.<base>", in the session's namespace.
std::string PrivateObjectName(const std::string& base);
// After a failed SharedMemoryOpen of a PrivateObjectName: true when the object exists, but in
// another logon session that this process cannot reach (never so on POSIX).
bool SharedMemoryInOtherSession(const char* name);
