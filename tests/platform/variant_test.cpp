// VARIANT services: coercion answers as the original platform gives them, and ownership of
// strings and byte arrays.
#include "platform/variant.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A value written as a test row: its type and payload.
struct Val {
  VARTYPE vt = VT_EMPTY;
  double number = 0;  // I2, I4, R4, BOOL
  std::u16string text;
  std::vector<uint8_t> bytes;
};
Val I2(int v) {
  return {VT_I2, double(v), {}, {}};
}
Val I4(double v) {
  return {VT_I4, v, {}, {}};
}
Val R4(double v) {
  return {VT_R4, v, {}, {}};
}
Val Bool(bool v) {
  return {VT_BOOL, v ? -1.0 : 0.0, {}, {}};
}
Val Str(const std::u16string& s) {
  return {VT_BSTR, 0, s, {}};
}
Val Empty() {
  return {};
}
Val Bytes(std::vector<uint8_t> b) {
  return {VT_ARRAY_UI1, 0, {}, std::move(b)};
}

VARIANT Make(const Val& v) {
  VARIANT out;
  VariantInit(&out);
  out.vt = v.vt;
  switch (v.vt) {
    case VT_I2:
      out.iVal = static_cast<int16_t>(v.number);
      break;
    case VT_I4:
      out.lVal = static_cast<int32_t>(v.number);
      break;
    case VT_R4:
      out.fltVal = static_cast<float>(v.number);
      break;
    case VT_BOOL:
      out.boolVal = static_cast<VARIANT_BOOL>(v.number);
      break;
    case VT_BSTR:
      out.bstrVal = BstrFromUtf16(v.text.data(), uint32_t(v.text.size()));
      break;
    case VT_ARRAY_UI1:
      out.parray = ByteArrayCreate(v.bytes.data(), uint32_t(v.bytes.size()));
      break;
    default:
      break;
  }
  return out;
}

std::string Show(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY:
      return "empty";
    case VT_I2:
      return "i2 " + std::to_string(v.iVal);
    case VT_I4:
      return "i4 " + std::to_string(v.lVal);
    case VT_R4: {
      char b[64];
      std::snprintf(b, sizeof b, "r4 %.9g", v.fltVal);
      return b;
    }
    case VT_BOOL:
      return "bool " + std::to_string(v.boolVal);
    case VT_BSTR: {
      std::string s;
      for (uint32_t i = 0; i < SysStringLen(v.bstrVal); ++i)
        s.push_back(char(BstrUtf16(v.bstrVal)[i]));
      return "bstr '" + s + "'";
    }
    case VT_ARRAY_UI1: {
      std::string s = "bytes";
      for (uint32_t i = 0; i < ByteArraySize(v.parray); ++i) {
        s += " " + std::to_string(ByteArrayData(v.parray)[i]);
      }
      return s;
    }
    default:
      return "vt " + std::to_string(v.vt);
  }
}

std::string Show(const Val& v) {
  VARIANT tmp = Make(v);
  std::string s = Show(tmp);
  VariantClear(&tmp);
  return s;
}

struct Row {
  Val from;
  VARTYPE to;
  HRESULT hr;
  Val expect;  // when hr is S_OK
};

