// The backends that show a CDialog: a script (no window) or a real window.
#pragma once

#include <string>

#include "browser/dialog_script.h"

class CDialog;

struct DialogScript {
  TelmarDialogScriptFn fn = nullptr;  // set with SetDialogScript
  void* context = nullptr;
  TelmarHostDialogScriptFn hostFn = nullptr;  // exported by the host executable
};

// The script to run in place of a window: the installed one, else the host's; false for none.
bool FindDialogScript(DialogScript* script);
// Runs the dialog through the script: 1, 2, or -1 when the script gave up.
int RunScriptedDialog(CDialog& dialog, const DialogScript& script);
// Held by a window backend while its dialog is open: one dialog window at a time in the
// process. A second browse while one is open, from another thread or from the message loop
// under the modal dialog, finds it taken and is refused.
class OneDialogWindow {
 public:
  OneDialogWindow();
  ~OneDialogWindow();
  OneDialogWindow(const OneDialogWindow&) = delete;
  OneDialogWindow& operator=(const OneDialogWindow&) = delete;
  // False when another dialog window is open (the text for *whyNot in WhyNotText()).
  bool Taken() const { return taken_; }
  static const char* WhyNotText() { return "another dialog window is open"; }

 private:
  bool taken_;
};

// Runs the dialog in a window of the GUI toolkit: 1, 2, or -1 with the reason in *whyNot.
int RunWindowDialog(CDialog& dialog, std::string* whyNot);
