#include "lon/lns_connection.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "core/driver_instance.h"
#include "core/host_api.h"
#include "lon/value_conversion.h"
#include "platform/module.h"
#include "platform/text.h"

namespace {

constexpr char kServicePinAddress[] = "!ServicePin";

std::atomic<LocalTimeSource> servicePinTimeSource{nullptr};

// The gate whose first value the worker is about to put, and whether an update of it was
// delivered since it was registered. `firstValuePending` lets the listener skip the lock while
// no gate is starting to listen.
std::atomic<bool> firstValuePending{false};
std::mutex firstValueLock;
uint32_t firstValueGate = 0;       // guarded by firstValueLock
bool firstValueOvertaken = false;  // guarded by firstValueLock

void NoteDelivered(uint32_t gateId) {
  if (!firstValuePending.load()) return;
  std::lock_guard<std::mutex> held(firstValueLock);
  if (firstValuePending.load() && firstValueGate == gateId) firstValueOvertaken = true;
}

uint32_t RawValue(const uint8_t cell[4]) {
  return static_cast<uint32_t>(cell[0]) | (static_cast<uint32_t>(cell[1]) << 8) |
         (static_cast<uint32_t>(cell[2]) << 16) | (static_cast<uint32_t>(cell[3]) << 24);
}

// Gates whose listened updates could not be put. Each is logged once, when its first update
// fails, and again only after a value of it has fitted: a fast NV does not flood the log.
// `failingGateCount` lets a listened update skip the lock while no gate fails.
std::atomic<size_t> failingGateCount{0};
std::mutex failingGatesLock;
std::vector<uint32_t> failingGates;  // guarded by failingGatesLock

// Removes gateId from the failing gates; true when it was there.
bool ForgetFailing(uint32_t gateId) {
  if (failingGateCount.load() == 0) return false;
  std::lock_guard<std::mutex> held(failingGatesLock);
  for (size_t i = 0; i < failingGates.size(); ++i) {
    if (failingGates[i] == gateId) {
      failingGates[i] = failingGates.back();
      failingGates.pop_back();
      failingGateCount.store(failingGates.size());
      return true;
    }
  }
  return false;
}

// Adds gateId to the failing gates; true when it was not there yet (its failure is news).
bool NoteFailing(uint32_t gateId) {
  std::lock_guard<std::mutex> held(failingGatesLock);
  for (uint32_t failing : failingGates) {
    if (failing == gateId) return false;
  }
  try {
    failingGates.push_back(gateId);
  } catch (const std::bad_alloc&) {
    return true;  // not kept: the next failure of the gate is logged again
  }
  failingGateCount.store(failingGates.size());
  return true;
}

// The value of a network update for a log line.
void DescribeValue(const VARIANT* value, char* out, size_t size) {
  switch (value->vt) {
    case VT_I2:
      std::snprintf(out, size, "%d", static_cast<int>(value->iVal));
      break;
    case VT_I4:
      std::snprintf(out, size, "%ld", static_cast<long>(value->lVal));
      break;
    case VT_R4:
      std::snprintf(out, size, "%.9g", static_cast<double>(value->fltVal));
      break;
    case VT_BOOL:
      std::snprintf(out, size, "%s", value->boolVal ? "true" : "false");
      break;
    case VT_BSTR:
      std::snprintf(out, size, "a text of %u characters",
                    static_cast<unsigned>(SysStringLen(value->bstrVal)));
      break;
    case VT_ARRAY_UI1:
      std::snprintf(out, size, "an array of %u bytes",
                    static_cast<unsigned>(ByteArraySize(value->parray)));
      break;
    default:
      std::snprintf(out, size, "of variant type %d", static_cast<int>(value->vt));
      break;
  }
}

enum PutResult { kPutDone, kPutNoDefinition, kPutNoFit };

// The line of a put that found no definition of gate gateId at the host.
void LogNoDefinition(const char* name, uint32_t gateId) {
  err(kLogError, "%s: KestGatePutValueFromVariant fail on KestGetGateDef (gateId = %d)", name,
      static_cast<int>(gateId));
}

// The line of a value that gate gateId cannot take: the value and the gate type's range where
// the value is the cause, else the conversion that failed.
void LogNotFitting(const char* name, uint32_t gateId, const GateDef& def, const ValueFault& found) {
  // The host's address field need not be terminated within its 32 bytes.
  int addressLength = static_cast<int>(strnlen(def.address, sizeof(def.address)));
  if (ValueFaultIsTheValue(found)) {
    char reason[kValueFaultTextSize];
    err(kLogError, "%s: KestGatePutValueFromVariant fail, %s (gate %u, addr = '%.*s')", name,
        FormatValueFault(found, reason, sizeof reason), static_cast<unsigned>(gateId),
        addressLength, def.address);
  } else {
    err(kLogError, "%s: KestGatePutValueFromVariant fail on VariantToKestValue 'addr = '%.*s'",
        name, addressLength, def.address);
  }
}

// Writes value into the host gate gateId, whose definition it reads into *def. A value the gate
// cannot take leaves its reason in *found. Logs nothing: each caller says what failed its way.
PutResult PutGateValue(DriverInstance* instance, uint32_t gateId, VARIANT* value, GateDef* def,
                       ValueFault* found) {
  uint8_t clientId = instance->clientId.load();

  std::memset(def, 0, sizeof(*def));
  if (KestGetGateDef(clientId, gateId, def) != 0) return kPutNoDefinition;

  uint8_t cell[4] = {0, 0, 0, 0};
  char text[kGateTextMax + 1];
  text[0] = '\0';
  if (!VariantToKestValue(value, def->gateType, cell, text, found)) return kPutNoFit;

  if (def->gateType == kGateText) {
    KestPutGateStr(clientId, gateId, 2, text, 0, 0);
  } else {
    KestPutGateRawValue(clientId, gateId, RawValue(cell), 0, 2, 0, 0);
  }
  return kPutDone;
}

// A listened update of gateId that could not be put: logged with its reason unless the gate's
// failure is logged already.
void ReportUpdateNotPut(DriverInstance* instance, uint32_t gateId, const VARIANT* value,
                        const GateDef& def, PutResult result, const ValueFault& found) {
  if (!NoteFailing(gateId)) return;
  const char* name = instance->name.c_str();
  int addressLength = static_cast<int>(strnlen(def.address, sizeof(def.address)));
  if (result == kPutNoDefinition) {
    LogNoDefinition(name, gateId);
    err(kLogError,
        "%s: OnNetworkVariableUpdate, update of gate %u not put: the host has no definition of "
        "the gate (logged once until an update is put again)",
        name, static_cast<unsigned>(gateId));
    return;
  }
  LogNotFitting(name, gateId, def, found);
  char shown[64];
  DescribeValue(value, shown, sizeof shown);
  err(kLogError,
      "%s: OnNetworkVariableUpdate, update of gate %u not put: the value %s does not fit a %s "
      "gate (type %u, addr = '%.*s'); the gate keeps its last value (logged once until a value "
      "fits again)",
      name, static_cast<unsigned>(gateId), shown, GateTypeName(def.gateType),
      static_cast<unsigned>(def.gateType), addressLength, def.address);
}

// The instance when the driver is registered with the host, else null with the operation's
// message logged. clientId is read once: a host shutdown may clear it meanwhile.
DriverInstance* ListenerInstance(const char* message, uint8_t* clientId) {
  DriverInstance* instance = GlobalInst.load();
  uint8_t id = instance ? instance->clientId.load() : 0;
  if (id == 0) {
    err(kLogError, "%s", message);
    return nullptr;
  }
  *clientId = id;
  return instance;
}

}  // namespace

