#include "lon/single_io.h"

#include <cstring>

#include "address/node_binding.h"
#include "core/driver_instance.h"
#include "core/host_api.h"
#include "core/host_records.h"
#include "lon/lns.h"
#include "lon/value_conversion.h"

namespace {

// Special-gate rows of a kind-4 binding word.
constexpr uint8_t kSpecialBrowse = 2;

uint8_t BindingKindOf(const GateIoParams* io) {
  return static_cast<uint8_t>(io->bindingWord);
}
uint8_t BindingIndexOf(const GateIoParams* io) {
  return static_cast<uint8_t>(io->bindingWord >> 8);
}

// The host's address text may be missing; messages must still be printable.
const char* AddressOf(const GateIoParams* io) {
  return io->address ? io->address : "";
}

const char* NameOf(DriverInstance* inst) {
  return inst->name.c_str();
}

// The host hands the binding words back to us; a pointer that this instance's parser never
// returned (stale after a teardown, or another instance's) must not reach the library.
bool CheckNVGate(DriverInstance* inst, const GateIoParams* io, const char* step) {
  if (!io->valueCell) {
    err(kLogError, "%s: %s fail, no value cell (addr = '%s')", NameOf(inst), step, AddressOf(io));
    return false;
  }
  if (!inst->lns || !io->nvItem || !inst->knownItems.contains(io->nvItem)) {
    err(kLogError, "%s: %s fail, unknown nvItem (addr = '%s')", NameOf(inst), step, AddressOf(io));
    return false;
  }
  return true;
}

// Common entry checks of the command handlers: a request without an instance or a parameter
// record cannot name the gate, so it fails with the fixed prefix.
bool RequestUsable(VpiRequest* request, const char* command) {
  if (!request || !request->instance || !request->params) {
    err(kLogError, "telMAR: %s fail, no instance or parameters", command);
    return false;
  }
  return true;
}

// The 16-bit value of a value cell lives in bytes 2..3; bytes 0..1 are the host's.
void PutCell16(void* cell, uint16_t value) {
  std::memcpy(static_cast<uint8_t*>(cell) + 2, &value, sizeof value);
}

void CheckSamplerOnce(DriverInstance* inst) {
  if (inst->samplerChecked) return;
  uint16_t rc =
      KestGetSingleVpiSampler(inst->clientId.load(), inst->instanceNumber, &inst->samplerActive);
  if (rc == 0 && inst->samplerActive) {
    err(kLogError, "%s: WARNING, vpi sampler is active, dederir.dll is not update !!!",
        NameOf(inst));
  }
  inst->samplerChecked = 1;
}

uint32_t NodeSingleRead(DriverInstance* inst, GateIoParams* io) {
  if (io->nodeValue < kNodeValueOffset) {
    err(kLogError, "%s: SingleRead fail, invalid node (%d)", NameOf(inst), io->nodeValue);
    return 1;
  }
  if (!io->valueCell) {
    err(kLogError, "%s: SingleRead fail, no value cell (addr = '%s')", NameOf(inst), AddressOf(io));
    return 1;
  }
  if (!inst->lns) {
    err(kLogError, "%s: SingleRead fail, no network connection (addr = '%s')", NameOf(inst),
        AddressOf(io));
    return 1;
  }
  int rc = inst->lns->TestNodeByHandle(io->nodeValue - kNodeValueOffset, kIOOptMonitored);
  PutCell16(io->valueCell, rc == 0 ? 1 : 0);
  return 0;
}

uint32_t ReBrowse(DriverInstance* inst) {
  err(kLogTrace, "%s: SingleWrite reBrowse", NameOf(inst));
  if (!inst->lns) {
    err(kLogError, "%s: SingleWrite reBrowse fail, no network connection", NameOf(inst));
    return 1;
  }
  // Unlike the start-up browse, a reload never switches to browsing from the database file.
  int flags = inst->browseSubsysAll ? 1 : 1 | 4;
  if (inst->browseSubsysDiscovered == 0) flags |= 8;
  inst->lns->Browse(flags, 1, nullptr, nullptr);
  return 0;
}

// A read or write of one NV (fieldIndex < 0) or one NV field.
uint32_t ReadItem(VpiRequest* request, int fieldIndex) {
  const char* step = fieldIndex < 0 ? "NVSingleRead" : "NVFSingleRead";
  if (!RequestUsable(request, step)) return 1;
  DriverInstance* inst = request->instance;
  auto* io = static_cast<GateIoParams*>(request->params);
  if (!CheckNVGate(inst, io, step)) return 1;

  CLns* lns = inst->lns;
  CNVItem* item = io->nvItem;
  // A listened item is monitored, so the library's copy is current and the device is spared.
  int listeners =
      fieldIndex < 0 ? lns->GetListenersCount(item) : lns->GetListenersCount(item, fieldIndex);
  int ioOpt = listeners != 0 ? kIOOptMonitored : kIOOptDevice;

  VARIANT value;
  VariantInit(&value);
  uint32_t result = 0;
  int rc = fieldIndex < 0 ? lns->ReadNV(item, &value, ioOpt)
                          : lns->ReadNVF(item, fieldIndex, &value, ioOpt);
  if (rc != 0) {
    if (fieldIndex < 0) {
      err(kLogTrace, "%s: NVSingleRead fail on ReadNV (addr = '%s')", NameOf(inst), AddressOf(io));
    } else {
      err(kLogTrace, "%s: NVFSingleRead fail on GetNVFVal (addr = '%s')", NameOf(inst),
          AddressOf(io));
    }
    result = 1;
  } else {
    ValueFault fault;
    if (!VariantToKestValue(&value, static_cast<uint32_t>(io->gateType), io->valueCell,
                            static_cast<char*>(io->valueCell), &fault)) {
      if (ValueFaultIsTheValue(fault)) {
        // The network holds a value the gate cannot show: a failure of the gate's setup (its
        // type or format), not a passing read error.
        char reason[kValueFaultTextSize];
        err(kLogError, "%s: %s fail, %s (addr = '%s')", NameOf(inst), step,
            FormatValueFault(fault, reason, sizeof reason), AddressOf(io));
      } else {
        err(kLogTrace, "%s: %s fail on VariantToKestValue (addr = '%s')", NameOf(inst), step,
            AddressOf(io));
      }
      result = 1;
    }
  }
  VariantClear(&value);
  return result;
}

uint32_t WriteItem(VpiRequest* request, int fieldIndex) {
  const char* step = fieldIndex < 0 ? "NVSingleWrite" : "NVFSingleWrite";
  if (!RequestUsable(request, step)) return 1;
  DriverInstance* inst = request->instance;
  auto* io = static_cast<GateIoParams*>(request->params);
  if (!CheckNVGate(inst, io, step)) return 1;

  VARIANT value;
  VariantInit(&value);
  uint32_t result = 0;
  if (!KestToVariantValue(io->valueCell, static_cast<uint32_t>(io->gateType), &value)) {
    err(kLogError, "%s: %s fail on KestToVariantValue (addr = '%s')", NameOf(inst), step,
        AddressOf(io));
    result = 1;
  } else {
    int rc = fieldIndex < 0 ? inst->lns->WriteNV(io->nvItem, &value)
                            : inst->lns->WriteNVF(io->nvItem, fieldIndex, &value);
    if (rc != 0) {
      if (fieldIndex < 0) {
        err(kLogError, "%s: NVSingleWrite failed on WriteNV (addr = '%s')", NameOf(inst),
            AddressOf(io));
      } else {
        err(kLogError, "%s: NVFSingleWrite failed on PutNVFVal (addr = '%s')", NameOf(inst),
            AddressOf(io));
      }
      result = 1;
    }
  }
  VariantClear(&value);
  return result;
}

int FieldIndexOf(VpiRequest* request) {
  if (!request || !request->params) return 0;
  return BindingIndexOf(static_cast<const GateIoParams*>(request->params));
}

}  // namespace

