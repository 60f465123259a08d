// The driver instance record: everything the driver knows about the one network it serves.
// The host allocates the block (GetVpiInfo reports its size) and passes it in every request;
// instance setup constructs the record in place at the start of every ColdStart.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

#include "config/macro_table.h"
#include "core/gate_map.h"
#include "core/host_records.h"

class CLns;
class CNVItem;
class DriverListener;
struct GateBinding;
struct ShareData;
struct SharedMemory;

struct DriverInstance {
  std::string name;  // "TelMAR"; heads every instance message
  uint16_t version = 0;
  // Host client id; 0 while not registered. Atomic: the network listener reads it on the
  // library's thread while a host shutdown on the worker clears it.
  std::atomic<uint8_t> clientId{0};
  std::string clientName;
  uint8_t instanceNumber = 0;  // low byte of the request's instanceNumber
  // The request's whole instance number: it names the option file and the shared block.
  uint32_t fullInstanceNumber = 0;
  CLns* lns = nullptr;
  DriverListener* listener = nullptr;  // owned

  int32_t remote = 0;
  int32_t single = 0;
  int32_t pinEvent = 0;
  int32_t checkBindings = 0;
  int32_t browseFromLns = 0;
  int32_t browseSubsysAll = 0;
  int32_t browseSubsysDiscovered = 0;
  int32_t debugLevel = 0;
  std::string network;
  std::string networkInterface;
  std::string hostInterface;
  std::string typesDirectory;
  std::string standardTypeFile;
  std::string unvtTypeFile;
  char delimiter = 0;

  GateMap<GateBinding*> bindingMap;  // gate id -> binding of an NV or NVF gate; worker only
  GateMap<uint32_t> nodeMap;         // node handle + 32000 -> gate id
  // nodeMap is filled on the worker and read by the attachment callback on the library's
  // thread; both hold this lock briefly.
  std::mutex nodeMapLock;
  MacroTable macros;

  SharedMemory* shareHandle = nullptr;
  ShareData* shareView = nullptr;

  int32_t samplerActive = 0;
  uint32_t samplerChecked = 0;
  int32_t initialised = 0;
  // Set while a ColdStart runs and left set when it fails: later parses then say the driver is
  // not started instead of failing each look-up on a half-opened network.
  int32_t startFailed = 0;

  // The data format an item or item field was last given, and by which gate's parse: all gates
  // on one item share its format, so a parse that changes it is told.
  struct ItemFormat {
    uint32_t gateId = 0;
    uint16_t formatType = 0;
  };
  // Every item this instance's parser got from AddNV, with the format of the NV itself: reads
  // and writes refuse any other pointer that a host hands back. One entry per item keeps a
  // bound NV gate small.
  std::unordered_map<CNVItem*, ItemFormat> knownItems;
  // The formats of item fields.
  std::map<std::pair<CNVItem*, int>, ItemFormat> itemFormats;
};

// The instance of the latest ColdStart in this process; null before. Process-local.
extern std::atomic<DriverInstance*> GlobalInst;

// Instance setup: constructs the record in request->instance and sets GlobalInst. Returns 0.
// The block must hold no live record (never set up, or torn down).
int InstanceSetup(VpiRequest* request);
// Frees what setup and the running driver put into the record; leaves initialised 0.
void InstanceTeardown(DriverInstance* instance);
