// Conversion between host value cells and VARIANTs.
//
// The value cell is 4 bytes, little-endian; a 16-bit value lives in bytes 2..3 (as a 32-bit raw
// value: v << 16). Text gates (type 7) use a character buffer of at least 81 bytes instead.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/variant.h"

enum GateType : uint32_t {
  kGateInt16 = 0,
  kGateInt16b = 1,
  kGateBcd = 2,
  kGateFloat = 3,
  kGateInt32 = 4,
  kGateInt32b = 5,
  kGateBool = 6,
  kGateText = 7,
};
constexpr size_t kGateTextMax = 80;  // bytes of text the driver hands to the host, NUL excluded

VARTYPE GateTypeToVariantType(uint32_t gateType);
// 1 on success, 0 on failure (outputs untouched). value may be coerced in place.
int VariantToKestValue(VARIANT* value, uint32_t gateType, void* cell, char* text);
// 1 on success, 0 on failure. value is empty on entry; the caller clears it.
int KestToVariantValue(const void* hostValue, uint32_t gateType, VARIANT* value);
