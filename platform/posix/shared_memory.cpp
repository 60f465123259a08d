// PLACEHOLDER: replaced by the real backend.
#include "platform/shared_memory.h"
SharedMemory* SharedMemoryCreate(const char*, size_t) { return nullptr; }
SharedMemory* SharedMemoryOpen(const char*) { return nullptr; }
void* SharedMemoryMap(SharedMemory*, size_t) { return nullptr; }
void SharedMemoryUnmap(void*, size_t) {}
void SharedMemoryClose(SharedMemory*) {}
void SharedMemoryRemove(const char*) {}
