#include "browser/win32_window.h"

#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <cstring>
#include <string>

namespace win32ui {
namespace {

// Posted to the dialog once it is up, so that `shown` runs from the modal loop.
constexpr UINT kShownMessage = WM_APP + 1;
constexpr WORD kDlgInitType = 240;
// The message code of a record that adds an entry to a combo box.
constexpr WORD kDlgInitAddString = 0x0403;

std::atomic<int> openImageLists{0};

HMODULE ResourceModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&ResourceModule), &module);
  return module;
}

// The tree view never destroys the image list it was given: the one who made it does.
void DestroyImages(HIMAGELIST list) {
  if (list && ImageList_Destroy(list)) --openImageLists;
}

HWND Item(Window window, int id) {
  return GetDlgItem(static_cast<HWND>(window), id);
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrA(window, DWLP_USER, lParam);
  auto* events = reinterpret_cast<DialogEvents*>(GetWindowLongPtrA(window, DWLP_USER));
  if (!events) return FALSE;
  switch (message) {
    case WM_INITDIALOG: {
      bool focus = events->init(window);
      PostMessageA(window, kShownMessage, 0, 0);
      return focus ? TRUE : FALSE;
    }
    case kShownMessage:
      events->shown();
      return TRUE;
    case WM_COMMAND: {
      int id = LOWORD(wParam);
      if (HIWORD(wParam) == CBN_SELCHANGE) {
        events->comboChanged(id, ComboSelection(window, id));
      } else if (HIWORD(wParam) == BN_CLICKED) {
        events->clicked(id);
      }
      return TRUE;
    }
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->code == TVN_SELCHANGEDA || header->code == TVN_SELCHANGEDW) {
        events->treeChanged(reinterpret_cast<NMTREEVIEWA*>(lParam)->itemNew.hItem);
      }
      SetWindowLongPtrA(window, DWLP_MSGRESULT, 0);
      return TRUE;
    }
    case WM_CLOSE:
      events->closeBox();
      return TRUE;
    case WM_DESTROY:
      if (events->destroyed) events->destroyed();
      return FALSE;
    case WM_SETCURSOR:
      if (!events->waitCursor()) return FALSE;
      SetCursor(LoadCursorA(nullptr, IDC_WAIT));
      SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

bool InitControls() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES | ICC_STANDARD_CLASSES};
  return InitCommonControlsEx(&controls) != FALSE;
}

namespace {

// A visible, enabled top-level window of this process, for a thread that has no active window.
BOOL CALLBACK FindProcessWindow(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || !IsWindowVisible(window) || !IsWindowEnabled(window) ||
      GetWindow(window, GW_OWNER) != nullptr) {
    return TRUE;
  }
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// The owner of a modal dialog of the calling thread: the thread's active window, else a visible
// top-level window of this process; its top-level window in either case. Null when there is
// none.
HWND ModalOwner() {
  HWND owner = GetActiveWindow();
  if (!owner) EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&owner));
  return owner ? GetAncestor(owner, GA_ROOT) : nullptr;
}

}  // namespace

intptr_t RunModal(int templateId, DialogEvents* events, unsigned long* error) {
  SetLastError(0);
  INT_PTR result = DialogBoxParamA(ResourceModule(), MAKEINTRESOURCEA(templateId), ModalOwner(),
                                   DialogProc, reinterpret_cast<LPARAM>(events));
  if (result == -1) *error = GetLastError();
  return result;
}

void EndModal(Window window, int result) {
  EndDialog(static_cast<HWND>(window), result);
}

void CenterOnScreen(Window window) {
  auto hwnd = static_cast<HWND>(window);
  RECT box;
  GetWindowRect(hwnd, &box);
  SetWindowPos(hwnd, nullptr, (GetSystemMetrics(SM_CXSCREEN) - (box.right - box.left)) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - (box.bottom - box.top)) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool LoadResourceBytes(int type, int id, std::string* bytes) {
  HMODULE module = ResourceModule();
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(type));
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const auto* data = static_cast<const char*>(loaded ? LockResource(loaded) : nullptr);
  if (!data) return false;
  bytes->assign(data, SizeofResource(module, found));
  return true;
}

