// The shared macro block on a named shared-memory object of the platform.
#include "config/share_data.h"

#include <atomic>
#include <cstring>

#include "config/deferred_log.h"
#include "config/macro_names.h"
#include "config/macros.h"
#include "config/option_file.h"
#include "core/driver_instance.h"
#include "core/host_api.h"
#include "core/test_point.h"
#include "platform/named_lock.h"
#include "platform/shared_memory.h"
#include "platform/thread.h"

namespace {

// How long a look at the block waits for its lock. A holder keeps it for a copy of a few hundred
// bytes and a read or an append of the option file (itself waiting at most 10 s for
// the file's lock), and never calls the host meanwhile; one that keeps it longer is stalled
// (its process stopped), and the worker of another process must not stall with it.
constexpr int kHandOverLockWaitMs = 10000;

// Holds the lock beside the block for its scope. When the lock cannot be had (a system failure,
// or a holder that did not give it up in time) the hand-over goes on without it, as it did before
// there was one, after a level-32 line. Nothing is logged while the lock is held.
class HandOverLock {
 public:
  explicit HandOverLock(uint32_t instanceNumber) {
    const std::string name = ShareLockName(instanceNumber);
    TestPoint("HandOverLock:waiting");
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

// The field of the block that fills its 256 bytes without a terminating NUL (left by a writer
// that ended halfway), or null.
const char* UnterminatedField(const ShareData* share) {
  return !Terminated(share->pendingValue)  ? "pendingValue"
         : !Terminated(share->pendingName) ? "pendingName"
                                           : nullptr;
}

// The pending macro of a block: false when none, or when a text lacks its NUL.
bool PendingOf(const ShareData* share, std::string* name, std::string* value) {
  if (UnterminatedField(share) || share->pendingValue[0] == '\0') return false;
  *name = ShareText(share->pendingName);
  *value = ShareText(share->pendingValue);
  return true;
}

// Under the lock: the taken macro into the instance's table and the option file, so that a
// browse naming a new macro meanwhile finds it there. Then the macros that browses wrote to the
// file while this one waited in the block (each browse writes the macro it finds pending to the
// file before it hands its own over) join the table.
void AddTakenMacro(DriverInstance* inst, const std::string& name, const std::string& value,
                   DeferredLog* log) {
  VpiRequest request{};
  request.instance = inst;
  request.instanceNumber = static_cast<int32_t>(inst->fullInstanceNumber);
  AddMacro(name, value, &request, log);  // a name already defined is no failure of the caller
  MacroTable file;
  if (!ReadFileMacros(inst->fullInstanceNumber, &file, log)) return;
  file.ForEach([inst, log](const std::string& fileName, const std::string& fileValue) {
    if (inst->macros.Contains(fileName)) return;
    inst->macros.Set(fileName, fileValue);
    Defer(log, kLogTrace, "%s: macro '%s' -> '%s' taken over from the option file",
          inst->name.c_str(), fileName.c_str(), fileValue.c_str());
  });
}

// Under the lock: both texts emptied, and the pending macro, unless refused, taken over by
// AddTakenMacro.
void TakeOverLocked(DriverInstance* inst, ShareData* share, DeferredLog* log) {
  std::string name;
  std::string value;
  bool taken = false;
  if (const char* unterminated = UnterminatedField(share)) {
    Defer(log, kLogError,
          "%s: pending macro refused: %s fills its 256 bytes without a terminating NUL",
          inst->name.c_str(), unterminated);
  } else {
    taken = PendingOf(share, &name, &value);
  }
  SetShareText(share->pendingValue, "");
  SetShareText(share->pendingName, "");
  if (taken) AddTakenMacro(inst, name, value, log);
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
  DeferredLog log;
  {
    HandOverLock held(inst->fullInstanceNumber);
    TakeOverLocked(inst, share, &log);
  }
  FlushLog(&log);
}

void EndShareData(DriverInstance* inst) {
  if (!inst->shareHandle && !inst->shareView) return;
  DeferredLog log;
  {
    // Under the lock a browse either handed over before (and the macro is taken here) or finds
    // no block any more.
    HandOverLock held(inst->fullInstanceNumber);
    if (inst->shareView) {
      TakeOverLocked(inst, inst->shareView, &log);
      // A browse that still maps the block keeps it alive where a name lasts as long as its
      // views: no delimiter marks it as left by its driver.
      inst->shareView->delimiter = '\0';
    }
    RemoveShareData(inst->fullInstanceNumber);
  }
  CloseShareData(inst->shareHandle, inst->shareView);
  inst->shareHandle = nullptr;
  inst->shareView = nullptr;
  FlushLog(&log);
}

bool PeekPendingMacro(uint32_t instanceNumber, ShareData* view, std::string* name,
                      std::string* value) {
  if (!view) return false;
  const char* unterminated = nullptr;
  bool pending = false;
  {
    HandOverLock held(instanceNumber);
    unterminated = UnterminatedField(view);
    if (unterminated) {
      // No macro but what a writer that ended halfway left: nothing to keep.
      SetShareText(view->pendingValue, "");
      SetShareText(view->pendingName, "");
    } else {
      pending = PendingOf(view, name, value);
    }
  }
  if (unterminated) {
    err(kLogError,
        "telMar: pending macro refused: %s fills its 256 bytes without a terminating NUL",
        unterminated);
  }
  return pending;
}

bool HandOverMacro(uint32_t instanceNumber, const std::string& name, const std::string& value,
                   std::string* settled) {
  if (name.size() >= sizeof(ShareData::pendingName) ||
      value.size() >= sizeof(ShareData::pendingValue)) {
    err(kLogError, "telMar: macro '%s' does not fit the shared block, not handed over",
        name.c_str());
    return false;
  }
  // The driver would refuse it: the address would name a macro it never learns.
  if (const char* reason = MacroRefusalReason(name, value)) {
    err(kLogError, "telMar: macro '%s' -> '%s' not handed over: %s", Printable(name).c_str(),
        Printable(value).c_str(), reason);
    return false;
  }
  DeferredLog log;
  bool handedOver = false;
  {
    HandOverLock held(instanceNumber);
    SharedMemory* handle = nullptr;
    ShareData* view = OpenRunning(instanceNumber, &handle);
    MacroTable known;
    std::string pendingName;
    std::string pendingValue;
    if (!view) {
      Defer(&log, kLogError,
            "telMar: no running driver took macro '%s' over: '%s' cannot be opened", name.c_str(),
            OptionFileName(instanceNumber).c_str());
    } else if (view->delimiter == '\0') {
      Defer(&log, kLogError, "telMar: no running driver took macro '%s' over: its driver has ended",
            name.c_str());
    } else if (!ReadFileMacros(instanceNumber, &known, &log)) {
      Defer(&log, kLogError,
            "telMar: macro '%s' not handed over: initialization file '%s' cannot be read",
            name.c_str(), OptionFileName(instanceNumber).c_str());
    } else if (FindMacroByValue(known, value, *settled)) {
      handedOver = true;  // the file has it meanwhile: nothing to hand over
    } else if (PendingOf(view, &pendingName, &pendingValue) &&
               MacroValuesEqual(pendingValue, value)) {
      *settled = pendingName;  // another browse handed the same path over: it stays pending
      handedOver = true;
    } else {
      // A new macro. The one pending is not lost: it goes to the option file first, where the
      // driver finds it when it takes this one over. The new one gets a name neither uses.
      bool kept = true;
      if (!pendingName.empty()) {
        std::string defined;
        if (const char* reason = MacroRefusalReason(pendingName, pendingValue)) {
          Defer(&log, kLogError, "telMar: pending macro '%s' is dropped: %s",
                Printable(pendingName).c_str(), reason);  // the driver would refuse it as well
        } else if (!known.Lookup(pendingName, &defined)) {
          kept = AppendMacroLine(instanceNumber, pendingName, pendingValue, &log) ==
                 MacroWrite::kWritten;
          if (!kept) {
            Defer(&log, kLogError,
                  "telMar: macro '%s' not handed over: pending macro '%s' cannot be written to "
                  "'%s'",
                  name.c_str(), pendingName.c_str(), OptionFileName(instanceNumber).c_str());
          }
        } else if (!MacroValuesEqual(defined, pendingValue)) {
          Defer(&log, kLogError,
                "telMar: pending macro '%s' -> '%s' is dropped: the initialization file defines "
                "'%s' -> '%s'",
                pendingName.c_str(), pendingValue.c_str(), pendingName.c_str(), defined.c_str());
        }
        known.Set(pendingName, pendingValue);
      }
      if (kept) {
        *settled = known.Contains(name) ? NewMacroName(known) : name;
        handedOver = SetShareText(view->pendingValue, value);
        TestPoint("HandOverMacro:value written");
        handedOver = handedOver && SetShareText(view->pendingName, *settled);
        if (!handedOver) SetShareText(view->pendingValue, "");
      }
    }
    if (view) CloseShareData(handle, view);
  }
  FlushLog(&log);
  return handedOver;
}
