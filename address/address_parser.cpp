#include "address/address_parser.h"

#include <string>

#include "address/address_options.h"
#include "address/node_binding.h"
#include "address/nv_binding.h"
#include "config/macros.h"
#include "config/share_data.h"
#include "core/driver_instance.h"
#include "core/host_api.h"
#include "lon/lns.h"

const SpecialGate specialGates[] = {
    {"", 0},
    {"!ServicePin", 7},
    {"!Browse", 1},
    {nullptr, 0},
};

namespace {

bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char ca = static_cast<unsigned char>(*a);
    unsigned char cb = static_cast<unsigned char>(*b);
    if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca - 'A' + 'a');
    if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb - 'A' + 'a');
    if (ca != cb) return false;
    if (ca == 0) return true;
  }
}

}  // namespace

int FindSpecialGate(const char* address) {
  if (!address) return 0;
  for (int row = 1; specialGates[row].name; ++row) {
    if (EqualsIgnoringAsciiCase(address, specialGates[row].name)) return row;
  }
  return 0;
}

int ParseSpecialGate(VpiRequest* request, int row) {
  DriverInstance* instance = request->instance;
  auto* params = static_cast<GateAddressParams*>(request->params);
  uint32_t required = specialGates[row].requiredType;
  if (required != 0 && required != params->gateType) {
    err(kLogError, "%s: SingleAddressParser fail, wrong type (addr = '%s')", instance->name.c_str(),
        params->address);
    return 1;
  }
  params->bindingWord = kBindSpecial | (static_cast<uint32_t>(row & 0xFF) << 8);
  err(kLogTrace, "%s: SingleAddressParser special gate '%s'", instance->name.c_str(),
      params->address);
  return 0;
}

uint32_t SingleAddressParser(VpiRequest* request) {
  DriverInstance* instance = request->instance;
  auto* params = static_cast<GateAddressParams*>(request->params);
  if (!params) {
    err(kLogError, "%s: SingleAddressParser fail, no parameter record", instance->name.c_str());
    return 1;
  }
  params->nodeValue = 0;
  params->bindingWord = 0;
  params->nvItem = nullptr;
  params->resultMinus1 = -1;
  params->result32 = 32;
  if (!params->address) {
    err(kLogError, "%s: SingleAddressParser fail, no address text (gate %u)",
        instance->name.c_str(), params->gateId);
    return 1;
  }
  err(kLogTrace, "%s: SingleAddressParser enter, (addr = '%s')", instance->name.c_str(),
      params->address);
  // After a failed ColdStart the network may be half open: every name would look missing.
  if (instance->startFailed) {
    err(kLogError,
        "%s: SingleAddressParser fail, the driver is not started (its ColdStart failed) (addr = "
        "'%s')",
        instance->name.c_str(), params->address);
    return 1;
  }

  if (int row = FindSpecialGate(params->address)) return ParseSpecialGate(request, row);

  std::string lonPart = params->address;
  TakePendingMacro(instance);  // a macro a browse command left in the shared block

  int monitorMode = kMonitorNone;
  int boundOpt = 0;
  VARTYPE formatType = VT_EMPTY;
  std::string optionsPart;
  if (SplitOptions(request, lonPart, optionsPart) &&
      GetOptions(optionsPart, monitorMode, boundOpt, formatType) != 0) {
    err(kLogError, "%s: SingleAddressParser fail on GetOptions() '%s'", instance->name.c_str(),
        lonPart.c_str());
    return 1;
  }
  if (!optionsPart.empty()) {
    std::string ignored = IgnoredOptions(optionsPart);
    if (!ignored.empty()) {
      err(kLogError,
          "%s: SingleAddressParser ignores %s in the options '%s' (addr = '%s'); the options "
          "are /M: with p, b, c, i, e or a and /F: with i, r, d, w or b",
          instance->name.c_str(), ignored.c_str(), optionsPart.c_str(), params->address);
    }
  }

  if (!lonPart.empty() && lonPart[0] == '#') {
    std::string macroName;
    std::string macroValue;
    if (ParseMacro(request, lonPart, macroName, macroValue) != 0) {
      err(kLogError, "%s: SingleAddressParser fail on ParseMacro() '%s'", instance->name.c_str(),
          lonPart.c_str());
      return 1;
    }
  }

  // Started without the network: nothing to look the address up in.
  if (!instance->lns) {
    err(kLogError, "%s: SingleAddressParser fail, no network connection for '%s'",
        instance->name.c_str(), params->address);
    return 1;
  }

  int kind = 0;
  if (instance->lns->IsFound(lonPart.c_str(), &kind) == 0) {
    err(kLogError, "%s: SingleAddressParser fail, '%s' not found in Lon tree",
        instance->name.c_str(), lonPart.c_str());
    return 1;
  }
  switch (kind) {
    case kLnsKindAppDevice:
      return static_cast<uint32_t>(ParseNode(request, lonPart, formatType));
    case kLnsKindNV:
      return static_cast<uint32_t>(ParseNV(request, lonPart, formatType, monitorMode, boundOpt));
    case kLnsKindNVField:
      return static_cast<uint32_t>(ParseNVF(request, lonPart, formatType, monitorMode, boundOpt));
    default:
      err(kLogError, "%s: SingleAddressParser fail, '%s' not NV, NVF or appDevice",
          instance->name.c_str(), lonPart.c_str());
      return 1;
  }
}

uint32_t BlockAddressParser(VpiRequest* request) {
  err(kLogError, "%s: BlockParse() no blocks supported", request->instance->name.c_str());
  return 1;
}
