#include "address/nv_binding.h"

#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "address/address_options.h"
#include "core/driver_instance.h"
#include "core/host_api.h"
#include "core/worker.h"
#include "lon/lns.h"
#include "lon/value_conversion.h"

namespace {

// The NVF polling rate until the worker has read the gate's definition; an NV polls at 0.
constexpr int kFieldPollingRateUnknown = 3000;

// The generation of the next binding record.
std::atomic<uint32_t> nextGeneration{1};

uint32_t NewGeneration() {
  uint32_t generation = nextGeneration.fetch_add(1);
  return generation != 0 ? generation : nextGeneration.fetch_add(1);  // 0 after a wrap: skip it
}

// The gate's definition, when the host can give it (a gate may not be defined yet).
struct DefRead {
  bool read = false;
  GateDef def{};
};

DefRead ReadGateDef(DriverInstance* instance, GateAddressParams* params, const char* binder,
                    const std::string& lonPart) {
  DefRead result;
  uint16_t rc = KestGetGateDef(instance->clientId.load(), params->gateId, &result.def);
  if (rc != 0) {
    err(kLogTrace, "%s: %s fail on Kest5GetGateDef (NV = '%s'), rc = %d", instance->name.c_str(),
        binder, lonPart.c_str(), rc);
  } else {
    result.read = true;
  }
  return result;
}

CNVItem* AddKnownNV(DriverInstance* instance, const std::string& nvName) {
  int unused = 0;
  CNVItem* item = instance->lns->AddNV(nvName.c_str(), &unused);
  if (item) instance->knownItems.try_emplace(item);
  return item;
}

// "/M:p" at the gate's polling rate 0: the library never polls, the gate keeps its first value.
void WarnNeverPolled(DriverInstance* instance, const GateAddressParams* params, const char* binder,
                     const std::string& lonPart, const DefRead& def) {
  if (!def.read || def.def.pollingRate != 0) return;
  err(kLogError,
      "%s: %s '%s' polled by the library (/M:p) at polling rate 0 (gate %u): it is never polled "
      "and keeps its first value",
      instance->name.c_str(), binder, lonPart.c_str(), params->gateId);
}

// A format as the address options write it.
const char* FormatName(VARTYPE formatType) {
  switch (formatType) {
    case VT_I2:
      return "16-bit integer (no /F:)";
    case VT_I4:
      return "/F:i integer";
    case VT_R4:
      return "/F:r real";
    case VT_BOOL:
      return "/F:d discrete";
    case VT_BSTR:
      return "/F:w text";
    case VT_ARRAY_UI1:
      return "/F:b binary";
    default:
      return "no format";
  }
}

// What a gate that read its values in format `from` suffers when they come in format `to`;
// empty when nothing is lost.
const char* FormatLoss(VARTYPE from, VARTYPE to) {
  if (to == VT_ARRAY_UI1) return "fails to read unless it is a text gate (bytes as hex digits)";
  if (from == VT_ARRAY_UI1) return "loses the raw bytes";
  if (to == VT_BOOL && from != VT_BOOL) return "reads every value but 0 as 1";
  if (from == VT_R4 && (to == VT_I2 || to == VT_I4)) return "loses the decimals";
  if (from == VT_I4 && to == VT_I2) return "fails to read values beyond -32768 to 32767";
  if (from == VT_I4 && to == VT_R4) return "loses digits of integers beyond 16777216";
  if (from == VT_BSTR) return "loses the text form (enumeration names, structured values)";
  if (to == VT_BSTR) return "fails to read values that are not one number, unless a text gate";
  return "";
}

// Remembers that the gate's parse gave the item (field -1: the NV itself) this format, and says
// so when that changed the format under another bound gate on the same item.
void NoteFormat(DriverInstance* instance, const GateAddressParams* params, const char* binder,
                const std::string& lonPart, CNVItem* item, int field, VARTYPE formatType) {
  // A byte array becomes hex digits in a text gate; no other gate type can take it.
  if (formatType == VT_ARRAY_UI1 && params->gateType != kGateText) {
    err(kLogError,
        "%s: %s '%s' has the byte-array format (/F:b), which only a text gate (type 7) can "
        "read, as hex digits: reads of gate %u (type %u) will fail",
        instance->name.c_str(), binder, lonPart.c_str(), params->gateId, params->gateType);
  }
  DriverInstance::ItemFormat& entry =
      field < 0 ? instance->knownItems[item] : instance->itemFormats[{item, field}];
  if (entry.gateId != 0 && entry.gateId != params->gateId && entry.formatType != formatType) {
    GateBinding** other = instance->bindingMap.Find(entry.gateId);
    uint8_t kind = field < 0 ? kBindNV : kBindNVF;
    if (other && *other && (*other)->nvItem == item && (*other)->kind == kind &&
        (field < 0 || (*other)->fieldIndex == static_cast<uint8_t>(field))) {
      VARTYPE from = entry.formatType;
      const char* loss = FormatLoss(from, formatType);
      err(kLogError,
          "%s: %s format of '%s' changed from %s (gate %u) to %s (gate %u): both gates share "
          "it, so gate %u now gets %s too%s%s",
          instance->name.c_str(), binder, lonPart.c_str(), FormatName(from), entry.gateId,
          FormatName(formatType), params->gateId, entry.gateId, FormatName(formatType),
          *loss ? " and " : "", loss);
    }
  }
  entry.gateId = params->gateId;
  entry.formatType = formatType;
}

// A boolean gate shows one bit: on a field of several bits every value but 0 reads as 1.
void WarnWideBooleanField(DriverInstance* instance, const GateAddressParams* params,
                          const std::string& lonPart, CNVItem* item, int index) {
  if (params->gateType != kGateBool) return;
  NVFieldStat stat{};
  if (instance->lns->GetNVFStat(item, index, &stat) != 0 || stat.bits <= 1) return;
  err(kLogError,
      "%s: ParseNVF '%s' is a field of %d bits on a boolean gate (gate %u): every value but 0 "
      "reads as 1 (true); an integer gate shows its values",
      instance->name.c_str(), lonPart.c_str(), static_cast<int>(stat.bits), params->gateId);
}

// Results, node handle, binding record and the worker's follow-up, once the poll or bind step
// has succeeded. 0, or 1 when no memory could be had for the binding record.
int FinishBinding(DriverInstance* instance, GateAddressParams* params, const char* binder,
                  const std::string& lonPart, CNVItem* item, uint8_t kind, uint8_t fieldIndex,
                  int monitorMode, const DefRead& def) {
  params->bindingWord = kind | (static_cast<uint32_t>(fieldIndex) << 8);
  params->nvItem = item;
  NVStructStat stat{};
  instance->lns->GetNVStat(item, &stat);
  params->nodeValue = stat.hNode;
  err(kLogTrace, "%s: %s NV = '%s' hNode = %d", instance->name.c_str(), binder, lonPart.c_str(),
      stat.hNode);

  // A gate parsed again keeps its record and generation, so a message already queued for it
  // still acts.
  GateBinding* binding = nullptr;
  if (GateBinding** found = instance->bindingMap.Find(params->gateId)) {
    binding = *found;
  } else {
    binding = new (std::nothrow) GateBinding{};
    if (binding) binding->generation = NewGeneration();
    if (!binding || !instance->bindingMap.InsertNew(params->gateId, binding)) {
      delete binding;
      err(kLogError, "%s: %s fail, no memory to bind '%s'", instance->name.c_str(), binder,
          lonPart.c_str());
      params->bindingWord = 0;
      params->nvItem = nullptr;
      params->nodeValue = 0;
      return 1;
    }
  }
  binding->nvItem = item;
  binding->kind = kind;
  binding->fieldIndex = fieldIndex;
  binding->reserved[0] = 0;
  binding->reserved[1] = 0;

  auto lParam = static_cast<intptr_t>(binding->generation);
  if (def.read && def.def.updateMode == 2) {
    PostWorkerMessage(kMsgStartListening, params->gateId, lParam);
  } else if (!def.read && monitorMode == kMonitorPolling) {
    PostWorkerMessage(kMsgSetPollingRate, params->gateId, lParam);
  }
  return 0;
}

}  // namespace

