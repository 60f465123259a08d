// The process-shared values live in a small named shared-memory object. Its name holds the user
// id and a hash of the file of the module that holds this code, so every process of the user that
// loads the same driver file shares it, and drivers of different files (another installation,
// another build) or users do not. The last process to leave removes the name.
#include "platform/process_shared.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/module.h"

static_assert(std::atomic<int32_t>::is_always_lock_free,
              "the shared values must be lock-free to work across processes");

namespace {

// Per user and per driver file: another user's segment is no business of this one (and, being
// 0600, could not be opened anyway).
std::string SegmentName() {
  char name[80];
  std::snprintf(name, sizeof(name), "/telmar.shared.%u.%016llx", static_cast<unsigned>(getuid()),
                static_cast<unsigned long long>(ModuleFileHash()));
  return name;
}

// What made the first mapping fail; step null while none did.
ProcessSharedFault mapFault{nullptr, 0};

// The object that the name stands for now, told apart by device and inode.
struct ObjectId {
  dev_t device = 0;
  ino_t inode = 0;
};
ObjectId mappedObject;  // the segment this process attached to

bool NameStandsFor(const std::string& name, const ObjectId& id) {
  int fd = shm_open(name.c_str(), O_RDONLY, 0);
  if (fd < 0) return false;
  struct stat st {};
  bool same = fstat(fd, &st) == 0 && st.st_dev == id.device && st.st_ino == id.inode;
  close(fd);
  return same;
}

ProcessShared* MapSegment(const std::string& name, ObjectId* id) {
  // Owner only: any other local user could otherwise hold the worker slot or switch monitoring.
  int fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
  if (fd < 0) {
    mapFault = {"shm_open", static_cast<uint32_t>(errno)};
    return nullptr;
  }
  // A new object is empty (all values 0); size it once, never shrink it.
  struct stat st {};
  if (fstat(fd, &st) != 0 || (st.st_size < static_cast<off_t>(sizeof(ProcessShared)) &&
                              ftruncate(fd, sizeof(ProcessShared)) != 0)) {
    mapFault = {"sizing", static_cast<uint32_t>(errno)};
    close(fd);
    return nullptr;
  }
  id->device = st.st_dev;
  id->inode = st.st_ino;
  void* view = mmap(nullptr, sizeof(ProcessShared), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  int mapError = errno;
  close(fd);
  if (view == MAP_FAILED) {
    mapFault = {"mmap", static_cast<uint32_t>(mapError)};
    return nullptr;
  }
  return static_cast<ProcessShared*>(view);
}

void (*attachHook)(const char* step) = nullptr;

// Waits until this process is the one attaching. A process that died while attaching gives way.
void BeginAttach(ProcessShared* shared, int32_t self) {
  bool told = false;
  for (int spins = 0;; ++spins) {
    int32_t owner = 0;
    if (shared->attaching.compare_exchange_strong(owner, self)) return;
    if (!ProcessAlive(owner)) {
      shared->attaching.compare_exchange_strong(owner, 0);
      continue;
    }
    if (!told && attachHook) attachHook("attach:waiting");
    told = true;
    // Attaching takes microseconds: yield at first, then let the other process run.
    if (spins < 1000) {
      sched_yield();
    } else {
      usleep(1000);
    }
  }
}

// Records this process in the segment; when no recorded process lives any more, the values of
// earlier, ended processes are dropped first. A full table only skips the record. Called while
// this process is the one attaching, so a reset never follows another process's fresh claim.
void Attach(ProcessShared* shared, int32_t self) {
  bool otherAlive = false;
  for (auto& slot : shared->attached) {
    int32_t pid = slot.load();
    if (pid == 0 || pid == self) continue;
    if (ProcessAlive(pid)) {
      otherAlive = true;
    } else {
      slot.compare_exchange_strong(pid, 0);
    }
  }
  if (attachHook) attachHook("attach:scanned");
  if (!otherAlive) {
    shared->threadRunning.store(0);
    shared->threadOwner.store(0);
    shared->stationActive.store(0);
  }
  for (auto& slot : shared->attached) {
    int32_t expected = 0;
    if (slot.compare_exchange_strong(expected, self)) break;
  }
}

const std::string& Name() {
  static const std::string* name = new std::string(SegmentName());
  return *name;
}

ProcessShared* attachedSegment = nullptr;  // the mapped segment, once attached

// At the end of the process (or when the module is unloaded): this process leaves the segment,
// and the last process to leave removes its name, so that no segment outlives its users. A
// process that ended without leaving (killed) is dropped by the next one to attach or leave.
void Leave() {
  ProcessShared* shared = attachedSegment;
  if (!shared) return;
  const int32_t self = static_cast<int32_t>(getpid());
  BeginAttach(shared, self);
  bool otherAlive = false;
  for (auto& slot : shared->attached) {
    int32_t pid = slot.load();
    if (pid == self) {
      slot.compare_exchange_strong(pid, 0);
    } else if (pid != 0 && ProcessAlive(pid)) {
      otherAlive = true;
    }
  }
  // A process that attaches meanwhile waits for this one, then finds the name gone or new.
  if (!otherAlive && NameStandsFor(Name(), mappedObject)) shm_unlink(Name().c_str());
  shared->attaching.store(0);
}

// Maps the segment and records this process in it. The name may be removed by a last process
// leaving while this one maps it: once this process is the one attaching, it checks that the
// name still stands for the object it mapped, and maps afresh when not.
ProcessShared* MapAndAttach() {
  const int32_t self = static_cast<int32_t>(getpid());
  for (;;) {
    ObjectId id;
    ProcessShared* shared = MapSegment(Name(), &id);
    if (!shared) return nullptr;
    BeginAttach(shared, self);
    if (!NameStandsFor(Name(), id)) {
      shared->attaching.store(0);
      munmap(shared, sizeof(ProcessShared));
      continue;
    }
    Attach(shared, self);
    mappedObject = id;
    attachedSegment = shared;
    shared->attaching.store(0);
    std::atexit(Leave);
    return shared;
  }
}

}  // namespace

ProcessShared* ProcessSharedData() {
  static ProcessShared* data = [] {
    if (ProcessShared* mapped = MapAndAttach()) return mapped;
    return new ProcessShared{};
  }();
  return data;
}

bool ProcessSharedFallback(ProcessSharedFault* fault) {
  ProcessSharedData();
  if (!mapFault.step) return false;
  if (fault) *fault = mapFault;
  return true;
}

bool ProcessAlive(int32_t pid) {
  if (pid <= 0) return false;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

int32_t CurrentProcessId() {
  return static_cast<int32_t>(getpid());
}

const char* ProcessSharedName() {
  return Name().c_str();
}

void ProcessSharedRemove() {
  shm_unlink(Name().c_str());
}

void ProcessSharedSetAttachHook(void (*hook)(const char* step)) {
  attachHook = hook;
}