void FillListsFromResource(Window window, int templateId) {
  std::string records;
  if (!LoadResourceBytes(kDlgInitType, templateId, &records)) return;
  const auto* at = reinterpret_cast<const unsigned char*>(records.data());
  const unsigned char* end = at + records.size();
  // Records: control id, message (16 bits each), length of the data (32 bits), the data.
  while (end - at >= 8) {
    WORD id, code;
    DWORD length;
    std::memcpy(&id, at, 2);
    std::memcpy(&code, at + 2, 2);
    std::memcpy(&length, at + 4, 4);
    at += 8;
    if (id == 0 || length > static_cast<size_t>(end - at)) break;
    if (code == kDlgInitAddString) {
      std::string text(reinterpret_cast<const char*>(at),
                       strnlen(reinterpret_cast<const char*>(at), length));
      ComboAdd(window, id, text.c_str());
    }
    at += length;
  }
}

void SetText(Window window, int id, const char* text) {
  SetWindowTextA(Item(window, id), text);
}

void Enable(Window window, int id, bool enable) {
  EnableWindow(Item(window, id), enable);
}

void ComboAdd(Window window, int id, const char* text) {
  SendMessageA(Item(window, id), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void ComboClear(Window window, int id) {
  SendMessageA(Item(window, id), CB_RESETCONTENT, 0, 0);
}

void ComboSelect(Window window, int id, int index) {
  SendMessageA(Item(window, id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int ComboSelection(Window window, int id) {
  auto index = static_cast<int>(SendMessageA(Item(window, id), CB_GETCURSEL, 0, 0));
  return index < 0 ? -1 : index;
}

NativeItem TreeInsert(Window window, int id, NativeItem parent, const char* text, int image) {
  TVINSERTSTRUCTA insert{};
  insert.hParent = parent ? static_cast<HTREEITEM>(parent) : TVI_ROOT;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  insert.item.pszText = const_cast<char*>(text);
  insert.item.iImage = insert.item.iSelectedImage = image;
  return reinterpret_cast<NativeItem>(
      SendMessageA(Item(window, id), TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

void TreeSelect(Window window, int id, NativeItem item) {
  SendMessageA(Item(window, id), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

void TreeExpand(Window window, int id, NativeItem item, bool expand) {
  SendMessageA(Item(window, id), TVM_EXPAND, expand ? TVE_EXPAND : TVE_COLLAPSE,
               reinterpret_cast<LPARAM>(item));
}

void TreeClear(Window window, int id) {
  SendMessageA(Item(window, id), TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
}

bool TreeSetImages(Window window, int id, int bitmapId, int width, uint32_t mask,
                   uint32_t background) {
  HIMAGELIST list = ImageList_LoadImageA(ResourceModule(), MAKEINTRESOURCEA(bitmapId), width, 0,
                                         RGB((mask >> 16) & 0xFF, (mask >> 8) & 0xFF, mask & 0xFF),
                                         IMAGE_BITMAP, LR_CREATEDIBSECTION);
  if (list) {
    ++openImageLists;
    ImageList_SetBkColor(
        list, RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF));
  }
  HWND tree = Item(window, id);
  if (!tree) {
    DestroyImages(list);
    return false;
  }
  DestroyImages(reinterpret_cast<HIMAGELIST>(
      SendMessageA(tree, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(list))));
  return list != nullptr;
}

void TreeDropImages(Window window, int id) {
  DestroyImages(reinterpret_cast<HIMAGELIST>(
      SendMessageA(Item(window, id), TVM_SETIMAGELIST, TVSIL_NORMAL, 0)));
}

int OpenImageLists() {
  return openImageLists.load();
}

void WaitCursor(bool on) {
  thread_local HCURSOR saved = nullptr;
  if (on) {
    saved = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  } else {
    SetCursor(saved);
  }
}

}  // namespace win32ui
