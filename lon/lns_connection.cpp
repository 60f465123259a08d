#include "lon/lns_connection.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

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

uint32_t RawValue(const uint8_t cell[4]) {
  return static_cast<uint32_t>(cell[0]) | (static_cast<uint32_t>(cell[1]) << 8) |
         (static_cast<uint32_t>(cell[2]) << 16) | (static_cast<uint32_t>(cell[3]) << 24);
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
  uint8_t clientId = instance->clientId.load();
  const char* name = instance->name.c_str();

  GateDef def;
  std::memset(&def, 0, sizeof(def));
  if (KestGetGateDef(clientId, gateId, &def) != 0) {
    err(kLogError, "%s: KestGatePutValueFromVariant fail on KestGetGateDef (gateId = %d)", name,
        static_cast<int>(gateId));
    return -1;
  }

  uint8_t cell[4] = {0, 0, 0, 0};
  char text[kGateTextMax + 1] = "";
  ValueFault found;
  if (!VariantToKestValue(value, def.gateType, cell, text, &found)) {
    if (fault) {
      *fault = found;  // the caller names the gate in its own line
      return -1;
    }
    // The host's address field need not be terminated within its 32 bytes.
    int addressLength = static_cast<int>(strnlen(def.address, sizeof(def.address)));
    if (found.kind == kValueFaultRange || found.kind == kValueFaultNaN) {
      char reason[kValueFaultTextSize];
      err(kLogError, "%s: KestGatePutValueFromVariant fail, %s (gate %u, addr = '%.*s')", name,
          FormatValueFault(found, reason, sizeof reason), gateId, addressLength, def.address);
    } else {
      err(kLogError, "%s: KestGatePutValueFromVariant fail on VariantToKestValue 'addr = '%.*s'",
          name, addressLength, def.address);
    }
    return -1;
  }

  if (def.gateType == kGateText) {
    KestPutGateStr(clientId, gateId, 2, text, 0, 0);
  } else {
    KestPutGateRawValue(clientId, gateId, RawValue(cell), 0, 2, 0, 0);
  }
  return 0;
}

void FirstValueExpect(uint32_t gateId) {
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
  if (!ListenerInstance("telMAR: OnNetworkVariableUpdate, no GlobalInst or bad hook.", &clientId)) {
    return;
  }
  NoteDelivered(gateId);
  KestGatePutValueFromVariant(gateId, value);
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
