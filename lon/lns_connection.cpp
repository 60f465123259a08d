// PLACEHOLDER
#include "lon/lns_connection.h"
void DriverListener::OnNetworkVariableUpdate(uint32_t, VARIANT*, int32_t) {}
void DriverListener::OnSystemServicePin(int32_t, int32_t, int32_t, const char*, const char*, const char*, int32_t, int32_t, int32_t) {}
void DriverListener::OnAttachmentLca(int32_t, int32_t, int32_t, int32_t, const char*, int32_t) {}
int InitLns(VpiRequest*) { return 2; }
int KestGatePutValueFromVariant(uint32_t, VARIANT*) { return -1; }
