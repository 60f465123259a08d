// Type coercion between the VARIANT types the driver uses, following the OLE Automation rules
// that stored values and peers rely on:
// - a number to an integer rounds to nearest, ties to even, and fails with DISP_E_OVERFLOW out
//   of range (a NaN included, which the platform converts to an arbitrary number instead);
// - text to a number parses one decimal number (optional sign, fraction, exponent) with blanks
//   around it; anything else is DISP_E_TYPEMISMATCH (the platform also reads the forms of its
//   locale: thousands separators, currency, parentheses, "&H" hexadecimal, a trailing sign);
//   text to VT_BOOL also takes "True"/"False" in any case and "#TRUE#"/"#FALSE#";
// - a number to text is rounded to 7 significant digits and laid out as "%G" does ("0.1",
//   "1E+10", "1E-05", "1.677722E+07"); VT_BOOL to text is "-1" or "0";
// - anything to VT_BOOL is -1 for nonzero; VT_EMPTY is 0 or "";
// - a byte array becomes a string by packing its bytes two to a UTF-16 unit, and a string
//   becomes the byte array of its UTF-16 units; a byte array converts to nothing else.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "platform/variant.h"

namespace {

bool IsKnownType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_BOOL:
    case VT_BSTR:
    case VT_ARRAY_UI1:
      return true;
    default:
      return false;
  }
}

// A double rounded to the nearest float. Values beyond the largest float by up to half a unit in
// its last place round down to it, as the automation coercion does (our own text for the largest
// float, "3.4028235E+38", lies there); anything further out, infinity included, is an overflow.
bool RealToFloat(double value, float* out) {
  constexpr double kMax = std::numeric_limits<float>::max();
  constexpr double kHalfUlp = 0x1p103;  // a unit in the last place of the largest float is 2^104
  double magnitude = std::fabs(value);
  if (std::isnan(value) || magnitude < kMax) {
    *out = static_cast<float>(value);
    return true;
  }
  if (magnitude > kMax + kHalfUlp) return false;  // infinity included
  *out = value < 0 ? -std::numeric_limits<float>::max() : std::numeric_limits<float>::max();
  return true;
}

// A source value reduced to one of three forms.
struct Number {
  enum Kind { kInteger, kReal } kind = kInteger;
  int64_t integer = 0;
  double real = 0;
};

double RoundHalfEven(double d) {
  double lower = std::floor(d);
  double fraction = d - lower;
  if (fraction > 0.5) return lower + 1;
  if (fraction < 0.5) return lower;
  return std::fmod(lower, 2.0) == 0 ? lower : lower + 1;
}

// Integer of [low, high] from a number; DISP_E_OVERFLOW outside it.
HRESULT ToInteger(const Number& n, int64_t low, int64_t high, int64_t* out) {
  int64_t value;
  if (n.kind == Number::kReal) {
    if (std::isnan(n.real)) return DISP_E_OVERFLOW;
    double r = RoundHalfEven(n.real);
    if (r < static_cast<double>(low) || r > static_cast<double>(high)) return DISP_E_OVERFLOW;
    value = static_cast<int64_t>(r);
  } else {
    value = n.integer;
  }
  if (value < low || value > high) return DISP_E_OVERFLOW;
  *out = value;
  return S_OK;
}

bool IsBlank(char16_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

// Parses one decimal number with blanks around it. tinyNonzero is set when the text names a
// nonzero value too small for a double (it reads as 0).
HRESULT ParseDecimal(const char16_t* s, uint32_t n, double* out, bool* tinyNonzero) {
  uint32_t i = 0;
  while (i < n && IsBlank(s[i])) ++i;
  bool negative = false;
  if (i < n && (s[i] == u'+' || s[i] == u'-')) {
    negative = s[i] == u'-';
    ++i;
    while (i < n && IsBlank(s[i])) ++i;
  }
  std::string text;       // digits, '.', 'e', exponent sign: plain ASCII for from_chars
  int integerDigits = 0;  // significant digits before the point
  int leadingFractionZeros = 0;
  bool seenNonzero = false;
  int mantissaDigits = 0;
  while (i < n && IsDigit(s[i])) {
    if (s[i] != u'0') seenNonzero = true;
    if (seenNonzero) ++integerDigits;
    text.push_back(static_cast<char>(s[i++]));
    ++mantissaDigits;
  }
  if (i < n && s[i] == u'.') {
    text.push_back('.');
    ++i;
    while (i < n && IsDigit(s[i])) {
      if (s[i] != u'0') seenNonzero = true;
      if (!seenNonzero) ++leadingFractionZeros;
      text.push_back(static_cast<char>(s[i++]));
      ++mantissaDigits;
    }
  }
  if (mantissaDigits == 0) return DISP_E_TYPEMISMATCH;
  long exponent = 0;
  if (i < n && (s[i] == u'e' || s[i] == u'E')) {
    text.push_back('e');
    ++i;
    if (i < n && (s[i] == u'+' || s[i] == u'-')) text.push_back(static_cast<char>(s[i++]));
    int exponentDigits = 0;
    bool exponentNegative = !text.empty() && text.back() == '-';
    while (i < n && IsDigit(s[i])) {
      if (exponent < 100000) exponent = exponent * 10 + (s[i] - u'0');
      text.push_back(static_cast<char>(s[i++]));
      ++exponentDigits;
    }
    if (exponentDigits == 0) return DISP_E_TYPEMISMATCH;
    if (exponentNegative) exponent = -exponent;
  }
  while (i < n && IsBlank(s[i])) ++i;
  if (i != n) return DISP_E_TYPEMISMATCH;

  *tinyNonzero = false;
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Decimal position of the first significant digit decides: too large or too small.
    long position = integerDigits > 0 ? integerDigits + exponent : exponent - leadingFractionZeros;
    if (position > 0) {
      value = std::numeric_limits<double>::infinity();
    } else {
      value = 0;
      *tinyNonzero = true;
    }
  } else if (ec != std::errc() || end != text.data() + text.size()) {
    return DISP_E_TYPEMISMATCH;
  }
  *out = negative ? -value : value;
  return S_OK;
}

