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

// Why VariantToKestValue refused a value. It is written only on failure, so a caller on a hot
// path (a listened update) learns the reason without any text being formed on success.
enum ValueFaultKind : uint8_t {
  kValueFaultNone = 0,
  kValueFaultRange,     // a number the gate type cannot hold; `value` when `valueKnown`
  kValueFaultNaN,       // not a number, into a gate type that has none
  kValueFaultCoercion,  // the VARIANT services cannot change `present` into the gate's type
  kValueFaultArgument,  // no value, or no cell / text buffer for the gate type
};
struct ValueFault {
  uint8_t kind = kValueFaultNone;
  bool valueKnown = false;
  VARTYPE present = VT_EMPTY;  // the VARIANT type of the value refused
  uint32_t gateType = 0;
  double value = 0;
};

// 1 on success, 0 on failure (outputs untouched). value may be coerced in place.
// A value that the gate type cannot hold (out of its range, or a NaN into a gate type other than
// float) fails: with `fault` given, the record says why and no line is logged, so the caller,
// which knows the gate, can name it (FormatValueFault); without, the failure is logged here at
// level 32. A refused coercion is logged here in both cases.
int VariantToKestValue(VARIANT* value, uint32_t gateType, void* cell, char* text,
                       ValueFault* fault = nullptr);
// The reason of a fault as text, e.g. "value 12873 does not fit gate type 2 (four-digit BCD, 0 to
// 9999)", cut to fit `size` bytes. Returns buffer.
constexpr size_t kValueFaultTextSize = 128;
char* FormatValueFault(const ValueFault& fault, char* buffer, size_t size);
// Whether the value itself is the fault (out of range, or NaN) rather than its conversion.
inline bool ValueFaultIsTheValue(const ValueFault& fault) {
  return fault.kind == kValueFaultRange || fault.kind == kValueFaultNaN;
}
// A gate type for messages, by name ("16-bit integer"), and with what it holds ("16-bit
// integer, -32768 to 32767").
const char* GateTypeName(uint32_t gateType);
const char* GateTypeRangeText(uint32_t gateType);
// 1 on success, 0 on failure. value is empty on entry; the caller clears it.
int KestToVariantValue(const void* hostValue, uint32_t gateType, VARIANT* value);
