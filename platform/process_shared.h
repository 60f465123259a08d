// Values that every process loading the driver shares (a small named shared-memory segment).
#pragma once

#include <atomic>
#include <cstdint>

struct ProcessShared {
  // 0: no worker runs; else instanceNumber + 1 of the instance whose worker runs.
  std::atomic<int32_t> threadRunning;
  // Process id of the worker's owner; a dead owner counts as "no worker runs". While a process
  // changes threadRunning it holds that process's id negated (a dead claimer never completes).
  std::atomic<int32_t> threadOwner;
  // 1: the host station is active and monitoring is on; 0: passive.
  std::atomic<int32_t> stationActive;
  // Ids of the processes that mapped the segment. The values live as long as one of them does,
  // as a data section shared by the processes that load a module does: the first process to
  // map the segment while none of the recorded ones lives starts from zero values.
  static constexpr int kMaxProcesses = 64;
  std::atomic<int32_t> attached[kMaxProcesses];
  // Process id of the process that is recording itself in `attached` (and deciding whether the
  // values are stale); 0 when none. One process at a time: two processes mapping the segment for
  // the first time together would otherwise both find nobody alive, and the later one's reset
  // would wipe a worker claim that the earlier one made meanwhile.
  std::atomic<int32_t> attaching;
};

// The segment of this process, mapped at first use; never null (falls back to a block of this
// process only when the segment cannot be mapped; ProcessSharedFallback tells why).
ProcessShared* ProcessSharedData();
// Why the values are this process's own: the system call that failed and the system error.
struct ProcessSharedFault {
  const char* step;  // the failed step, e.g. "shm_open" or "CreateFileMapping"
  uint32_t error;    // the system's error code
};
// True, with the fault, when ProcessSharedData() had to fall back to a block of this process.
bool ProcessSharedFallback(ProcessSharedFault* fault);
// True when the process of that id is alive.
bool ProcessAlive(int32_t pid);
int32_t CurrentProcessId();
// The segment's name: every process that loads the same driver file shares one segment.
const char* ProcessSharedName();
// Removes the segment's name (tests and tools clean up with it); mappings stay valid.
void ProcessSharedRemove();
// For tests: called at two steps of this process's first mapping: "attach:waiting" (once) when
// another process is attaching, "attach:scanned" once it is known whether the values are stale.
void ProcessSharedSetAttachHook(void (*hook)(const char* step));
