#include "lon/value_conversion.h"

#include <cmath>
#include <cstring>
#include <string>

#include "core/host_api.h"
#include "platform/text.h"

namespace {

void PutHalf(uint8_t cell[4], int16_t v) {
  uint16_t u = static_cast<uint16_t>(v);
  cell[2] = static_cast<uint8_t>(u & 0xFF);
  cell[3] = static_cast<uint8_t>(u >> 8);
}

int16_t GetHalf(const uint8_t* cell) {
  return static_cast<int16_t>(static_cast<uint16_t>(cell[2] | (cell[3] << 8)));
}

uint16_t EncodeBcd(int16_t d) {
  if (d >= 10000) return 0x9999;
  if (d < 0) return 0;
  uint16_t word = 0;
  for (int shift = 0; shift < 16; shift += 4) {
    word = static_cast<uint16_t>(word + ((d % 10) << shift));
    d = static_cast<int16_t>(d / 10);
  }
  return word;
}

int16_t DecodeBcd(uint16_t word) {
  // Nibbles above 9 are taken as they are: 0x00AF is 10 tens and 15 units.
  double sum = 0;
  double place = 1;
  for (int shift = 0; shift < 16; shift += 4) {
    sum += ((word >> shift) & 0xF) * place;
    place *= 10;
  }
  return static_cast<int16_t>(sum);
}

}  // namespace

VARTYPE GateTypeToVariantType(uint32_t gateType) {
  switch (gateType) {
    case kGateInt16:
    case kGateInt16b:
    case kGateBcd:
      return VT_I2;
    case kGateFloat:
      return VT_R4;
    case kGateInt32:
    case kGateInt32b:
      return VT_I4;
    case kGateBool:
      return VT_BOOL;
    case kGateText:
      return VT_BSTR;
    default:
      return VT_EMPTY;
  }
}

int VariantToKestValue(VARIANT* value, uint32_t gateType, void* cell, char* text) {
  if (!value || (gateType == kGateText ? !text : !cell)) return 0;
  VARTYPE target = GateTypeToVariantType(gateType);
  uint8_t local[4] = {0, 0, 0, 0};

  // A byte array (format "/F:b") read into a text gate becomes its bytes as hex digits
  // ("0A1B2C"): the platform's own coercion would pack the bytes into unreadable text, or
  // refuse them. Whole bytes only, as many as the text gate holds.
  if (gateType == kGateText && value->vt == VT_ARRAY_UI1) {
    static const char kDigits[] = "0123456789ABCDEF";
    size_t n = 0;
    const uint8_t* bytes = ByteArrayData(value->parray);
    for (uint32_t i = 0; i < ByteArraySize(value->parray) && n + 2 <= kGateTextMax; ++i) {
      text[n++] = kDigits[bytes[i] >> 4];
      text[n++] = kDigits[bytes[i] & 0x0F];
    }
    text[n] = '\0';
    return 1;
  }

  if (value->vt != target) {
    VARTYPE present = value->vt;
    err(kLogTrace, "telMAR: VariantToKestValue before change type = %d %d", target, present);
    // A NaN has no integer value; the platform's coercion would give an arbitrary number.
    bool nanToInteger =
        present == VT_R4 && std::isnan(value->fltVal) && (target == VT_I2 || target == VT_I4);
    if (nanToInteger || VariantChangeType(value, value, 0, target) != S_OK) {
      err(kLogError, "telMAR: VariantToKestValue fail on VariantChangeType() %d -> %d", present,
          target);
      return 0;
    }
  }

  switch (gateType) {
    case kGateInt16:
    case kGateInt16b:
      PutHalf(local, value->iVal);
      break;
    case kGateBcd:
      PutHalf(local, static_cast<int16_t>(EncodeBcd(value->iVal)));
      break;
    case kGateFloat:
      std::memcpy(local, &value->fltVal, 4);
      break;
    case kGateInt32:
    case kGateInt32b:
      std::memcpy(local, &value->lVal, 4);
      break;
    case kGateBool:
      PutHalf(local, value->boolVal != 0 ? 1 : 0);
      break;
    case kGateText: {
      std::string multi;
      if (value->bstrVal) {
        multi = WideToMultiByte(
            std::u16string(BstrUtf16(value->bstrVal), SysStringLen(value->bstrVal)));
      }
      // The host's buffer holds kGateTextMax bytes and the NUL; a NUL inside the string ends it
      // as the host reads it. The cut falls between characters of the host's code page.
      size_t n = MultiBytePrefix(multi.data(), multi.size(), kGateTextMax);
      std::memcpy(text, multi.data(), n);
      text[n] = '\0';
      return 1;
    }
    default:
      break;
  }
  std::memcpy(cell, local, 4);
  return 1;
}

int KestToVariantValue(const void* hostValue, uint32_t gateType, VARIANT* value) {
  if (!hostValue || !value) return 0;
  const uint8_t* cell = static_cast<const uint8_t*>(hostValue);

  if (gateType == kGateText) {
    VariantClear(value);
    std::u16string wide;
    if (!MultiByteToWideChecked(static_cast<const char*>(hostValue), &wide)) return 0;
    BSTR s = BstrFromUtf16(wide.data(), static_cast<uint32_t>(wide.size()));
    if (!s) return 0;
    value->vt = VT_BSTR;
    value->bstrVal = s;
    return 1;
  }

  value->vt = GateTypeToVariantType(gateType);
  switch (gateType) {
    case kGateInt16:
    case kGateInt16b:
      value->iVal = GetHalf(cell);
      break;
    case kGateBcd:
      value->iVal = DecodeBcd(static_cast<uint16_t>(GetHalf(cell)));
      break;
    case kGateFloat:
      std::memcpy(&value->fltVal, cell, 4);
      break;
    case kGateInt32:
    case kGateInt32b:
      std::memcpy(&value->lVal, cell, 4);
      break;
    case kGateBool:
      value->boolVal = GetHalf(cell) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    default:
      break;
  }
  return 1;
}
