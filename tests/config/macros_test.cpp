#include "config/macros.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "core/test_point.h"
#include "platform/text.h"
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
  // Loads the instance's file into `table_`, which holds a poison entry before.
  int Load() {
    table_.RemoveAll();
    table_.Set("#poison", "x");
    return LoadMacros(&request_, &table_);
  }
  std::string File() const { return dir_.ReadFile("TELMAR01.int"); }
  MacroTable table_;
};

// A browse in another process loads the file while the driver finds the header missing and is
// about to append it: the other load waits for the append and finds it, instead of appending a
// second header.
VpiRequest* racingRequest = nullptr;
std::thread racingLoad;
std::mutex raceLock;
std::condition_variable raceWaits;
bool racingAtTheLock = false;
std::atomic<bool> raceStarted{false};
thread_local bool onRacingThread = false;

void LoadAgainBeforeTheHeaderIsAppended(const char* point) {
  const std::string at = point;
  if (at == "LockFile:waiting" && onRacingThread) {
    std::lock_guard<std::mutex> held(raceLock);
    racingAtTheLock = true;
    raceWaits.notify_all();
    return;
  }
  // The other load, finding no header either, passes here too: only the first one waits.
  if (at != "LoadMacros:no header" || raceStarted.exchange(true)) return;
  racingLoad = std::thread([] {
    onRacingThread = true;
    MacroTable table;
    LoadMacros(racingRequest, &table);
  });
  // The append goes on once the other load waits for the file's lock that this one holds.
  std::unique_lock<std::mutex> held(raceLock);
  ASSERT_TRUE(raceWaits.wait_for(held, std::chrono::seconds(30), [] { return racingAtTheLock; }));
}

TEST_F(MacrosTest, TwoLoadsOfAFileWithoutHeaderAppendOneHeader) {
  dir_.WriteFile("TELMAR01.int", "[Lns]\nRemote=1");
  racingRequest = &request_;
  SetTestPointHook(LoadAgainBeforeTheHeaderIsAppended);
  EXPECT_EQ(Load(), 0);
  ASSERT_TRUE(racingLoad.joinable());
  racingLoad.join();
  SetTestPointHook(nullptr);
  EXPECT_EQ(File(), "[Lns]\nRemote=1\n[Macros]\n");
}

TEST_F(MacrosTest, MissingSectionHeaderIsAppendedAndFoundByTheNextLoad) {
  dir_.WriteFile("TELMAR01.int", "[Lns]\nRemote=1");
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(File(), "[Lns]\nRemote=1\n[Macros]\n");
  EXPECT_EQ(Contents(table_), (Table{{"#poison", "x"}}));  // left as it was
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(File(), "[Lns]\nRemote=1\n[Macros]\n");
  EXPECT_TRUE(Contents(table_).empty());  // section found: emptied, then filled
}

TEST_F(MacrosTest, HeaderLineMatchesIgnoringCaseAndSurroundingBlanksOnly) {
  const std::pair<const char*, bool> cases[] = {
      {"[Macros]", true},    {"[MACROS]", true},     {"  [mAcRoS] \t\r", true},
      {"[Macros] x", false}, {"[Macros];", false},   {"x [Macros]", false},
      {"[ Macros ]", false}, {"#[Macros]=1", false},
  };
  for (const auto& [header, opens] : cases) {
    dir_.WriteFile("TELMAR01.int", std::string("[Lns]\n") + header + "\n#A = 1\n");
    EXPECT_EQ(Load(), 0);
    EXPECT_EQ(table_.Contains("#A"), opens) << header;
    EXPECT_EQ(File().ends_with("\n[Macros]\n"), !opens) << header;
  }
}

TEST_F(MacrosTest, MacroLinesAreSplitAtTheFirstEqualsSign) {
  dir_.WriteFile("TELMAR01.int",
                 "[Macros]\n#A=1\n  #B = x = y  \r\n#C =\nD = 1\n#E\n\n; #F = 1\n#a = lower\n"
                 "#G\t=\tpath.to\t\n[Other]\n#H = after another section\n");
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(Contents(table_), (Table{{"#A", "1"},
                                     {"#B", "x = y"},
                                     {"#C", ""},
                                     {"#a", "lower"},
                                     {"#G", "path.to"},
                                     {"#H", "after another section"}}));
  // Every entry is listed, in the table's order.
  std::vector<std::string> listed;
  table_.ForEach([&](const std::string& name, const std::string& value) {
    listed.push_back("telMar: " + std::to_string(listed.size() + 1) + ") '" + name + "' -> '" +
                     value + "'");
  });
  EXPECT_EQ(LogAt(8), listed);
}

