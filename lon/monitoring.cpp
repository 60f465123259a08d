// PLACEHOLDER
#include "lon/monitoring.h"
int ProcessKestMsg(const HostMessage*) { return 0; }
int ProcessThreadMsg(const ThreadMessage*) { return 0; }
GateBinding* FindBinding(uint32_t) { return nullptr; }
int StartListening(GateBinding*, uint32_t) { return -1; }
void StopListening(GateBinding*, uint32_t) {}
void SetPollingRate(GateBinding*, int) {}
void MonitorAll(int) {}