int LnsBrowseFlags(int32_t browseFromLns, int32_t browseSubsysAll, int32_t browseSubsysDiscovered) {
  int flags = 1;
  if (browseFromLns == 0) flags |= 2;
  if (browseSubsysAll == 0) flags |= 4;
  if (browseSubsysDiscovered == 0) flags |= 8;
  return flags;
}

int InitLns(VpiRequest* request) {
  DriverInstance* instance = request->instance;
  if (instance->lns) return 0;

  instance->lns =
      CLns::GetLnsObject(instance->remote, instance->single, instance->pinEvent,
                         instance->delimiter, instance->typesDirectory.c_str(),
                         instance->standardTypeFile.c_str(), instance->unvtTypeFile.c_str());
  if (!instance->lns) {
    err(kLogError, "%s: InitLns failed on CreateLnsObject()", instance->name.c_str());
    return 2;
  }
  CLns* lns = instance->lns;
  lns->debugLevel = instance->debugLevel;

  if (lns->Init(ModuleHandle(), 1) != 0) {
    err(kLogError, "%s: InitLns failed on Lns Init", instance->name.c_str());
    return 2;
  }
  if (lns->Open(instance->network.c_str(), "", instance->networkInterface.c_str(),
                instance->hostInterface.c_str()) != 0) {
    err(kLogError, "%s: InitLns failed on Lns Open", instance->name.c_str());
    return 2;
  }
  lns->Browse(LnsBrowseFlags(instance->browseFromLns, instance->browseSubsysAll,
                             instance->browseSubsysDiscovered),
              1, nullptr, nullptr);

  if (!instance->listener) {
    instance->listener = new (std::nothrow) DriverListener();
    if (!instance->listener) return 2;
  }
  if (lns->AddListener(instance->listener) != 0) return 2;
  return 0;
}

int KestGatePutValueFromVariant(uint32_t gateId, VARIANT* value, ValueFault* fault) {
  DriverInstance* instance = GlobalInst.load();
  if (!instance) {
    err(kLogError, "telMAR: KestGatePutValueFromVariant, no GlobalInst (gateId = %d)",
        static_cast<int>(gateId));
    return -1;
  }
  GateDef def;
  ValueFault found;
  PutResult result = PutGateValue(instance, gateId, value, &def, &found);
  if (result == kPutNoDefinition) {
    LogNoDefinition(instance->name.c_str(), gateId);
  } else if (result == kPutNoFit) {
    if (fault) {
      *fault = found;  // the caller names the gate in its own line
    } else {
      LogNotFitting(instance->name.c_str(), gateId, def, found);
    }
  }
  return result == kPutDone ? 0 : -1;
}

