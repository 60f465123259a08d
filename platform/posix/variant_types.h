// The VARIANT of the POSIX backend: our own record with the layout of the members the driver
// uses, our own length-counted strings and byte arrays, and our own coercion
// (variant_change_type.cpp). Included through platform/variant.h only.
#pragma once

#include <cstdint>

using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using HRESULT = int32_t;
using OLECHAR = char16_t;
using BSTR = OLECHAR*;

enum : VARTYPE {
  VT_EMPTY = 0,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_BSTR = 8,
  VT_BOOL = 11,
  VT_UI1 = 17,
  VT_ARRAY = 0x2000,
};

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr HRESULT S_OK = 0;
constexpr HRESULT DISP_E_BADVARTYPE = static_cast<HRESULT>(0x80020008u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);

// A counted array of bytes (SAFEARRAY of VT_UI1).
struct ByteArray {
  uint32_t size;
  uint8_t* data;
};

struct VARIANT {
  VARTYPE vt;
  union {
    int16_t iVal;
    int32_t lVal;
    float fltVal;
    VARIANT_BOOL boolVal;
    BSTR bstrVal;
    ByteArray* parray;
  };
};

void VariantInit(VARIANT* v);  // VT_EMPTY
// Frees what v owns (string, array) and leaves it VT_EMPTY.
HRESULT VariantClear(VARIANT* v);
// Deep copy; dst is cleared first.
HRESULT VariantCopy(VARIANT* dst, const VARIANT* src);
// Coerces src to vt into dst (dst may be src) following the OLE Automation rules; flags 0.
// On failure dst is left as it was and an error code is returned (DISP_E_TYPEMISMATCH,
// DISP_E_OVERFLOW, DISP_E_BADVARTYPE for a type outside the set above, E_OUTOFMEMORY).
HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, uint16_t flags, VARTYPE vt);

// Length-counted strings; a null BSTR is the empty string.
BSTR SysAllocStringLen(const OLECHAR* text, uint32_t length);  // text may be null: zero-filled
BSTR SysAllocString(const OLECHAR* text);                      // NUL-terminated
void SysFreeString(BSTR s);
uint32_t SysStringLen(BSTR s);
