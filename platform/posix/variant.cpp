// The VARIANT services of the POSIX backend: strings and byte arrays of our own.
#include "platform/variant.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
// A BSTR is preceded by its length in bytes, as OLE lays it out, so that SysStringLen is O(1).
struct BstrHeader {
  uint32_t bytes;
};
}  // namespace

void VariantInit(VARIANT* v) {
  std::memset(v, 0, sizeof(*v));
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
  if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
  if (v->vt == VT_ARRAY_UI1) ByteArrayDestroy(v->parray);
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dst, const VARIANT* src) {
  if (dst == src) return S_OK;
  VARIANT copy = *src;
  if (src->vt == VT_BSTR) {
    copy.bstrVal =
        src->bstrVal ? SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal)) : nullptr;
    if (src->bstrVal && !copy.bstrVal) return E_OUTOFMEMORY;
  } else if (src->vt == VT_ARRAY_UI1) {
    copy.parray = src->parray ? ByteArrayCreate(src->parray->data, src->parray->size) : nullptr;
    if (src->parray && !copy.parray) return E_OUTOFMEMORY;
  }
  VariantClear(dst);
  *dst = copy;
  return S_OK;
}

BSTR SysAllocStringLen(const OLECHAR* text, uint32_t length) {
  // The byte count must fit the 32-bit header.
  if (length > (UINT32_MAX - sizeof(BstrHeader)) / sizeof(OLECHAR) - 1) return nullptr;
  void* block =
      std::malloc(sizeof(BstrHeader) + (static_cast<size_t>(length) + 1) * sizeof(OLECHAR));
  if (!block) return nullptr;
  static_cast<BstrHeader*>(block)->bytes = length * sizeof(OLECHAR);
  BSTR s = reinterpret_cast<BSTR>(static_cast<char*>(block) + sizeof(BstrHeader));
  if (text) {
    std::memcpy(s, text, length * sizeof(OLECHAR));
  } else {
    std::memset(s, 0, length * sizeof(OLECHAR));
  }
  s[length] = 0;
  return s;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  uint32_t n = 0;
  while (text[n]) ++n;
  return SysAllocStringLen(text, n);
}

void SysFreeString(BSTR s) {
  if (s) std::free(reinterpret_cast<char*>(s) - sizeof(BstrHeader));
}

uint32_t SysStringLen(BSTR s) {
  if (!s) return 0;
  return reinterpret_cast<BstrHeader*>(reinterpret_cast<char*>(s) - sizeof(BstrHeader))->bytes /
         sizeof(OLECHAR);
}

ByteArray* ByteArrayCreate(const uint8_t* data, uint32_t size) {
  if (static_cast<size_t>(size) > SIZE_MAX - sizeof(ByteArray)) return nullptr;
  auto* array = static_cast<ByteArray*>(std::malloc(sizeof(ByteArray) + size));
  if (!array) return nullptr;
  array->size = size;
  array->data = reinterpret_cast<uint8_t*>(array + 1);
  if (data && size) {
    std::memcpy(array->data, data, size);
  } else if (size) {
    std::memset(array->data, 0, size);
  }
  return array;
}

void ByteArrayDestroy(ByteArray* array) {
  std::free(array);
}

uint32_t ByteArraySize(const ByteArray* array) {
  return array ? array->size : 0;
}

uint8_t* ByteArrayData(ByteArray* array) {
  return array ? array->data : nullptr;
}

BSTR BstrFromUtf16(const char16_t* text, uint32_t length) {
  return SysAllocStringLen(text, length);
}

const char16_t* BstrUtf16(BSTR s) {
  return s;
}
