// The dialog script hook: a tiny library that telmar-host loads (with global symbols) only for a
// scripted browse, so that the driver finds TelmarDialogScript by name then and shows the real
// dialog otherwise. It forwards to the simulator, which holds the steps.
#include "browser/dialog_script.h"

extern "C" int TelmarHostDialogScript(const TelmarDialogApi* api, TelmarDialog* dlg);

extern "C" __attribute__((visibility("default"))) int TelmarDialogScript(const TelmarDialogApi* api,
                                                                         TelmarDialog* dlg) {
  return TelmarHostDialogScript(api, dlg);
}
