// The VARIANT services of the Win32 backend: the system's strings and safe arrays, seen as
// UTF-16 and as counted bytes.
#include "platform/variant.h"

#include <climits>
#include <cstring>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "a BSTR holds UTF-16 units");

BSTR BstrFromUtf16(const char16_t* text, uint32_t length) {
  // The system counts a string's bytes in 32 bits.
  if (length > (UINT_MAX - sizeof(uint32_t)) / sizeof(OLECHAR) - 1) return nullptr;
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text), length);
}

const char16_t* BstrUtf16(BSTR s) {
  return reinterpret_cast<const char16_t*>(s);
}

ByteArray* ByteArrayCreate(const uint8_t* data, uint32_t size) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, size);
  if (!array) return nullptr;
  if (size) {
    if (data) {
      std::memcpy(array->pvData, data, size);
    } else {
      std::memset(array->pvData, 0, size);
    }
  }
  return array;
}

void ByteArrayDestroy(ByteArray* array) {
  if (array) SafeArrayDestroy(array);
}

uint32_t ByteArraySize(const ByteArray* array) {
  return array && array->cDims == 1 ? array->rgsabound[0].cElements : 0;
}

uint8_t* ByteArrayData(ByteArray* array) {
  return array ? static_cast<uint8_t*>(array->pvData) : nullptr;
}
