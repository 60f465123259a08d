#include <gtest/gtest.h>

#include <cstring>

#include "host/sim/gate_list.h"
#include "host/sim/script.h"
#include "host/sim/values.h"

namespace hostsim {
namespace {

constexpr uint32_t kPoison = 0xDEADBEEF;

uint32_t FloatCell(float f) {
  uint32_t cell;
  std::memcpy(&cell, &f, sizeof(cell));
  return cell;
}

// Values typed by a user land in the cell where the driver expects them, and read back as typed.
TEST(HostValues, ParseAndFormatPerType) {
  struct Case {
    uint16_t type;
    const char* input;
    uint32_t cell;
    const char* shown;
  } cases[] = {
      {0, "-2", 0xFFFE0000u, "-2"},
      {1, "32767", 0x7FFF0000u, "32767"},
      {1, "-32768", 0x80000000u, "-32768"},
      {2, "1234", 0x12340000u, "1234"},
      {2, "0", 0, "0"},
      {2, "9999", 0x99990000u, "9999"},
      {3, "22.5", FloatCell(22.5f), "22.5"},
      {4, "-1", 0xFFFFFFFFu, "-1"},
      {5, "2147483647", 0x7FFFFFFFu, "2147483647"},
      {6, "1", 0x00010000u, "1"},
      {6, "false", 0, "0"},
      {4, "0x10", 16, "16"},
  };
  for (const Case& c : cases) {
    uint32_t cell = kPoison;
    std::string text = "poison", error;
    ASSERT_TRUE(ParseGateValue(c.type, c.input, &cell, &text, &error)) << c.input << ": " << error;
    EXPECT_EQ(cell, c.cell) << "type " << c.type << " '" << c.input << "'";
    EXPECT_EQ(FormatGateValue(c.type, cell, ""), c.shown) << "type " << c.type;
    EXPECT_TRUE(GateValueMatches(c.type, cell, "", c.input)) << c.input;
  }
}

TEST(HostValues, RejectsValuesOutsideTheTypeAndLeavesOutputs) {
  struct Case {
    uint16_t type;
    const char* input;
  } cases[] = {{0, "32768"},      {1, "-32769"}, {2, "10000"}, {2, "-1"},  {3, "abc"}, {3, "1e40"},
               {4, "2147483648"}, {6, "2"},      {0, ""},      {4, "12x"}, {9, "1"}};
  for (const Case& c : cases) {
    uint32_t cell = kPoison;
    std::string text = "poison", error;
    EXPECT_FALSE(ParseGateValue(c.type, c.input, &cell, &text, &error))
        << "type " << c.type << " '" << c.input << "'";
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(cell, kPoison);
    EXPECT_EQ(text, "poison");
  }
}

TEST(HostValues, TextGatesKeepTheTextAndLeaveTheCell) {
  uint32_t cell = kPoison;
  std::string text, error;
  ASSERT_TRUE(ParseGateValue(kTextGateType, "  Hello host ", &cell, &text, &error));
  EXPECT_EQ(text, "  Hello host ");
  EXPECT_EQ(cell, kPoison);
  EXPECT_TRUE(GateValueMatches(kTextGateType, 0, "Welcome", "Welcome"));
  EXPECT_FALSE(GateValueMatches(kTextGateType, 0, "Welcome", "welcome"));
}

TEST(HostValues, SixteenBitTypesCompareOnlyTheUpperHalf) {
  // A node gate's attach event puts 1 in the upper half and the attach flag in the lower.
  EXPECT_TRUE(GateValueMatches(1, 0x00010001u, "", "1"));
  EXPECT_EQ(FormatGateValue(1, 0x00010001u, ""), "1");
  EXPECT_FALSE(GateValueMatches(4, 0x00010001u, "", "65536"));
}

TEST(HostValues, FloatsMatchWithinATolerance) {
  EXPECT_TRUE(GateValueMatches(3, FloatCell(19.6f), "", "19.6"));
  EXPECT_TRUE(GateValueMatches(3, FloatCell(1520.5f), "", "1520.5"));
  EXPECT_FALSE(GateValueMatches(3, FloatCell(19.6f), "", "19.7"));
  EXPECT_FALSE(GateValueMatches(3, FloatCell(0.0f), "", "0.01"));
  EXPECT_FALSE(GateValueMatches(3, FloatCell(1.0f), "", "one"));
}

TEST(HostValues, BcdEncodingAndDecoding) {
  EXPECT_EQ(EncodeBcd(1234), 0x1234);
  EXPECT_EQ(EncodeBcd(10000), 0x9999);
  EXPECT_EQ(EncodeBcd(-5), 0);
  EXPECT_EQ(DecodeBcd(0x0907), 907);
  // Nibbles above 9 are taken at face value, as the driver decodes them.
  EXPECT_EQ(DecodeBcd(0x00AF), 115);
}

TEST(GateList, ReadsEveryFieldOfALine) {
  std::vector<GateSpec> gates;
  std::string error;
  const char* text =
      "; a comment\n"
      "\n"
      "   ; an indented comment\n"
      "1 3 2 0 Building.Floor1.Room101.nvoSpaceTemp\n"
      "2\t7\t0\t250\t#R101.nvoDisplay/F:w\r\n"
      "3 3 0 0 Building.Plant.Pump.nvoSpeed /F:r   /M:p   \n"
      "4 1 0 0 \"  !Browse\"\n"
      "4294967295 0 1 0 #001.x\n";
  ASSERT_TRUE(ParseGateList(text, "g.txt", &gates, &error)) << error;
  ASSERT_EQ(gates.size(), 5u);
  EXPECT_EQ(gates[0].id, 1u);
  EXPECT_EQ(gates[0].type, 3);
  EXPECT_EQ(gates[0].updateMode, 2);
  EXPECT_EQ(gates[0].address, "Building.Floor1.Room101.nvoSpaceTemp");
  EXPECT_EQ(gates[0].origin, "g.txt:4");
  EXPECT_EQ(gates[1].pollingRate, 250);
  EXPECT_EQ(gates[1].address, "#R101.nvoDisplay/F:w");  // '#' starts an address, not a comment
  EXPECT_EQ(gates[2].address, "Building.Plant.Pump.nvoSpeed /F:r   /M:p");  // inner blanks kept
  EXPECT_EQ(gates[3].address, "  !Browse");                                 // quotes keep blanks
  EXPECT_EQ(gates[4].id, 4294967295u);
}

TEST(GateList, NamesTheFileLineAndProblem) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"1 3 2 0\n", "g:1: a gate needs id, type, updateMode, pollingRate and address (4 of 5"},
      {"; c\n0 3 2 0 A.b\n", "g:2: gate id must be a number 1..4294967295, not '0'"},
      {"1 8 0 0 A.b\n", "g:1: gate type must be a number 0..7, not '8'"},
      {"1 3 3 0 A.b\n", "g:1: updateMode must be a number 0..2, not '3'"},
      {"1 3 0 -5 A.b\n", "g:1: pollingRate must be a number"},
      {"1 3 0 fast A.b\n", "g:1: pollingRate must be a number"},
      {"1 3 0 0 \"A.b\n", "g:1: unterminated quote"},
      {"1 3 0 0 \"A.b\" /M:p\n", "g:1: text after the quoted address: '/M:p'"},
      {"1 3 0 0 \"\"\n", "g:1: the address is empty"},
      {"7 3 0 0 A.b\n\n7 1 0 0 C.d\n", "g:3: gate id 7 is defined twice"},
  };
  for (const Case& c : cases) {
    std::vector<GateSpec> gates;
    std::string error;
    EXPECT_FALSE(ParseGateList(c.text, "g", &gates, &error)) << c.text;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << "got: " << error;
    EXPECT_TRUE(gates.empty()) << "a bad list defines nothing";
  }
}

