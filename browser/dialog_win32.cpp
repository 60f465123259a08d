// The Windows backend: the native modal dialog that the system builds from the resource template
// (browser.rc) on the calling thread. The in-memory controls stay the truth, as with every
// backend: each change of them is mirrored into the native controls, and the notifications of
// the native controls (clicks, list and tree selections, the close box) go back through
// CDialog's User* calls, which run the dialog's message table.
#include <cstdio>
#include <mutex>
#include <vector>

#include "browser/dialog_backend.h"
#include "browser/dialog_layer.h"
#include "browser/win32_dialog_hook.h"
#include "browser/win32_window.h"
#include "platform/display.h"

namespace {

std::mutex hookLock;
std::function<void(void*)> shownHook;  // guarded by hookLock

class NativeDialog {
 public:
  explicit NativeDialog(CDialog& dialog) : dialog_(dialog) {
    events_.init = [this](win32ui::Window window) { return OnInit(window); };
    events_.clicked = [this](int id) {
      if (!mirroring_) dialog_.UserClick(id);
    };
    events_.comboChanged = [this](int id, int index) { OnComboChanged(id, index); };
    events_.treeChanged = [this](win32ui::NativeItem item) {
      if (mirroring_) return;
      if (HTREEITEM handle = ModelItem(item)) dialog_.UserSelectTreeItem(handle);
    };
    events_.closeBox = [this] { dialog_.UserClick(kCloseBoxId); };
    events_.shown = [this] { OnShown(); };
    events_.waitCursor = [this] { return waitCursor_ > 0; };
    // The tree view leaves its image list behind when it goes.
    events_.destroyed = [this] {
      if (treeId_) win32ui::TreeDropImages(window_, treeId_);
    };
  }
  ~NativeDialog() {
    dialog_.SetObserver(nullptr);
    if (waitCursor_ > 0) win32ui::WaitCursor(false);
  }

  intptr_t Run(unsigned long* error) {
    return win32ui::RunModal(dialog_.Template()->id, &events_, error);
  }

 private:
  bool OnInit(win32ui::Window window);
  void OnComboChanged(int id, int index);
  void OnShown();
  void OnChange(int id, DialogChange change, uintptr_t item);
  HTREEITEM ModelItem(win32ui::NativeItem native) const;
  win32ui::NativeItem NativeOf(HTREEITEM item) const {
    return item && item <= treeItems_.size() ? treeItems_[item - 1] : nullptr;
  }

