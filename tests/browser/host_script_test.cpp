// A host executable that exports TelmarDialogScript scripts the dialog without installing it.
#include "browser/browser_resources.h"
#include "platform/attributes.h"
#include "tests/browser/browse_fixture.h"

namespace {
int hostScriptRuns = 0;
}

extern "C" PLATFORM_EXPORT int TelmarDialogScript(const TelmarDialogApi* api, TelmarDialog* dlg) {
  ++hostScriptRuns;
  api->selectTreePath(dlg, "Building.Plant.Meter.nvoFlow");
  return api->click(dlg, IDOK);
}

namespace browsetest {
namespace {

TEST_F(BrowseFixture, HostExportedScriptRunsUnlessOneIsInstalled) {
  StartDriver();
  std::memset(buffer_, 'Z', sizeof buffer_);
  BrowseParams params{buffer_};
  VpiRequest request{};
  request.instanceNumber = 1;
  request.params = &params;
  EXPECT_EQ(BrowseAddress(&request), 0u);
  EXPECT_EQ(hostScriptRuns, 1);
  EXPECT_EQ(Buffer(), "Building.Plant.Meter.nvoFlow");

  // An installed script goes first.
  EXPECT_EQ(
      Browse([](const TelmarDialogApi* api, TelmarDialog* dlg) { api->click(dlg, IDCANCEL); }),
      53u);
  EXPECT_EQ(hostScriptRuns, 1);
  EXPECT_EQ(scriptRuns_, 1);
}

}  // namespace
}  // namespace browsetest