void FirstValueExpect(uint32_t gateId) {
  // A gate that starts listening starts afresh: its first failing update is news again.
  ForgetFailing(gateId);
  std::lock_guard<std::mutex> held(firstValueLock);
  firstValueGate = gateId;
  firstValueOvertaken = false;
  firstValuePending.store(true);
}

void FirstValuePut(uint32_t gateId, VARIANT* value) {
  // The put stays under the lock: an update delivered meanwhile is noted after it and puts its
  // newer value after it.
  std::lock_guard<std::mutex> held(firstValueLock);
  bool overtaken = firstValuePending.load() && firstValueGate == gateId && firstValueOvertaken;
  firstValuePending.store(false);
  if (value && !overtaken) KestGatePutValueFromVariant(gateId, value);
}

char* FormatServicePinText(char* buffer, const char* neuronId, const std::tm& when) {
  // Every date and time field is taken modulo 100, so the text always fits the buffer.
  auto two = [](int field) { return static_cast<unsigned>(field) % 100u; };
  std::snprintf(buffer, kServicePinTextSize,
                "NeuronId %.*s ServicePin press, at %02u/%02u/%02u %02u:%02u:%02u",
                static_cast<int>(kServicePinNeuronIdMax), neuronId ? neuronId : "",
                two(when.tm_mon + 1), two(when.tm_mday), two(when.tm_year), two(when.tm_hour),
                two(when.tm_min), two(when.tm_sec));
  return buffer;
}

void SetServicePinTimeSource(LocalTimeSource source) {
  servicePinTimeSource.store(source);
}

void DriverListener::OnNetworkVariableUpdate(uint32_t gateId, VARIANT* value,
                                             int32_t /*fieldIndex*/) {
  uint8_t clientId;
  DriverInstance* instance =
      ListenerInstance("telMAR: OnNetworkVariableUpdate, no GlobalInst or bad hook.", &clientId);
  if (!instance) return;
  NoteDelivered(gateId);
  GateDef def;
  ValueFault found;
  PutResult result = PutGateValue(instance, gateId, value, &def, &found);
  if (result != kPutDone) {
    ReportUpdateNotPut(instance, gateId, value, def, result, found);
  } else if (ForgetFailing(gateId)) {
    err(kLogTrace, "%s: OnNetworkVariableUpdate, gate %u takes listened values again",
        instance->name.c_str(), static_cast<unsigned>(gateId));
  }
}

void DriverListener::OnSystemServicePin(int32_t, int32_t, int32_t, const char* neuronId,
                                        const char*, const char*, int32_t, int32_t, int32_t) {
  uint8_t clientId;
  DriverInstance* instance =
      ListenerInstance("telMAR: OnSystemServicePin, no GlobalInst or bad hook", &clientId);
  if (!instance) return;

  uint32_t gateId = 0;
  if (KestGetGateIdByAddressStr(clientId, instance->instanceNumber, kServicePinAddress, &gateId) !=
      0) {
    err(kLogTrace, "%s: OnSystemServicePin fail on KestGetGateIdByAddressStr",
        instance->name.c_str());
    return;
  }
  LocalTimeSource source = servicePinTimeSource.load();
  std::tm now = source ? source() : LocalTimeNow();
  char text[kServicePinTextSize];
  FormatServicePinText(text, neuronId, now);
  KestPutGateStr(clientId, gateId, 2, text, 0, 0);
}

void DriverListener::OnAttachmentLca(int32_t, int32_t, int32_t, int32_t isAttached, const char*,
                                     int32_t hObject) {
  uint8_t clientId;
  DriverInstance* instance =
      ListenerInstance("telMAR: OnAttachmentLca, no GlobalInst or bad hook", &clientId);
  if (!instance) return;

  int attachedByte = isAttached & 0xFF;
  bool attached = attachedByte != 0;
  err(kLogError, "%s: OnAttachmentLca, hObject %d IsAttached %d", instance->name.c_str(), hObject,
      attachedByte);
  KestSetPlcCommStatus(clientId, instance->instanceNumber, hObject, 1, attached ? 0 : 1);

  uint32_t gateId;
  {
    std::lock_guard<std::mutex> lock(instance->nodeMapLock);
    uint32_t* found = instance->nodeMap.Find(static_cast<uint32_t>(hObject) + 32000u);
    if (!found) return;
    gateId = *found;
  }
  err(kLogTrace, "%s: OnAttachmentLca, GateID = %d. hObject %d IsAttached %d",
      instance->name.c_str(), static_cast<int>(gateId), hObject, attachedByte);
  uint32_t raw = (attached ? 1u << 16 : 0u) | (static_cast<uint32_t>(isAttached) & 0xFFFFu);
  KestPutGateRawValue(clientId, gateId, raw, 0, 2, 0, 0);
}
