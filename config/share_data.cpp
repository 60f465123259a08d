// The shared macro block on a named shared-memory object of the platform.
#include "config/share_data.h"

#include <atomic>
#include <cstring>

#include "config/macros.h"
#include "config/option_file.h"
#include "core/driver_instance.h"
#include "core/host_api.h"
#include "core/test_point.h"
#include "platform/named_lock.h"
#include "platform/shared_memory.h"
#include "platform/thread.h"

static_assert(sizeof(PendingSnapshot::bytes) == offsetof(ShareData, delimiter));

namespace {

// How long a look at the block waits for its lock. A holder keeps it for a copy of a few hundred
// bytes and never calls the host meanwhile; one that keeps it longer is stalled (its process
// stopped), and the worker of another process must not stall with it.
constexpr int kHandOverLockWaitMs = 10000;

// Holds the lock beside the block for its scope. When the lock cannot be had (a system failure,
// or a holder that did not give it up in time) the hand-over goes on without it, as it did before
// there was one, after a level-32 line. Nothing is logged while the lock is held.
class HandOverLock {
 public:
  explicit HandOverLock(uint32_t instanceNumber) {
    const std::string name = ShareLockName(instanceNumber);
    lock_ = NamedLockOpen(name.c_str());
    if (!lock_ || !NamedLockAcquire(lock_, kHandOverLockWaitMs)) {
      err(kLogError, "telMar: lock '%s' of the shared block not taken, LastError %08x",
          name.c_str(), LastSystemError());
    }
  }
  ~HandOverLock() { Release(); }
  HandOverLock(const HandOverLock&) = delete;
  HandOverLock& operator=(const HandOverLock&) = delete;
  void Release() {
    NamedLockClose(lock_);  // releases it
    lock_ = nullptr;
  }

 private:
  NamedLock* lock_ = nullptr;
};

// The other side writes the block only under the lock; a look at the first bytes without it
// tells whether anything may be pending at all (nearly every parse finds nothing).
bool MaybePending(ShareData* share) {
  return std::atomic_ref<char>(share->pendingValue[0]).load(std::memory_order_acquire) != 0 ||
         std::atomic_ref<char>(share->pendingName[0]).load(std::memory_order_acquire) != 0;
}

bool Terminated(const char (&field)[256]) {
  return std::memchr(field, 0, sizeof field) != nullptr;
}

// Under the lock: the pending macro (false when none, or refused) and both texts emptied.
// `*refused` names a field that was refused, for the caller to log once the lock is given back.
bool TakeLocked(ShareData* share, std::string* name, std::string* value, const char** refused) {
  bool taken = false;
  const char* unterminated = !Terminated(share->pendingValue)  ? "pendingValue"
                             : !Terminated(share->pendingName) ? "pendingName"
                                                               : nullptr;
  *refused = unterminated;
  if (!unterminated && share->pendingValue[0] != '\0') {
    *value = ShareText(share->pendingValue);
    *name = ShareText(share->pendingName);
    taken = true;
  }
  SetShareText(share->pendingValue, "");
  SetShareText(share->pendingName, "");
  return taken;
}

void LogRefused(DriverInstance* inst, const char* refused) {
  if (!refused) return;
  err(kLogError, "%s: pending macro refused: %s fills its 256 bytes without a terminating NUL",
      inst->name.c_str(), refused);
}

void AddTakenMacro(DriverInstance* inst, const std::string& name, const std::string& value) {
  VpiRequest request{};
  request.instance = inst;
  request.instanceNumber = static_cast<int32_t>(inst->fullInstanceNumber);
  AddMacro(name, value, &request);  // a name already defined is no failure of the caller
}

// The running driver's block, opened by name now; null when no driver runs.
ShareData* OpenRunning(uint32_t instanceNumber, SharedMemory** handle) {
  *handle = SharedMemoryOpen(ShareDataName(instanceNumber).c_str());
  ShareData* view =
      *handle ? static_cast<ShareData*>(SharedMemoryMap(*handle, sizeof(ShareData))) : nullptr;
  if (!view) {
    SharedMemoryClose(*handle);
    *handle = nullptr;
  }
  return view;
}

}  // namespace

std::string ShareDataName(uint32_t instanceNumber) {
  return PrivateObjectName(OptionFileName(instanceNumber));
}

std::string ShareLockName(uint32_t instanceNumber) {
  return ShareDataName(instanceNumber) + ".lock";
}

std::string ShareText(const char (&field)[256]) {
  const size_t limit = sizeof field - 1;
  const void* nul = std::memchr(field, 0, limit);
  size_t length = nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : limit;
  return std::string(field, length);
}

bool SetShareText(char (&field)[256], std::string_view text) {
  if (text.size() >= sizeof field || text.find('\0') != std::string_view::npos) return false;
  std::memcpy(field, text.data(), text.size());
  std::memset(field + text.size(), 0, sizeof field - text.size());
  return true;
}

