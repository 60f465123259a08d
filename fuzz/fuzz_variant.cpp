// VARIANT coercion and the two value conversions for every gate type.
// Byte 0 chooses the operation, byte 1 the source type or gate type, byte 2 the target type;
// the rest is the payload.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "lon/value_conversion.h"
#include "platform/variant.h"

namespace {

constexpr VARTYPE kTypes[] = {VT_EMPTY, VT_I2, VT_I4, VT_R4, VT_BOOL, VT_BSTR, VT_ARRAY_UI1};
constexpr size_t kTypeCount = sizeof(kTypes) / sizeof(kTypes[0]);

void MakeVariant(VARTYPE vt, const uint8_t* p, size_t n, VARIANT* v) {
  VariantInit(v);
  uint8_t raw[4] = {};
  std::memcpy(raw, p, n < 4 ? n : 4);
  v->vt = vt;
  switch (vt) {
    case VT_I2:
      std::memcpy(&v->iVal, raw, 2);
      break;
    case VT_I4:
      std::memcpy(&v->lVal, raw, 4);
      break;
    case VT_R4:
      std::memcpy(&v->fltVal, raw, 4);
      break;
    case VT_BOOL:
      std::memcpy(&v->boolVal, raw, 2);
      break;
    case VT_BSTR:
      v->bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(p),
                                     static_cast<uint32_t>(n / sizeof(OLECHAR)));
      break;
    case VT_ARRAY_UI1:
      v->parray = ByteArrayCreate(p, static_cast<uint32_t>(n));
      break;
    default:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // Every conversion failure logs a line; a long run must not keep them.
  FuzzForgetHostRecords();
  const uint8_t* payload = data + 3;
  size_t n = size - 3;
  switch (data[0] % 3) {
    case 0: {  // coercion
      VARIANT src, dst;
      MakeVariant(kTypes[data[1] % kTypeCount], payload, n, &src);
      VariantInit(&dst);
      VariantChangeType(&dst, &src, 0, kTypes[data[2] % kTypeCount]);
      VariantClear(&dst);
      VariantClear(&src);
      break;
    }
    case 1: {  // network value to host value
      VARIANT v;
      MakeVariant(kTypes[data[1] % kTypeCount], payload, n, &v);
      alignas(4) char out[128];
      std::memset(out, 0x5A, sizeof(out));
      VariantToKestValue(&v, data[2] % 10, out, out);
      VariantClear(&v);
      break;
    }
    default: {  // host value to network value
      std::string host(reinterpret_cast<const char*>(payload), n);
      host.resize(host.size() < 4 ? 4 : host.size());
      VARIANT v;
      VariantInit(&v);
      KestToVariantValue(host.c_str(), data[2] % 10, &v);
      VariantClear(&v);
      break;
    }
  }
  return 0;
}
