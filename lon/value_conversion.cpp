#include "lon/value_conversion.h"

#include <cmath>
#include <cstdio>
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

// d is 0 to 9999: a value outside is refused before it gets here.
uint16_t EncodeBcd(int16_t d) {
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

constexpr int16_t kBcdMax = 9999;

// The number a scalar VARIANT holds; false for text, arrays and empty values.
bool NumberOf(const VARIANT& v, double* number) {
  switch (v.vt) {
    case VT_I2:
      *number = v.iVal;
      return true;
    case VT_I4:
      *number = v.lVal;
      return true;
    case VT_R4:
      *number = v.fltVal;
      return true;
    case VT_BOOL:
      *number = v.boolVal;
      return true;
    default:
      return false;
  }
}

// The number a text reads as, when the VARIANT services can read it as a float.
bool TextNumber(const VARIANT& v, double* number) {
  VARIANT copy;
  VariantInit(&copy);
  if (VariantChangeType(&copy, &v, 0, VT_R4) != S_OK) return false;
  *number = copy.fltVal;
  VariantClear(&copy);
  return true;
}

// Fills the fault record, or, without one, logs the refusal of a value the gate type cannot
// hold; the result is VariantToKestValue's failure.
int Refuse(ValueFault* fault, uint8_t kind, VARTYPE present, uint32_t gateType, bool valueKnown,
           double value) {
  ValueFault found;
  found.kind = kind;
  found.valueKnown = valueKnown;
  found.present = present;
  found.gateType = gateType;
  found.value = value;
  if (fault) {
    *fault = found;
  } else if (ValueFaultIsTheValue(found)) {
    char reason[kValueFaultTextSize];
    err(kLogError, "telMAR: VariantToKestValue fail, %s",
        FormatValueFault(found, reason, sizeof reason));
  }
  return 0;
}

// Integers in full, other numbers with the float's seven digits.
void FormatNumber(double v, char* buffer, size_t size) {
  if (std::isnan(v)) {
    std::snprintf(buffer, size, "NaN");
  } else if (v == std::floor(v) && std::fabs(v) < 1e15) {
    std::snprintf(buffer, size, "%.0f", v == 0 ? 0.0 : v);
  } else {
    std::snprintf(buffer, size, "%.7g", v);
  }
}

}  // namespace

namespace {

// A gate type's name, and what it holds.
struct GateTypeTexts {
  const char* name;
  const char* range;
};

GateTypeTexts TextsOf(uint32_t gateType) {
  switch (gateType) {
    case kGateInt16:
    case kGateInt16b:
      return {"16-bit integer", "16-bit integer, -32768 to 32767"};
    case kGateBcd:
      return {"four-digit BCD", "four-digit BCD, 0 to 9999"};
    case kGateFloat:
      return {"32-bit float", "32-bit float, -3.4e38 to 3.4e38"};
    case kGateInt32:
    case kGateInt32b:
      return {"32-bit integer", "32-bit integer, -2147483648 to 2147483647"};
    case kGateBool:
      return {"boolean", "boolean, false or true"};
    case kGateText:
      return {"text", "text of up to 80 bytes"};
    default:
      return {"unknown", "no value"};
  }
}

}  // namespace

const char* GateTypeName(uint32_t gateType) {
  return TextsOf(gateType).name;
}

const char* GateTypeRangeText(uint32_t gateType) {
  return TextsOf(gateType).range;
}

char* FormatValueFault(const ValueFault& fault, char* buffer, size_t size) {
  if (!buffer || size == 0) return buffer;
  unsigned type = fault.gateType;
  const char* holds = GateTypeRangeText(fault.gateType);
  char number[32];
  FormatNumber(fault.value, number, sizeof number);
  switch (fault.kind) {
    case kValueFaultRange:
      if (fault.valueKnown) {
        std::snprintf(buffer, size, "value %s does not fit gate type %u (%s)", number, type, holds);
      } else {
        std::snprintf(buffer, size, "a value (vt %d) beyond what gate type %u holds (%s)",
                      fault.present, type, holds);
      }
      break;
    case kValueFaultNaN:
      std::snprintf(buffer, size, "value NaN does not fit gate type %u (%s)", type, holds);
      break;
    case kValueFaultCoercion:
      std::snprintf(buffer, size, "a value of vt %d cannot be changed to vt %d for gate type %u",
                    fault.present, GateTypeToVariantType(fault.gateType), type);
      break;
    case kValueFaultArgument:
      std::snprintf(buffer, size, "no value or no place for it (gate type %u)", type);
      break;
    default:
      std::snprintf(buffer, size, "no fault");
      break;
  }
  return buffer;
}

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

int VariantToKestValue(VARIANT* value, uint32_t gateType, void* cell, char* text,
                       ValueFault* fault) {
  if (!value || (gateType == kGateText ? !text : !cell)) {
    return Refuse(fault, kValueFaultArgument, value ? value->vt : VARTYPE{VT_EMPTY}, gateType,
                  false, 0);
  }
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

  // The number as it came, before a coercion rounds it: what a refusal reports.
  VARTYPE present = value->vt;
  double original = 0;
  bool originalKnown = NumberOf(*value, &original);
  if (value->vt != target) {
    err(kLogTrace, "telMAR: VariantToKestValue before change type = %d %d", target, present);
    // A NaN has no integer or boolean value; the platform's coercion would give an arbitrary
    // number, or true.
    if (present == VT_R4 && std::isnan(value->fltVal) &&
        (target == VT_I2 || target == VT_I4 || target == VT_BOOL)) {
      return Refuse(fault, kValueFaultNaN, present, gateType, true, original);
    }
    HRESULT hr = VariantChangeType(value, value, 0, target);
    if (hr == DISP_E_OVERFLOW) {
      bool known = originalKnown || (present == VT_BSTR && TextNumber(*value, &original));
      return Refuse(fault, kValueFaultRange, present, gateType, known, original);
    }
    if (hr != S_OK) {
      err(kLogError, "telMAR: VariantToKestValue fail on VariantChangeType() %d -> %d", present,
          target);
      return Refuse(fault, kValueFaultCoercion, present, gateType, false, 0);
    }
  }

  switch (gateType) {
    case kGateInt16:
    case kGateInt16b:
      PutHalf(local, value->iVal);
      break;
    case kGateBcd:
      // Four digits hold 0 to 9999; anything else would read as a wrong number.
      if (value->iVal < 0 || value->iVal > kBcdMax) {
        return Refuse(fault, kValueFaultRange, present, gateType, true,
                      originalKnown ? original : value->iVal);
      }
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