// Answers taken from the reference platform (flags 0).
const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      // Floating point to integer: nearest, ties to even, overflow at the range's edge.
      {R4(0.5), VT_I2, S_OK, I2(0)},
      {R4(1.5), VT_I2, S_OK, I2(2)},
      {R4(2.5), VT_I2, S_OK, I2(2)},
      {R4(-0.5), VT_I2, S_OK, I2(0)},
      {R4(-2.5), VT_I2, S_OK, I2(-2)},
      {R4(32767.4), VT_I2, S_OK, I2(32767)},
      {R4(32767.5), VT_I2, DISP_E_OVERFLOW, {}},
      {R4(32767.5), VT_I4, S_OK, I4(32768)},
      {R4(32766.5), VT_I2, S_OK, I2(32766)},
      {R4(-32768.5), VT_I2, S_OK, I2(-32768)},
      {R4(-32769), VT_I2, DISP_E_OVERFLOW, {}},
      {R4(1e10), VT_I4, DISP_E_OVERFLOW, {}},
      {R4(2147483647.0), VT_I4, DISP_E_OVERFLOW, {}},  // the float is 2^31
      {R4(INFINITY), VT_I2, DISP_E_OVERFLOW, {}},
      // Integer narrowing and widening.
      {I4(32767), VT_I2, S_OK, I2(32767)},
      {I4(32768), VT_I2, DISP_E_OVERFLOW, {}},
      {I4(-32769), VT_I2, DISP_E_OVERFLOW, {}},
      {I4(16777217), VT_R4, S_OK, R4(16777216)},
      {I2(-32768), VT_I4, S_OK, I4(-32768)},
      // Text to numbers: sign, blanks around, fraction, exponent; nothing else.
      {Str(u"15"), VT_R4, S_OK, R4(15)},
      {Str(u" 15 "), VT_I4, S_OK, I4(15)},
      {Str(u"\t15\u3000"), VT_I2, S_OK, I2(15)},
      {Str(u"-15"), VT_R4, S_OK, R4(-15)},
      {Str(u"- 15"), VT_I2, S_OK, I2(-15)},
      {Str(u"15.5"), VT_I2, S_OK, I2(16)},
      {Str(u"2.5"), VT_I4, S_OK, I4(2)},
      {Str(u"-2.5"), VT_I2, S_OK, I2(-2)},
      {Str(u"1e3"), VT_I2, S_OK, I2(1000)},
      {Str(u"1E-2"), VT_R4, S_OK, R4(0.01)},
      {Str(u"1."), VT_I2, S_OK, I2(1)},
      {Str(u".5"), VT_R4, S_OK, R4(0.5)},
      {Str(u"-.5"), VT_I2, S_OK, I2(0)},
      {Str(u"-0"), VT_I2, S_OK, I2(0)},
      {Str(u"32768"), VT_I2, DISP_E_OVERFLOW, {}},
      {Str(u"32767.5"), VT_I2, DISP_E_OVERFLOW, {}},
      {Str(u"-32768.5"), VT_I2, S_OK, I2(-32768)},
      {Str(u"2147483646.5"), VT_I4, S_OK, I4(2147483646)},
      {Str(u"2147483647.5"), VT_I4, DISP_E_OVERFLOW, {}},
      {Str(u"12345678901"), VT_I4, DISP_E_OVERFLOW, {}},
      {Str(u"1E40"), VT_R4, DISP_E_OVERFLOW, {}},
      // Up to half a unit beyond the largest float rounds to it; our own text for it comes back.
      {Str(u"3.4028235E+38"), VT_R4, S_OK, R4(FLT_MAX)},
      {Str(u"3.4028236E+38"), VT_R4, DISP_E_OVERFLOW, {}},
      {Str(u"1e400"), VT_R4, DISP_E_OVERFLOW, {}},
      {Str(u"1e-39"), VT_R4, S_OK, R4(1e-39)},
      {Str(u"1e-46"), VT_R4, DISP_E_OVERFLOW, {}},
      {Str(u"1.5e-50"), VT_I2, S_OK, I2(0)},
      {Str(u"1e-400"), VT_I4, S_OK, I4(0)},
      {Str(u"abc"), VT_R4, DISP_E_TYPEMISMATCH, {}},
      {Str(u""), VT_I2, DISP_E_TYPEMISMATCH, {}},
      {Str(u"   "), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {Str(u"15abc"), VT_I2, DISP_E_TYPEMISMATCH, {}},
      {Str(u"1 5"), VT_I2, DISP_E_TYPEMISMATCH, {}},
      {Str(u"1.5."), VT_R4, DISP_E_TYPEMISMATCH, {}},
      {Str(u"0x10"), VT_I2, DISP_E_TYPEMISMATCH, {}},
      {Str(u"1e"), VT_R4, DISP_E_TYPEMISMATCH, {}},
      {Str(u"e5"), VT_I2, DISP_E_TYPEMISMATCH, {}},
      {Str(u"."), VT_R4, DISP_E_TYPEMISMATCH, {}},
      {Str(u"\u0663"), VT_I2, DISP_E_TYPEMISMATCH, {}},  // a non-Latin digit
      {Str(u"TRUE"), VT_I2, DISP_E_TYPEMISMATCH, {}},
      // Text to boolean: the two words, then numbers.
      {Str(u"True"), VT_BOOL, S_OK, Bool(true)},
      {Str(u"TrUe"), VT_BOOL, S_OK, Bool(true)},
      {Str(u"#TRUE#"), VT_BOOL, S_OK, Bool(true)},
      {Str(u"#FALSE#"), VT_BOOL, S_OK, Bool(false)},
      {Str(u"#true#"), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
      {Str(u" true "), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
      {Str(u"15"), VT_BOOL, S_OK, Bool(true)},
      {Str(u"0.0"), VT_BOOL, S_OK, Bool(false)},
      {Str(u"1E40"), VT_BOOL, S_OK, Bool(true)},
      {Str(u"1e-400"), VT_BOOL, S_OK, Bool(false)},
      {Str(u""), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
      // Numbers to text: 7 significant digits, "%G" layout.
      {I2(0), VT_BSTR, S_OK, Str(u"0")},
      {I2(-32768), VT_BSTR, S_OK, Str(u"-32768")},
      {I4(-2147483647 - 1), VT_BSTR, S_OK, Str(u"-2147483648")},
      {R4(0), VT_BSTR, S_OK, Str(u"0")},
      {R4(-0.0), VT_BSTR, S_OK, Str(u"0")},
      {R4(1.5), VT_BSTR, S_OK, Str(u"1.5")},
      {R4(0.1), VT_BSTR, S_OK, Str(u"0.1")},
      {R4(-0.5), VT_BSTR, S_OK, Str(u"-0.5")},
      {R4(100000), VT_BSTR, S_OK, Str(u"100000")},
      {R4(1234567), VT_BSTR, S_OK, Str(u"1234567")},
      {R4(10000000), VT_BSTR, S_OK, Str(u"1E+07")},
      {R4(123456.7), VT_BSTR, S_OK, Str(u"123456.7")},
      {R4(1e10), VT_BSTR, S_OK, Str(u"1E+10")},
      {R4(1e-10), VT_BSTR, S_OK, Str(u"1E-10")},
      {R4(1e-4), VT_BSTR, S_OK, Str(u"0.0001")},
      {R4(1e-5), VT_BSTR, S_OK, Str(u"1E-05")},
      {R4(2.5e-7), VT_BSTR, S_OK, Str(u"2.5E-07")},
      {R4(0.000123456), VT_BSTR, S_OK, Str(u"0.000123456")},
      {R4(16777216), VT_BSTR, S_OK, Str(u"1.677722E+07")},
      {R4(1234567.75), VT_BSTR, S_OK, Str(u"1234568")},
      // Booleans.
      {Bool(true), VT_BSTR, S_OK, Str(u"-1")},
      {Bool(false), VT_BSTR, S_OK, Str(u"0")},
      {Bool(true), VT_I2, S_OK, I2(-1)},
      {Bool(true), VT_R4, S_OK, R4(-1)},
      {I2(0), VT_BOOL, S_OK, Bool(false)},
      {I2(1), VT_BOOL, S_OK, Bool(true)},
      {I4(123456), VT_BOOL, S_OK, Bool(true)},
      {R4(-0.0), VT_BOOL, S_OK, Bool(false)},
      {R4(0.5), VT_BOOL, S_OK, Bool(true)},
      {R4(NAN), VT_BOOL, S_OK, Bool(true)},
      // Empty to every type, every type to empty.
      {Empty(), VT_I2, S_OK, I2(0)},
      {Empty(), VT_I4, S_OK, I4(0)},
      {Empty(), VT_R4, S_OK, R4(0)},
      {Empty(), VT_BOOL, S_OK, Bool(false)},
      {Empty(), VT_BSTR, S_OK, Str(u"")},
      {Empty(), VT_EMPTY, S_OK, Empty()},
      {Empty(), VT_ARRAY_UI1, DISP_E_TYPEMISMATCH, {}},
      {I2(5), VT_EMPTY, S_OK, Empty()},
      {Str(u"abc"), VT_EMPTY, S_OK, Empty()},
      // Byte arrays to themselves, and packed into text two bytes to a character.
      {Bytes({0x0a, 0x1b}), VT_ARRAY_UI1, S_OK, Bytes({0x0a, 0x1b})},
      {Bytes({}), VT_ARRAY_UI1, S_OK, Bytes({})},
      {Bytes({0x0a, 0x1b}), VT_I2, DISP_E_TYPEMISMATCH, {}},
      {Bytes({0x41, 0x00, 0x42, 0x00}), VT_BSTR, S_OK, Str(u"AB")},
      {Bytes({0x0a, 0x1b}), VT_EMPTY, DISP_E_TYPEMISMATCH, {}},
      {I2(1), VT_ARRAY_UI1, DISP_E_TYPEMISMATCH, {}},
      {Str(u"0a"), VT_ARRAY_UI1, S_OK, Bytes({0x30, 0x00, 0x61, 0x00})},
      // Same type: a copy.
      {Str(u"same"), VT_BSTR, S_OK, Str(u"same")},
      {R4(21.5), VT_R4, S_OK, R4(21.5)},
  };
  return rows;
}

// The decimal separator of the locale in force, as the coercion writes a number: '.' for ours
// and for the platform in an English locale, ',' in a German one.
char16_t DecimalSeparator() {
  VARIANT half = Make(R4(0.5));
  VARIANT text;
  VariantInit(&text);
  char16_t separator = 0;
  if (VariantChangeType(&text, &half, 0, VT_BSTR) == S_OK && SysStringLen(text.bstrVal) == 3) {
    separator = BstrUtf16(text.bstrVal)[1];
  }
  VariantClear(&text);
  return separator;
}

// The rows below are written in the number forms of an English locale; under another locale the
// platform reads and writes that locale's forms (NumberFormsFollowTheLocale).
#define SKIP_UNLESS_DECIMAL_POINT()                                                       \
  if (DecimalSeparator() != u'.') {                                                       \
    GTEST_SKIP() << "the locale's decimal separator is not '.': its own table checks it"; \
  }

TEST(VariantChangeType, FollowsTheCoercionRules) {
  SKIP_UNLESS_DECIMAL_POINT();
  for (const Row& row : Rows()) {
    SCOPED_TRACE(Show(row.from) + " -> vt " + std::to_string(row.to));
    VARIANT src = Make(row.from);
    VARIANT dst;
    VariantInit(&dst);
    dst.vt = VT_I4;
    dst.lVal = 0x5A5A5A5A;  // poison: a failure must leave it, a success must replace it
    HRESULT hr = VariantChangeType(&dst, &src, 0, row.to);
    EXPECT_EQ(hr, row.hr);
    if (row.hr == S_OK) {
      EXPECT_EQ(Show(dst), Show(row.expect));
    } else {
      EXPECT_EQ(Show(dst), "i4 1515870810");
    }
    EXPECT_EQ(Show(src), Show(row.from)) << "the source must not change";
    VariantClear(&src);
    VariantClear(&dst);
  }
}

// Where our own coercion (the POSIX backend's) answers differently from the platform's, on
// purpose. The Windows build checks the platform's answer, the others ours.
struct Difference {
  Val from;
  VARTYPE to;
  HRESULT ours;
  HRESULT platform;
  const char* why;
};

const Difference kDifferences[] = {
    // The platform's integer of a NaN is arbitrary (and differs between its versions); the
    // driver refuses a NaN for an integer gate itself on every platform.
    {R4(NAN), VT_I2, DISP_E_OVERFLOW, S_OK, "NaN has no integer value"},
    {R4(NAN), VT_I4, DISP_E_OVERFLOW, S_OK, "NaN has no integer value"},
    // The platform reads the forms of the user's locale, which no fixed rule could follow; ours
    // takes one plain decimal number only.
    {Str(u"1,000"), VT_I4, DISP_E_TYPEMISMATCH, S_OK, "thousands separator"},
    {Str(u"(15)"), VT_I2, DISP_E_TYPEMISMATCH, S_OK, "negative in parentheses"},
    {Str(u"$15"), VT_I2, DISP_E_TYPEMISMATCH, S_OK, "currency sign"},
    {Str(u"&H10"), VT_I2, DISP_E_TYPEMISMATCH, S_OK, "hexadecimal"},
    {Str(u"15-"), VT_I2, DISP_E_TYPEMISMATCH, S_OK, "trailing sign"},
    {Str(u"+-1"), VT_I2, DISP_E_TYPEMISMATCH, S_OK, "two signs"},
    // Text that rounds to the largest float: ours rounds as the parsed double does, Wine's
    // coercion reports an overflow.
    {Str(u"-3.40282356779733661E+38"), VT_R4, S_OK, DISP_E_OVERFLOW, "edge of the float range"},
};

TEST(VariantChangeType, DeliberateDifferencesFromThePlatform) {
  SKIP_UNLESS_DECIMAL_POINT();
#if defined(_WIN32)
  const bool platform = true;
#else
  const bool platform = false;
#endif
  for (const Difference& d : kDifferences) {
    SCOPED_TRACE(Show(d.from) + " -> vt " + std::to_string(d.to) + ": " + d.why);
    VARIANT src = Make(d.from);
    VARIANT dst;
    VariantInit(&dst);
    EXPECT_EQ(VariantChangeType(&dst, &src, 0, d.to), platform ? d.platform : d.ours);
    VariantClear(&src);
    VariantClear(&dst);
  }
}

// What the locale changes. The platform's answers (Wine's coercion, asked in an English and in a
// German locale) against ours, which knows one plain decimal number only: under a German locale
// the platform reads "21.5" as 215 (the point groups thousands there) and writes 21.5 as "21,5".
struct Answer {
  HRESULT hr;
  Val value;
};
struct LocaleRow {
  Val from;
  VARTYPE to;
  Answer ours;
  Answer english;
  Answer german;
};

TEST(VariantChangeType, NumberFormsFollowTheLocale) {
  const Answer mismatch{DISP_E_TYPEMISMATCH, {}};
  const LocaleRow rows[] = {
      {Str(u"21.5"), VT_R4, {S_OK, R4(21.5)}, {S_OK, R4(21.5)}, {S_OK, R4(215)}},
      {Str(u"21,5"), VT_R4, mismatch, {S_OK, R4(215)}, {S_OK, R4(21.5)}},
      {Str(u"1.234,5"), VT_R4, mismatch, {S_OK, R4(1.2345)}, {S_OK, R4(1234.5)}},
      {Str(u"1,234.5"), VT_R4, mismatch, {S_OK, R4(1234.5)}, {S_OK, R4(1.2345)}},
      {Str(u"21.5"), VT_I4, {S_OK, I4(22)}, {S_OK, I4(22)}, {S_OK, I4(215)}},
      {Str(u"21,5"), VT_I2, mismatch, {S_OK, I2(215)}, {S_OK, I2(22)}},
      {R4(21.5), VT_BSTR, {S_OK, Str(u"21.5")}, {S_OK, Str(u"21.5")}, {S_OK, Str(u"21,5")}},
  };
#if defined(_WIN32)
  const char16_t separator = DecimalSeparator();
  ASSERT_TRUE(separator == u'.' || separator == u',') << "a locale this table does not know";
  Answer LocaleRow::*column = separator == u'.' ? &LocaleRow::english : &LocaleRow::german;
#else
  Answer LocaleRow::*column = &LocaleRow::ours;
#endif
  for (const LocaleRow& row : rows) {
    const Answer& expected = row.*column;
    SCOPED_TRACE(Show(row.from) + " -> vt " + std::to_string(row.to));
    VARIANT src = Make(row.from);
    VARIANT dst;
    VariantInit(&dst);
    EXPECT_EQ(VariantChangeType(&dst, &src, 0, row.to), expected.hr);
    if (expected.hr == S_OK) {
      EXPECT_EQ(Show(dst), Show(expected.value));
    }
    VariantClear(&src);
    VariantClear(&dst);
  }
}

TEST(VariantChangeType, InPlaceReplacesOrKeepsTheValue) {
  SKIP_UNLESS_DECIMAL_POINT();
  for (const Row& row : Rows()) {
    SCOPED_TRACE(Show(row.from) + " -> vt " + std::to_string(row.to));
    VARIANT v = Make(row.from);
    HRESULT hr = VariantChangeType(&v, &v, 0, row.to);
    EXPECT_EQ(hr, row.hr);
    EXPECT_EQ(Show(v), row.hr == S_OK ? Show(row.expect) : Show(row.from));
    VariantClear(&v);
  }
}

// Our coercion's own guards: the system's knows every type, and never gets null from us.
TEST(VariantChangeType, RefusesTypesOutsideTheSetAndNullArguments) {
#if defined(_WIN32)
  GTEST_SKIP() << "the system's coercion takes every type and no null arguments";
#endif
  VARIANT v = Make(I2(1));
  VARIANT odd;
  VariantInit(&odd);
  odd.vt = 5;  // VT_R8: not ours
  EXPECT_EQ(VariantChangeType(&v, &v, 0, 5), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&v, &odd, 0, VT_I2), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_UI1), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(nullptr, &v, 0, VT_I2), E_INVALIDARG);
  EXPECT_EQ(VariantChangeType(&v, nullptr, 0, VT_I2), E_INVALIDARG);
  EXPECT_EQ(Show(v), "i2 1");
}

