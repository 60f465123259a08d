// Named shared memory on POSIX shared-memory objects (shm_open). Names start with '/'.
#include "platform/shared_memory.h"

#include "platform/module.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <new>

struct SharedMemory {
  int fd;
};

namespace {

SharedMemory* Wrap(int fd) {
  SharedMemory* memory = new (std::nothrow) SharedMemory{fd};
  if (!memory) close(fd);
  return memory;
}

}  // namespace

SharedMemory* SharedMemoryCreate(const char* name, size_t size) {
  if (!name) return nullptr;
  int fd = shm_open(name, O_RDWR | O_CREAT, 0600);
  if (fd < 0) return nullptr;
  // An existing object is used as it is; one that is still too small (just created, here or by
  // a racing creator) is grown, never shrunk.
  struct stat st {};
  if (fstat(fd, &st) != 0 ||
      (static_cast<size_t>(st.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
    close(fd);
    return nullptr;
  }
  return Wrap(fd);
}

SharedMemory* SharedMemoryOpen(const char* name) {
  if (!name) return nullptr;
  int fd = shm_open(name, O_RDWR, 0);
  if (fd < 0) return nullptr;
  return Wrap(fd);
}

void* SharedMemoryMap(SharedMemory* memory, size_t size) {
  if (!memory || size == 0) return nullptr;
  // Touching pages beyond the object's end would raise SIGBUS: refuse a too-small object.
  struct stat st {};
  if (fstat(memory->fd, &st) != 0 || static_cast<size_t>(st.st_size) < size) return nullptr;
  void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, memory->fd, 0);
  return view == MAP_FAILED ? nullptr : view;
}

void SharedMemoryUnmap(void* view, size_t size) {
  if (view) munmap(view, size);
}

void SharedMemoryClose(SharedMemory* memory) {
  if (!memory) return;
  close(memory->fd);
  delete memory;
}

void SharedMemoryRemove(const char* name) {
  if (name) shm_unlink(name);
}

std::string PrivateObjectName(const std::string& base) {
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "/telmar.%u.%016llx.", static_cast<unsigned>(getuid()),
                static_cast<unsigned long long>(ModuleFileHash()));
  return prefix + base;
}

bool SharedMemoryInOtherSession(const char*) {
  return false;
}
