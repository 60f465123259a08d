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

TEST_F(BrowseFixture, CancelAndCloseBoxEmptyBufferAndPending) {
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
    EXPECT_EQ(PendingValue(), "");
    EXPECT_EQ(PendingName(), "");
  }
}

TEST_F(BrowseFixture, ScriptReturningWithoutEndingClosesTheDialog) {
  StartDriver();
  EXPECT_EQ(Browse([](Api api, TelmarDialog* dlg) { api->selectTreePath(dlg, kRoom.c_str()); }),
            53u);
  EXPECT_EQ(Buffer(), "");
}

TEST_F(BrowseFixture, OkWithEmptyAddressLeavesBufferAndEmptiesPending) {
  StartDriver();
  SetPending("#009", "Somewhere");
  EXPECT_EQ(Browse([](Api api, TelmarDialog* dlg) { api->click(dlg, IDOK); }), 53u);
  EXPECT_TRUE(BufferUntouched());
  EXPECT_EQ(PendingValue(), "");
  EXPECT_EQ(PendingName(), "");
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
  EXPECT_EQ(PendingValue(), "");
  EXPECT_EQ(PendingName(), "");
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
  EXPECT_EQ(PendingValue(), "");
  EXPECT_EQ(PendingName(), "");
}

TEST_F(BrowseFixture, NewMacroIsPendingUntilALaterCancelledBrowse) {
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
  EXPECT_EQ(PendingValue(), "");
  EXPECT_EQ(PendingName(), "");
}

// The hand-over across processes, each case forced at the step where another party can step in.

// The driver parses while a browse is half-way through writing name and value: it waits for the
// whole macro instead of taking a value with the name of an older one.
DriverInstance* parsingInstance = nullptr;
std::thread parseThread;
std::mutex parseLock;
std::condition_variable parseDone;
bool parsed = false;

void ParseWhileTheBrowseWrites(const char* point) {
  if (std::string(point) != "HandOverMacro:value written") return;
  parseThread = std::thread([] {
    TakePendingMacro(parsingInstance);
    std::lock_guard<std::mutex> held(parseLock);
    parsed = true;
    parseDone.notify_all();
  });
  // The parse is over at once, unless the hand-over's lock holds it until this has returned.
  std::unique_lock<std::mutex> held(parseLock);
  parseDone.wait_for(held, std::chrono::milliseconds(300), [] { return parsed; });
}

TEST_F(BrowseFixture, HandOverIsAtomicForADriverParsingMeanwhile) {
  StartDriver();
  SetPending("#OLD", "Old.Prefix");  // an earlier browse's macro, overwritten by this one
  parsingInstance = inst_;
  SetTestPointHook(ParseWhileTheBrowseWrites);
  EXPECT_EQ(Browse([](Api api, TelmarDialog* dlg) {
              ASSERT_EQ(api->selectTreePath(dlg, kSpaceTemp.c_str()), 0);
              api->click(dlg, IDOK);
            }),
            0u);
  SetTestPointHook(nullptr);
  ASSERT_TRUE(parseThread.joinable());
  parseThread.join();
  std::string value;
  EXPECT_TRUE(inst_->macros.Lookup("#001", &value));
  EXPECT_EQ(value, kRoom);
  EXPECT_EQ(inst_->macros.Count(), 1u) << "a value taken with another macro's name";
  EXPECT_EQ(PendingName() + PendingValue(), "");
}

// A browse that is cancelled leaves a macro that another browse handed over after it began.
TEST_F(BrowseFixture, CancelKeepsAMacroHandedOverWhileItsDialogWasOpen) {
  StartDriver();
  EXPECT_EQ(Browse([](Api api, TelmarDialog* dlg) {
              ASSERT_TRUE(HandOverMacro(1, "#005", "Building.Plant"));  // another process
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

TEST_F(BrowseFixture, AddressLongerThanTheHostBufferIsRefused) {
  // A macro of the file with a very long name makes the only address the host buffer cannot take.
  const std::string longName = "#" + std::string(299, 'N');
  StartDriver(longName + " = " + kRoom + "\n");
  SetPending("#009", "Somewhere");
  EXPECT_EQ(Browse([&](Api api, TelmarDialog* dlg) {
              ASSERT_EQ(api->selectTreePath(dlg, kSpaceTemp.c_str()), 0);
              ASSERT_EQ(Text(api, dlg, IDC_ADDRESS), longName + ".nvoSpaceTemp");
              api->click(dlg, IDOK);
            }),
            53u);
  EXPECT_EQ(Buffer(), "");
  EXPECT_EQ(buffer_[1], 'Z');
  EXPECT_EQ(PendingValue(), "");
  EXPECT_TRUE(
      kesthost::LogContains("telMar: BrowseAddress() address of 313 characters", kLogError));
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
