#include "config/option_file.h"

#include <string>
#include <vector>

#include "tests/config/config_fixture.h"

namespace {

using OptionFileTest = ConfigTest;

// Values the reader must overwrite, so that a field it forgets shows.
void Poison(DriverInstance* inst) {
  inst->remote = inst->single = inst->pinEvent = inst->checkBindings = -99;
  inst->browseFromLns = inst->browseSubsysAll = inst->browseSubsysDiscovered = -99;
  inst->debugLevel = -99;
  inst->network = inst->networkInterface = inst->hostInterface = "poison";
  inst->typesDirectory = inst->standardTypeFile = inst->unvtTypeFile = "poison";
  inst->delimiter = '?';
}

TEST_F(OptionFileTest, WithoutAFileEveryOptionTakesItsDefaultAndIsListed) {
  Poison(inst_);
  EXPECT_EQ(ReadIntFile(&request_), 0);
  const std::vector<int32_t> ints = {inst_->remote,
                                     inst_->single,
                                     inst_->pinEvent,
                                     inst_->checkBindings,
                                     inst_->browseFromLns,
                                     inst_->browseSubsysAll,
                                     inst_->browseSubsysDiscovered,
                                     inst_->debugLevel};
  EXPECT_EQ(ints, (std::vector<int32_t>{0, 0, 1, 0, 0, 0, 0, 3}));
  EXPECT_EQ(inst_->delimiter, '.');
  EXPECT_EQ(inst_->network + inst_->networkInterface + inst_->hostInterface +
                inst_->typesDirectory + inst_->standardTypeFile + inst_->unvtTypeFile,
            "");

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

TEST_F(OptionFileTest, EveryKeyIsReadFromTheLnsSection) {
  dir_.WriteFile("TELMAR01.int",
                 "[Other]\r\nRemote=5\r\n[lns]\r\nremote=2\r\nSingle = 1\r\nPINEVENT=0\r\n"
                 "CheckBindings=4\r\nBrowseFromLns=0x10\r\nBrowseSubsysALL=-1\r\n"
                 "BrowseSubsysDiscoverd=7\r\nDebugLevel=9\r\nNetwork=\"Plant A\"\r\n"
                 "NetworkInterface=LON1\r\nHostInterface = host x \r\nTypesDirectory=" +
                     std::string(300, 't') +
                     "\r\nStandardTypeFile=std.typ\r\nUnvtTypeFile='unvt.typ'\r\n[Macros]\r\n");
  Poison(inst_);
  ReadIntFile(&request_);
  const std::vector<int32_t> ints = {inst_->remote,
                                     inst_->single,
                                     inst_->pinEvent,
                                     inst_->checkBindings,
                                     inst_->browseFromLns,
                                     inst_->browseSubsysAll,
                                     inst_->browseSubsysDiscovered,
                                     inst_->debugLevel};
  EXPECT_EQ(ints, (std::vector<int32_t>{2, 1, 0, 4, 16, -1, 7, 9}));
  const std::vector<std::string> texts = {inst_->network,          inst_->networkInterface,
                                          inst_->hostInterface,    inst_->typesDirectory,
                                          inst_->standardTypeFile, inst_->unvtTypeFile};
  EXPECT_EQ(texts, (std::vector<std::string>{"Plant A", "LON1", "host x", std::string(254, 't'),
                                             "std.typ", "unvt.typ"}));
  EXPECT_TRUE(kesthost::LogContains("TelMAR: BrowseSubsysALL = -1", 32));
  EXPECT_TRUE(kesthost::LogContains("TelMAR: Network = 'Plant A'", 32));
}

TEST_F(OptionFileTest, DelimiterIsTheFirstCharacterOfItsValue) {
  const std::pair<const char*, char> cases[] = {
      {"Delimiter=/", '.'},   {"Delimiter=abc", 'a'}, {"Delimiter=", '.'},
      {"Delimiter= - ", '-'}, {"Remote=1", '.'},
  };
  for (const auto& [line, expected] : cases) {
    dir_.WriteFile("TELMAR01.int", std::string("[Lns]\n") + line + "\n");
    inst_->delimiter = '?';
    ReadIntFile(&request_);
    EXPECT_EQ(inst_->delimiter, expected) << line;
  }
  // An empty or "/" delimiter would break every macro address: '.' with a line saying why.
  EXPECT_EQ(kesthost::LogCount("cannot separate the parts of a path, '.' is used", 32), 2u);
}

TEST_F(OptionFileTest, UnknownKeysAndNonNumbersAreNamed) {
  dir_.WriteFile("TELMAR01.int",
                 "[lns]\nNetwrok=Demo\n pinevent = yes\nRemote=0x10\nDebugLevel=-3\n"
                 "[Other]\nElse=1\n[Lns]\nLater=1\n");
  ReadIntFile(&request_);
  std::vector<std::string> lines;
  for (const kesthost::LogLine& l : kesthost::Log()) {
    if (l.text.find("option file:") != std::string::npos) lines.push_back(l.text);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "TelMAR: option file: unknown option 'Netwrok' in [Lns] is not used",
                       "TelMAR: option file: PinEvent = 'yes' is not a number, read as 0"}));
}

