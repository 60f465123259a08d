// Host value cells and text buffers to and from VARIANTs.
#include "lon/value_conversion.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "host/kest_host.h"
#include "platform/text.h"
#include "tests/support/variant_values.h"

namespace {

using Cell = std::array<uint8_t, 4>;
constexpr uint8_t kPoison = 0xAA;

Cell Poisoned() {
  return {kPoison, kPoison, kPoison, kPoison};
}
Cell Half(uint16_t v) {
  return {0, 0, uint8_t(v & 0xFF), uint8_t(v >> 8)};
}

class ValueConversion : public ::testing::Test {
 protected:
  void SetUp() override { kesthost::Reset(); }
};

TEST_F(ValueConversion, GateTypesMapToVariantTypes) {
  const VARTYPE expected[] = {VT_I2, VT_I2,   VT_I2,   VT_R4,    VT_I4,
                              VT_I4, VT_BOOL, VT_BSTR, VT_EMPTY, VT_EMPTY};
  for (uint32_t type = 0; type < 10; ++type) {
    EXPECT_EQ(GateTypeToVariantType(type), expected[type]) << "gate type " << type;
  }
  EXPECT_EQ(GateTypeToVariantType(0x10002), VT_EMPTY);
}

TEST_F(ValueConversion, BcdEncodingPacksDigits) {
  const struct {
    int16_t value;
    uint16_t bcd;
  } rows[] = {{1234, 0x1234}, {9999, 0x9999}, {0, 0}, {7, 0x0007}, {907, 0x0907}, {5060, 0x5060}};
  for (const auto& row : rows) {
    VARIANT v = OfI2(row.value);
    Cell cell = Poisoned();
    ASSERT_EQ(VariantToKestValue(&v, kGateBcd, cell.data(), nullptr), 1) << row.value;
    EXPECT_EQ(cell, Half(row.bcd)) << row.value;
  }
}

TEST_F(ValueConversion, BcdDecodingTakesNibblesUnchecked) {
  const struct {
    uint16_t bcd;
    int16_t value;
  } rows[] = {{0x1234, 1234}, {0x9999, 9999},  {0x00AF, 115},
              {0, 0},         {0xFFFF, 16665}, {0x0900, 900}};
  for (const auto& row : rows) {
    Cell cell = Half(row.bcd);
    VARIANT v;
    VariantInit(&v);
    ASSERT_EQ(KestToVariantValue(cell.data(), kGateBcd, &v), 1);
    EXPECT_EQ(v.vt, VT_I2);
    EXPECT_EQ(v.iVal, row.value) << std::hex << row.bcd;
  }
}

TEST_F(ValueConversion, CellLayoutPerGateType) {
  // 16-bit values sit in bytes 2..3 with bytes 0..1 zero; 32-bit values fill the cell.
  VARIANT i2 = OfI2(-2);
  Cell cell = Poisoned();
  ASSERT_EQ(VariantToKestValue(&i2, kGateInt16b, cell.data(), nullptr), 1);
  EXPECT_EQ(cell, (Cell{0, 0, 0xFE, 0xFF}));

  VARIANT i4;
  VariantInit(&i4);
  i4.vt = VT_I4;
  i4.lVal = 0x01020304;
  cell = Poisoned();
  ASSERT_EQ(VariantToKestValue(&i4, kGateInt32b, cell.data(), nullptr), 1);
  EXPECT_EQ(cell, (Cell{4, 3, 2, 1}));

  VARIANT r4;
  VariantInit(&r4);
  r4.vt = VT_R4;
  r4.fltVal = 21.5f;
  cell = Poisoned();
  ASSERT_EQ(VariantToKestValue(&r4, kGateFloat, cell.data(), nullptr), 1);
  float back;
  std::memcpy(&back, cell.data(), 4);
  EXPECT_EQ(back, 21.5f);

  // And back from the cell.
  const struct {
    uint32_t type;
    Cell cell;
    VARTYPE vt;
    int32_t value;
  } rows[] = {{kGateInt16, Half(0x8000), VT_I2, -32768},
              {kGateInt16b, {0xFF, 0xFF, 5, 0}, VT_I2, 5},  // bytes 0..1 are not the value
              {kGateInt32, {0x78, 0x56, 0x34, 0x12}, VT_I4, 0x12345678},
              {kGateInt32b, {0xFF, 0xFF, 0xFF, 0xFF}, VT_I4, -1}};
  for (const auto& row : rows) {
    VARIANT v;
    VariantInit(&v);
    ASSERT_EQ(KestToVariantValue(row.cell.data(), row.type, &v), 1);
    EXPECT_EQ(v.vt, row.vt);
    EXPECT_EQ(row.vt == VT_I2 ? v.iVal : v.lVal, row.value) << "gate type " << row.type;
  }
  Cell floatCell;
  std::memcpy(floatCell.data(), &back, 4);
  VARIANT f;
  VariantInit(&f);
  ASSERT_EQ(KestToVariantValue(floatCell.data(), kGateFloat, &f), 1);
  EXPECT_EQ(f.vt, VT_R4);
  EXPECT_EQ(f.fltVal, 21.5f);
}

TEST_F(ValueConversion, BooleanBothWays) {
  VARIANT t;
  VariantInit(&t);
  t.vt = VT_BOOL;
  t.boolVal = VARIANT_TRUE;
  Cell cell = Poisoned();
  ASSERT_EQ(VariantToKestValue(&t, kGateBool, cell.data(), nullptr), 1);
  EXPECT_EQ(cell, Half(1));
  t.boolVal = VARIANT_FALSE;
  cell = Poisoned();
  ASSERT_EQ(VariantToKestValue(&t, kGateBool, cell.data(), nullptr), 1);
  EXPECT_EQ(cell, Half(0));

  const struct {
    Cell cell;
    VARIANT_BOOL expected;
  } rows[] = {{Half(7), VARIANT_TRUE},
              {Half(0x100), VARIANT_TRUE},
              {Half(0), VARIANT_FALSE},
              {{1, 1, 0, 0}, VARIANT_FALSE}};
  for (const auto& row : rows) {
    VARIANT v;
    VariantInit(&v);
    ASSERT_EQ(KestToVariantValue(row.cell.data(), kGateBool, &v), 1);
    EXPECT_EQ(v.vt, VT_BOOL);
    EXPECT_EQ(v.boolVal, row.expected);
  }
}

TEST_F(ValueConversion, MatchingTypeIsUsedWithoutTheTraceLine) {
  VARIANT v = OfI2(42);
  Cell cell = Poisoned();
  ASSERT_EQ(VariantToKestValue(&v, kGateInt16, cell.data(), nullptr), 1);
  EXPECT_EQ(cell, Half(42));
  EXPECT_FALSE(kesthost::LogContains("before change type"));
}

TEST_F(ValueConversion, CoercionThatSucceedsIsTracedAndChangesTheVariant) {
  VARIANT v = OfText(u"15");
  Cell cell = Poisoned();
  ASSERT_EQ(VariantToKestValue(&v, kGateFloat, cell.data(), nullptr), 1);
  float f;
  std::memcpy(&f, cell.data(), 4);
  EXPECT_EQ(f, 15.0f);
  EXPECT_EQ(v.vt, VT_R4);  // changed in place
  EXPECT_TRUE(kesthost::LogContains("telMAR: VariantToKestValue before change type = 4 8", 8));

  VARIANT i2 = OfI2(5);
  cell = Poisoned();
  ASSERT_EQ(VariantToKestValue(&i2, kGateBool, cell.data(), nullptr), 1);
  EXPECT_EQ(cell, Half(1));
}

TEST_F(ValueConversion, CoercionThatFailsLeavesOutputsUntouched) {
  const struct {
    std::u16string text;
    uint32_t type;
    const char* message;
  } rows[] = {
      {u"abc", kGateFloat, "telMAR: VariantToKestValue fail on VariantChangeType() 8 -> 4"},
      {u"15x", kGateInt32, "telMAR: VariantToKestValue fail on VariantChangeType() 8 -> 3"},
  };
  for (const auto& row : rows) {
    kesthost::ClearLog();
    VARIANT v = OfText(row.text);
    Cell cell = Poisoned();
    char text[4] = "xyz";
    EXPECT_EQ(VariantToKestValue(&v, row.type, cell.data(), text), 0);
    EXPECT_EQ(cell, Poisoned());
    EXPECT_STREQ(text, "xyz");
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_TRUE(kesthost::LogContains(row.message, 32)) << row.message;
    VariantClear(&v);
  }
}

// A value that the gate type cannot hold is refused, never clamped or wrapped: a NaN, a number
// beyond the type's range (the platform's coercion refuses those for the integer types; four
// BCD digits hold only 0 to 9999). With a fault record the caller learns why and nothing is
// logged; without one the conversion logs the reason itself.
TEST_F(ValueConversion, ValuesAGateTypeCannotHoldAreRefusedWithTheReason) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct {
    VARIANT value;
    uint32_t type;
    uint8_t kind;  // kValueFaultNone: taken, into `cell`
    const char* reason;
    Cell cell;
  } rows[] = {
      {OfI4(32767), kGateInt16, kValueFaultNone, nullptr, Half(0x7FFF)},
      {OfI4(48211),
       kGateInt16,
       kValueFaultRange,
       "value 48211 does not fit gate type 0 (16-bit integer, -32768 to 32767)",
       {}},
      {OfI4(-32769), kGateInt16b, kValueFaultRange, "value -32769 does not fit gate type 1", {}},
      {OfText(u"40000"), kGateInt16, kValueFaultRange, "value 40000 does not fit gate type 0", {}},
      {OfR4(nan), kGateInt16, kValueFaultNaN, "value NaN does not fit gate type 0", {}},
      {OfR4(9999), kGateBcd, kValueFaultNone, nullptr, Half(0x9999)},
      {OfR4(-0.4f), kGateBcd, kValueFaultNone, nullptr, Half(0)},
      {OfI2(12873),
       kGateBcd,
       kValueFaultRange,
       "value 12873 does not fit gate type 2 (four-digit BCD, 0 to 9999)",
       {}},
      {OfI2(10000), kGateBcd, kValueFaultRange, "value 10000 does not fit gate type 2", {}},
      {OfR4(-2.5f), kGateBcd, kValueFaultRange, "value -2.5 does not fit gate type 2", {}},
      {OfI2(-1), kGateBcd, kValueFaultRange, "value -1 does not fit gate type 2", {}},
      {OfR4(40000), kGateBcd, kValueFaultRange, "value 40000 does not fit gate type 2", {}},
      {OfR4(nan), kGateBcd, kValueFaultNaN, "value NaN does not fit gate type 2", {}},
      {OfText(u"1e40"),
       kGateFloat,
       kValueFaultRange,
       "a value (vt 8) beyond what gate type 3 holds (32-bit float",
       {}},
      {OfR4(3e9f),
       kGateInt32,
       kValueFaultRange,
       "value 3000000000 does not fit gate type 4 (32-bit integer, -2147483648 to 2147483647)",
       {}},
      {OfR4(-3e9f),
       kGateInt32b,
       kValueFaultRange,
       "value -3000000000 does not fit gate type 5",
       {}},
      {OfR4(nan), kGateInt32, kValueFaultNaN, "value NaN does not fit gate type 4", {}},
      {OfR4(nan),
       kGateBool,
       kValueFaultNaN,
       "value NaN does not fit gate type 6 (boolean, false or true)",
       {}},
      {OfR4(0.25f), kGateBool, kValueFaultNone, nullptr, Half(1)},
  };
  for (const auto& row : rows) {
    for (bool withRecord : {true, false}) {
      SCOPED_TRACE(std::string(row.reason ? row.reason : "taken") +
                   (withRecord ? ", with a fault record" : ", logged"));
      kesthost::ClearLog();
      VARIANT v;
      VariantInit(&v);
      ASSERT_EQ(VariantCopy(&v, &row.value), S_OK);
      Cell cell = Poisoned();
      ValueFault fault;
      fault.kind = 0xEE;  // poisoned: a success must leave it alone
      int ok =
          VariantToKestValue(&v, row.type, cell.data(), nullptr, withRecord ? &fault : nullptr);
      if (row.kind == kValueFaultNone) {
        EXPECT_EQ(ok, 1);
        EXPECT_EQ(cell, row.cell);
        EXPECT_EQ(fault.kind, 0xEE);
      } else {
        EXPECT_EQ(ok, 0);
        EXPECT_EQ(cell, Poisoned());
        if (withRecord) {
          EXPECT_EQ(fault.kind, row.kind);
          EXPECT_EQ(fault.gateType, row.type);
          char text[kValueFaultTextSize];
          EXPECT_NE(std::string(FormatValueFault(fault, text, sizeof text)).find(row.reason),
                    std::string::npos)
              << text;
          EXPECT_FALSE(kesthost::LogContains("telMAR: VariantToKestValue fail", 32));
        } else {
          EXPECT_TRUE(kesthost::LogContains(
              std::string("telMAR: VariantToKestValue fail, ") + row.reason, 32));
        }
      }
      VariantClear(&v);
    }
  }
  for (auto& row : rows) VariantClear(&row.value);
}

