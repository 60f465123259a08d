#include "lon/monitoring.h"

#include "address/nv_binding.h"
#include "core/driver_instance.h"
#include "core/host_api.h"
#include "core/test_point.h"
#include "core/worker.h"
#include "lon/lns.h"
#include "lon/lns_connection.h"
#include "platform/process_shared.h"
#include "platform/variant.h"

namespace {

// The instance whose maps and connection the worker serves; null before the first ColdStart.
DriverInstance* CurrentInstance() {
  return GlobalInst.load();
}

// Kind 1 selects the NV form of a library call, any other kind the field form.
bool IsNVForm(const GateBinding* binding) {
  return binding->kind == kBindNV;
}

bool ReadGateDef(DriverInstance* inst, uint32_t gateId, GateDef* def) {
  return KestGetGateDef(inst->clientId.load(), gateId, def) == 0;
}

void HandleGateActivity(DriverInstance* inst, const HostMessage* message) {
  GateBinding* binding = FindBinding(message->gateId);
  if (!binding) return;
  GateDef def{};
  if (!ReadGateDef(inst, message->gateId, &def)) return;
  if (def.updateMode != 1) return;  // only on-demand gates follow the host's activity
  if (message->subCode == 1) {
    StartListening(binding, message->gateId);
  } else if (message->subCode == 0) {
    StopListening(binding, message->gateId);
  }
}

void HandleDefinitionChange(DriverInstance* inst, const HostMessage* message) {
  uint32_t gateId = message->gateId;
  GateBinding* binding = FindBinding(gateId);
  if (!binding) return;
  switch (message->subCode) {
    case 1:
    case 2: {
      GateDef def{};
      if (!ReadGateDef(inst, gateId, &def)) return;
      if (def.updateMode == 2) {
        StartListening(binding, gateId);
      } else if (def.updateMode == 0) {
        StopListening(binding, gateId);
      } else if (def.updateMode == 1 && inst->lns) {
        // An on-demand gate stops now and starts again on its next activity message. Ask in
        // the binding's own form: a field gate is never registered as an NV listener.
        int rc = IsNVForm(binding)
                     ? inst->lns->IsListener(binding->nvItem, gateId)
                     : inst->lns->IsListener(binding->nvItem, binding->fieldIndex, gateId);
        if (rc == 0) StopListening(binding, gateId);
      }
      return;
    }
    case 3:
      StopListening(binding, gateId);
      inst->bindingMap.Remove(gateId);
      delete binding;
      return;
    default:
      return;
  }
}

// Messages 2024 and 2026 carry the generation of the binding record that the parse made. The host
// may have removed the gate (and its record) since, and parsed it again into a new record that
// can sit at the old one's address; act only while the map still holds that very record.
GateBinding* LiveBinding(uintptr_t gateIdParam, intptr_t generationParam) {
  auto gateId = static_cast<uint32_t>(gateIdParam);
  GateBinding* current = FindBinding(gateId);
  return current && current->generation == static_cast<uint32_t>(generationParam) ? current
                                                                                  : nullptr;
}

}  // namespace

GateBinding* FindBinding(uint32_t gateId) {
  DriverInstance* inst = CurrentInstance();
  if (!inst) return nullptr;
  GateBinding** slot = inst->bindingMap.Find(gateId);
  return slot ? *slot : nullptr;
}

int ProcessKestMsg(const HostMessage* message) {
  DriverInstance* inst = CurrentInstance();
  if (!inst || !message) return 0;
  switch (message->msgCode) {
    case kMsgGateActivity:
      HandleGateActivity(inst, message);
      break;
    case kMsgGateDefChange:
      HandleDefinitionChange(inst, message);
      break;
    case kMsgHbActive:
      err(kLogError, "telMAR> ProcessKestMsg(), KEST_HB_ACTIVE message");
      ProcessSharedData()->stationActive.store(1);
      MonitorAll(1);
      break;
    case kMsgHbPassive:
      err(kLogError, "telMAR> ProcessKestMsg(), KEST_HB_PASSIVE message");
      ProcessSharedData()->stationActive.store(0);
      MonitorAll(0);
      break;
    default:
      break;
  }
  return 0;
}

