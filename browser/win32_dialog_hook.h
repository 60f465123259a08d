// For programs that drive the native window (tests, the screenshot tool): a function called on
// the dialog's thread once its window is shown, inside its modal loop. Built with the Windows
// backend only.
#pragma once

#include <functional>

// `window` is the dialog's HWND. Replaces the hook; an empty function removes it. Not to be
// called while a dialog is open.
void SetWin32DialogShownHook(std::function<void(void* window)> hook);
