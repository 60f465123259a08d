// For programs that drive the real window (tests, the screenshot tool): a function called once
// the dialog's window is shown, inside its modal loop. Built with the Qt backend only.
#pragma once

#include <functional>

class QDialog;

// Replaces the hook; an empty function removes it. Not to be called while a dialog is open.
void SetQtDialogShownHook(std::function<void(QDialog* window)> hook);