uint32_t SingleRead(VpiRequest* request) {
  if (!RequestUsable(request, "SingleRead")) return 1;
  DriverInstance* inst = request->instance;
  auto* io = static_cast<GateIoParams*>(request->params);

  CheckSamplerOnce(inst);

  switch (BindingKindOf(io)) {
    case kBindNV:
      return NVSingleRead(request);
    case kBindNVF:
      return NVFSingleRead(request);
    case kBindNode:
      return NodeSingleRead(inst, io);
    case kBindSpecial:
      return 1;  // special gates are only written
    default:
      err(kLogError, "%s: SingleRead fail, invalid memType (%d) (addr = '%s')", NameOf(inst),
          BindingKindOf(io), AddressOf(io));
      return 1;
  }
}

uint32_t BlockRead(VpiRequest* request) {
  const char* name = request && request->instance ? NameOf(request->instance) : "telMAR";
  err(kLogError, "%s: BlockRead () not supported in this driver", name);
  return 1;
}

uint32_t SingleWrite(VpiRequest* request) {
  if (!RequestUsable(request, "SingleWrite")) return 1;
  DriverInstance* inst = request->instance;
  auto* io = static_cast<GateIoParams*>(request->params);

  err(kLogTrace, "%s: SingleWrite enter, (addr = '%s')", NameOf(inst), AddressOf(io));

  switch (BindingKindOf(io)) {
    case kBindNV:
      return NVSingleWrite(request);
    case kBindNVF:
      return NVFSingleWrite(request);
    case kBindSpecial:
      if (BindingIndexOf(io) == kSpecialBrowse) return ReBrowse(inst);
      err(kLogError, "%s: SingleWrite refused, this special gate is only read (addr = '%s')",
          NameOf(inst), AddressOf(io));
      return 1;
    case kBindNode:
      err(kLogError, "%s: SingleWrite refused, a node gate is only read (addr = '%s')",
          NameOf(inst), AddressOf(io));
      return 1;
    default:
      err(kLogError, "%s: SingleWrite refused, invalid memType (%d) (addr = '%s')", NameOf(inst),
          BindingKindOf(io), AddressOf(io));
      return 1;
  }
}

uint32_t BlockWrite(VpiRequest*) {
  return 1;
}

uint32_t NVSingleRead(VpiRequest* request) {
  return ReadItem(request, -1);
}
uint32_t NVFSingleRead(VpiRequest* request) {
  return ReadItem(request, FieldIndexOf(request));
}
uint32_t NVSingleWrite(VpiRequest* request) {
  return WriteItem(request, -1);
}
uint32_t NVFSingleWrite(VpiRequest* request) {
  return WriteItem(request, FieldIndexOf(request));
}