// What the driver's start says about lines of the section that are not read as they look: the
// file is read as before, and a browse's load says nothing about them.
TEST_F(MacrosTest, LinesNotReadAsWrittenAreNamedAtTheDriversStart) {
  dir_.WriteFile("TELMAR01.int",
                 "[Lns]\nRemote=1\n[Macros]\n; a comment\n\nR101 = Building.Floor1.Room101\n"
                 "#A\n#B = Building.Plant ; the plant\n#C = Building.Floor1\n[Other]\nElse=1\n"
                 "#D = below\n");
  const Table read = {
      {"#B", "Building.Plant ; the plant"}, {"#C", "Building.Floor1"}, {"#D", "below"}};
  for (bool noteLines : {true, false}) {
    kesthost::ClearLog();
    MacroTable table;
    EXPECT_EQ(LoadMacros(&request_, &table, nullptr, noteLines), 0);
    EXPECT_EQ(Contents(table), read);
    std::vector<std::string> expected;
    if (noteLines) {
      expected = {
          "telMar: [Macros] line 6 'R101 = Building.Floor1.Room101' is not used: a macro name "
          "begins with '#'",
          "telMar: [Macros] line 7 '#A' is not used: it has no '='",
          "telMar: [Macros] line 8: the value of '#B' is 'Building.Plant ; the plant' with its "
          "';' and all after it (a comment stands on a line of its own)",
      };
    }
    EXPECT_EQ(LogAt(32), expected) << noteLines;
  }
}

TEST_F(MacrosTest, DuplicatesKeepTheFirstAndNameTheLineOfTheSecond) {
  // A 600-character line is read as 511 characters and a line of 89.
  const std::string longLine = "#L=" + std::string(508, 'a') + "#M=" + std::string(86, 'b');
  dir_.WriteFile("TELMAR01.int", "[Lns]\n[Macros]\n#A = first\n\n#A = second\n" + longLine +
                                     "\n#M = again\n#A=third\n");
  for (int load = 0; load < 2; ++load) {  // line numbers start afresh with every load
    kesthost::ClearLog();
    EXPECT_EQ(Load(), 0);
    EXPECT_EQ(
        Contents(table_),
        (Table{{"#A", "first"}, {"#L", std::string(508, 'a')}, {"#M", std::string(86, 'b')}}));
    EXPECT_EQ(LogAt(32), (std::vector<std::string>{
                             "telMar: : Macro '#A' on line 5 already define",
                             "telMar: : Macro '#M' on line 8 already define",
                             "telMar: : Macro '#A' on line 9 already define",
                         }));
  }
}

TEST_F(MacrosTest, FileThatCannotBeOpenedLeavesTheTableUntouched) {
  EXPECT_EQ(Load(), 2);
  EXPECT_FALSE(std::filesystem::exists("TELMAR01.int"));  // never created
  std::filesystem::create_directory("TELMAR01.int");
  EXPECT_EQ(Load(), 2);
  EXPECT_EQ(Contents(table_), (Table{{"#poison", "x"}}));
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
  EXPECT_EQ(Load(), 2);
  EXPECT_EQ(Contents(table_), (Table{{"#poison", "x"}}));
}

TEST_F(MacrosTest, AddMacroAppendsOneMacroPerLineThatLoadsBack) {
  TearDownInstance();
  SetUpInstance(123);  // the file of the full instance number
  dir_.WriteFile("TELMAR123.int", "[Macros]\n#A = 1");
  ASSERT_EQ(LoadMacros(&request_, &inst_->macros), 0);
  kesthost::ClearLog();
  EXPECT_EQ(AddMacro("#B", "Building.Floor1", &request_), 0);
  EXPECT_EQ(AddMacro("#C", "", &request_), 0);
  EXPECT_EQ(AddMacro("#A", "other", &request_), 1);
  EXPECT_EQ(AddMacro("#a", "x = y", &request_), 0);  // names are exact
  // Each on a line of its own, ended by a line break (the file's last line had none), so that
  // a line added by hand afterwards stays a line of its own.
  EXPECT_EQ(dir_.ReadFile("TELMAR123.int"),
            "[Macros]\n#A = 1\n#B = Building.Floor1\n#C = \n#a = x = y\n");
  dir_.WriteFile("TELMAR123.int", dir_.ReadFile("TELMAR123.int") + "#H = by hand\n");
  EXPECT_EQ(kesthost::Log().size(), 4u);
  EXPECT_TRUE(kesthost::LogContains("TelMAR: AddMacro '#B' -> 'Building.Floor1'", 8));
  EXPECT_TRUE(kesthost::LogContains("TelMAR: Macro '#A' already found while AddMacro()", 32));

  MacroTable reloaded;
  EXPECT_EQ(LoadMacros(&request_, &reloaded), 0);
  inst_->macros.Set("#H", "by hand");
  EXPECT_EQ(Contents(reloaded), Contents(inst_->macros));
  EXPECT_EQ(Contents(reloaded).size(), 5u);
}

