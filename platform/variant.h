// The least OLE Automation VARIANT that the driver and the network library exchange values in:
// VT_EMPTY, VT_I2, VT_I4, VT_R4, VT_BOOL (true is -1), VT_BSTR (a length-counted UTF-16 string)
// and VT_ARRAY | VT_UI1 (a counted byte array).
//
// The backend's variant_types.h defines the record, the string and array types and the
// functions VariantInit, VariantClear, VariantCopy, VariantChangeType, SysAllocStringLen,
// SysAllocString, SysFreeString and SysStringLen with the system's signatures (on Windows they
// are the system's). Code that must not care whether a UTF-16 unit is char16_t or the system's
// wide character, or how a byte array is laid out, uses the helpers below.
#pragma once

#include <cstdint>

#include "variant_types.h"

constexpr VARTYPE VT_ARRAY_UI1 = VT_ARRAY | VT_UI1;

// A new string of `length` UTF-16 units (text may be null: zero-filled); null when out of memory.
BSTR BstrFromUtf16(const char16_t* text, uint32_t length);
// The UTF-16 units of s (SysStringLen(s) of them); null for a null s.
const char16_t* BstrUtf16(BSTR s);

ByteArray* ByteArrayCreate(const uint8_t* data, uint32_t size);  // data may be null: zeroed
void ByteArrayDestroy(ByteArray* array);                         // null is ignored
uint32_t ByteArraySize(const ByteArray* array);                  // 0 for null
uint8_t* ByteArrayData(ByteArray* array);                        // null for null