TEST(VariantChangeType, NullStringReadsAsEmptyText) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = nullptr;
  VARIANT out;
  VariantInit(&out);
  EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_I2), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(VariantChangeType(&out, &v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(SysStringLen(out.bstrVal), 0u);
  VariantClear(&out);
}

TEST(Variant, CopyIsDeepAndClearReleases) {
  VARIANT text = Make(Str(u"copy me"));
  VARIANT bytes = Make(Bytes({1, 2, 3}));
  VARIANT dst = Make(Str(u"old"));  // replaced without a leak
  ASSERT_EQ(VariantCopy(&dst, &text), S_OK);
  ASSERT_NE(dst.bstrVal, text.bstrVal);
  VariantClear(&text);
  EXPECT_EQ(Show(dst), "bstr 'copy me'");
  ASSERT_EQ(VariantCopy(&dst, &bytes), S_OK);
  ASSERT_NE(dst.parray, bytes.parray);
  ByteArrayData(bytes.parray)[0] = 9;
  EXPECT_EQ(Show(dst), "bytes 1 2 3");
  EXPECT_EQ(VariantCopy(&dst, &dst), S_OK);
  EXPECT_EQ(Show(dst), "bytes 1 2 3");
  VariantClear(&bytes);
  VariantClear(&dst);
  EXPECT_EQ(dst.vt, VT_EMPTY);
}

TEST(Variant, StringsAreCountedAndTerminated) {
  const char16_t withNul[] = {u'a', 0, u'b'};
  BSTR s = BstrFromUtf16(withNul, 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(BstrUtf16(s)[1], 0);
  EXPECT_EQ(BstrUtf16(s)[3], 0);
  SysFreeString(s);

  BSTR zeroed = BstrFromUtf16(nullptr, 4);
  ASSERT_NE(zeroed, nullptr);
  EXPECT_EQ(SysStringLen(zeroed), 4u);
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(BstrUtf16(zeroed)[i], 0);
  SysFreeString(zeroed);

  BSTR counted = BstrFromUtf16(u"hello\0ignored", 5);
  EXPECT_EQ(SysStringLen(counted), 5u);
  SysFreeString(counted);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);

  // A length whose byte count does not fit the header is refused, not wrapped.
  EXPECT_EQ(BstrFromUtf16(nullptr, 0x80000000u), nullptr);
  EXPECT_EQ(BstrFromUtf16(nullptr, 0xFFFFFFFFu), nullptr);
}

}  // namespace
