// The host's driver API. The driver imports these functions and never defines them: the
// process that loads libtelmar.so supplies them (host/ holds our stand-in). Every call but
// KestMkClient and err takes the host client id first; 16-bit results are 0 on success.
#pragma once

#include <cstdint>

#include "core/host_records.h"
#include "platform/attributes.h"

extern "C" {
uint16_t KestMkClient(const char* clientName, uint32_t mode, uint32_t flags, uint8_t* clientId);
uint16_t KestRqGateMsg(uint8_t clientId, uint32_t a, uint32_t b, uint32_t mask);
uint16_t KestRqNetMsg(uint8_t clientId, uint32_t request);  // 1 after registering, 2 before leaving
uint16_t KestRmClient(uint8_t clientId);
// 0x8000: a message is in msg; 0: the host is shutting down; other: nothing pending (at once).
uint16_t KestWaitMsg(uint8_t clientId, HostMessage* msg, uint32_t timeout);
uint16_t KestGetGateDef(uint8_t clientId, uint32_t gateId, GateDef* def);
uint16_t KestGetGateIdByAddressStr(uint8_t clientId, uint8_t instanceNumber, const char* address,
                                   uint32_t* gateId);
uint16_t KestPutGateVal(uint8_t clientId, uint32_t gateId, uint32_t count, double value, uint32_t a,
                        uint32_t b);
uint16_t KestPutGateRawValue(uint8_t clientId, uint32_t gateId, uint32_t rawValue, uint32_t a,
                             uint32_t mode, uint32_t b, uint32_t c);
uint16_t KestPutGateStr(uint8_t clientId, uint32_t gateId, uint32_t mode, const char* text,
                        uint32_t a, uint32_t b);
uint16_t KestSetPlcCommStatus(uint8_t clientId, uint8_t instanceNumber, int32_t node, uint32_t a,
                              uint32_t detached);
uint16_t KestGetSingleVpiSampler(uint8_t clientId, uint8_t instanceNumber, int32_t* active);

// The host log. level 32: errors, start and stop, option listing; level 8: traces.
void err(int level, const char* format, ...) PLATFORM_PRINTF(2, 3);
}

constexpr int kLogError = 32;
constexpr int kLogTrace = 8;
