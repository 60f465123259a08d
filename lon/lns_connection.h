// The driver's connection to the network and the listener that turns network events into
// host gate updates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "lon/lns.h"
#include "lon/value_conversion.h"

struct VpiRequest;

// Finds the instance through GlobalInst; holds no data of its own.
class DriverListener final : public ILnsListener {
 public:
  void OnNetworkVariableUpdate(uint32_t gateId, VARIANT* value, int32_t fieldIndex) override;
  void OnSystemServicePin(int32_t hNetwork, int32_t hSubsystem, int32_t hDevice,
                          const char* neuronId, const char* programId, const char* deviceName,
                          int32_t subnet, int32_t node, int32_t channel) override;
  void OnAttachmentLca(int32_t hNetwork, int32_t hSubsystem, int32_t objectKind, int32_t isAttached,
                       const char* objectName, int32_t hObject) override;
};

int InitLns(VpiRequest* request);  // 0 or 2
// Writes value into the host gate gateId. 0, or -1 on failure. A value that the gate cannot
// take is logged at level 32 with the gate's id and address; with `fault` given, a conversion
// failure is not logged here but reported in *fault (written only on failure), so that a caller
// can log it in its own way (once per gate, say) without any text formed on success.
int KestGatePutValueFromVariant(uint32_t gateId, VARIANT* value, ValueFault* fault = nullptr);
// A gate that starts listening gets the value read right after its registration; the library
// may deliver a newer update of it between the registration and that put. FirstValueExpect
// (before the registration) and FirstValuePut (with the value read, or null) put the read value
// only when no update of the gate was delivered in between, so the gate ends on the newest
// value. Worker only, one gate at a time.
void FirstValueExpect(uint32_t gateId);
void FirstValuePut(uint32_t gateId, VARIANT* value);

// The "Browse" flags for the instance's three browse options.
int LnsBrowseFlags(int32_t browseFromLns, int32_t browseSubsysAll, int32_t browseSubsysDiscovered);

// The service-pin line, formed in a buffer of kServicePinTextSize bytes; a Neuron ID longer than
// kServicePinNeuronIdMax characters is cut to fit. Returns buffer.
constexpr size_t kServicePinTextSize = 84;
constexpr size_t kServicePinNeuronIdMax = 35;
char* FormatServicePinText(char* buffer, const char* neuronId, const std::tm& when);
// Where the service-pin line takes its local time from; null restores LocalTimeNow. For tests.
using LocalTimeSource = std::tm (*)();
void SetServicePinTimeSource(LocalTimeSource source);
