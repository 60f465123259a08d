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
// Runs the dialog in a window of the GUI toolkit: 1, 2, or -1 with the reason in *whyNot.
int RunWindowDialog(CDialog& dialog, std::string* whyNot);
