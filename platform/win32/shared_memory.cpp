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

// The size of a file mapping, from the native query the system offers for it (0 when unknown).
uint64_t MappingSize(HANDLE mapping) {
  struct SectionBasicInformation {
    void* base;
    ULONG attributes;
    LARGE_INTEGER size;
  } info{};
  using QuerySection = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const auto query = reinterpret_cast<QuerySection>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySection")));
  if (!query || query(mapping, 0, &info, sizeof info, nullptr) != 0) return 0;
  return static_cast<uint64_t>(info.size.QuadPart);
}

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
  // A view beyond the object's end would fault on access (the system maps whole pages).
  if (MappingSize(memory->mapping) < size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
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
