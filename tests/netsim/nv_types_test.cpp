// Wire encodings, scaling, rounding, text and VARIANT forms of the standard types.
#include "netsim/nv_types.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <sstream>

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
  in.bstrVal = BstrFromUtf16(text.data(), static_cast<uint32_t>(text.size()));
  ASSERT_TRUE(VariantToRaw(str, -1, in, &raw, &error)) << error;
  EXPECT_EQ(raw[3], 0xE9);
  VARIANT out = Poisoned();
  ASSERT_TRUE(RawToVariant(str, -1, raw, VT_BSTR, &out, &error));
  EXPECT_EQ(std::u16string(BstrUtf16(out.bstrVal), SysStringLen(out.bstrVal)), text);
  VariantClear(&out);
  VariantClear(&in);

  // 30 characters fit, 31 do not; a character beyond ISO 8859-1 does not either.
  for (auto [chars, ok] : {std::pair{30u, true}, std::pair{31u, false}}) {
    in.vt = VT_BSTR;
    in.bstrVal = BstrFromUtf16(std::u16string(chars, u'x').data(), chars);
    EXPECT_EQ(VariantToRaw(str, -1, in, &raw, &error), ok) << chars;
    VariantClear(&in);
  }
  in.vt = VT_BSTR;
  in.bstrVal = BstrFromUtf16(u"\u20ac", 1);
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
  ASSERT_EQ(ByteArraySize(out.parray), 1u);
  EXPECT_EQ(ByteArrayData(out.parray)[0], 0x01);
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

int FieldIndex(const TypeDef& t, const std::string& name) {
  for (size_t i = 0; i < t.fields.size(); ++i) {
    if (t.fields[i].name == name) return static_cast<int>(i);
  }
  ADD_FAILURE() << t.name << " has no field " << name;
  return 0;
}

// Bit fields share their byte: a write changes only its bits, its raw form is its value in one
// byte. A character array inside a structure is a text field, quoted in the structure's text.
TEST(StandardTypes, BitFieldsAndTextFieldsKeepTheirNeighbours) {
  const TypeDef& lamp = T("SNVT_lamp_status");
  int failure = FieldIndex(lamp, "alarm_actual_lamp_failure");     // bit 6 of byte 6
  int ballast = FieldIndex(lamp, "alarm_actual_ballast_failure");  // bit 7 of byte 6
  Bytes raw(lamp.length, 0);
  raw[6] = 0x01;
  std::string error;
  ASSERT_TRUE(TextToRaw(lamp, failure, "1", &raw, &error)) << error;
  EXPECT_EQ(raw[6], 0x03);
  EXPECT_EQ(RawToText(lamp, ballast, raw), "1");
  EXPECT_FALSE(EngineeringToRaw(lamp, failure, 2, &raw, &error));
  EXPECT_EQ(raw[6], 0x03);
  EXPECT_EQ(FieldBytes(lamp, failure, raw), Bytes{0x01});
  const uint8_t zero = 0;
  ASSERT_TRUE(SetFieldBytes(lamp, failure, &zero, 1, &raw, &error));
  EXPECT_EQ(raw[6], 0x01);
  EXPECT_TRUE(FieldDiffers(lamp, ballast, raw, Bytes(lamp.length, 0)));
  EXPECT_FALSE(FieldDiffers(lamp, failure, raw, Bytes(lamp.length, 0)));

  const TypeDef& alarm = T("SNVT_alarm_2");
  Bytes a(alarm.length, 0);
  ASSERT_TRUE(
      TextToRaw(alarm, -1, "AL_ALM_CONDITION PR_LEVEL_1 0 0 7 \"Filter dirty\"", &a, &error))
      << error;
  EXPECT_EQ(RawToText(alarm, -1, a), "AL_ALM_CONDITION PR_LEVEL_1 0 0 7 \"Filter dirty\"");
  EXPECT_EQ(RawToText(alarm, FieldIndex(alarm, "description"), a), "Filter dirty");
  EXPECT_FALSE(TextToRaw(alarm, FieldIndex(alarm, "milliseconds"), "1000", &a, &error));
  EXPECT_NE(error.find("field milliseconds: value 1000 out of range -1 to 999"), std::string::npos)
      << error;
}

uint8_t BitsOf(const FieldDef& f) {
  return f.bits ? static_cast<uint8_t>(((1u << f.bits) - 1) << (8 - f.bitOffset - f.bits)) : 0xFF;
}