TEST(ScriptLines, AcceptsEveryCommandInItsForms) {
  const char* good[] = {
      "help",
      "help expect",
      "gate 5 3 2 0 Building.Floor1.Room101.nvoSpaceTemp /M:b",
      "gate 20 3 2 0 @address",
      "coldstart",
      "coldstart 0",
      "parse all",
      "read 7",
      "write 8 \"Hello host\"",
      "activity 13 start",
      "redefine 13 2 1000",
      "message 121 13 3",
      "net value Building.Floor1.Room101.nvoSpaceTemp -3.5",
      "net raw Building.Floor1.Room101.nvoLamp C801",
      "net detach Building.Plant.Pump",
      "advance 5000",
      "browse select Building.Floor2.Room201.nvoCO2 binding Explicit type 0 polling clear ok",
      "browse",
      "command 99",
      "expect result 53",
      "expect value 1 21.5",
      "expect contains 11 \"ServicePin press\"",
      "expect binding 11 0x0104",
      "expect node 9 32011",
      "expect address \"\"",
      "expect nolog \"fail on\"",
      "expect file TELMAR01.int \"#002 = A.B\"",
      "wait-file ready 1000",
      "   ; a comment line",
      "",
  };
  for (const char* text : good) {
    ScriptLine line;
    std::string error;
    EXPECT_TRUE(ParseCommandLine(text, &line, &error)) << text << ": " << error;
  }
}