int ParseNV(VpiRequest* request, const std::string& lonPart, VARTYPE& formatType, int monitorMode,
            int boundOpt) {
  DriverInstance* instance = request->instance;
  auto* params = static_cast<GateAddressParams*>(request->params);
  const char* name = instance->name.c_str();
  CLns* lns = instance->lns;

  DefRead def = ReadGateDef(instance, params, "ParseNV", lonPart);

  CNVItem* item = AddKnownNV(instance, lonPart);
  if (!item) {
    err(kLogError, "%s: ParseNV fail on AddNV '%s'", name, lonPart.c_str());
    return 1;
  }
  if (formatType == VT_EMPTY) formatType = GateTypeToVariantType(params->gateType);
  if (lns->SetNVFormatType(item, formatType) != 0) {
    err(kLogError, "%s: ParseNV fail on SetNVFormatType '%s' (vt = %d)", name, lonPart.c_str(),
        formatType);
    return 1;
  }
  NoteFormat(instance, params, "ParseNV", lonPart, item, -1, formatType);
  if (monitorMode == kMonitorPolling) {
    int rate = def.read ? def.def.pollingRate : 0;
    if (lns->PollNV(item, rate, 1) != 0) {
      err(kLogError, "%s: ParseNV fail on PollNV '%s'", name, lonPart.c_str());
      return 1;
    }
    WarnNeverPolled(instance, params, "ParseNV", lonPart, def);
  } else if (monitorMode == kMonitorBinding) {
    if (lns->BindNV(item, boundOpt, 0) != 0) {
      err(kLogError, "%s: ParseNV fail on BindNV '%s'", name, lonPart.c_str());
      return 1;
    }
  }
  if (FinishBinding(instance, params, "ParseNV", lonPart, item, kBindNV, 0, monitorMode, def)) {
    return 1;
  }
  err(kLogTrace, "%s: ParseNV '%s' pass", name, lonPart.c_str());
  return 0;
}