// A union's branches start at the union's offset and share its bytes: the type is as large as
// its largest branch, and writing one branch's field changes what the others read.
TEST(StandardTypes, UnionBranchesOverlapAsOnTheWire) {
  const TypeDef& sw = T("SNVT_switch_2");
  EXPECT_EQ(sw.length, 3u);
  int value = FieldIndex(sw, "setting_value");
  int angle = FieldIndex(sw, "setting_angle");
  int fan = FieldIndex(sw, "setting_fan_level");
  int scene = FieldIndex(sw, "scene_number");
  ASSERT_GE(std::min({value, angle, fan, scene}), 0);
  EXPECT_EQ(sw.fields[value].pos, 1u);
  EXPECT_EQ(sw.fields[angle].pos, 1u);
  EXPECT_EQ(sw.fields[scene].pos, 2u);
  Bytes raw(sw.length, 0);
  raw[2] = 7;
  std::string error;
  ASSERT_TRUE(TextToRaw(sw, fan, "-100", &raw, &error)) << error;
  EXPECT_EQ(raw, (Bytes{0x00, 0x9C, 0x07}));  // the scene number beside it stays
  EXPECT_EQ(RawToText(sw, angle, raw), "-200");
  ASSERT_TRUE(TextToRaw(sw, value, "50", &raw, &error)) << error;
  EXPECT_EQ(RawToText(sw, fan, raw), "100");
  EXPECT_TRUE(FieldDiffers(sw, angle, raw, Bytes{0x00, 0x9C, 0x07}));
  EXPECT_FALSE(FieldDiffers(sw, scene, raw, Bytes{0x00, 0x9C, 0x07}));

  const TypeDef& fs = T("SNVT_file_status");
  EXPECT_EQ(fs.length, 27u);
  int size = FieldIndex(fs, "adr_descriptor_size");          // bytes 21..24
  int info = FieldIndex(fs, "adr_descriptor_file_info[6]");  // byte 11
  int length = FieldIndex(fs, "adr_address_domain_length");  // byte 11
  int domain = FieldIndex(fs, "adr_address_domain_id[0]");   // byte 5
  int type = FieldIndex(fs, "adr_descriptor_type_");         // bytes 25..26
  ASSERT_GE(std::min({size, info, length, domain, type}), 0);
  EXPECT_EQ(fs.fields[size].pos, 21u);
  EXPECT_EQ(fs.fields[type].pos + fs.fields[type].size, 27u);
  EXPECT_EQ(fs.fields[domain].pos, 5u);
  Bytes f(fs.length, 0);
  ASSERT_TRUE(TextToRaw(fs, length, "6", &f, &error)) << error;
  EXPECT_EQ(f[11], 6);
  EXPECT_EQ(RawToText(fs, info, f), "6");
  ASSERT_TRUE(TextToRaw(fs, info, "-1", &f, &error)) << error;
  EXPECT_EQ(f[11], 0xFF);
  EXPECT_EQ(Bytes(f.begin() + 21, f.end()), Bytes(6, 0));
}

// What a refused value is told: the limits it is held to (the type's, or what the wire holds for
// a device's report), that it lies beyond the raw range where it does, and an enumeration's
// constants. The value stays as it was.
TEST(StandardTypes, RefusalsNameTheLimitsAndTheConstants) {
  struct Case {
    const char* type;
    const char* field;  // "" for the whole NV
    const char* text;
    Limits check;
    const char* message;
  } cases[] = {
      {"SNVT_temp_p", "", "400", Limits::kType,
       "value 400 out of range -273.17 to 327.67 and beyond the raw range -327.68 to 327.67"},
      {"SNVT_temp_p", "", "-300", Limits::kType, "value -300 out of range -273.17 to 327.67"},
      {"SNVT_temp_p", "", "-400", Limits::kType,
       "value -400 out of range -273.17 to 327.67 and beyond the raw range -327.68 to 327.67"},
      {"SNVT_temp_p", "", "400", Limits::kWire,
       "value 400 out of range -327.68 to 327.67 (the raw range)"},
      {"SNVT_lamp_status", "alarm_actual_lamp_failure", "2", Limits::kWire,
       "field alarm_actual_lamp_failure: value 2 out of range 0 to 1 (a field of 1 bit)"},
      {"SNVT_lamp_status", "alarm_actual_lamp_failure", "2", Limits::kType,
       "field alarm_actual_lamp_failure: value 2 out of range 0 to 1 (a field of 1 bit)"},
      {"SNVT_occupancy", "", "OC_BUSY", Limits::kType,
       "'OC_BUSY' is not a constant of the enumeration occup_t (constants: OC_NUL, OC_OCCUPIED, "
       "OC_UNOCCUPIED, OC_BYPASS, OC_STANDBY)"},
      {"SNVT_hvac_mode", "", "HVAC_WARM", Limits::kWire,
       "'HVAC_WARM' is not a constant of the enumeration hvac_t (22 constants; the nearest: "},
  };
  for (const Case& c : cases) {
    const TypeDef& t = T(c.type);
    int field = *c.field ? FieldIndex(t, c.field) : -1;
    Bytes raw(t.length, 0);
    std::string error;
    EXPECT_FALSE(TextToRaw(t, field, c.text, &raw, &error, c.check)) << c.text;
    EXPECT_EQ(error.substr(0, std::strlen(c.message)), c.message);
    EXPECT_EQ(raw, Bytes(t.length, 0));
  }
}