// Text (UTF-8) as a file saved as UTF-16 of the byte order, with its byte-order mark.
std::string Utf16File(const std::string& text, bool little) {
  std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
  for (char c : text) {
    bytes += little ? c : '\0';
    bytes += little ? '\0' : c;
  }
  return bytes;
}

// The check of the keys sees the file as the options are read from it: in its encoding, with
// its line ends, long lines whole.
TEST_F(OptionFileTest, UnknownKeysAreFoundInEveryFormTheReaderReads) {
  const std::string options =
      "[Lns]\nNetwork=Demo\nNetwrok=Demo\nNetworkInterface=" + std::string(600, 'x') +
      "=1\nRemote=1\n[Macros]\n";
  std::string crOnly = options;
  for (char& c : crOnly) c = c == '\n' ? '\r' : c;
  const std::pair<const char*, std::string> files[] = {
      {"UTF-16 LE", Utf16File(options, true)},
      {"UTF-16 BE", Utf16File(options, false)},
      {"UTF-8 with its mark", "\xEF\xBB\xBF" + options},
      {"CR line ends", crOnly},
      {"CR LF line ends", std::string("[Lns]\r\nNetwork=Demo\r\nNetwrok=Demo\r\nRemote=1\r\n")},
  };
  for (const auto& [form, contents] : files) {
    SCOPED_TRACE(form);
    dir_.WriteFile("TELMAR01.int", contents);
    kesthost::ClearLog();
    Poison(inst_);
    ReadIntFile(&request_);
    EXPECT_EQ(inst_->network, "Demo");
    EXPECT_EQ(inst_->remote, 1);
    std::vector<std::string> lines;
    for (const kesthost::LogLine& l : kesthost::Log()) {
      if (l.text.find("option file:") != std::string::npos) lines.push_back(l.text);
    }
    EXPECT_EQ(lines, std::vector<std::string>{
                         "TelMAR: option file: unknown option 'Netwrok' in [Lns] is not used"});
  }
}

TEST_F(OptionFileTest, EachInstanceNumberReadsItsOwnFile) {
  EXPECT_EQ(OptionFileName(0), "TELMAR00.int");
  for (int32_t number : {1, 12, 123, 300}) {
    dir_.WriteFile(OptionFileName(number), "[Lns]\nDebugLevel=" + std::to_string(number) + "\n");
  }
  EXPECT_EQ(OptionFileName(1), "TELMAR01.int");
  EXPECT_EQ(OptionFileName(123), "TELMAR123.int");
  for (int32_t number : {1, 12, 123, 300}) {  // the full number, not its low byte
    TearDownInstance();
    SetUpInstance(number);
    ReadIntFile(&request_);
    EXPECT_EQ(inst_->debugLevel, number);
  }
}

}  // namespace
