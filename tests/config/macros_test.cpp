#include "config/macros.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "tests/config/config_fixture.h"

namespace {

using Table = std::map<std::string, std::string>;

Table Contents(const MacroTable& table) {
  Table out;
  table.ForEach([&out](const std::string& name, const std::string& value) { out[name] = value; });
  return out;
}

class MacrosTest : public ConfigTest {
 protected:
  // Loads the instance's file into a fresh table that holds one poison entry.
  int Load(MacroTable* table) {
    table->Set("#poison", "x");
    return LoadMacros(&request_, table);
  }
  std::string File() const { return dir_.ReadFile("TELMAR01.int"); }
};

TEST_F(MacrosTest, MissingSectionHeaderIsAppendedAndFoundByTheNextLoad) {
  dir_.WriteFile("TELMAR01.int", "[Lns]\nRemote=1");
  MacroTable table;
  EXPECT_EQ(Load(&table), 0);
  EXPECT_EQ(File(), "[Lns]\nRemote=1\n[Macros]\n");
  EXPECT_EQ(Contents(table), (Table{{"#poison", "x"}}));  // left as it was

  EXPECT_EQ(Load(&table), 0);
  EXPECT_EQ(File(), "[Lns]\nRemote=1\n[Macros]\n");  // not appended twice
  EXPECT_TRUE(Contents(table).empty());              // the section was found: table emptied

  // A file that holds nothing at all.
  dir_.WriteFile("TELMAR01.int", "");
  EXPECT_EQ(Load(&table), 0);
  EXPECT_EQ(File(), "\n[Macros]\n");
}

TEST_F(MacrosTest, HeaderLineMatchesIgnoringCaseAndSurroundingBlanksOnly) {
  struct Case {
    const char* header;
    bool opens;
  } const cases[] = {
      {"[Macros]", true},      {"[MACROS]", true},     {"[macros]", true},
      {"  [Macros] \t", true}, {"\t[mAcRoS]\r", true}, {"[Macros] x", false},
      {"[Macros];", false},    {"x [Macros]", false},  {"[ Macros ]", false},
      {"[Macro]", false},      {"#[Macros]=1", false},
  };
  for (const Case& c : cases) {
    dir_.WriteFile("TELMAR01.int", std::string("[Lns]\n") + c.header + "\n#A = 1\n");
    MacroTable table;
    EXPECT_EQ(Load(&table), 0);
    EXPECT_EQ(table.Contains("#A"), c.opens) << c.header;
    EXPECT_EQ(File().ends_with("\n[Macros]\n"), !c.opens) << c.header;
  }
}

TEST_F(MacrosTest, MacroLinesAreSplitAtTheFirstEqualsSign) {
  dir_.WriteFile("TELMAR01.int",
                 "[Macros]\n"
                 "#A=1\n"
                 "  #B = x = y  \r\n"
                 "#C =\n"
                 "D = 1\n"
                 "#E\n"
                 "\n"
                 "; #F = comment\n"
                 "#a = lower\n"
                 "#G\t=\tpath.to\t\n"
                 "[Other]\n"
                 "#H = after another section\n"
                 "#I=\"quoted\"\n");
  MacroTable table;
  EXPECT_EQ(Load(&table), 0);
  const Table expected = {
      {"#A", "1"},          {"#B", "x = y"},   {"#C", ""},
      {"#a", "lower"},      {"#G", "path.to"}, {"#H", "after another section"},
      {"#I", "\"quoted\""},
  };
  EXPECT_EQ(Contents(table), expected);
  EXPECT_EQ(kesthost::LogCount("already define"), 0u);
}

TEST_F(MacrosTest, DuplicatesKeepTheFirstAndNameTheLineOfTheSecondOnEveryLoad) {
  dir_.WriteFile("TELMAR01.int",
                 "[Lns]\n"        // 1
                 "Remote=1\n"     // 2
                 "[Macros]\n"     // 3
                 "#A = first\n"   // 4
                 "\n"             // 5
                 "#A = second\n"  // 6
                 "#B = b\n"       // 7
                 "#A=third\n");   // 8
  for (int load = 0; load < 2; ++load) {
    kesthost::ClearLog();
    MacroTable table;
    EXPECT_EQ(Load(&table), 0);
    EXPECT_EQ(Contents(table), (Table{{"#A", "first"}, {"#B", "b"}}));
    const std::vector<std::string> expected = {
        "telMar: : Macro '#A' on line 6 already define",
        "telMar: : Macro '#A' on line 8 already define",
    };
    EXPECT_EQ(LogAt(32), expected) << "load " << load;
  }
}

TEST_F(MacrosTest, LongLinesAreReadIn511CharacterPieces) {
  // 600 characters: the first 511 define #L, the remaining 89 are a line of their own.
  const std::string first = "#L=" + std::string(508, 'a');
  const std::string rest = "#M=" + std::string(86, 'b');
  ASSERT_EQ(first.size() + rest.size(), 600u);
  dir_.WriteFile("TELMAR01.int", "[Macros]\n" + first + rest + "\n#M = again\n");
  MacroTable table;
  EXPECT_EQ(Load(&table), 0);
  EXPECT_EQ(Contents(table), (Table{{"#L", std::string(508, 'a')}, {"#M", std::string(86, 'b')}}));
  // The remainder counted as line 3, so the next line is 4.
  EXPECT_TRUE(kesthost::LogContains("telMar: : Macro '#M' on line 4 already define", 32));
}

TEST_F(MacrosTest, EveryEntryIsListedAfterLoading) {
  dir_.WriteFile("TELMAR01.int", "[Macros]\n#A = 1\n#B = 2\n#C = 3\n");
  MacroTable table;
  EXPECT_EQ(LoadMacros(&request_, &table), 0);
  std::vector<std::string> expected;
  int ordinal = 0;
  table.ForEach([&](const std::string& name, const std::string& value) {
    expected.push_back("telMar: " + std::to_string(++ordinal) + ") '" + name + "' -> '" + value +
                       "'");
  });
  EXPECT_EQ(ordinal, 3);
  EXPECT_EQ(LogAt(8), expected);
}

TEST_F(MacrosTest, FileThatCannotBeOpenedLeavesTheTableUntouched) {
  // Not there at all; then a directory in its place.
  MacroTable table;
  EXPECT_EQ(Load(&table), 2);
  EXPECT_FALSE(std::filesystem::exists("TELMAR01.int"));  // never created
  std::filesystem::create_directory("TELMAR01.int");
  EXPECT_EQ(Load(&table), 2);
  EXPECT_EQ(Contents(table), (Table{{"#poison", "x"}}));
  EXPECT_EQ(LogAt(32), std::vector<std::string>(
                           2, "telMar: failed to open initialization file: 'TELMAR01.int'"));
}

TEST_F(MacrosTest, ReadOnlyFileCannotBeOpenedForUpdating) {
  dir_.WriteFile("TELMAR01.int", "[Macros]\n#A = 1\n");
  chmod("TELMAR01.int", 0444);
  if (FILE* probe = std::fopen("TELMAR01.int", "r+")) {
    std::fclose(probe);
    GTEST_SKIP() << "permissions are not enforced for this user";
  }
  MacroTable table;
  EXPECT_EQ(Load(&table), 2);
  EXPECT_EQ(Contents(table), (Table{{"#poison", "x"}}));
  EXPECT_TRUE(kesthost::LogContains("telMar: failed to open initialization file: 'TELMAR01.int'"));
}

TEST_F(MacrosTest, FileOfTheRequestsInstanceNumberIsUsed) {
  dir_.WriteFile("TELMAR01.int", "[Macros]\n#One = 1\n");
  dir_.WriteFile("TELMAR123.int", "[Macros]\n#Big = 123\n");
  TearDownInstance();
  SetUpInstance(123);
  MacroTable table;
  EXPECT_EQ(LoadMacros(&request_, &table), 0);
  EXPECT_EQ(Contents(table), (Table{{"#Big", "123"}}));
  EXPECT_EQ(AddMacro("#New", "v", &request_), 0);
  EXPECT_EQ(dir_.ReadFile("TELMAR123.int"), "[Macros]\n#Big = 123\n\n#New = v");
}

TEST_F(MacrosTest, AddMacroAppendsOneMacroPerLineThatLoadsBack) {
  dir_.WriteFile("TELMAR01.int", "[Macros]\n#A = 1");
  ASSERT_EQ(LoadMacros(&request_, &inst_->macros), 0);
  kesthost::ClearLog();

  EXPECT_EQ(AddMacro("#B", "Building.Floor1", &request_), 0);
  EXPECT_EQ(AddMacro("#C", "", &request_), 0);
  EXPECT_EQ(AddMacro("#D", "x = y", &request_), 0);
  EXPECT_EQ(File(), "[Macros]\n#A = 1\n#B = Building.Floor1\n#C = \n#D = x = y");
  EXPECT_EQ(LogAt(8), (std::vector<std::string>{"TelMAR: AddMacro '#B' -> 'Building.Floor1'",
                                                "TelMAR: AddMacro '#C' -> ''",
                                                "TelMAR: AddMacro '#D' -> 'x = y'"}));

  MacroTable reloaded;
  EXPECT_EQ(LoadMacros(&request_, &reloaded), 0);
  EXPECT_EQ(Contents(reloaded), Contents(inst_->macros));
  EXPECT_EQ(Contents(reloaded).size(), 4u);
}

TEST_F(MacrosTest, AddMacroOfADefinedNameChangesNothing) {
  dir_.WriteFile("TELMAR01.int", "[Macros]\n#A = 1\n");
  ASSERT_EQ(LoadMacros(&request_, &inst_->macros), 0);
  EXPECT_EQ(AddMacro("#A", "other", &request_), 1);
  EXPECT_EQ(File(), "[Macros]\n#A = 1\n");
  EXPECT_EQ(Contents(inst_->macros), (Table{{"#A", "1"}}));
  EXPECT_TRUE(kesthost::LogContains("TelMAR: Macro '#A' already found while AddMacro()", 32));
  // Names are exact: another case is another macro.
  EXPECT_EQ(AddMacro("#a", "lower", &request_), 0);
}

TEST_F(MacrosTest, AddMacroCreatesAMissingFileAndKeepsTheMacroWhenItCannotWrite) {
  EXPECT_EQ(AddMacro("#A", "1", &request_), 0);
  EXPECT_EQ(File(), "\n#A = 1");

  std::filesystem::remove("TELMAR01.int");
  std::filesystem::create_directory("TELMAR01.int");
  EXPECT_EQ(AddMacro("#B", "2", &request_), 2);
  EXPECT_TRUE(kesthost::LogContains(
      "TelMAR: failed on AddMacro() while open initialization file: 'TELMAR01.int' ", 32));
  EXPECT_EQ(Contents(inst_->macros), (Table{{"#A", "1"}, {"#B", "2"}}));
}

TEST_F(MacrosTest, AddMacroRefusesWhatCannotTravelOrLoadBack) {
  const std::string before = "[Macros]\n#A = 1\n";
  struct Case {
    std::string name;
    std::string value;
  } const cases[] = {
      {"#" + std::string(255, 'n'), "v"},
      {"#N", std::string(256, 'v')},
      {"N", "v"},
      {"", "v"},
      {"#N=M", "v"},
      {"#N M", "v"},
      {"#N\tM", "v"},
      {"#N\n#M", "v"},
      {"#N", "line\nbreak"},
      {"#N", "carriage\r"},
      {"#N", "del\x7f"},
      {std::string("#N\0M", 4), "v"},
  };
  for (const Case& c : cases) {
    dir_.WriteFile("TELMAR01.int", before);
    kesthost::ClearLog();
    EXPECT_EQ(AddMacro(c.name, c.value, &request_), 2) << c.name << " -> " << c.value;
    EXPECT_EQ(File(), before) << c.name;
    EXPECT_TRUE(Contents(inst_->macros).empty()) << c.name;
    const std::vector<std::string> errors = LogAt(32);
    ASSERT_EQ(errors.size(), 1u) << c.name;
    EXPECT_TRUE(errors[0].starts_with("TelMAR: AddMacro() refused '")) << errors[0];
    // The line names the macro and never carries its control characters.
    EXPECT_EQ(errors[0].find_first_of("\n\r\t\x7f"), std::string::npos) << errors[0];
  }
  kesthost::ClearLog();
  EXPECT_EQ(AddMacro("#N\n#M", "v", &request_), 2);
  EXPECT_TRUE(kesthost::LogContains("TelMAR: AddMacro() refused '#N\\x0a#M' -> 'v'", 32));

  // The largest texts that fit the shared block are accepted.
  const std::string name = "#" + std::string(254, 'n');
  const std::string value(255, 'v');
  EXPECT_EQ(AddMacro(name, value, &request_), 0);
  EXPECT_EQ(File(), before + "\n" + name + " = " + value);
}

}  // namespace
