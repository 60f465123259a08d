// The native side of the Windows dialog backend: the system's modal dialog from a resource
// template and its controls, in plain types. (windows.h declares names of its own that the
// dialog layer declares too, so the two never meet in one source.)
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace win32ui {

using Window = void*;      // HWND
using NativeItem = void*;  // HTREEITEM of the native tree view; null for none

// What the dialog's window procedure hands back to the backend.
struct DialogEvents {
  std::function<bool(Window window)> init;  // WM_INITDIALOG; true: the system sets the focus
  std::function<void(int id)> clicked;      // a button, also OK and Cancel by Enter and Escape
  std::function<void(int id, int index)> comboChanged;  // CBN_SELCHANGE, the list's selection
  std::function<void(NativeItem item)> treeChanged;     // TVN_SELCHANGED, the new item
  std::function<void()> closeBox;                       // WM_CLOSE
  std::function<void()> shown;                          // once, from the modal loop
  std::function<bool()> waitCursor;                     // whether the wait cursor stands
  std::function<void()> destroyed;  // WM_DESTROY, while the controls still exist
};

// The bytes of resource `id` of type `type` of the module this code is linked into; false when
// there is none.
bool LoadResourceBytes(int type, int id, std::string* bytes);

// Makes the tree view and the other common controls available; false when they cannot be.
bool InitControls();
// Runs the modal dialog of resource `templateId` of the module this code is linked into, owned
// as the system's own modal dialogs are: by the calling thread's active window, else by a
// visible top-level window of this process, which is disabled while the dialog runs and which
// the dialog stays in front of. EndModal's result, or -1 with *error (LastError) when the window
// cannot be created.
intptr_t RunModal(int templateId, DialogEvents* events, unsigned long* error);
void EndModal(Window window, int result);
void CenterOnScreen(Window window);
// The initial entries of the lists, from the template's initialisation records (resource type
// 240 of the same id): each record adds a text to a combo box.
void FillListsFromResource(Window window, int templateId);

void SetText(Window window, int id, const char* text);
void Enable(Window window, int id, bool enable);
void ComboAdd(Window window, int id, const char* text);
void ComboClear(Window window, int id);
void ComboSelect(Window window, int id, int index);
int ComboSelection(Window window, int id);
NativeItem TreeInsert(Window window, int id, NativeItem parent, const char* text, int image);
void TreeSelect(Window window, int id, NativeItem item);
void TreeExpand(Window window, int id, NativeItem item, bool expand);
void TreeClear(Window window, int id);
// Gives the tree an image list cut from bitmap resource `bitmapId` (images `width` pixels wide,
// `mask` 0xRRGGBB transparent, drawn on `background` 0xRRGGBB), or none with bitmapId 0; the
// list given before is destroyed. False when the list cannot be made.
bool TreeSetImages(Window window, int id, int bitmapId, int width, uint32_t mask,
                   uint32_t background);
void TreeDropImages(Window window, int id);
// How many image lists TreeSetImages made that are not destroyed yet.
int OpenImageLists();
// The wait cursor on (true) or the cursor shown before back (false).
void WaitCursor(bool on);

}  // namespace win32ui