TEST_F(ValueConversion, TextIsCutAtEightyBytesOnWholeCharacters) {
  const std::string ascii100(100, 'x');
  const std::string e2 = "\xC3\xA9";            // é, 2 bytes
  const std::string euro = "\xE2\x82\xAC";      // €, 3 bytes
  const std::string clef = "\xF0\x9D\x84\x9E";  // U+1D11E, 4 bytes (a surrogate pair)
  // Rows for code page 0 hold in every code page; the others in theirs only (the host's texts
  // are in its ANSI code page on Windows, UTF-8 elsewhere).
  struct Row {
    unsigned codePage;
    std::string in;
    std::string out;
  };
  const Row table[] = {
      {0, ascii100, std::string(80, 'x')},
      {0, std::string(80, 'y'), std::string(80, 'y')},
      {0, "", ""},
      // In 1252 the symbols above 0x7F are one byte each and whole characters.
      {1252, std::string(79, 'a') + "\xE9", std::string(79, 'a') + "\xE9"},
      {1252,
       std::string(78, 'a') + "\x80\xB0"
                              "b",
       std::string(78, 'a') + "\x80\xB0"},
      {1252,
       "Gr\xFC\xDF"
       "e 21\xB0"
       "C \xB5\xB2",
       "Gr\xFC\xDF"
       "e 21\xB0"
       "C \xB5\xB2"},
  };
  std::vector<Row> rows;
  for (const Row& row : table) {
    if (row.codePage == 0 || row.codePage == MultiByteCodePage()) rows.push_back(row);
  }
  const struct {
    std::string in;
    std::string out;
  } utf8Rows[] = {
      {std::string(80, 'y'), std::string(80, 'y')},
      {"", ""},
      {std::string(79, 'a') + e2, std::string(79, 'a')},
      {std::string(78, 'a') + e2 + "b", std::string(78, 'a') + e2},
      {std::string(78, 'a') + euro, std::string(78, 'a')},
      {std::string(77, 'a') + euro + "b", std::string(77, 'a') + euro},
      {std::string(77, 'a') + clef, std::string(77, 'a')},
      {std::string(76, 'a') + clef + "b", std::string(76, 'a') + clef},
      {"Gr\xC3\xBC\xC3\x9F"
       "e 21\xC2\xB0"
       "C",
       "Gr\xC3\xBC\xC3\x9F"
       "e 21\xC2\xB0"
       "C"},
  };
  if (MultiByteCodePage() == 65001) {
    for (const auto& row : utf8Rows) rows.push_back({65001, row.in, row.out});
  }
  for (const auto& row : rows) {
    std::u16string wide;
    // Build the BSTR from the UTF-8 row through the host direction, then come back.
    VARIANT v;
    VariantInit(&v);
    std::string hostText = row.in;
    ASSERT_EQ(KestToVariantValue(hostText.c_str(), kGateText, &v), 1);
    char text[120];
    std::memset(text, kPoison, sizeof(text));
    Cell cell = Poisoned();
    ASSERT_EQ(VariantToKestValue(&v, kGateText, cell.data(), text), 1);
    EXPECT_EQ(std::string(text), row.out) << row.in.size() << " bytes in";
    EXPECT_EQ(uint8_t(text[81]), kPoison) << "nothing written past the 81-byte buffer";
    EXPECT_EQ(cell, Poisoned()) << "a text gate writes no cell";
    VariantClear(&v);
  }
}