int ParseNVF(VpiRequest* request, const std::string& lonPart, VARTYPE& formatType, int monitorMode,
             int boundOpt) {
  DriverInstance* instance = request->instance;
  auto* params = static_cast<GateAddressParams*>(request->params);
  const char* name = instance->name.c_str();
  CLns* lns = instance->lns;

  DefRead def = ReadGateDef(instance, params, "ParseNVF", lonPart);

  // Each part is shorter than the whole address.
  std::vector<char> nvBuffer(lonPart.size() + 1);
  std::vector<char> fieldBuffer(lonPart.size() + 1);
  if (lns->SplitNVFName(lonPart.c_str(), nvBuffer.data(), nvBuffer.size(), fieldBuffer.data(),
                        fieldBuffer.size()) != 0) {
    err(kLogError, "%s: ParseNVF fail on SplitNVFName '%s'", name, lonPart.c_str());
    return 1;
  }
  const std::string nvName = nvBuffer.data();
  const std::string fieldName = fieldBuffer.data();
  CNVItem* item = AddKnownNV(instance, nvName);
  if (!item) {
    err(kLogError, "%s: ParseNVF fail on AddNV '%s'", name, nvName.c_str());
    return 1;
  }
  int index = lns->NVFNameToIndex(item, fieldName.c_str());
  if (index < 0) {
    err(kLogError, "%s: ParseNVF fail on NVFNameToIndex '%s', '%s'", name, lonPart.c_str(),
        fieldName.c_str());
    return 1;
  }
  // The host and the binding record keep the field index in one byte; a larger index would
  // make every later read, write and update of the gate address another field.
  if (index > 255) {
    err(kLogError, "%s: ParseNVF fail, field index %d of '%s' does not fit in one byte", name,
        index, lonPart.c_str());
    return 1;
  }
  if (lns->AddNVF(item, fieldName.c_str(), index) != 0) {
    err(kLogError, "%s: ParseNVF fail on AddNVF '%s'", name, lonPart.c_str());
    return 1;
  }
  if (formatType == VT_EMPTY) formatType = GateTypeToVariantType(params->gateType);
  if (lns->SetNVFFormatType(item, index, formatType) != 0) {
    err(kLogError, "%s: ParseNVF fail on SetNVFFormatType '%s' (vt = %d)", name, lonPart.c_str(),
        formatType);
    return 1;
  }
  NoteFormat(instance, params, "ParseNVF", lonPart, item, index, formatType);
  WarnWideBooleanField(instance, params, lonPart, item, index);
  if (monitorMode == kMonitorPolling) {
    int rate = def.read ? def.def.pollingRate : kFieldPollingRateUnknown;
    if (lns->PollNVF(item, index, rate, 1) != 0) {
      err(kLogError, "%s: ParseNVF fail on PollNVF '%s'", name, lonPart.c_str());
      return 1;
    }
    WarnNeverPolled(instance, params, "ParseNVF", lonPart, def);
  } else if (monitorMode == kMonitorBinding) {
    if (lns->BindNVF(item, index, boundOpt, 0) != 0) {
      err(kLogError, "%s: ParseNVF fail on BindNVF '%s'", name, lonPart.c_str());
      return 1;
    }
  }
  if (FinishBinding(instance, params, "ParseNVF", lonPart, item, kBindNVF,
                    static_cast<uint8_t>(index), monitorMode, def)) {
    return 1;
  }
  err(kLogTrace, "%s: ParseNVF '%s' pass", name, lonPart.c_str());
  return 0;
}