int CreateShareData(VpiRequest* request) {
  DriverInstance* inst = request->instance;
  const uint32_t number = static_cast<uint32_t>(request->instanceNumber);
  // Messages give the block's name as the option file's, without the system's leading '/'.
  const std::string shown = OptionFileName(number);

  // A browse may open the new block by name as soon as it exists: create and zero it under the
  // lock, so that nothing it hands over is zeroed after it.
  HandOverLock held(number);
  inst->shareHandle = SharedMemoryCreate(ShareDataName(number).c_str(), sizeof(ShareData));
  if (!inst->shareHandle) {
    held.Release();
    err(kLogError, "%s: CreateShareData() failed on CreateFileMapping '%s'", inst->name.c_str(),
        shown.c_str());
    return 2;
  }
  inst->shareView = static_cast<ShareData*>(SharedMemoryMap(inst->shareHandle, sizeof(ShareData)));
  if (!inst->shareView) {
    held.Release();
    err(kLogError, "%s: CreateShareData() failed on MapViewOfFile '%s'", inst->name.c_str(),
        shown.c_str());
    return 2;
  }
  std::memset(inst->shareView, 0, sizeof(ShareData));
  return 0;
}

int OpenShareData(VpiRequest* request, SharedMemory** handle, ShareData** view) {
  const uint32_t number = static_cast<uint32_t>(request->instanceNumber);
  const std::string shown = OptionFileName(number);
  *view = nullptr;
  const std::string system = ShareDataName(number);
  *handle = SharedMemoryOpen(system.c_str());
  if (!*handle) {
    if (SharedMemoryInOtherSession(system.c_str())) {
      err(kLogError,
          "telMar: OpenShareData(): the driver of '%s' runs in another logon session, which "
          "this process cannot reach",
          shown.c_str());
    }
    err(kLogError, "telMar: OpenShareData() fail on OpenFileMapping '%s'", shown.c_str());
    return 53;
  }
  *view = static_cast<ShareData*>(SharedMemoryMap(*handle, sizeof(ShareData)));
  if (!*view) {
    err(kLogError, "telMar: OpenShareData() fail on MapViewOfFile '%s'", shown.c_str());
    return 53;
  }
  return 0;
}

int CloseShareData(SharedMemory* handle, ShareData* view) {
  SharedMemoryUnmap(view, sizeof(ShareData));
  SharedMemoryClose(handle);
  return 0;
}

void RemoveShareData(uint32_t instanceNumber) {
  SharedMemoryRemove(ShareDataName(instanceNumber).c_str());
}

void TakePendingMacro(DriverInstance* inst) {
  ShareData* share = inst->shareView;
  if (!share || !MaybePending(share)) return;
  std::string name;
  std::string value;
  const char* refused = nullptr;
  HandOverLock held(inst->fullInstanceNumber);
  bool taken = TakeLocked(share, &name, &value, &refused);
  held.Release();
  LogRefused(inst, refused);
  if (taken) AddTakenMacro(inst, name, value);
}

void EndShareData(DriverInstance* inst) {
  if (!inst->shareHandle && !inst->shareView) return;
  std::string name;
  std::string value;
  bool taken = false;
  const char* refused = nullptr;
  {
    // Under the lock a browse either handed over before (and the macro is taken here) or finds
    // no block any more.
    HandOverLock held(inst->fullInstanceNumber);
    if (inst->shareView) {
      taken = TakeLocked(inst->shareView, &name, &value, &refused);
      // A browse that still maps the block keeps it alive where a name lasts as long as its
      // views: no delimiter marks it as left by its driver.
      inst->shareView->delimiter = '\0';
    }
    RemoveShareData(inst->fullInstanceNumber);
  }
  CloseShareData(inst->shareHandle, inst->shareView);
  inst->shareHandle = nullptr;
  inst->shareView = nullptr;
  LogRefused(inst, refused);
  if (taken) AddTakenMacro(inst, name, value);
}

PendingSnapshot SnapshotPending(uint32_t instanceNumber, const ShareData* view) {
  PendingSnapshot seen{};
  if (!view) return seen;
  HandOverLock held(instanceNumber);
  std::memcpy(seen.bytes, view, sizeof seen.bytes);
  return seen;
}

bool HandOverMacro(uint32_t instanceNumber, const std::string& name, const std::string& value) {
  if (name.size() >= sizeof(ShareData::pendingName) ||
      value.size() >= sizeof(ShareData::pendingValue)) {
    err(kLogError, "telMar: macro '%s' does not fit the shared block, not handed over",
        name.c_str());
    return false;
  }
  HandOverLock held(instanceNumber);
  SharedMemory* handle = nullptr;
  ShareData* view = OpenRunning(instanceNumber, &handle);
  if (!view) {
    held.Release();
    err(kLogError, "telMar: no running driver took macro '%s' over: '%s' cannot be opened",
        name.c_str(), OptionFileName(instanceNumber).c_str());
    return false;
  }
  if (view->delimiter == '\0') {
    CloseShareData(handle, view);
    held.Release();
    err(kLogError, "telMar: no running driver took macro '%s' over: its driver has ended",
        name.c_str());
    return false;
  }
  bool written = SetShareText(view->pendingValue, value);
  TestPoint("HandOverMacro:value written");
  written = written && SetShareText(view->pendingName, name);
  if (!written) SetShareText(view->pendingValue, "");
  CloseShareData(handle, view);
  return written;
}

void WithdrawPendingMacro(uint32_t instanceNumber, const PendingSnapshot& seen) {
  HandOverLock held(instanceNumber);
  SharedMemory* handle = nullptr;
  ShareData* view = OpenRunning(instanceNumber, &handle);
  if (!view) return;
  if (std::memcmp(view, seen.bytes, sizeof seen.bytes) == 0) {
    SetShareText(view->pendingValue, "");
    SetShareText(view->pendingName, "");
  }
  CloseShareData(handle, view);
}
