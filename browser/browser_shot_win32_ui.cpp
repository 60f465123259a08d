// The window side of telmar-browser-shot on Windows: works the native dialog by the messages of
// its controls, shows where it is, and waits until its picture was taken.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "browser/dialog_script.h"

namespace {

HTREEITEM Child(HWND tree, HTREEITEM parent, const std::string& text) {
  auto item = reinterpret_cast<HTREEITEM>(
      SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(parent)));
  for (; item; item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT,
                                                               reinterpret_cast<LPARAM>(item)))) {
    char buffer[256] = {};
    TVITEMA tv{};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = buffer;
    tv.cchTextMax = sizeof buffer;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    if (text == buffer) return item;
  }
  return nullptr;
}

void ChooseEntry(HWND dialog, int id, int index) {
  HWND combo = GetDlgItem(dialog, id);
  SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

}  // namespace

// Runs on the dialog's thread once it is shown. False when the NV is not in the tree.
bool ShootDialog(void* window, const std::vector<std::string>& path) {
  auto dialog = static_cast<HWND>(window);
  HWND tree = GetDlgItem(dialog, kTelmarIdTree);
  auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
  for (const std::string& part : path) item = item ? Child(tree, item, part) : nullptr;
  if (!item) return false;
  SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
  ChooseEntry(dialog, kTelmarIdBinding, 1);
  ChooseEntry(dialog, kTelmarIdTypes, 1);
  // Everything painted before the picture is taken.
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  GdiFlush();
  RECT box;
  GetWindowRect(dialog, &box);
  std::printf("shot %ld %ld %ld %ld\n", box.left, box.top, box.right - box.left,
              box.bottom - box.top);
  std::fflush(stdout);
  // The taker creates this file once it has the picture.
  const char* done = std::getenv("TELMAR_XVFB_SHOT_DONE");
  for (int waited = 0; done && waited < 30000; waited += 50) {
    if (GetFileAttributesA(done) != INVALID_FILE_ATTRIBUTES) break;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    Sleep(50);
  }
  PostMessageA(dialog, WM_CLOSE, 0, 0);
  return true;
}
