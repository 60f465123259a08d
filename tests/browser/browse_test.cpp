// The browse command run headless through a dialog script, against the simulated demo network.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "browser/browser_resources.h"
#include "core/test_point.h"
#include "tests/browser/browse_fixture.h"

namespace browsetest {
namespace {

using Api = const TelmarDialogApi*;

// Sets an environment variable, or removes it for a null value.
void SetEnv(const char* name, const char* value) {
#if defined(_WIN32)
  _putenv_s(name, value ? value : "");
#else
  value ? setenv(name, value, 1) : unsetenv(name);
#endif
}

TEST_F(BrowseFixture, DialogStartsWithTheNetworkTreeAndOptionsDisabled) {
  StartDriver();
  ASSERT_EQ(Browse([](Api api, TelmarDialog* dlg) {
              char text[64];
              int image = -1, depth = -1;
              ASSERT_GT(api->itemCount(dlg, IDC_TREE), 10);
              ASSERT_EQ(api->getItem(dlg, IDC_TREE, 0, text, sizeof text, &image, &depth), 4);
              EXPECT_STREQ(text, "Demo");
              EXPECT_EQ(depth, 0);
              EXPECT_EQ(Text(api, dlg, IDC_ADDRESS), "");
              EXPECT_EQ(Text(api, dlg, IDC_MACRO), "");
              EXPECT_EQ(api->getSelection(dlg, IDC_BINDING), -1);
              EXPECT_EQ(api->getSelection(dlg, IDC_TYPES), -1);
              for (int id : {IDC_BINDING, IDC_TYPES, IDC_POLLING, IDC_CLEAR_OPTIONS}) {
                EXPECT_EQ(api->isEnabled(dlg, id), 0) << id;
              }
              for (int id : {IDOK, IDCANCEL, IDC_REFRESH}) EXPECT_EQ(api->isEnabled(dlg, id), 1);
              EXPECT_EQ(api->click(dlg, IDC_POLLING), -1);
              EXPECT_EQ(api->selectBinding(dlg, 1), -1);
              EXPECT_EQ(api->itemCount(dlg, IDC_TYPES), 5);
              EXPECT_EQ(api->getItem(dlg, IDC_BINDING, 3, text, sizeof text, &image, &depth), 9);
              EXPECT_STREQ(text, "App. Host");
              EXPECT_EQ(api->selectTreePath(dlg, "Building.NoSuchRoom"), -1);
              api->click(dlg, IDCANCEL);
            }),
            53u);
  EXPECT_EQ(scriptRuns_, 1);
  EXPECT_EQ(lonsim::CallCount("Serialize"), 1);
}

// A driver whose network did not open (its ColdStart failed at the connection) has no network
// to browse: the network that was open before must not be offered as its own.
TEST_F(BrowseFixture, BrowseOfADriverWhoseNetworkDidNotOpenSaysThereIsNone) {
  StartDriver();
  lns_->Release();
  lns_ = CLns::GetLnsObject(0, 0, 1, '.', "", "", "");
  ASSERT_NE(lns_, nullptr);
  ASSERT_NE(lns_->Open("missing.net", "", "", ""), 0);
  EXPECT_EQ(Browse([](Api api, TelmarDialog* dlg) {
              EXPECT_EQ(api->itemCount(dlg, IDC_TREE), 0);
              api->click(dlg, IDOK);
            }),
            53u);
  EXPECT_EQ(Buffer(), "");
  EXPECT_EQ(kesthost::LogCount("has no network to show: the network of driver instance 1", 32), 1u);
}

// A browse that hands nothing over never touches a macro that another browse handed over and no
// parse has taken yet: the host's stored address with it must still parse.
TEST_F(BrowseFixture, CancelAndCloseBoxEmptyTheBufferAndKeepThePendingMacro) {
  StartDriver();
  for (int button : {IDCANCEL, static_cast<int>(kTelmarCloseBox)}) {
    SCOPED_TRACE(button);
    SetPending("#009", "Somewhere");
    EXPECT_EQ(Browse([button](Api api, TelmarDialog* dlg) {
                ASSERT_EQ(api->selectTreePath(dlg, kSpaceTemp.c_str()), 0);
                ASSERT_EQ(api->click(dlg, button), 0);
                EXPECT_EQ(api->click(dlg, IDOK), -1);  // the dialog has ended
              }),
              53u);
    EXPECT_EQ(Buffer(), "");
    EXPECT_EQ(PendingName() + " " + PendingValue(), "#009 Somewhere");
  }
}

TEST_F(BrowseFixture, ScriptReturningWithoutEndingClosesTheDialog) {
  StartDriver();
  EXPECT_EQ(Browse([](Api api, TelmarDialog* dlg) { api->selectTreePath(dlg, kRoom.c_str()); }),
            53u);
  EXPECT_EQ(Buffer(), "");
}

TEST_F(BrowseFixture, OkWithEmptyAddressLeavesBufferAndThePendingMacro) {
  StartDriver();
  SetPending("#009", "Somewhere");
  EXPECT_EQ(Browse([](Api api, TelmarDialog* dlg) { api->click(dlg, IDOK); }), 53u);
  EXPECT_TRUE(BufferUntouched());
  EXPECT_EQ(PendingName() + " " + PendingValue(), "#009 Somewhere");
}

TEST_F(BrowseFixture, OkWithoutMacroReturnsThePath) {
  StartDriver();
  SetPending("#009", "Somewhere");
  EXPECT_EQ(Browse([](Api api, TelmarDialog* dlg) {
              ASSERT_EQ(api->selectTreePath(dlg, "Building.Plant.Meter.nvoFlow"), 0);
              api->click(dlg, IDOK);
            }),
            0u);
  EXPECT_EQ(Buffer(), "Building.Plant.Meter.nvoFlow");
  EXPECT_EQ(buffer_[Buffer().size() + 1], 'Z');  // nothing written after the NUL
  EXPECT_EQ(PendingName() + " " + PendingValue(), "#009 Somewhere");
}

TEST_F(BrowseFixture, OkWithMacroOfTheFileHandsNothingOver) {
  StartDriver("#001 = other.prefix\n#002 = building.FLOOR1.room101\n");
  SetPending("#009", "Somewhere");
  EXPECT_EQ(Browse([](Api api, TelmarDialog* dlg) {
              ASSERT_EQ(api->selectTreePath(dlg, kSpaceTemp.c_str()), 0);
              EXPECT_EQ(Text(api, dlg, IDC_MACRO), kRoom);
              api->click(dlg, IDOK);
            }),
            0u);
  EXPECT_EQ(Buffer(), "#002.nvoSpaceTemp");
  EXPECT_EQ(PendingName() + " " + PendingValue(), "#009 Somewhere");
}

TEST_F(BrowseFixture, NewMacroStaysPendingThroughALaterCancelledBrowse) {
  StartDriver();
  EXPECT_EQ(Browse([](Api api, TelmarDialog* dlg) {
              ASSERT_EQ(api->selectTreePath(dlg, kSpaceTemp.c_str()), 0);
              api->click(dlg, IDOK);
            }),
            0u);
  EXPECT_EQ(Buffer(), "#001.nvoSpaceTemp");
  EXPECT_EQ(PendingValue(), kRoom);
  EXPECT_EQ(PendingName(), "#001");
  EXPECT_EQ(Browse([](Api api, TelmarDialog* dlg) { api->click(dlg, IDCANCEL); }), 53u);
  EXPECT_EQ(PendingValue(), kRoom);
  EXPECT_EQ(PendingName(), "#001");
}

// Browses before a parse: a new path gets a name that neither the file nor the pending macro
// uses, the pending one goes to the option file instead of being overwritten, and the same path
// gets the same macro again. The parse then knows every one of them.
TEST_F(BrowseFixture, BrowsesBeforeAParseNameEachPathOnce) {
  StartDriver();
  const std::string room201 = "Building.Floor2.Room201";
  const std::pair<std::string, std::string> browses[] = {
      {kSpaceTemp, "#001.nvoSpaceTemp"},
      {room201 + ".nvoSpaceTemp", "#002.nvoSpaceTemp"},
      {kRoom + ".nviSetpoint", "#001.nviSetpoint"},    // pending no more, now in the file
      {room201 + ".nvoValvePos", "#002.nvoValvePos"},  // still pending
  };
  for (const auto& [path, address] : browses) {
    EXPECT_EQ(Browse([&path](Api api, TelmarDialog* dlg) {
                ASSERT_EQ(api->selectTreePath(dlg, path.c_str()), 0);
                api->click(dlg, IDOK);
              }),
              0u);
    EXPECT_EQ(Buffer(), address);
  }
  EXPECT_EQ(PendingName() + " " + PendingValue(), "#002 " + room201);
  EXPECT_EQ(dir_.ReadFile("TELMAR01.int"), "[Lns]\nNetwork=Demo\n[Macros]\n#001 = " + kRoom + "\n");

  TakePendingMacro(inst_);  // the driver's next parse
  std::string value;
  EXPECT_TRUE(inst_->macros.Lookup("#001", &value));
  EXPECT_EQ(value, kRoom);
  EXPECT_TRUE(inst_->macros.Lookup("#002", &value));
  EXPECT_EQ(value, room201);
  EXPECT_EQ(inst_->macros.Count(), 2u);
  EXPECT_EQ(PendingName() + PendingValue(), "");
  EXPECT_TRUE(kesthost::LogContains(
      "macro '#001' -> '" + kRoom + "' taken over from the option file", kLogTrace));
}

// The hand-over across processes, each case forced at the step where another party can step in.

// The driver parses while a browse is half-way through writing name and value: it waits for the
// whole macro instead of taking a value with the name of an older one.
DriverInstance* parsingInstance = nullptr;
std::thread parseThread;
std::mutex parseLock;
std::condition_variable parseWaits;
bool parseAtTheLock = false;
thread_local bool onParseThread = false;

void ParseWhileTheBrowseWrites(const char* point) {
  const std::string at = point;
  if (at == "HandOverLock:waiting" && onParseThread) {
    std::lock_guard<std::mutex> held(parseLock);
    parseAtTheLock = true;
    parseWaits.notify_all();
    return;
  }
  if (at != "HandOverMacro:value written") return;
  parseThread = std::thread([] {
    onParseThread = true;
    TakePendingMacro(parsingInstance);
  });
  // The browse goes on once the parse waits for the lock that the browse holds.
  std::unique_lock<std::mutex> held(parseLock);
  ASSERT_TRUE(parseWaits.wait_for(held, std::chrono::seconds(30), [] { return parseAtTheLock; }));
}

TEST_F(BrowseFixture, HandOverIsAtomicForADriverParsingMeanwhile) {
  StartDriver();
  SetPending("#OLD", "Old.Prefix");  // an earlier browse's macro, not taken yet
  parsingInstance = inst_;
  SetTestPointHook(ParseWhileTheBrowseWrites);
  EXPECT_EQ(Browse([](Api api, TelmarDialog* dlg) {
              ASSERT_EQ(api->selectTreePath(dlg, kSpaceTemp.c_str()), 0);
              api->click(dlg, IDOK);
            }),
            0u);
  ASSERT_TRUE(parseThread.joinable());
  parseThread.join();
  SetTestPointHook(nullptr);
  EXPECT_EQ(Buffer(), "#002.nvoSpaceTemp");
  // Each value with its own name: the earlier macro through the option file, this one taken.
  std::string value;
  EXPECT_TRUE(inst_->macros.Lookup("#002", &value));
  EXPECT_EQ(value, kRoom);
  EXPECT_TRUE(inst_->macros.Lookup("#OLD", &value));
  EXPECT_EQ(value, "Old.Prefix");
  EXPECT_EQ(inst_->macros.Count(), 2u);
  EXPECT_EQ(PendingName() + PendingValue(), "");
}

// A browse that is cancelled leaves a macro that another browse handed over after it began.
TEST_F(BrowseFixture, CancelKeepsAMacroHandedOverWhileItsDialogWasOpen) {
  StartDriver();
  EXPECT_EQ(Browse([](Api api, TelmarDialog* dlg) {
              std::string settled;
              ASSERT_TRUE(HandOverMacro(1, "#005", "Building.Plant", &settled));  // another process
              EXPECT_EQ(settled, "#005");
              api->click(dlg, IDCANCEL);
            }),
            53u);
  EXPECT_EQ(PendingName(), "#005");
  EXPECT_EQ(PendingValue(), "Building.Plant");
}

// The driver restarts while the dialog is open: the macro goes to the new driver's block, and a
// macro still pending when the driver ends reaches the option file.
TEST_F(BrowseFixture, AMacroReachesTheDriverThatRunsWhenTheDialogCloses) {
  StartDriver();
  EXPECT_EQ(Browse([this](Api api, TelmarDialog* dlg) {
              CloseShareData(inst_->shareHandle, inst_->shareView);  // EndVpi ...
              RemoveShareData(1);
              ASSERT_EQ(CreateShareData(&request_), 0);  // ... and ColdStart
              share_ = inst_->shareView;
              share_->delimiter = '.';  // as ColdStart writes it
              ASSERT_EQ(api->selectTreePath(dlg, kSpaceTemp.c_str()), 0);
              api->click(dlg, IDOK);
            }),
            0u);
  EXPECT_EQ(PendingName(), "#001");
  EXPECT_EQ(PendingValue(), kRoom);
  EndShareData(inst_);
  EXPECT_NE(dir_.ReadFile("TELMAR01.int").find("\n#001 = " + kRoom), std::string::npos);

  // With no driver at all when the dialog closes, the host gets no address.
  ASSERT_EQ(CreateShareData(&request_), 0);
  share_ = inst_->shareView;
  share_->delimiter = '.';
  EXPECT_EQ(Browse([this](Api api, TelmarDialog* dlg) {
              ASSERT_EQ(api->selectTreePath(dlg, "Building.Floor2.Room201.nvoSpaceTemp"), 0);
              EndShareData(inst_);  // EndVpi, no ColdStart after it
              share_ = nullptr;
              api->click(dlg, IDOK);
            }),
            53u);
  EXPECT_EQ(Buffer(), "");
  EXPECT_TRUE(kesthost::LogContains("telMar: no running driver took macro '#002' over", 32));
}

TEST_F(BrowseFixture, NewMacroSkipsANameTheFileUses) {
  // One macro, named #002: the entry count plus 1 is taken.
  StartDriver("#002 = Building.Plant\n");
  EXPECT_EQ(Browse([](Api api, TelmarDialog* dlg) {
              ASSERT_EQ(api->selectTreePath(dlg, kSpaceTemp.c_str()), 0);
              api->click(dlg, IDOK);
            }),
            0u);
  EXPECT_EQ(Buffer(), "#003.nvoSpaceTemp");
  EXPECT_EQ(PendingName(), "#003");
  EXPECT_EQ(PendingValue(), kRoom);
}

TEST_F(BrowseFixture, FieldItemsAllowOptionsOtherObjectsDoNot) {
  StartDriver();
  EXPECT_EQ(Browse([](Api api, TelmarDialog* dlg) {
              char text[64];
              int image = -1, depth = 0, field = -1;
              for (int i = 0; i < api->itemCount(dlg, IDC_TREE) && field < 0; ++i) {
                api->getItem(dlg, IDC_TREE, i, text, sizeof text, &image, &depth);
                if (image == kImageNVField) field = i;
              }
              ASSERT_GE(field, 0);
              ASSERT_EQ(api->selectTreePath(dlg, (kRoom + ".nvoLamp").c_str()), 0);
              ASSERT_EQ(api->selectTreePath(dlg, (kRoom + ".nvoLamp.value").c_str()), 0);
              EXPECT_EQ(api->isEnabled(dlg, IDC_TYPES), 1);
              ASSERT_EQ(api->selectTreePath(dlg, (kRoom + ".Thermostat").c_str()), 0);
              EXPECT_EQ(api->isEnabled(dlg, IDC_TYPES), 0);
              EXPECT_EQ(api->isEnabled(dlg, IDC_POLLING), 0);
              EXPECT_EQ(Text(api, dlg, IDC_ADDRESS), "#001.Thermostat");
              api->click(dlg, IDCANCEL);
            }),
            53u);
}

TEST_F(BrowseFixture, RefreshWritesTheBrowseGateOrLogsItsAbsence) {
  StartDriver();
  Browse([](Api api, TelmarDialog* dlg) {
    EXPECT_EQ(api->click(dlg, IDC_REFRESH), 0);
    EXPECT_EQ(api->click(dlg, IDC_REFRESH), 0);
    api->click(dlg, IDCANCEL);
  });
  EXPECT_EQ(kesthost::LogCount("TelMAR: !Browse gate not found", kLogError), 2u);
  EXPECT_EQ(kesthost::CallCount("KestPutGateVal"), 0u);

  kesthost::Gate gate;
  gate.id = 77;
  gate.type = 1;
  gate.address = "!Browse";
  kesthost::AddGate(gate);
  kesthost::ClearLog();
  Browse([](Api api, TelmarDialog* dlg) {
    EXPECT_EQ(api->click(dlg, IDC_REFRESH), 0);
    api->click(dlg, IDCANCEL);
  });
  EXPECT_EQ(kesthost::LogCount("!Browse gate not found"), 0u);
  kesthost::Call call;
  ASSERT_TRUE(kesthost::LastCall("KestPutGateVal", &call));
  EXPECT_EQ(call.args, (std::vector<int64_t>{share_->clientId, 77, 1, 0, 0}));
  EXPECT_EQ(call.real, 1.0);
  ASSERT_TRUE(kesthost::LastCall("KestGetGateIdByAddressStr", &call));
  EXPECT_EQ(call.args, (std::vector<int64_t>{share_->clientId, 1}));
  EXPECT_EQ(call.text, "!Browse");
}

// A path that no macro makes short enough still comes back with its path: in full where the
// host's buffer takes it (with a level-8 line), never as its options alone or as the address of
// the item selected before; where nothing fits, 53 and a level-32 line naming it.
TEST_F(BrowseFixture, PathsTheRuleCannotShortenComeBackWhole) {
  const std::string far(300, 'S');
  dir_.WriteFile("long.net",
                 "subsystem HQ\nsubsystem HQ.Plant\n"
                 "device HQ.Plant.Pump handle 1 neuron 00A1B2C3D4E5\n"
                 "nv HQ.Plant.Pump.nvoPumpFault output SNVT_dev_fault\n"
                 "nv HQ.Plant.Pump.nvoSpeed output SNVT_rpm\n"
                 "subsystem HQ.Floor\ndevice HQ.Floor.Room handle 2 neuron 00A1B2C3D4E6\n"
                 "nv HQ.Floor.Room.nvoSpaceTemperature output SNVT_temp_p\n"
                 "subsystem " +
                     far + "\ndevice " + far +
                     ".D handle 3 neuron 00A1B2C3D4E7\n"
                     "nv " +
                     far + ".D.nvoX output SNVT_temp_p\n");
  // A macro of the file whose name makes its address too long for the host's buffer.
  const std::string longName = "#" + std::string(299, 'N');
  StartDriver(longName + " = HQ.Floor.Room\n", dir_.path() + "/long.net");
  const std::string field = "HQ.Plant.Pump.nvoPumpFault.dev_type_pump_ctrl_df_motor_failure";
  struct Case {
    std::string path;
    int type;  // -1: none
    uint32_t result;
    std::string address;
    std::string line;  // of the level given
    int level;
  };
  const Case cases[] = {
      {field, 2, 0, field + "/F:d",
       "telMar: BrowseAddress() '" + field +
           "/F:d' cannot be shortened to 31 characters (its "
           "last part has more than 31 characters): '" +
           field + "/F:d' is returned",
       kLogTrace},
      {field, -1, 0, field, "cannot be shortened to 31 characters", kLogTrace},
      {"HQ.Floor.Room.nvoSpaceTemperature", -1, 0, "HQ.Floor.Room.nvoSpaceTemperature",
       "(its macro name makes it too long for the host's buffer)", kLogTrace},
      {far + ".D.nvoX", -1, 53, "",
       "telMar: BrowseAddress() address of 307 characters exceeds the buffer: '" + far + ".D.nvoX'",
       kLogError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.substr(0, 40));
    kesthost::ClearLog();
    SetPending("#009", "Somewhere");
    EXPECT_EQ(Browse([&c](Api api, TelmarDialog* dlg) {
                ASSERT_EQ(api->selectTreePath(dlg, "HQ.Plant.Pump.nvoSpeed"), 0);
                ASSERT_EQ(api->selectTreePath(dlg, c.path.c_str()), 0);
                if (c.type >= 0) {
                  ASSERT_EQ(api->selectType(dlg, c.type), 0);
                }
                EXPECT_EQ(Text(api, dlg, IDC_MACRO), "");
                api->click(dlg, IDOK);
              }),
              c.result);
    EXPECT_EQ(Buffer(), c.address);
    EXPECT_TRUE(kesthost::LogContains(c.line, c.level)) << c.line;
    EXPECT_EQ(PendingName() + " " + PendingValue(), "#009 Somewhere");
  }
}

TEST_F(BrowseFixture, WithoutDriverOrMacroFileNoDialog) {
  // No running driver: no block to open.
  kesthost::Reset();
  EXPECT_EQ(Browse([](Api api, TelmarDialog* dlg) { api->click(dlg, IDOK); }), 53u);
  EXPECT_EQ(scriptRuns_, 0);
  EXPECT_TRUE(BufferUntouched());
  EXPECT_TRUE(kesthost::LogContains("telMar: OpenShareData() fail on OpenFileMapping"));

  // A running driver, but the option file is gone.
  StartDriver();
  std::remove("TELMAR01.int");
  EXPECT_EQ(Browse([](Api api, TelmarDialog* dlg) { api->click(dlg, IDOK); }), 53u);
  EXPECT_EQ(scriptRuns_, 0);
  EXPECT_TRUE(BufferUntouched());
  EXPECT_TRUE(kesthost::LogContains("telMar: failed to open initialization file: 'TELMAR01.int'",
                                    kLogError));
}

TEST_F(BrowseFixture, DialogThatCannotBeShownGivesEmptyText) {
  StartDriver();
  SetDialogScript(nullptr, nullptr);
  // No script and no display: an X display that does not exist.
  const char* savedPlatform = std::getenv("QT_QPA_PLATFORM");
  const char* savedDisplay = std::getenv("DISPLAY");
  std::string platform = savedPlatform ? savedPlatform : "";
  std::string display = savedDisplay ? savedDisplay : "";
  SetEnv("QT_QPA_PLATFORM", "xcb");
  SetEnv("DISPLAY", ":4711");
  std::memset(buffer_, 'Z', sizeof buffer_);
  BrowseParams params{buffer_};
  VpiRequest request{};
  request.instanceNumber = 1;
  request.params = &params;
  uint32_t result = BrowseAddress(&request);
  SetEnv("QT_QPA_PLATFORM", savedPlatform ? platform.c_str() : nullptr);
  SetEnv("DISPLAY", savedDisplay ? display.c_str() : nullptr);
  EXPECT_EQ(result, 53u);
  EXPECT_EQ(Buffer(), "");
  EXPECT_TRUE(
      kesthost::LogContains("telMar: dialog 'LonWorks browser' cannot be shown", kLogError));
}

}  // namespace
}  // namespace browsetest
