// Host messages and the parsers' thread messages: which gates listen to the network.
#pragma once

#include <cstdint>

#include "core/host_records.h"
#include "platform/thread_queue.h"

struct GateBinding;

int ProcessKestMsg(const HostMessage* message);      // 0
int ProcessThreadMsg(const ThreadMessage* message);  // 0
GateBinding* FindBinding(uint32_t gateId);
int StartListening(GateBinding* binding, uint32_t gateId);
void StopListening(GateBinding* binding, uint32_t gateId);
void SetPollingRate(GateBinding* binding, int rate);
void MonitorAll(int on);
