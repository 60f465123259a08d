// Wire encodings, scaling, rounding, text and VARIANT forms of the standard types.
#include "netsim/nv_types.h"

#include <gtest/gtest.h>

#include <cmath>

namespace lonsim {
namespace {

using Bytes = std::vector<uint8_t>;

const TypeDef& T(const char* name) {
  const TypeDef* t = FindStandardType(name);
  EXPECT_NE(t, nullptr) << name;
  return *t;
}

VARIANT Poisoned() {
  VARIANT v;
  VariantInit(&v);
  v.vt = 0x7777;
  v.lVal = 0x5A5A5A5A;
  return v;
}

TEST(NvTypes, EncodesEngineeringValuesBigEndianAndBack) {
  struct Case {
    const char* type;
    int field;
    double value;
    Bytes raw;
  } cases[] = {
      {"SNVT_temp_p", -1, 21.5, {0x08, 0x66}},
      {"SNVT_temp_p", -1, -10.25, {0xFB, 0xFF}},
      {"SNVT_temp_p", -1, 327.67, {0x7F, 0xFF}},
      {"SNVT_temp", -1, 20.0, {0x0B, 0x7C}},  // 0.1 degC above -274
      {"SNVT_temp", -1, -274.0, {0x00, 0x00}},
      {"SNVT_lev_percent", -1, 50.0, {0x27, 0x10}},
      {"SNVT_lev_percent", -1, -0.005, {0xFF, 0xFF}},
      {"SNVT_count", -1, 65535, {0xFF, 0xFF}},
      {"SNVT_lev_cont", -1, 100, {0xC8}},
      {"SNVT_count_f", -1, 1.5, {0x3F, 0xC0, 0x00, 0x00}},
      {"SNVT_switch", -1, 50, {0x64, 0x01}},  // a scalar sets value and state
      {"SNVT_switch", -1, 0, {0x00, 0x00}},
      {"SNVT_switch", 1, -1, {0x00, 0xFF}},
      {"SNVT_temp_setpt", 3, 21.0, {0, 0, 0, 0, 0, 0, 0x08, 0x34, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const TypeDef& t = T(c.type);
    Bytes raw(t.length, 0);
    std::string error;
    ASSERT_TRUE(EngineeringToRaw(t, c.field, c.value, &raw, &error)) << c.type << " " << error;
    EXPECT_EQ(raw, c.raw) << c.type << " " << c.value;
    double back = -999;
    ASSERT_TRUE(RawToEngineering(t, c.field, raw, &back));  // a structure reads as field 0
    EXPECT_NEAR(back, c.value, 1e-9) << c.type;
  }
}

TEST(NvTypes, RefusesValuesOutsideTheWireRangeAndKeepsTheOldValue) {
  struct Case {
    const char* type;
    double value;
  } cases[] = {
      {"SNVT_temp_p", 327.68}, {"SNVT_temp_p", -327.69}, {"SNVT_count", -1},
      {"SNVT_count", 65536},   {"SNVT_temp", -274.1},    {"SNVT_lev_percent", 163.84},
      {"SNVT_switch", 128},    {"SNVT_count", NAN},      {"SNVT_count_f", INFINITY},
  };
  for (const Case& c : cases) {
    const TypeDef& t = T(c.type);
    Bytes raw(t.length, 0x11);
    std::string error;
    EXPECT_FALSE(EngineeringToRaw(t, -1, c.value, &raw, &error)) << c.type << " " << c.value;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(raw, Bytes(t.length, 0x11)) << c.type;
  }
}

TEST(NvTypes, RoundsToTheResolutionOnWriteAndToIntegersOnRead) {
  const TypeDef& t = T("SNVT_temp_p");
  Bytes raw(2);
  std::string error;
  ASSERT_TRUE(EngineeringToRaw(t, -1, 21.555, &raw, &error));
  EXPECT_EQ(raw, (Bytes{0x08, 0x6C}));  // 2156
  ASSERT_TRUE(EngineeringToRaw(t, -1, 21.554, &raw, &error));
  EXPECT_EQ(raw, (Bytes{0x08, 0x6B}));  // 2155

  struct Case {
    double value;
    VARTYPE vt;
    double expected;
  } cases[] = {{21.5, VT_I2, 22},   {-21.5, VT_I2, -22}, {21.49, VT_I4, 21},
               {0.01, VT_BOOL, -1}, {0, VT_BOOL, 0},     {-3.25, VT_R4, -3.25}};
  for (const Case& c : cases) {
    ASSERT_TRUE(EngineeringToRaw(t, -1, c.value, &raw, &error));
    VARIANT v = Poisoned();
    ASSERT_TRUE(RawToVariant(t, -1, raw, c.vt, &v, &error)) << error;
    ASSERT_EQ(v.vt, c.vt);
    double got = c.vt == VT_I2     ? v.iVal
                 : c.vt == VT_I4   ? v.lVal
                 : c.vt == VT_BOOL ? v.boolVal
                                   : v.fltVal;
    EXPECT_EQ(got, c.expected) << c.value << " as " << c.vt;
  }

  // 65535 does not fit a 16-bit integer: the read fails and leaves the output alone.
  Bytes big{0xFF, 0xFF};
  VARIANT v = Poisoned();
  EXPECT_FALSE(RawToVariant(T("SNVT_count"), -1, big, VT_I2, &v, &error));
  EXPECT_EQ(v.vt, 0x7777);
  ASSERT_TRUE(RawToVariant(T("SNVT_count"), -1, big, VT_I4, &v, &error));
  EXPECT_EQ(v.lVal, 65535);
}

TEST(NvTypes, FormatsTextWithTheTypesResolution) {
  struct Case {
    const char* type;
    int field;
    Bytes raw;
    const char* text;
  } cases[] = {
      {"SNVT_temp_p", -1, {0x08, 0x66}, "21.5"},
      {"SNVT_temp_p", -1, {0x08, 0x34}, "21"},
      {"SNVT_temp_p", -1, {0xFF, 0xFB}, "-0.05"},
      {"SNVT_temp", -1, {0x00, 0x00}, "-274"},
      {"SNVT_lev_percent", -1, {0x00, 0x07}, "0.035"},
      {"SNVT_switch", -1, {0xC8, 0x01}, "100 1"},
      {"SNVT_switch", 1, {0xC8, 0xFF}, "-1"},
      {"SNVT_occupancy", -1, {0x02}, "OC_BYPASS"},
      {"SNVT_occupancy", -1, {0xFF}, "OC_NUL"},
      {"SNVT_occupancy", -1, {0x05}, "5"},  // no name: the number
      {"SNVT_count_f", -1, {0x3F, 0xC0, 0x00, 0x00}, "1.5"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RawToText(T(c.type), c.field, c.raw), c.text) << c.type;
    Bytes back(T(c.type).length, 0);
    std::string error;
    ASSERT_TRUE(TextToRaw(T(c.type), c.field, c.text, &back, &error)) << c.text << ": " << error;
    if (c.field < 0) {
      EXPECT_EQ(back, c.raw) << c.text;
    }
  }
}

TEST(NvTypes, ParsesTextStrictly) {
  struct Case {
    const char* type;
    const char* text;
    bool ok;
  } cases[] = {
      {"SNVT_temp_p", " 21.5 ", true},
      {"SNVT_temp_p", "+21.5", true},
      {"SNVT_temp_p", "21,5", false},
      {"SNVT_temp_p", "21.5x", false},
      {"SNVT_temp_p", "", false},
      {"SNVT_occupancy", "oc_standby", true},
      {"SNVT_occupancy", "OC_SLEEPING", false},
      {"SNVT_switch", "100 1", true},
      {"SNVT_switch", "100", true},
      {"SNVT_switch", "100 1 0", false},
      {"SNVT_switch", "on 1", false},
      {"SNVT_temp_setpt", "1 2 3 4 5", false},
  };
  for (const Case& c : cases) {
    const TypeDef& t = T(c.type);
    Bytes raw(t.length, 0x22);
    std::string error;
    EXPECT_EQ(TextToRaw(t, -1, c.text, &raw, &error), c.ok) << c.type << " '" << c.text << "'";
    if (!c.ok) {
      EXPECT_EQ(raw, Bytes(t.length, 0x22));
      EXPECT_FALSE(error.empty());
    }
  }
}

TEST(NvTypes, CarriesTextAndRawBytesThroughVariants) {
  const TypeDef& str = T("SNVT_str_asc");
  Bytes raw(str.length, 0);
  std::string error;
  VARIANT in;
  VariantInit(&in);
  in.vt = VT_BSTR;
  std::u16string text = u"Caf\u00e9 au lait";
  in.bstrVal = SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
  ASSERT_TRUE(VariantToRaw(str, -1, in, &raw, &error)) << error;
  EXPECT_EQ(raw[3], 0xE9);
  VARIANT out = Poisoned();
  ASSERT_TRUE(RawToVariant(str, -1, raw, VT_BSTR, &out, &error));
  EXPECT_EQ(std::u16string(out.bstrVal, SysStringLen(out.bstrVal)), text);
  VariantClear(&out);
  VariantClear(&in);

  // 30 characters fit, 31 do not; a character beyond ISO 8859-1 does not either.
  for (auto [chars, ok] : {std::pair{30u, true}, std::pair{31u, false}}) {
    in.vt = VT_BSTR;
    in.bstrVal = SysAllocStringLen(std::u16string(chars, u'x').data(), chars);
    EXPECT_EQ(VariantToRaw(str, -1, in, &raw, &error), ok) << chars;
    VariantClear(&in);
  }
  in.vt = VT_BSTR;
  in.bstrVal = SysAllocStringLen(u"\u20ac", 1);
  EXPECT_FALSE(VariantToRaw(str, -1, in, &raw, &error));
  VariantClear(&in);

  // Raw bytes: exactly the length for numbers, up to it (zero-padded) for text.
  const uint8_t bytes[] = {0x08, 0x66, 0x01};
  in.vt = VT_ARRAY_UI1;
  in.parray = ByteArrayCreate(bytes, 2);
  Bytes temp(2, 0);
  ASSERT_TRUE(VariantToRaw(T("SNVT_temp_p"), -1, in, &temp, &error));
  EXPECT_EQ(temp, (Bytes{0x08, 0x66}));
  ASSERT_TRUE(VariantToRaw(str, -1, in, &raw, &error));
  EXPECT_EQ(raw[0], 0x08);
  EXPECT_EQ(raw[2], 0x00);
  VariantClear(&in);
  in.vt = VT_ARRAY_UI1;
  in.parray = ByteArrayCreate(bytes, 3);
  EXPECT_FALSE(VariantToRaw(T("SNVT_temp_p"), -1, in, &temp, &error));
  VariantClear(&in);

  // A field's raw form is the field's bytes alone.
  Bytes sw{0xC8, 0x01};
  out = Poisoned();
  ASSERT_TRUE(RawToVariant(T("SNVT_switch"), 1, sw, VT_ARRAY_UI1, &out, &error));
  ASSERT_EQ(out.parray->size, 1u);
  EXPECT_EQ(out.parray->data[0], 0x01);
  VariantClear(&out);
}

TEST(NvTypes, WritesBooleansToSwitchesAsOnAndOff) {
  const TypeDef& sw = T("SNVT_switch");
  Bytes raw{0x10, 0x00};
  std::string error;
  VARIANT b;
  VariantInit(&b);
  b.vt = VT_BOOL;
  b.boolVal = VARIANT_TRUE;
  ASSERT_TRUE(VariantToRaw(sw, -1, b, &raw, &error));
  EXPECT_EQ(raw, (Bytes{0xC8, 0x01}));
  b.boolVal = VARIANT_FALSE;
  ASSERT_TRUE(VariantToRaw(sw, -1, b, &raw, &error));
  EXPECT_EQ(raw, (Bytes{0x00, 0x00}));
  VARIANT empty;
  VariantInit(&empty);
  EXPECT_FALSE(VariantToRaw(sw, -1, empty, &raw, &error));
}

TEST(NvTypes, AcceptsOnlyTheFiveFormats) {
  const VARTYPE all[] = {VT_EMPTY, VT_I2,  VT_I4, VT_R4,  VT_BSTR,
                         VT_BOOL,  VT_UI1, 9,     0x2002, VT_ARRAY_UI1};
  for (VARTYPE vt : all) {
    bool usual = vt == VT_I2 || vt == VT_I4 || vt == VT_R4 || vt == VT_BOOL || vt == VT_BSTR ||
                 vt == VT_ARRAY_UI1;
    EXPECT_EQ(FormatAccepted(T("SNVT_temp_p"), -1, vt), usual) << vt;
    EXPECT_EQ(FormatAccepted(T("SNVT_switch"), 1, vt), usual) << vt;
    EXPECT_EQ(FormatAccepted(T("SNVT_str_asc"), -1, vt), vt == VT_BSTR || vt == VT_ARRAY_UI1) << vt;
  }
  EXPECT_FALSE(FormatAccepted(T("SNVT_switch"), 2, VT_R4));
  EXPECT_FALSE(FormatAccepted(T("SNVT_temp_p"), 0, VT_R4));  // a scalar has no fields
}

}  // namespace
}  // namespace lonsim