// A type's layout in short: index, length, then per field name:base*scale+offset@pos.
std::string Describe(const TypeDef& t) {
  static const char* kBase[] = {"u8", "s8", "u16", "s16", "u32", "s32", "f32", "e8", "text"};
  std::ostringstream out;
  out << t.index << " " << t.length << (t.structured ? " struct" : "");
  for (const FieldDef& f : t.fields) {
    out << " " << f.name << ":" << kBase[static_cast<int>(f.base)];
    if (f.scale != 1) out << "*" << f.scale;
    if (f.offset != 0) out << "+" << f.offset;
    out << "@" << f.pos;
  }
  return out.str();
}

// The types a network file could name before the whole standard set came in keep their layout,
// scaling and constant names, so that existing networks and gates read the same values.
TEST(StandardTypes, KeepTheLayoutOfTheTypesKnownBefore) {
  const std::pair<const char*, const char*> known[] = {
      {"SNVT_amp", "1 2 :s16*0.1@0"},
      {"SNVT_count", "8 2 :u16@0"},
      {"SNVT_count_inc", "9 2 :s16@0"},
      {"SNVT_elec_kwh", "13 2 :u16@0"},
      {"SNVT_flow", "15 2 :u16@0"},
      {"SNVT_lev_cont", "21 1 :u8*0.5@0"},
      {"SNVT_lev_disc", "22 1 :e8@0"},
      {"SNVT_power", "27 2 :u16*0.1@0"},
      {"SNVT_ppm", "29 2 :u16@0"},
      {"SNVT_str_asc", "36 31 :text@0"},
      {"SNVT_temp", "39 2 :u16*0.1+-274@0"},
      {"SNVT_volt", "44 2 :s16*0.1@0"},
      {"SNVT_count_f", "51 4 :f32@0"},
      {"SNVT_temp_f", "63 4 :f32@0"},
      {"SNVT_lux", "79 2 :u16@0"},
      {"SNVT_lev_percent", "81 2 :s16*0.005@0"},
      {"SNVT_switch", "95 2 struct value:u8*0.5@0 state:s8@1"},
      {"SNVT_rpm", "102 2 :u16@0"},
      {"SNVT_temp_p", "105 2 :s16*0.01@0"},
      {"SNVT_temp_setpt",
       "106 12 struct occupied_cool:s16*0.01@0 standby_cool:s16*0.01@2 "
       "unoccupied_cool:s16*0.01@4 occupied_heat:s16*0.01@6 standby_heat:s16*0.01@8 "
       "unoccupied_heat:s16*0.01@10"},
      {"SNVT_time_sec", "107 2 :u16*0.1@0"},
      {"SNVT_hvac_mode", "108 1 :e8@0"},
      {"SNVT_occupancy", "109 1 :e8@0"},
      {"SNVT_press_p", "113 2 :s16@0"},
  };
  for (const auto& [name, layout] : known) EXPECT_EQ(Describe(T(name)), layout);
  EXPECT_TRUE(T("SNVT_switch").switchLike);
  const std::pair<const char*, std::vector<const char*>> constants[] = {
      {"SNVT_occupancy", {"OC_NUL", "OC_OCCUPIED", "OC_UNOCCUPIED", "OC_BYPASS", "OC_STANDBY"}},
      {"SNVT_hvac_mode",
       {"HVAC_NUL", "HVAC_AUTO", "HVAC_HEAT", "HVAC_MRNG_WRMUP", "HVAC_COOL", "HVAC_NIGHT_PURGE",
        "HVAC_PRE_COOL", "HVAC_OFF", "HVAC_TEST", "HVAC_EMERG_HEAT", "HVAC_FAN_ONLY",
        "HVAC_FREE_COOL"}},
      {"SNVT_lev_disc", {"ST_NUL", "ST_OFF", "ST_LOW", "ST_MED", "ST_HIGH", "ST_ON"}},
  };
  for (const auto& [type, names] : constants) {
    const std::vector<EnumItem>& e = *T(type).fields[0].enums;
    for (size_t i = 0; i < names.size(); ++i) {
      ASSERT_LT(i, e.size());
      EXPECT_STREQ(e[i].name, names[i]);
      EXPECT_EQ(e[i].value, static_cast<int>(i) - 1);
    }
  }
}