// A byte array ("/F:b") read into a text gate shows its bytes as hex digits, whole bytes only.
TEST_F(ValueConversion, ByteArrayIntoATextGateBecomesHexDigits) {
  const struct {
    std::vector<uint8_t> bytes;
    std::string out;
  } rows[] = {
      {{0x0A, 0x1B, 0x2C}, "0A1B2C"},
      {{}, ""},
      {std::vector<uint8_t>(50, 0xFF), std::string(80, 'F')},
  };
  for (const auto& row : rows) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY_UI1;
    v.parray = ByteArrayCreate(row.bytes.data(), static_cast<uint32_t>(row.bytes.size()));
    char text[120];
    std::memset(text, kPoison, sizeof(text));
    ASSERT_EQ(VariantToKestValue(&v, kGateText, nullptr, text), 1);
    EXPECT_EQ(std::string(text), row.out);
    EXPECT_EQ(uint8_t(text[81]), kPoison);
    VariantClear(&v);
  }
}

TEST_F(ValueConversion, AbsentStringGivesEmptyTextAndNonTextTypesLeaveTheBuffer) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = nullptr;
  char text[8] = "poison";
  ASSERT_EQ(VariantToKestValue(&v, kGateText, nullptr, text), 1);
  EXPECT_STREQ(text, "");

  VARIANT i2 = OfI2(3);
  std::strcpy(text, "poison");
  Cell cell = Poisoned();
  ASSERT_EQ(VariantToKestValue(&i2, kGateInt16, cell.data(), text), 1);
  EXPECT_STREQ(text, "poison");
}

