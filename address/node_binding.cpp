#include "address/node_binding.h"

#include <mutex>

#include "core/driver_instance.h"
#include "core/host_api.h"
#include "core/worker.h"
#include "lon/lns.h"
#include "lon/value_conversion.h"

int ParseNode(VpiRequest* request, const std::string& lonPart, VARTYPE& /*formatType*/) {
  DriverInstance* instance = request->instance;
  auto* params = static_cast<GateAddressParams*>(request->params);
  const char* name = instance->name.c_str();

  // A node gate holds 1 while the node answers: only integer gates can.
  if (params->gateType != kGateInt16 && params->gateType != kGateInt16b) {
    err(kLogError, "%s: ParseNode '%s' fail, invalid gateType (not integer %d)", name,
        lonPart.c_str(), static_cast<int>(params->gateType));
    return 1;
  }
  params->bindingWord = kBindNode;

  int32_t handle = instance->lns->GetAppDeviceHandle(lonPart.c_str());
  if (handle >= kNodeValueOffset) {
    err(kLogError, "%s: ParseNode '%s' fail, invalid hNode = '%x'", name, lonPart.c_str(),
        static_cast<unsigned>(handle));
    return 1;
  }
  params->nodeValue = handle + kNodeValueOffset;
  const uint32_t nodeKey = static_cast<uint32_t>(params->nodeValue);

  // The first gate of a node is the one that attachment events update.
  bool added = false;
  bool stored = true;
  {
    std::lock_guard<std::mutex> lock(instance->nodeMapLock);
    if (!instance->nodeMap.Contains(nodeKey)) {
      stored = instance->nodeMap.InsertNew(nodeKey, params->gateId);
      added = stored;
    }
  }
  if (!stored) {
    err(kLogError, "%s: ParseNode '%s' fail, no memory to map hNode = %d", name, lonPart.c_str(),
        handle);
    return 1;
  }
  if (added) {
    err(kLogTrace, "%s: ParseNode AddNodeToMap Node = '%s' hNode = %d", name, lonPart.c_str(),
        handle);
  }
  // The gate's first value is the node's state now: a device detached at parse time must not
  // show as answering until an attachment event or a read says otherwise.
  int answers = instance->lns->TestNodeByHandle(handle, kIOOptMonitored) == 0 ? 1 : 0;
  PostWorkerMessage(kMsgPutNodeValue, answers, static_cast<intptr_t>(params->gateId));
  return 0;
}
