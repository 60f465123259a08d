// The driver's connection to the network and the listener that turns network events into
// host gate updates.
#pragma once

#include <cstdint>

#include "lon/lns.h"

struct VpiRequest;

// Finds the instance through GlobalInst; holds no data of its own.
class DriverListener final : public ILnsListener {
 public:
  void OnNetworkVariableUpdate(uint32_t gateId, VARIANT* value, int32_t fieldIndex) override;
  void OnSystemServicePin(int32_t hNetwork, int32_t hSubsystem, int32_t hDevice,
                          const char* neuronId, const char* programId, const char* deviceName,
                          int32_t subnet, int32_t node, int32_t channel) override;
  void OnAttachmentLca(int32_t hNetwork, int32_t hSubsystem, int32_t objectKind,
                       int32_t isAttached, const char* objectName, int32_t hObject) override;
};

int InitLns(VpiRequest* request);  // 0 or 2
// Writes value into the host gate gateId. 0, or -1 on failure.
int KestGatePutValueFromVariant(uint32_t gateId, VARIANT* value);
