// The process-shared values live in a small named shared-memory object. Its name is derived from
// the file of the module that holds this code, so every process that loads the same driver file
// shares it, and drivers of different files (another installation, another build) do not.
#include "platform/process_shared.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "core/host_api.h"

static_assert(std::atomic<int32_t>::is_always_lock_free,
              "the shared values must be lock-free to work across processes");

namespace {

// The real path of the file this code was loaded from (the driver library, or the program that
// links the driver statically).
std::string ModuleFilePath() {
  Dl_info info{};
  link_map* map = nullptr;
  if (dladdr1(reinterpret_cast<void*>(&ModuleFilePath), &info, reinterpret_cast<void**>(&map),
              RTLD_DL_LINKMAP) != 0 &&
      map && map->l_name && map->l_name[0] != '\0') {
    char resolved[PATH_MAX];
    if (realpath(map->l_name, resolved)) return resolved;
    return map->l_name;
  }
  // The main program: its link map carries no name.
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  if (n > 0) return std::string(exe, static_cast<size_t>(n));
  return "telmar";
}

std::string SegmentName() {
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : ModuleFilePath()) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char name[64];
  std::snprintf(name, sizeof(name), "/telmar.shared.%016llx",
                static_cast<unsigned long long>(hash));
  return name;
}

ProcessShared* MapSegment(const std::string& name) {
  int fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0666);
  if (fd < 0) {
    err(kLogError, "telMAR: ProcessSharedData() fail on shm_open '%s', LastError %08x",
        name.c_str(), static_cast<unsigned>(errno));
    return nullptr;
  }
  // A new object is empty (all values 0); size it once, never shrink it.
  struct stat st {};
  if (fstat(fd, &st) != 0 || (st.st_size < static_cast<off_t>(sizeof(ProcessShared)) &&
                              ftruncate(fd, sizeof(ProcessShared)) != 0)) {
    err(kLogError, "telMAR: ProcessSharedData() fail on sizing '%s', LastError %08x", name.c_str(),
        static_cast<unsigned>(errno));
    close(fd);
    return nullptr;
  }
  void* view = mmap(nullptr, sizeof(ProcessShared), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  int mapError = errno;
  close(fd);
  if (view == MAP_FAILED) {
    err(kLogError, "telMAR: ProcessSharedData() fail on mmap '%s', LastError %08x", name.c_str(),
        static_cast<unsigned>(mapError));
    return nullptr;
  }
  return static_cast<ProcessShared*>(view);
}

// Records this process in the segment; when no recorded process lives any more, the values of
// earlier, ended processes are dropped first. A full table only skips the record.
void Attach(ProcessShared* shared) {
  const int32_t self = static_cast<int32_t>(getpid());
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

}  // namespace

ProcessShared* ProcessSharedData() {
  static ProcessShared* data = [] {
    ProcessShared* mapped = MapSegment(Name());
    if (mapped) {
      Attach(mapped);
      return mapped;
    }
    err(kLogError, "telMAR: ProcessSharedData(), values are shared by this process only");
    return new ProcessShared{};
  }();
  return data;
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
