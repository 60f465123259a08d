// Named shared memory: file mappings on the paging file. Names given with the leading '/' that
// POSIX wants are used without it. The system keeps an object while a handle or view of it is
// open and then drops it; a name cannot be removed before that.
#include "platform/shared_memory.h"

#include "platform/module.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

struct SharedMemory {
  HANDLE mapping;
  HANDLE marker;  // of a created object: its mark in the global namespace, or null
};

namespace {

const char* SystemName(const char* name) {
  return name[0] == '/' ? name + 1 : name;
}

SharedMemory* Wrap(HANDLE mapping, HANDLE marker = nullptr) {
  SharedMemory* memory = new (std::nothrow) SharedMemory{mapping, marker};
  if (!memory) {
    CloseHandle(mapping);
    if (marker) CloseHandle(marker);
  }
  return memory;
}

// A private object lives in its session's namespace, which other sessions cannot see. Its creator
// also holds a mutex of the same name in the global namespace (a mutex needs no privilege there),
// so that a process of another session finds out that the object exists but is out of its reach.
std::string MarkerName(const char* name) {
  const char* systemName = SystemName(name);
  const char* local = "Local\\";
  if (std::strncmp(systemName, local, std::strlen(local)) != 0) return "";
  return std::string("Global\\") + (systemName + std::strlen(local)) + ".session";
}

}  // namespace

SharedMemory* SharedMemoryCreate(const char* name, size_t size) {
  if (!name) return nullptr;
  uint64_t bytes = size;
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                      static_cast<DWORD>(bytes >> 32), static_cast<DWORD>(bytes),
                                      SystemName(name));
  if (!mapping) return nullptr;
  const std::string marker = MarkerName(name);
  return Wrap(mapping, marker.empty() ? nullptr : CreateMutexA(nullptr, FALSE, marker.c_str()));
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
  if (memory->marker) CloseHandle(memory->marker);
  delete memory;
}

void SharedMemoryRemove(const char*) {}

std::string PrivateObjectName(const std::string& base) {
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "Local\\telmar.%016llx.",
                static_cast<unsigned long long>(ModuleFileHash()));
  return prefix + base;
}

bool SharedMemoryInOtherSession(const char* name) {
  if (!name) return false;
  HANDLE local = OpenFileMappingA(FILE_MAP_READ, FALSE, SystemName(name));
  if (local) {
    CloseHandle(local);
    return false;
  }
  const std::string marker = MarkerName(name);
  if (marker.empty()) return false;
  HANDLE global = OpenMutexA(SYNCHRONIZE, FALSE, marker.c_str());
  if (global) {
    CloseHandle(global);
    return true;
  }
  return GetLastError() == ERROR_ACCESS_DENIED;
}
