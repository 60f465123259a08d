// The network-access library: one CLns per open LonWorks network, CNVItem for a registered
// network variable, CLnsArchive to fill a tree control with the network tree, and the listener
// interface through which the library reports network events. int results are 0 on success
// unless stated otherwise. netsim/ implements this contract with a simulated network. Texts cross
// it as plain C strings and buffers only, no standard-library types.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/attributes.h"
#include "platform/variant.h"

// The network library defines TELMAR_BUILDING_LONSIM while it builds itself.
#if defined(TELMAR_BUILDING_LONSIM)
#define LNS_API PLATFORM_EXPORT
#else
#define LNS_API PLATFORM_IMPORT
#endif

class CNVItem;  // a registered NV; belongs to the library

// Object kinds that CLns::IsFound reports.
enum LnsObjectKind : int {
  kLnsKindNetwork = 1,
  kLnsKindSubsystem = 2,
  kLnsKindFunctionalBlock = 6,
  kLnsKindAppDevice = 4,
  kLnsKindNV = 8,
  kLnsKindNVField = 10,
};

// Binding options of BindNV/BindNVF (address options /M:b /M:c /M:i /M:e /M:a).
using BoundOpt = int;

// I/O option of ReadNV/ReadNVF/TestNodeByHandle: 0 read the device, 1 the monitored value when
// the item is monitored.
enum IOOpt : int { kIOOptDevice = 0, kIOOptMonitored = 1 };

struct NVStructStat {
  int32_t hNode;       // handle of the owning application device
  int32_t direction;   // 0 input, 1 output
  int32_t typeIndex;   // standard type index (SNVT number)
  int32_t length;      // raw length in bytes
  int32_t fieldCount;  // fields of a structured type, else 0
};

struct NVFieldStat {
  int32_t bits;  // the field's width: 1 to 7 for a bit field, 8 per byte for whole bytes
};

// Callbacks of the library, on the library's own thread.
class LNS_API ILnsListener {
 public:
  // A listened item changed; gateId is the id given to CLns::AddListener(item, gateId).
  // The library owns value; the callee may change it in place.
  virtual void OnNetworkVariableUpdate(uint32_t gateId, VARIANT* value, int32_t fieldIndex) = 0;
  // A device's service pin was pressed; the fourth argument is its Neuron ID text.
  virtual void OnSystemServicePin(int32_t hNetwork, int32_t hSubsystem, int32_t hDevice,
                                  const char* neuronId, const char* programId,
                                  const char* deviceName, int32_t subnet, int32_t node,
                                  int32_t channel) = 0;
  // A device attached (nonzero low byte of isAttached) or detached; hObject is its handle.
  virtual void OnAttachmentLca(int32_t hNetwork, int32_t hSubsystem, int32_t objectKind,
                               int32_t isAttached, const char* objectName, int32_t hObject) = 0;

 protected:
  ~ILnsListener() = default;
};

// The tree control that CLnsArchive::Serialize fills. InsertItem returns the new item's handle
// (nonzero); parent 0 inserts a root item. Image indices follow the 14-image tree strip:
// 8 a network variable, 10 a network-variable field.
class LNS_API LnsTreeControl {
 public:
  virtual uintptr_t InsertItem(const char* text, int image, uintptr_t parent) = 0;

 protected:
  ~LnsTreeControl() = default;
};

class LNS_API CLns {
 public:
  static CLns* GetLnsObject(int remote, int single, int pinEvent, char delimiter,
                            const char* typesDirectory, const char* standardTypeFile,
                            const char* unvtTypeFile);
  int debugLevel = 0;  // public, set by the driver after GetLnsObject

  int Init(void* moduleHandle, int flag);
  // network: a network file's path, or "Demo" for the built-in demo network.
  int Open(const char* network, const char* reserved, const char* networkInterface,
           const char* hostInterface);
  int Browse(int flags, int depth, LnsTreeControl* tree, const char* text);
  int AddListener(ILnsListener* listener);
  int EnableNotifyListeners(
      int enable);  // after EnableNotifyListeners(0) returns, no callback runs
  void Release();   // ends the object; no callback runs after it returns

  int IsFound(const char* name, int* kind);  // nonzero when found
  int32_t GetAppDeviceHandle(const char* name);
  CNVItem* AddNV(const char* name, int* reserved);  // null on failure; same item when added twice
  // Divides an NV-field name at its last delimiter into the NV's name and the field's name, each
  // copied with its NUL into a buffer of the given size; nonzero when the name has no such
  // division or a part does not fit. Buffers of strlen(name) + 1 bytes always suffice.
  int SplitNVFName(const char* name, char* nvName, size_t nvSize, char* fieldName,
                   size_t fieldSize);
  int NVFNameToIndex(CNVItem* item, const char* fieldName);  // negative on failure
  int AddNVF(CNVItem* item, const char* fieldName, int index);
  int GetNVStat(CNVItem* item, NVStructStat* stat);
  int GetNVFStat(CNVItem* item, int index, NVFieldStat* stat);  // a field added with AddNVF

  int SetNVFormatType(CNVItem* item, VARTYPE vt);
  int SetNVFFormatType(CNVItem* item, int index, VARTYPE vt);
  int PollNV(CNVItem* item, int rate, int flag);
  int PollNVF(CNVItem* item, int index, int rate, int flag);
  int BindNV(CNVItem* item, BoundOpt option, int flag);
  int BindNVF(CNVItem* item, int index, BoundOpt option, int flag);

  int ReadNV(CNVItem* item, VARIANT* value, int ioOpt);
  int ReadNVF(CNVItem* item, int index, VARIANT* value, int ioOpt);
  int WriteNV(CNVItem* item, VARIANT* value);
  int WriteNVF(CNVItem* item, int index, VARIANT* value);
  int TestNodeByHandle(int32_t hNode, int ioOpt);  // 0 when the node answers

  int AddListener(CNVItem* item, uint32_t gateId);
  int AddListener(CNVItem* item, int index, uint32_t gateId);
  int RemoveListener(CNVItem* item, uint32_t gateId);
  int RemoveListener(CNVItem* item, int index, uint32_t gateId);
  int IsListener(CNVItem* item, uint32_t gateId);  // 0 when the gate listens
  int IsListener(CNVItem* item, int index, uint32_t gateId);
  int GetListenersCount(CNVItem* item);
  int GetListenersCount(CNVItem* item, int index);
  int MonitorNV(CNVItem* item, int on);
  int MonitorNVF(CNVItem* item, int index, int on);
  int SetNVPollingRate(CNVItem* item, int rate);
  int SetNVFPollingRate(CNVItem* item, int index, int rate);

  struct Impl;  // the library's own state

 private:
  CLns() = default;
  ~CLns() = default;
  Impl* impl_ = nullptr;
};

class LNS_API CLnsArchive {
 public:
  // text: none; tree: the control to fill; depth 1; messageFilter 2.
  CLnsArchive(const char* text, LnsTreeControl* tree, int depth, int messageFilter);
  ~CLnsArchive();
  CLnsArchive(const CLnsArchive&) = delete;
  CLnsArchive& operator=(const CLnsArchive&) = delete;
  int Serialize();  // fills the tree with the network tree of the open network

 private:
  LnsTreeControl* tree_;
  int depth_;
  int messageFilter_;
};
