// VARIANT values for tests; the caller clears what it gets.
#pragma once

#include <cstdint>
#include <string>

#include "platform/variant.h"

inline VARIANT OfI2(int16_t v) {
  VARIANT out;
  VariantInit(&out);
  out.vt = VT_I2;
  out.iVal = v;
  return out;
}

inline VARIANT OfI4(int32_t v) {
  VARIANT out;
  VariantInit(&out);
  out.vt = VT_I4;
  out.lVal = v;
  return out;
}

inline VARIANT OfR4(float v) {
  VARIANT out;
  VariantInit(&out);
  out.vt = VT_R4;
  out.fltVal = v;
  return out;
}

inline VARIANT OfText(const std::u16string& s) {
  VARIANT out;
  VariantInit(&out);
  out.vt = VT_BSTR;
  out.bstrVal = BstrFromUtf16(s.data(), static_cast<uint32_t>(s.size()));
  return out;
}