bool EqualsAsciiNoCase(const char16_t* s, uint32_t n, const char* word) {
  size_t len = std::strlen(word);
  if (n != len) return false;
  for (uint32_t i = 0; i < n; ++i) {
    char16_t c = s[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != static_cast<char16_t>(word[i])) return false;
  }
  return true;
}

bool EqualsAscii(const char16_t* s, uint32_t n, const char* word) {
  if (n != std::strlen(word)) return false;
  for (uint32_t i = 0; i < n; ++i) {
    if (s[i] != static_cast<char16_t>(word[i])) return false;
  }
  return true;
}

// The float rounded to 7 significant digits, in "%G" layout (trailing zeros dropped).
std::string FormatReal(float f) {
  if (std::isnan(f)) return "NAN";
  if (std::isinf(f)) return f < 0 ? "-INF" : "INF";
  if (f == 0) return "0";
  char buf[48];
  auto [end, ec] = std::to_chars(buf, buf + sizeof(buf), f, std::chars_format::scientific, 6);
  if (ec != std::errc()) return "0";
  std::string sci(buf, end);  // e.g. "-1.2345679e+08"
  std::string out;
  size_t i = 0;
  if (sci[i] == '-') {
    out.push_back('-');
    ++i;
  }
  std::string digits;
  for (; i < sci.size() && sci[i] != 'e'; ++i) {
    if (sci[i] != '.') digits.push_back(sci[i]);
  }
  int exponent = std::atoi(sci.c_str() + i + 1);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  constexpr int kPrecision = 7;
  if (exponent < -4 || exponent >= kPrecision) {
    out.push_back(digits[0]);
    if (digits.size() > 1) {
      out.push_back('.');
      out.append(digits, 1, std::string::npos);
    }
    char e[16];
    std::snprintf(e, sizeof(e), "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    out += e;
  } else if (exponent >= 0) {
    size_t whole = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= whole) {
      out += digits;
      out.append(whole - digits.size(), '0');
    } else {
      out.append(digits, 0, whole);
      out.push_back('.');
      out.append(digits, whole, std::string::npos);
    }
  } else {
    out += "0.";
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out += digits;
  }
  return out;
}

HRESULT MakeString(const std::string& ascii, VARIANT* out) {
  std::u16string wide(ascii.begin(), ascii.end());
  BSTR s = SysAllocStringLen(wide.data(), static_cast<uint32_t>(wide.size()));
  if (!s) return E_OUTOFMEMORY;
  out->vt = VT_BSTR;
  out->bstrVal = s;
  return S_OK;
}