TEST_F(ValueConversion, HostTextBecomesAWholeWideString) {
  std::string longText(300, 'q');
  VARIANT v;
  VariantInit(&v);
  ASSERT_EQ(KestToVariantValue(longText.c_str(), kGateText, &v), 1);
  EXPECT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(SysStringLen(v.bstrVal), 300u);

  // Replaces what the VARIANT held (no leak under the sanitizer).
  const bool utf8 = MultiByteCodePage() == 65001;
  ASSERT_EQ(KestToVariantValue(utf8 ? "Gr\xC3\xBC\xC3\x9F"
                                      "e"
                                    : "Gr\xFC\xDF"
                                      "e",
                               kGateText, &v),
            1);
  EXPECT_EQ(std::u16string(BstrUtf16(v.bstrVal), SysStringLen(v.bstrVal)), u"Gr\u00fc\u00dfe");
  VariantClear(&v);

  // Text that is not valid multibyte text is refused (every byte is a character in 1252).
  if (utf8) {
    ASSERT_EQ(KestToVariantValue("bad \xC3 byte", kGateText, &v), 0);
    EXPECT_EQ(v.vt, VT_EMPTY);
  }
}

TEST_F(ValueConversion, UnknownGateTypeIsEmptyAndWritesZero) {
  Cell cell = Half(0x1234);
  VARIANT v;
  VariantInit(&v);
  ASSERT_EQ(KestToVariantValue(cell.data(), 9, &v), 1);
  EXPECT_EQ(v.vt, VT_EMPTY);

  VARIANT i2 = OfI2(77);
  cell = Poisoned();
  ASSERT_EQ(VariantToKestValue(&i2, 9, cell.data(), nullptr), 1);
  EXPECT_EQ(cell, (Cell{0, 0, 0, 0}));
}

}  // namespace