int ProcessThreadMsg(const ThreadMessage* message) {
  DriverInstance* inst = CurrentInstance();
  if (!inst || !message) return 0;
  switch (message->id) {
    case kMsgStartListening:
      if (GateBinding* binding = LiveBinding(message->wParam, message->lParam)) {
        StartListening(binding, static_cast<uint32_t>(message->wParam));
      }
      break;
    case kMsgPutNodeValue: {
      // A 16-bit gate value travels in the upper half of the raw cell.
      uint32_t raw = static_cast<uint32_t>(static_cast<uint16_t>(message->wParam)) << 16;
      KestPutGateRawValue(inst->clientId.load(), static_cast<uint32_t>(message->lParam), raw, 0, 2,
                          0, 0);
      break;
    }
    case kMsgSetPollingRate:
      if (GateBinding* binding = LiveBinding(message->wParam, message->lParam)) {
        GateDef def{};
        if (ReadGateDef(inst, static_cast<uint32_t>(message->wParam), &def)) {
          SetPollingRate(binding, def.pollingRate);
        }
      }
      break;
    default:
      break;
  }
  return 0;
}

int StartListening(GateBinding* binding, uint32_t gateId) {
  DriverInstance* inst = CurrentInstance();
  if (!inst || !inst->lns || !binding) return -1;
  CLns* lns = inst->lns;
  CNVItem* item = binding->nvItem;
  bool nv = IsNVForm(binding);
  int field = binding->fieldIndex;

  FirstValueExpect(gateId);
  int rc = nv ? lns->AddListener(item, gateId) : lns->AddListener(item, field, gateId);
  if (rc != 0) {
    FirstValuePut(gateId, nullptr);
    return -1;
  }

  VARIANT value;
  VariantInit(&value);
  rc = nv ? lns->ReadNV(item, &value, kIOOptMonitored)
          : lns->ReadNVF(item, field, &value, kIOOptMonitored);
  TestPoint("StartListening:first value read");
  // An update delivered since the registration is newer than what was read: it stays.
  FirstValuePut(gateId, rc == 0 ? &value : nullptr);

  // Monitoring follows the station: an item that was switched off while the station was passive
  // and had no listener left when it turned active is switched on here.
  int on = ProcessSharedData()->stationActive.load() != 0 ? 1 : 0;
  if (nv) {
    lns->MonitorNV(item, on);
  } else {
    lns->MonitorNVF(item, field, on);
  }
  VariantClear(&value);
  return 0;
}

void StopListening(GateBinding* binding, uint32_t gateId) {
  DriverInstance* inst = CurrentInstance();
  if (!inst || !inst->lns || !binding) return;
  if (IsNVForm(binding)) {
    inst->lns->RemoveListener(binding->nvItem, gateId);
  } else {
    inst->lns->RemoveListener(binding->nvItem, binding->fieldIndex, gateId);
  }
}

void SetPollingRate(GateBinding* binding, int rate) {
  DriverInstance* inst = CurrentInstance();
  if (!inst || !inst->lns || !binding) return;
  if (IsNVForm(binding)) {
    inst->lns->SetNVPollingRate(binding->nvItem, rate);
  } else {
    inst->lns->SetNVFPollingRate(binding->nvItem, binding->fieldIndex, rate);
  }
}

void MonitorAll(int on) {
  DriverInstance* inst = CurrentInstance();
  if (!inst || !inst->lns || inst->bindingMap.Empty()) return;
  CLns* lns = inst->lns;
  int flag = on ? 1 : 0;
  inst->bindingMap.ForEach([&](uint32_t, GateBinding*& binding) {
    if (!binding) return;
    if (binding->kind == kBindNV) {
      if (lns->GetListenersCount(binding->nvItem) > 0) lns->MonitorNV(binding->nvItem, flag);
    } else if (binding->kind == kBindNVF) {
      if (lns->GetListenersCount(binding->nvItem, binding->fieldIndex) > 0) {
        lns->MonitorNVF(binding->nvItem, binding->fieldIndex, flag);
      }
    }
  });
}
