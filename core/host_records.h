// Records exchanged with the SCADA host.
//
// The host owns every record here and relies on its layout: field order and widths are fixed,
// a gap the driver never reads is an explicit reserved member of the same width. On a 32-bit
// target the offsets are exactly the host's; on 64-bit the pointers widen and natural alignment
// applies. GateDef and HostMessage hold no pointers and keep their offsets on every target.
#pragma once

#include <cstddef>
#include <cstdint>

struct DriverInstance;
class CNVItem;

// The request that the host passes to VpiMain and that every command handler receives.
struct VpiRequest {
  DriverInstance* instance;  // host-allocated block of GetVpiInfo's size, the same on every call
  uint32_t command;          // command code 1..17
  int32_t instanceNumber;    // driver instance number
  uint32_t reserved;
  void* params;  // the command's parameter record (below)
};

// Command codes of VpiMain.
enum VpiCommand : uint32_t {
  kColdStart = 1,
  kWarmStart = 2,
  kSingleAddressParser = 3,
  kBlockAddressParser = 4,
  kSingleRead = 5,
  kBlockRead = 6,
  kSingleWrite = 7,
  kBlockWrite = 10,
  kEndVpi = 11,
  kCloseCom = 12,
  kReOpenCom = 13,
  kGetVpiInfo = 14,
  kChangeVpiParams = 15,
  kBrowseAddress = 16,
  kLastCommand = 17,
};

// params of ColdStart.
struct ColdStartParams {
  uint32_t reserved[3];
  uint32_t connectNetwork;  // nonzero: open the network connection during ColdStart
};

// params of GetVpiInfo; the driver fills it.
struct VpiInfo {
  uint32_t infoTag;  // 77
  const char* description;
  const char* banner;
  uint32_t instanceSize;  // bytes the host allocates for VpiRequest::instance
  uint32_t infoKind;      // 2
  uint32_t reserved[2];   // left as they are
  uint32_t infoTail;      // 44
};

// The host's definition of a gate (KestGetGateDef fills 328 bytes).
struct GateDef {
  uint8_t reserved0[166];
  uint16_t gateType;  // gate type code, see lon/value_conversion.h
  uint8_t reserved1[4];
  char address[32];     // the gate's address text, NUL-terminated
  int32_t updateMode;   // 0 never listens, 1 listens on demand (message 109), 2 always listens
  int32_t pollingRate;  // polling rate of the gate's NV or NV field
  uint8_t reserved2[116];
};

// A message that KestWaitMsg delivers (24 bytes).
struct HostMessage {
  uint16_t msgCode;  // 109 gate activity, 121 definition change, 123 active, 124 passive
  uint16_t reserved0;
  uint32_t gateId;  // codes 109 and 121
  uint32_t reserved1[2];
  uint16_t subCode;  // 109: 1 start, 0 stop; 121: 1 or 2 changed, 3 removed
  uint16_t reserved2;
  uint32_t reserved3;
};

enum HostMessageCode : uint16_t {
  kMsgGateActivity = 109,
  kMsgGateDefChange = 121,
  kMsgHbActive = 123,   // KEST_HB_ACTIVE
  kMsgHbPassive = 124,  // KEST_HB_PASSIVE
};

// KestWaitMsg results.
constexpr uint16_t kWaitMsgDelivered = 0x8000;
constexpr uint16_t kWaitMsgShutdown = 0;

// Binding kinds, byte 0 of a binding word.
enum BindingKind : uint8_t {
  kBindNV = 1,
  kBindNVF = 2,
  kBindNode = 3,
  kBindSpecial = 4,
};

// params of SingleAddressParser.
struct GateAddressParams {
  const char* address;   // in: the address text as the host holds it
  uint32_t gateId;       // in
  uint32_t gateType;     // in
  uint32_t reserved;     // not touched
  int32_t nodeValue;     // out: NV/NVF owning node handle; node gate handle + 32000; else 0
  uint32_t bindingWord;  // out: byte 0 BindingKind, byte 1 field index or special-gate row
  CNVItem* nvItem;       // out: item of an NV or NVF gate, else null
  int32_t resultMinus1;  // out: -1 on entry, never read
  uint32_t result32;     // out: 32 on entry, never read
};

// params of SingleRead and SingleWrite; the binding fields are those the parser returned.
struct GateIoParams {
  const char* address;  // for messages
  uint32_t reserved0;
  int32_t nodeValue;
  uint32_t bindingWord;
  CNVItem* nvItem;
  uint32_t reserved1[2];
  int32_t gateType;
  uint32_t reserved2[2];
  void* valueCell;  // 4-byte value cell, or the text buffer (>= 81 bytes) of a type-7 gate
};

// params of BrowseAddress: the host's buffer for the chosen address.
struct BrowseParams {
  char* addressBuffer;
};
// Capacity of BrowseParams::addressBuffer that a host must provide, NUL included. The driver
// never writes more; an address that would not fit is refused.
constexpr size_t kBrowseAddressCapacity = 256;

static_assert(sizeof(GateDef) == 328);
static_assert(offsetof(GateDef, gateType) == 166);
static_assert(offsetof(GateDef, address) == 172);
static_assert(offsetof(GateDef, updateMode) == 204);
static_assert(offsetof(GateDef, pollingRate) == 208);
static_assert(sizeof(HostMessage) == 24);
static_assert(offsetof(HostMessage, gateId) == 4);
static_assert(offsetof(HostMessage, subCode) == 16);
static_assert(offsetof(ColdStartParams, connectNetwork) == 12);

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(VpiRequest, command) == 4);
static_assert(offsetof(VpiRequest, instanceNumber) == 8);
static_assert(offsetof(VpiRequest, params) == 16);
static_assert(offsetof(VpiInfo, instanceSize) == 12);
static_assert(offsetof(VpiInfo, infoKind) == 16);
static_assert(offsetof(VpiInfo, infoTail) == 28);
static_assert(offsetof(GateAddressParams, gateId) == 4);
static_assert(offsetof(GateAddressParams, nodeValue) == 16);
static_assert(offsetof(GateAddressParams, bindingWord) == 20);
static_assert(offsetof(GateAddressParams, nvItem) == 24);
static_assert(offsetof(GateAddressParams, resultMinus1) == 28);
static_assert(offsetof(GateAddressParams, result32) == 32);
static_assert(offsetof(GateIoParams, nodeValue) == 8);
static_assert(offsetof(GateIoParams, bindingWord) == 12);
static_assert(offsetof(GateIoParams, nvItem) == 16);
static_assert(offsetof(GateIoParams, gateType) == 28);
static_assert(offsetof(GateIoParams, valueCell) == 40);
#endif
