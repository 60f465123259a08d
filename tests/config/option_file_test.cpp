#include "config/option_file.h"

#include <string>
#include <vector>

#include "tests/config/config_fixture.h"

namespace {

using OptionFileTest = ConfigTest;

// Values the reader must overwrite, so that a field it forgets shows.
void Poison(DriverInstance* inst) {
  inst->remote = inst->single = inst->pinEvent = -99;
  inst->checkBindings = inst->browseFromLns = inst->browseSubsysAll = -99;
  inst->browseSubsysDiscovered = inst->debugLevel = -99;
  inst->network = inst->networkInterface = inst->hostInterface = "poison";
  inst->typesDirectory = inst->standardTypeFile = inst->unvtTypeFile = "poison";
  inst->delimiter = '?';
}

TEST_F(OptionFileTest, WithoutAFileEveryOptionTakesItsDefaultAndIsListed) {
  Poison(inst_);
  EXPECT_EQ(ReadIntFile(&request_), 0);

  EXPECT_EQ(inst_->remote, 0);
  EXPECT_EQ(inst_->single, 0);
  EXPECT_EQ(inst_->pinEvent, 1);
  EXPECT_EQ(inst_->delimiter, '.');
  EXPECT_EQ(inst_->checkBindings, 0);
  EXPECT_EQ(inst_->browseFromLns, 0);
  EXPECT_EQ(inst_->browseSubsysAll, 0);
  EXPECT_EQ(inst_->browseSubsysDiscovered, 0);
  EXPECT_EQ(inst_->debugLevel, 3);
  for (const std::string* text :
       {&inst_->network, &inst_->networkInterface, &inst_->hostInterface, &inst_->typesDirectory,
        &inst_->standardTypeFile, &inst_->unvtTypeFile}) {
    EXPECT_EQ(*text, "");
  }

  const std::vector<std::string> expected = {
      "TelMAR: ----------   LON Options   ----------",
      "TelMAR: Remote = 0",
      "TelMAR: Single = 0",
      "TelMAR: PinEvent = 1",
      "TelMAR: Delimiter = '.'",
      "TelMAR: CheckBindings = 0",
      "TelMAR: BrowseFromLns = 0",
      "TelMAR: BrowseSubsysALL = 0",
      "TelMAR: BrowseSubsysDiscoverd = 0",
      "TelMAR: DebugLevel = 3",
      "TelMAR: Network = ''",
      "TelMAR: NetworkInterface = ''",
      "TelMAR: HostInterface = ''",
      "TelMAR: TypesDirectory = ''",
      "TelMAR: StandardTypeFile = ''",
      "TelMAR: UnvtTypeFile = ''",
      "TelMAR: ----------   End LON Options   ----------",
  };
  EXPECT_EQ(LogAt(32), expected);
  EXPECT_EQ(kesthost::Log().size(), expected.size());
}

TEST_F(OptionFileTest, EveryKeyIsReadIntoItsFieldAndListed) {
  dir_.WriteFile("TELMAR01.int",
                 "[Other]\r\nRemote=5\r\n"
                 "[lns]\r\n"
                 "remote=2\r\nSingle = 1\r\nPINEVENT=0\r\nDelimiter=/\r\nCheckBindings=4\r\n"
                 "BrowseFromLns=0x10\r\nBrowseSubsysALL=-1\r\nBrowseSubsysDiscoverd=7\r\n"
                 "DebugLevel=9\r\nNetwork=\"Plant A\"\r\nNetworkInterface=LON1\r\n"
                 "HostInterface = host x \r\nTypesDirectory=C:\\types\r\n"
                 "StandardTypeFile=std.typ\r\nUnvtTypeFile='unvt.typ'\r\n"
                 "[Macros]\r\n#A = B\r\n");
  Poison(inst_);
  EXPECT_EQ(ReadIntFile(&request_), 0);

  EXPECT_EQ(inst_->remote, 2);
  EXPECT_EQ(inst_->single, 1);
  EXPECT_EQ(inst_->pinEvent, 0);
  EXPECT_EQ(inst_->delimiter, '/');
  EXPECT_EQ(inst_->checkBindings, 4);
  EXPECT_EQ(inst_->browseFromLns, 16);
  EXPECT_EQ(inst_->browseSubsysAll, -1);
  EXPECT_EQ(inst_->browseSubsysDiscovered, 7);
  EXPECT_EQ(inst_->debugLevel, 9);
  EXPECT_EQ(inst_->network, "Plant A");
  EXPECT_EQ(inst_->networkInterface, "LON1");
  EXPECT_EQ(inst_->hostInterface, "host x");
  EXPECT_EQ(inst_->typesDirectory, "C:\\types");
  EXPECT_EQ(inst_->standardTypeFile, "std.typ");
  EXPECT_EQ(inst_->unvtTypeFile, "unvt.typ");

  EXPECT_TRUE(kesthost::LogContains("TelMAR: Delimiter = '/'", 32));
  EXPECT_TRUE(kesthost::LogContains("TelMAR: BrowseSubsysALL = -1", 32));
  EXPECT_TRUE(kesthost::LogContains("TelMAR: Network = 'Plant A'", 32));
  EXPECT_TRUE(kesthost::LogContains("TelMAR: UnvtTypeFile = 'unvt.typ'", 32));
}

TEST_F(OptionFileTest, DelimiterIsTheFirstCharacterOfItsValue) {
  struct Case {
    const char* line;  // null: no Delimiter key
    char expected;
  } const cases[] = {
      {"Delimiter=/", '/'},     {"Delimiter=abc", 'a'}, {"Delimiter=", '\0'},
      {"Delimiter=  \t", '\0'}, {"Delimiter= - ", '-'}, {nullptr, '.'},
  };
  for (const Case& c : cases) {
    dir_.WriteFile("TELMAR01.int", std::string("[Lns]\n") + (c.line ? c.line : "Remote=1") + "\n");
    inst_->delimiter = '?';
    ReadIntFile(&request_);
    EXPECT_EQ(inst_->delimiter, c.expected) << (c.line ? c.line : "(none)");
  }
}

TEST_F(OptionFileTest, TextValuesKeepTheir254FirstCharacters) {
  const std::string text300(300, 'n');
  dir_.WriteFile("TELMAR01.int",
                 "[Lns]\nNetwork=" + text300 + "\nTypesDirectory=" + std::string(254, 't') + "\n");
  ReadIntFile(&request_);
  EXPECT_EQ(inst_->network, std::string(254, 'n'));
  EXPECT_EQ(inst_->typesDirectory, std::string(254, 't'));
  EXPECT_TRUE(kesthost::LogContains("TelMAR: Network = '" + std::string(254, 'n') + "'", 32));
}

TEST_F(OptionFileTest, FileNameHasAtLeastTwoDigits) {
  EXPECT_EQ(OptionFileName(1), "TELMAR01.int");
  EXPECT_EQ(OptionFileName(0), "TELMAR00.int");
  EXPECT_EQ(OptionFileName(12), "TELMAR12.int");
  EXPECT_EQ(OptionFileName(123), "TELMAR123.int");

  // Each instance reads its own file, chosen by the full instance number of the request.
  dir_.WriteFile("TELMAR01.int", "[Lns]\nDebugLevel=1\n");
  dir_.WriteFile("TELMAR12.int", "[Lns]\nDebugLevel=12\n");
  dir_.WriteFile("TELMAR123.int", "[Lns]\nDebugLevel=123\n");
  dir_.WriteFile("TELMAR300.int", "[Lns]\nDebugLevel=300\n");
  for (int32_t number : {1, 12, 123, 300}) {
    TearDownInstance();
    SetUpInstance(number);
    ReadIntFile(&request_);
    EXPECT_EQ(inst_->debugLevel, number);
  }
}

}  // namespace