HRESULT FromNumber(const Number& n, VARTYPE vt, VARIANT* out) {
  int64_t value = 0;
  HRESULT hr;
  switch (vt) {
    case VT_EMPTY:
      out->vt = VT_EMPTY;
      return S_OK;
    case VT_I2:
      hr = ToInteger(n, -32768, 32767, &value);
      if (hr != S_OK) return hr;
      out->vt = VT_I2;
      out->iVal = static_cast<int16_t>(value);
      return S_OK;
    case VT_I4:
      hr = ToInteger(n, INT32_MIN, INT32_MAX, &value);
      if (hr != S_OK) return hr;
      out->vt = VT_I4;
      out->lVal = static_cast<int32_t>(value);
      return S_OK;
    case VT_R4: {
      float f;
      if (n.kind == Number::kReal) {
        if (!RealToFloat(n.real, &f)) return DISP_E_OVERFLOW;
      } else {
        f = static_cast<float>(n.integer);
      }
      out->vt = VT_R4;
      out->fltVal = f;
      return S_OK;
    }
    case VT_BOOL: {
      bool nonzero = n.kind == Number::kReal ? n.real != 0 || std::isnan(n.real) : n.integer != 0;
      out->vt = VT_BOOL;
      out->boolVal = nonzero ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    }
    case VT_BSTR:
      if (n.kind == Number::kReal) return MakeString(FormatReal(static_cast<float>(n.real)), out);
      return MakeString(std::to_string(n.integer), out);
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT FromString(BSTR s, VARTYPE vt, VARIANT* out) {
  uint32_t n = SysStringLen(s);
  if (vt == VT_EMPTY) {
    out->vt = VT_EMPTY;
    return S_OK;
  }
  if (vt == VT_BSTR) {
    BSTR copy = SysAllocStringLen(s, n);
    if (!copy) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    out->bstrVal = copy;
    return S_OK;
  }
  if (vt == VT_ARRAY_UI1) {
    // The string's UTF-16 units as bytes, low byte first.
    out->vt = VT_ARRAY_UI1;
    out->parray = ByteArrayCreate(reinterpret_cast<const uint8_t*>(s), n * 2);
    return out->parray ? S_OK : E_OUTOFMEMORY;
  }
  if (vt == VT_BOOL) {
    bool isTrue = EqualsAsciiNoCase(s, n, "true") || EqualsAscii(s, n, "#TRUE#");
    bool isFalse = EqualsAsciiNoCase(s, n, "false") || EqualsAscii(s, n, "#FALSE#");
    if (isTrue || isFalse) {
      out->vt = VT_BOOL;
      out->boolVal = isTrue ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    }
  }
  double value = 0;
  bool tinyNonzero = false;
  HRESULT hr = ParseDecimal(s ? s : u"", n, &value, &tinyNonzero);
  if (hr != S_OK) return hr;
  // A nonzero text below the smallest float does not silently become 0.
  if (vt == VT_R4 &&
      (tinyNonzero ||
       (value != 0 && std::fabs(value) < std::numeric_limits<float>::denorm_min()))) {
    return DISP_E_OVERFLOW;
  }
  Number number;
  number.kind = Number::kReal;
  number.real = value;
  if (vt == VT_R4) {
    // Straight to float; going through FromNumber would round twice the same way anyway.
    float f;
    if (!RealToFloat(value, &f)) return DISP_E_OVERFLOW;
    out->vt = VT_R4;
    out->fltVal = f;
    return S_OK;
  }
  return FromNumber(number, vt, out);
}

HRESULT Coerce(const VARIANT* src, VARTYPE vt, VARIANT* out) {
  if (src->vt == VT_ARRAY_UI1) {
    if (vt == VT_BSTR) {
      // The bytes packed into the string two by two, low byte first (an odd last byte is
      // dropped: the string's length counts whole units).
      uint32_t size = ByteArraySize(src->parray);
      BSTR s = SysAllocStringLen(nullptr, size / 2);
      if (!s) return E_OUTOFMEMORY;
      if (size >= 2) std::memcpy(s, ByteArrayData(src->parray), size / 2 * 2);
      out->vt = VT_BSTR;
      out->bstrVal = s;
      return S_OK;
    }
    if (vt != VT_ARRAY_UI1) return DISP_E_TYPEMISMATCH;
    out->vt = VT_ARRAY_UI1;
    out->parray = nullptr;
    if (src->parray) {
      out->parray = ByteArrayCreate(src->parray->data, src->parray->size);
      if (!out->parray) return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  if (src->vt == VT_BSTR) return FromString(src->bstrVal, vt, out);
  if (vt == VT_ARRAY_UI1) return DISP_E_TYPEMISMATCH;

  Number n;
  switch (src->vt) {
    case VT_EMPTY:
      if (vt == VT_BSTR) return MakeString("", out);
      break;
    case VT_I2:
      n.integer = src->iVal;
      break;
    case VT_I4:
      n.integer = src->lVal;
      break;
    case VT_BOOL:
      n.integer = src->boolVal;
      if (vt == VT_BSTR) return MakeString(src->boolVal ? "-1" : "0", out);
      break;
    case VT_R4:
      if (vt == VT_R4) {
        out->vt = VT_R4;
        out->fltVal = src->fltVal;
        return S_OK;
      }
      n.kind = Number::kReal;
      n.real = src->fltVal;
      break;
    default:
      return DISP_E_TYPEMISMATCH;
  }
  return FromNumber(n, vt, out);
}

}  // namespace

HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, uint16_t /*flags*/, VARTYPE vt) {
  if (!dst || !src) return E_INVALIDARG;
  if (!IsKnownType(src->vt) || !IsKnownType(vt)) return DISP_E_BADVARTYPE;
  VARIANT out;
  VariantInit(&out);
  HRESULT hr = Coerce(src, vt, &out);
  if (hr != S_OK) {
    VariantClear(&out);
    return hr;
  }
  // Built aside first: dst may be src, and a failure above leaves dst as it was.
  VariantClear(dst);
  *dst = out;
  return S_OK;
}