// Text (UTF-8) as a file saved as UTF-16 of the byte order, with its byte-order mark.
std::string Utf16File(const std::string& text, bool little) {
  std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
  for (char16_t c : MultiByteToWide(text)) {
    const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
    bytes += little ? lo : hi;
    bytes += little ? hi : lo;
  }
  return bytes;
}

TEST_F(MacrosTest, Utf16FileIsReadAndAppendedInItsOwnEncoding) {
  for (bool little : {true, false}) {
    // No header: it is appended as UTF-16.
    const std::string options = "[Lns]\r\nRemote=1\r\n";
    dir_.WriteFile("TELMAR01.int", Utf16File(options, little));
    EXPECT_EQ(Load(), 0);
    EXPECT_EQ(File(), Utf16File(options + "\n[Macros]\n", little)) << little;

    // The last line has no line break: the macro starts a line of its own.
    const std::string macros = options + "[Macros]\r\n#A = Gebäude.1\r\n#A = again\r\n#€ = x";
    dir_.WriteFile("TELMAR01.int", Utf16File(macros, little));
    inst_->macros.RemoveAll();
    kesthost::ClearLog();
    ASSERT_EQ(LoadMacros(&request_, &inst_->macros), 0);
    EXPECT_EQ(Contents(inst_->macros), (Table{{"#A", "Gebäude.1"}, {"#€", "x"}})) << little;
    EXPECT_EQ(LogAt(32), std::vector<std::string>{"telMar: : Macro '#A' on line 5 already define"});
    EXPECT_EQ(AddMacro("#B", "Straße 𝄞", &request_), 0);
    EXPECT_EQ(File(), Utf16File(macros + "\n#B = Straße 𝄞\n", little)) << little;
    EXPECT_EQ(Load(), 0);
    EXPECT_EQ(Contents(table_), Contents(inst_->macros)) << little;
    EXPECT_EQ(table_.Count(), 3u) << little;
  }
}

TEST_F(MacrosTest, AddMacroCreatesAMissingFileAndKeepsTheMacroWhenItCannotWrite) {
  EXPECT_EQ(AddMacro("#A", "1", &request_), 0);
  EXPECT_EQ(File(), "#A = 1\n");
  std::filesystem::remove("TELMAR01.int");
  std::filesystem::create_directory("TELMAR01.int");
  EXPECT_EQ(AddMacro("#B", "2", &request_), 2);
  EXPECT_TRUE(kesthost::LogContains(
      "TelMAR: failed on AddMacro() while open initialization file: 'TELMAR01.int' ", 32));
  EXPECT_EQ(Contents(inst_->macros), (Table{{"#A", "1"}, {"#B", "2"}}));
}

TEST_F(MacrosTest, AddMacroRefusesWhatCannotTravelOrLoadBack) {
  const std::string before = "[Macros]\n";
  const std::pair<std::string, std::string> cases[] = {
      {"#" + std::string(255, 'n'), "v"},
      {"#N", std::string(256, 'v')},
      {"N", "v"},
      {"", "v"},
      {"#N=M", "v"},
      {"#N M", "v"},
      {"#N\tM", "v"},
      {"#N\n#M", "v"},
      {"#N", "line\nbreak"},
      {"#N", "cr\r"},
      {std::string("#N\0M", 4), "v"},
      {"#N", "del\x7f"},
  };
  for (const auto& [name, value] : cases) {
    dir_.WriteFile("TELMAR01.int", before);
    kesthost::ClearLog();
    EXPECT_EQ(AddMacro(name, value, &request_), 2) << name << " -> " << value;
    EXPECT_EQ(File(), before) << name;
    EXPECT_EQ(inst_->macros.Count(), 0u) << name;
    const std::vector<std::string> errors = LogAt(32);
    ASSERT_EQ(errors.size(), 1u) << name;
    EXPECT_TRUE(errors[0].starts_with("TelMAR: AddMacro() refused '")) << errors[0];
    EXPECT_EQ(errors[0].find_first_of("\n\r\t\x7f"), std::string::npos) << errors[0];
  }
  // The last one, escaped.
  EXPECT_TRUE(kesthost::LogContains("TelMAR: AddMacro() refused '#N' -> 'del\\x7f'", 32));

  // The largest texts that fit the shared block pass.
  const std::string name = "#" + std::string(254, 'n'), value(255, 'v');
  EXPECT_EQ(AddMacro(name, value, &request_), 0);
  EXPECT_EQ(File(), before + name + " = " + value + "\n");
}

}  // namespace