// Every type of the standard set: its fields cover its bytes, and only the branches of one
// union share bits, under names an address can carry; each limit survives engineering -> raw ->
// engineering within half a scale step, a value just below the minimum is refused, and each
// enumeration constant round-trips.
TEST(StandardTypes, EveryTypeLaysOutItsBytesAndKeepsItsLimitsAndConstants) {
  ASSERT_EQ(StandardTypes().size(), 210u);
  for (const TypeDef& t : StandardTypes()) {
    SCOPED_TRACE(t.name);
    EXPECT_EQ(FindStandardType(t.name), &t);
    std::vector<uint8_t> used(t.length, 0);
    uint32_t covered = 0;
    std::set<std::string> names;
    ASSERT_LE(t.fields.size(), 256u);  // an NV-field index travels in one byte
    for (size_t n = 0; n < t.fields.size(); ++n) {
      const FieldDef& f = t.fields[n];
      ASSERT_LE(f.pos + f.size, t.length) << f.name;
      uint8_t mask = BitsOf(f);
      for (size_t m = 0; m < n; ++m) {
        const FieldDef& g = t.fields[m];
        bool shared = g.pos < f.pos + f.size && f.pos < g.pos + g.size && (BitsOf(g) & mask);
        bool branches = f.unionId && f.unionId == g.unionId && f.branch != g.branch;
        EXPECT_TRUE(!shared || branches) << f.name << " overlaps " << g.name;
      }
      for (uint32_t i = f.pos; i < f.pos + f.size; ++i) {
        covered += used[i] == 0;
        used[i] |= mask;
      }
      EXPECT_EQ(f.name.empty(), !t.structured);
      EXPECT_EQ(f.name.find_first_of("./# \t"), std::string::npos) << f.name;
      EXPECT_TRUE(names.insert(f.name).second) << f.name;
    }
    EXPECT_EQ(covered, t.length);

    for (size_t i = 0; i < t.fields.size(); ++i) {
      const FieldDef& f = t.fields[i];
      int field = t.structured ? static_cast<int>(i) : -1;
      std::string error;
      if (f.base == Base::kText) continue;
      const std::pair<uint8_t, double> limits[] = {
          {kHasMin, f.min}, {kHasMax, f.max}, {kHasInvalid, f.invalid}};
      for (auto [flag, value] : limits) {
        if (!(f.limits & flag)) continue;
        Bytes raw(t.length, 0);
        ASSERT_TRUE(EngineeringToRaw(t, field, value, &raw, &error)) << f.name << " " << error;
        double back = 0;
        ASSERT_TRUE(RawToEngineering(t, field, raw, &back));
        double step = f.base == Base::kFloat32 ? std::fabs(value) * 1e-6 : f.scale / 2;
        EXPECT_NEAR(back, value, step) << f.name;
      }
      bool integral = f.base != Base::kFloat32 && !f.enums && f.bits == 0;
      if (integral && (f.limits & kHasMin)) {
        double below = f.min - f.scale;
        if (!(f.limits & kHasInvalid) || std::fabs(below - f.invalid) > f.scale / 2) {
          Bytes raw(t.length, 0);
          EXPECT_FALSE(EngineeringToRaw(t, field, below, &raw, &error)) << f.name << " " << below;
          EXPECT_NE(error.find(f.name), std::string::npos) << error;
        }
      }
      if (f.enums) {
        for (const EnumItem& e : *f.enums) {
          Bytes raw(t.length, 0);
          ASSERT_TRUE(TextToRaw(t, field, e.name, &raw, &error)) << e.name << " " << error;
          EXPECT_EQ(RawToText(t, field, raw), e.name);
        }
      }
    }
  }
}

}  // namespace
}  // namespace lonsim
