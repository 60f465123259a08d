// Named shared-memory objects (the shared macro block).
#pragma once

#include <cstddef>

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