TEST(ScriptLines, RejectsBadLinesWithAReason) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"reed 1", "unknown command 'reed'"},
      {"read", "usage: read ID|all"},
      {"read one", "a gate id or all expected, not 'one'"},
      {"write 1", "usage: write ID VALUE"},
      {"activity 1 begin", "start or stop expected"},
      {"gate 1 3 2 0", "a gate needs id, type"},
      {"net value A.b warm", "a number expected, not 'warm'"},
      {"net raw A.b C80", "an even number of hex digits expected"},
      {"net press A.b", "unknown network event 'press'"},
      {"browse select", "browse step 'select' needs an argument"},
      {"browse pick A.b", "unknown browse step 'pick'"},
      {"expect value 1", "usage: expect value ID VALUE"},
      {"expect colour 1 red", "unknown expectation 'colour'"},
      {"expect result ok", "a status expected"},
      {"command 5", "command 5 takes a parameter record: use 'read'"},
      {"coldstart 2", "0 or 1 expected"},
      {"echo \"unterminated", "unterminated quote"},
      {"advance -1", "milliseconds expected"},
  };
  for (const Case& c : cases) {
    ScriptLine line;
    std::string error;
    EXPECT_FALSE(ParseCommandLine(c.text, &line, &error)) << c.text;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.text << " -> " << error;
  }
}

TEST(ScriptLines, AScriptIsCheckedWholeAndNamesTheBadLine) {
  std::vector<ScriptLine> lines;
  std::string error;
  EXPECT_FALSE(
      ParseScript("coldstart\n; fine\nparse all\nread x\nendvpi\n", "s.txt", &lines, &error));
  EXPECT_EQ(error, "s.txt:4: a gate id or all expected, not 'x'");

  lines.clear();
  ASSERT_TRUE(ParseScript("coldstart\r\n\n; c\nparse all\n", "s.txt", &lines, &error));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].origin, "s.txt:4");
  EXPECT_EQ(lines[1].words, (std::vector<std::string>{"parse", "all"}));
}

TEST(ScriptLines, EveryCommandHasHelp) {
  std::string all = CommandHelp();
  for (const CommandInfo& c : Commands()) {
    EXPECT_FALSE(std::string(c.help).empty()) << c.name;
    EXPECT_NE(all.find(std::string(c.name)), std::string::npos) << c.name;
    EXPECT_EQ(CommandHelp(c.name).rfind(c.name, 0), 0u) << c.name;
  }
  EXPECT_EQ(CommandHelp("nothing"), "");
}

}  // namespace
}  // namespace hostsim
