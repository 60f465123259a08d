// Control of the simulated network, for tests and for the host simulator: the simulation clock,
// network events as a device would cause them, injected failures and call counters.
// Everything here is process-wide and thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/attributes.h"
#include "platform/variant.h"

#if defined(TELMAR_BUILDING_LONSIM)
#define LONSIM_API PLATFORM_EXPORT
#else
#define LONSIM_API PLATFORM_IMPORT
#endif

namespace lonsim {

// Clock. The manual clock (for tests) moves only through AdvanceClock, which runs the polls and
// device behaviour that fall due and delivers their callbacks before it returns. The real-time
// clock (the default; the demo) moves by itself on the library's thread.
LONSIM_API void UseManualClock();
LONSIM_API void UseRealTimeClock();
LONSIM_API void AdvanceClock(int64_t milliseconds);
LONSIM_API int64_t Now();  // milliseconds of simulation time

// Network events. Paths are full object names with the open network's delimiter.
// A change reported by the device: value in engineering units (scaled), as text, or raw bytes.
LONSIM_API bool SetNVValue(const std::string& path, double engineeringValue);
LONSIM_API bool SetNVText(const std::string& path, const std::string& text);
LONSIM_API bool SetNVRaw(const std::string& path, const std::vector<uint8_t>& raw);
LONSIM_API bool GetNVRaw(const std::string& path, std::vector<uint8_t>* raw);
LONSIM_API bool GetNVValue(const std::string& path, double* engineeringValue);
LONSIM_API bool PressServicePin(const std::string& devicePath);
LONSIM_API bool SetDeviceAttached(const std::string& devicePath, bool attached);
LONSIM_API int32_t DeviceHandle(const std::string& devicePath);  // -1 when unknown
// The objects of the open network at and below `path` (empty: all), in tree order: kind
// ("subsystem", "device", "block", "nv"), type (NVs), direction ("in", "out"), and the value
// (an NV's as text, a device's "attached"/"detached"). An NV also tells its index on the device,
// its size, whether it is a configuration NV and its block's name; a block its profile. When
// `path` names a structured NV, its fields follow it (kind "field", type the base type, with
// scaling and limits). False when nothing is open or the path names no object.
struct ObjectInfo {
  std::string path, kind, type, direction, value;
  int index = -1;           // an NV's index on its device
  uint32_t size = 0;        // an NV's bytes
  bool config = false;      // a configuration NV
  std::string block;        // an NV's block, by its name
  int profile = -1;         // a block's profile number
  std::string profileName;  // a block's standard profile ("SFPTspaceComfortController")
  std::string scaling;      // a field's: "x0.1 +-274"; empty for none
  std::string limits;       // a field's: "-274 to 6279.5, invalid 6279.6"; empty for none
};
LONSIM_API bool ListObjects(const std::string& path, std::vector<ObjectInfo>* objects);
// Callbacks are delivered on the library's thread; this waits until every event raised so far
// has been delivered (or dropped because notification is off). For tests.
LONSIM_API void Drain();

// Failure injection: the next `times` calls of CLns::<operation> (e.g. "PollNV", "Open",
// "SetNVFormatType") fail with `result`.
LONSIM_API void FailNext(const std::string& operation, int result = 1, int times = 1);
LONSIM_API void ClearFailures();

// Call counters per CLns operation, with the integer arguments of the last call (items and
// texts left out; e.g. MonitorNV's last args are {on}, Browse's are {flags, depth}).
LONSIM_API int CallCount(const std::string& operation);
LONSIM_API std::vector<int64_t> LastArgs(const std::string& operation);
LONSIM_API void ResetCounters();

// Forgets counters, failures and injected changes and returns to the real-time clock; the next
// CLns::Open loads its network afresh. For test fixtures.
LONSIM_API void Reset();

// Why the last failing call failed (a network file's parse error as "file:line: what", a
// refused format, a detached device, ...). Empty when nothing failed yet.
LONSIM_API std::string LastError();
// Forgets the last failure's text, so that a caller can tell whether its next call failed here.
LONSIM_API void ClearLastError();
// Loads a network ("Demo" or a network file) without opening it: true, or false with *error as
// the opening would report it ("file:line: what").
LONSIM_API bool CheckNetwork(const std::string& name, std::string* error);
// The same, and what the network holds.
struct NetworkCounts {
  int devices = 0, nvs = 0, fromXif = 0;  // NVs in all, and those of interface files
};
LONSIM_API bool CheckNetwork(const std::string& name, std::string* error, NetworkCounts* counts);
// The file in which CLns::Open records the opened network's name (or that it failed) for
// CLnsArchive in processes that open none: by default lonsim.network in the user's own state
// directory; tests point it into their own directory.
LONSIM_API void SetNetworkRecordFile(const std::string& path);
// The host names the driver instance it runs (its instance number, in the working directory):
// the record becomes that instance's own, in the user's state directory, so that a browse sees
// the network of its own driver, never one that another instance or user opened.
LONSIM_API void SetDriverInstance(uint32_t instanceNumber);

}  // namespace lonsim
