// The VARIANT of the Win32 backend is the system's own: OLE Automation's VARIANT, BSTR and
// SAFEARRAY, and VariantInit, VariantClear, VariantCopy, VariantChangeType and SysAllocString*
// from oleaut32, so that values pass unchanged between the driver and the network library.
// Declared here with the system's layout and calling convention rather than through the system
// headers, which would bring the whole of windows.h (and its macros) into every driver source.
// Included through platform/variant.h only.
#pragma once

#include <cstdint>

using VARTYPE = unsigned short;
using VARIANT_BOOL = short;
using HRESULT = long;
using OLECHAR = wchar_t;
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

struct SAFEARRAYBOUND {
  unsigned long cElements;
  long lLbound;
};

struct SAFEARRAY {
  unsigned short cDims;
  unsigned short fFeatures;
  unsigned long cbElements;
  unsigned long cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
};

// A counted array of bytes is a one-dimensional SAFEARRAY of VT_UI1.
using ByteArray = SAFEARRAY;

struct VARIANT {
  VARTYPE vt;
  unsigned short wReserved1;
  unsigned short wReserved2;
  unsigned short wReserved3;
  union {
    long long llVal;
    long lVal;
    short iVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    BSTR bstrVal;
    SAFEARRAY* parray;
    struct {
      void* pvRecord;
      void* pRecInfo;
    } record;  // the largest member: it sets the record's size
  };
};
static_assert(sizeof(VARIANT) == 8 + 2 * sizeof(void*), "the system's VARIANT layout");

extern "C" {
__declspec(dllimport) void __stdcall VariantInit(VARIANT* v);
__declspec(dllimport) HRESULT __stdcall VariantClear(VARIANT* v);
__declspec(dllimport) HRESULT __stdcall VariantCopy(VARIANT* dst, const VARIANT* src);
__declspec(dllimport) HRESULT
    __stdcall VariantChangeType(VARIANT* dst, const VARIANT* src, unsigned short flags, VARTYPE vt);
__declspec(dllimport) BSTR __stdcall SysAllocStringLen(const OLECHAR* text, unsigned int length);
__declspec(dllimport) BSTR __stdcall SysAllocString(const OLECHAR* text);
__declspec(dllimport) void __stdcall SysFreeString(BSTR s);
__declspec(dllimport) unsigned int __stdcall SysStringLen(BSTR s);
__declspec(dllimport) SAFEARRAY* __stdcall SafeArrayCreateVector(VARTYPE vt, long lowerBound,
                                                                 unsigned long elements);
__declspec(dllimport) HRESULT __stdcall SafeArrayDestroy(SAFEARRAY* array);
}
