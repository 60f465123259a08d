// Named shared memory: file mappings on the paging file. Names given with the leading '/' that
// POSIX wants are used without it. The system keeps an object while a handle or view of it is
// open and then drops it; a name cannot be removed before that.
#include "platform/shared_memory.h"

#include <windows.h>

#include <cstdint>
#include <new>

struct SharedMemory {
  HANDLE mapping;
};

namespace {

const char* SystemName(const char* name) {
  return name[0] == '/' ? name + 1 : name;
}

SharedMemory* Wrap(HANDLE mapping) {
  SharedMemory* memory = new (std::nothrow) SharedMemory{mapping};
  if (!memory) CloseHandle(mapping);
  return memory;
}

}  // namespace

SharedMemory* SharedMemoryCreate(const char* name, size_t size) {
  if (!name) return nullptr;
  uint64_t bytes = size;
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                      static_cast<DWORD>(bytes >> 32), static_cast<DWORD>(bytes),
                                      SystemName(name));
  if (!mapping) return nullptr;
  return Wrap(mapping);
}

SharedMemory* SharedMemoryOpen(const char* name) {
  if (!name) return nullptr;
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, SystemName(name));
  if (!mapping) return nullptr;
  return Wrap(mapping);
}

void* SharedMemoryMap(SharedMemory* memory, size_t size) {
  if (!memory || size == 0) return nullptr;
  // The system refuses a view larger than the object (Wine counts the object in whole pages).
  return MapViewOfFile(memory->mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, size);
}

void SharedMemoryUnmap(void* view, size_t) {
  if (view) UnmapViewOfFile(view);
}

void SharedMemoryClose(SharedMemory* memory) {
  if (!memory) return;
  CloseHandle(memory->mapping);
  delete memory;
}

void SharedMemoryRemove(const char*) {}
