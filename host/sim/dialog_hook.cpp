// The dialog script hook: a tiny library that telmar-host loads only for a scripted browse, so
// that the driver finds TelmarDialogScript by name then and shows the real dialog otherwise. It
// forwards to the simulator, which holds the steps; the program exports that function.
#include "browser/dialog_script.h"
#include "platform/attributes.h"
#include "platform/module.h"

extern "C" PLATFORM_EXPORT int TelmarDialogScript(const TelmarDialogApi* api, TelmarDialog* dlg) {
  auto forward = reinterpret_cast<TelmarHostDialogScriptFn>(HostSymbol("TelmarHostDialogScript"));
  return forward ? forward(api, dlg) : 1;
}