  CDialog& dialog_;
  win32ui::DialogEvents events_;
  win32ui::Window window_ = nullptr;
  int treeId_ = 0;
  std::vector<win32ui::NativeItem> treeItems_;  // by model handle - 1
  int waitCursor_ = 0;
  bool mirroring_ = false;  // a change of ours, not the user's: its notifications are ignored
};

bool NativeDialog::OnInit(win32ui::Window window) {
  window_ = window;
  const DialogTemplate& tpl = *dialog_.Template();
  for (size_t i = 0; i < tpl.controlCount; ++i) {
    if (tpl.controls[i].kind == ControlKind::kTreeView) treeId_ = tpl.controls[i].id;
  }
  dialog_.SetObserver(nullptr);
  dialog_.CreateControls();
  win32ui::FillListsFromResource(window_, tpl.id);
  dialog_.SetObserver(
      [this](int id, DialogChange change, uintptr_t item) { OnChange(id, change, item); });
  // The framework's dialogs open in the middle of the screen.
  win32ui::CenterOnScreen(window_);
  return dialog_.OnInitDialog();
}

void NativeDialog::OnComboChanged(int id, int index) {
  if (mirroring_) return;
  if (!dialog_.UserSelectCombo(id, index)) {
    // Refused (a disabled list): the native list shows the model's selection again.
    if (const ControlState* c = dialog_.Control(id)) {
      mirroring_ = true;
      win32ui::ComboSelect(window_, id, c->curSel);
      mirroring_ = false;
    }
  }
}

void NativeDialog::OnShown() {
  std::function<void(void*)> hook;
  {
    std::lock_guard<std::mutex> lock(hookLock);
    hook = shownHook;
  }
  if (hook && !dialog_.Ended()) hook(window_);
}

HTREEITEM NativeDialog::ModelItem(win32ui::NativeItem native) const {
  for (size_t i = 0; native && i < treeItems_.size(); ++i) {
    if (treeItems_[i] == native) return i + 1;
  }
  return 0;
}

void NativeDialog::OnChange(int id, DialogChange change, uintptr_t item) {
  if (change == DialogChange::kEnded) {
    win32ui::EndModal(window_, static_cast<int>(item));
    return;
  }
  if (change == DialogChange::kWaitCursor) {
    if (item) {
      if (waitCursor_++ == 0) win32ui::WaitCursor(true);
    } else if (waitCursor_ > 0 && --waitCursor_ == 0) {
      win32ui::WaitCursor(false);
    }
    return;
  }
  const ControlState* state = dialog_.Control(id);
  if (!state) return;
  const bool combo = state->tpl->kind == ControlKind::kComboBox;
  mirroring_ = true;
  switch (change) {
    case DialogChange::kText:
      if (!combo) win32ui::SetText(window_, id, state->text.c_str());
      break;
    case DialogChange::kEnabled:
      win32ui::Enable(window_, id, state->enabled);
      break;
    case DialogChange::kSelection:
      if (combo) {
        win32ui::ComboSelect(window_, id, state->curSel);
      } else if (id == treeId_) {
        win32ui::TreeSelect(window_, id, NativeOf(state->selected));
      }
      break;
    case DialogChange::kItemAdded:
      if (combo) {
        win32ui::ComboAdd(window_, id, state->entries[item].c_str());
      } else if (id == treeId_) {
        const ::TreeItem& source = state->items[item - 1];
        if (treeItems_.size() < item) treeItems_.resize(item, nullptr);
        treeItems_[item - 1] = win32ui::TreeInsert(window_, id, NativeOf(source.parent),
                                                   source.text.c_str(), source.image);
      }
      break;
    case DialogChange::kItemsCleared:
      if (combo) {
        win32ui::ComboClear(window_, id);
      } else if (id == treeId_) {
        win32ui::TreeClear(window_, id);
        treeItems_.clear();
      }
      break;
    case DialogChange::kExpanded:
      if (win32ui::NativeItem native = NativeOf(item)) {
        win32ui::TreeExpand(window_, id, native, state->items[item - 1].expanded);
      }
      break;
    case DialogChange::kImageList:
      // The native list is cut from the bitmap resource of the strip that the model's list was
      // cut from; without the model's list the tree shows no images.
      if (id != treeId_) break;
      if (const CImageList* model = state->images) {
        win32ui::TreeSetImages(window_, id, model->ResourceId(), model->Width(),
                               model->MaskColour(), model->GetBkColor());
      } else {
        win32ui::TreeDropImages(window_, id);
      }
      break;
    default:
      break;
  }
  mirroring_ = false;
}

}  // namespace

void SetWin32DialogShownHook(std::function<void(void*)> hook) {
  std::lock_guard<std::mutex> lock(hookLock);
  shownHook = std::move(hook);
}

int RunWindowDialog(CDialog& dialog, std::string* whyNot) {
  OneDialogWindow one;
  if (!one.Taken()) {
    *whyNot = OneDialogWindow::WhyNotText();
    return -1;
  }
  if (!GuiDisplayAvailable(whyNot)) return -1;
  if (!win32ui::InitControls()) {
    *whyNot = "the common controls cannot be initialised";
    return -1;
  }
  unsigned long error = 0;
  intptr_t result;
  {
    NativeDialog native(dialog);
    result = native.Run(&error);
  }
  if (result == -1 && !dialog.Ended()) {
    char why[80];
    std::snprintf(why, sizeof why, "the dialog window cannot be created (LastError %08lx)", error);
    *whyNot = why;
    return -1;
  }
  // Closed by other means than the dialog's own: as Cancel.
  if (!dialog.Ended()) dialog.EndDialog(IDCANCEL);
  return dialog.Result();
}
