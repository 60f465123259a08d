// The script backend: the dialog runs without a window, driven through TelmarDialogApi.
#include "browser/dialog_script.h"

#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "browser/browser_dlg.h"
#include "browser/dialog_backend.h"
#include "browser/dialog_layer.h"
#include "platform/module.h"

struct TelmarDialog {
  CDialog* dialog;
};

namespace {

std::mutex scriptLock;
TelmarDialogScriptFn installedScript = nullptr;  // guarded by scriptLock
void* installedContext = nullptr;                // guarded by scriptLock

// The open dialog's control, or null once the dialog has ended.
ControlState* Live(TelmarDialog* dlg, int id) {
  if (!dlg || !dlg->dialog || dlg->dialog->Ended()) return nullptr;
  return dlg->dialog->Control(id);
}

// The tree's items, parents before their children, with their depths.
std::vector<std::pair<HTREEITEM, int>> TreeOrder(const ControlState& tree) {
  std::vector<std::pair<HTREEITEM, int>> order;
  order.reserve(tree.items.size());
  // Siblings are linked forwards only: each level is pushed in reverse.
  std::vector<std::pair<HTREEITEM, int>> stack;
  std::vector<HTREEITEM> roots;
  for (HTREEITEM h = tree.firstRoot; h; h = tree.items[h - 1].nextSibling) roots.push_back(h);
  for (auto it = roots.rbegin(); it != roots.rend(); ++it) stack.emplace_back(*it, 0);
  while (!stack.empty()) {
    auto [h, depth] = stack.back();
    stack.pop_back();
    order.emplace_back(h, depth);
    std::vector<HTREEITEM> children;
    for (HTREEITEM c = tree.items[h - 1].firstChild; c; c = tree.items[c - 1].nextSibling) {
      children.push_back(c);
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it)
      stack.emplace_back(*it, depth + 1);
  }
  return order;
}

int CopyOut(const std::string& text, char* buf, size_t size) {
  if (buf && size > 0) {
    size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
  }
  return static_cast<int>(text.size());
}

int SelectTreePath(TelmarDialog* dlg, const char* path) {
  ControlState* tree = Live(dlg, kTelmarIdTree);
  if (!tree || !path || !tree->enabled) return -1;
  CTreeCtrl control;
  control.Attach(dlg->dialog, kTelmarIdTree);
  for (const auto& [item, depth] : TreeOrder(*tree)) {
    if (TreeItemPath(control, item) == path) return dlg->dialog->UserSelectTreeItem(item) ? 0 : -1;
  }
  return -1;
}

int SelectBinding(TelmarDialog* dlg, int index) {
  if (!Live(dlg, kTelmarIdBinding)) return -1;
  return dlg->dialog->UserSelectCombo(kTelmarIdBinding, index) ? 0 : -1;
}

int SelectType(TelmarDialog* dlg, int index) {
  if (!Live(dlg, kTelmarIdTypes)) return -1;
  return dlg->dialog->UserSelectCombo(kTelmarIdTypes, index) ? 0 : -1;
}

int Click(TelmarDialog* dlg, int controlId) {
  if (!dlg || !dlg->dialog) return -1;
  return dlg->dialog->UserClick(controlId) ? 0 : -1;
}

int GetText(TelmarDialog* dlg, int controlId, char* buf, size_t size) {
  ControlState* c = Live(dlg, controlId);
  if (!c) return -1;
  std::string text;
  if (c->tpl->kind == ControlKind::kTreeView) {
    if (c->selected) text = c->items[c->selected - 1].text;
  } else {
    dlg->dialog->GetDlgItem(controlId).GetWindowText(text);
  }
  return CopyOut(text, buf, size);
}

int IsEnabled(TelmarDialog* dlg, int controlId) {
  ControlState* c = Live(dlg, controlId);
  return c ? (c->enabled ? 1 : 0) : -1;
}

int GetSelection(TelmarDialog* dlg, int controlId) {
  ControlState* c = Live(dlg, controlId);
  if (!c) return -1;
  if (c->tpl->kind == ControlKind::kComboBox) return c->curSel;
  if (c->tpl->kind != ControlKind::kTreeView || !c->selected) return -1;
  auto order = TreeOrder(*c);
  for (size_t i = 0; i < order.size(); ++i) {
    if (order[i].first == c->selected) return static_cast<int>(i);
  }
  return -1;
}

int ItemCount(TelmarDialog* dlg, int controlId) {
  ControlState* c = Live(dlg, controlId);
  if (!c) return -1;
  if (c->tpl->kind == ControlKind::kComboBox) return static_cast<int>(c->entries.size());
  if (c->tpl->kind == ControlKind::kTreeView) return static_cast<int>(c->items.size());
  return -1;
}

int GetItem(TelmarDialog* dlg, int controlId, int index, char* buf, size_t size, int* image,
            int* depth) {
  ControlState* c = Live(dlg, controlId);
  if (!c || index < 0) return -1;
  if (c->tpl->kind == ControlKind::kComboBox) {
    if (index >= static_cast<int>(c->entries.size())) return -1;
    if (image) *image = -1;
    if (depth) *depth = 0;
    return CopyOut(c->entries[index], buf, size);
  }
  if (c->tpl->kind != ControlKind::kTreeView || index >= static_cast<int>(c->items.size())) {
    return -1;
  }
  auto [item, level] = TreeOrder(*c)[index];
  if (image) *image = c->items[item - 1].image;
  if (depth) *depth = level;
  return CopyOut(c->items[item - 1].text, buf, size);
}

const TelmarDialogApi kApi = {SelectTreePath, SelectBinding, SelectType, Click,  GetText,
                              IsEnabled,      GetSelection,  ItemCount,  GetItem};

}  // namespace

void SetDialogScript(TelmarDialogScriptFn fn, void* context) {
  std::lock_guard<std::mutex> lock(scriptLock);
  installedScript = fn;
  installedContext = fn ? context : nullptr;
}

bool FindDialogScript(DialogScript* script) {
  {
    std::lock_guard<std::mutex> lock(scriptLock);
    script->fn = installedScript;
    script->context = installedContext;
  }
  script->hostFn = nullptr;
  if (script->fn) return true;
  script->hostFn =
      reinterpret_cast<TelmarHostDialogScriptFn>(HostSymbol(TELMAR_DIALOG_SCRIPT_SYMBOL));
  return script->hostFn != nullptr;
}

int RunScriptedDialog(CDialog& dialog, const DialogScript& script) {
  dialog.SetObserver(nullptr);
  dialog.CreateControls();
  dialog.OnInitDialog();
  TelmarDialog handle{&dialog};
  int rc = script.fn ? script.fn(&kApi, &handle, script.context) : script.hostFn(&kApi, &handle);
  if (!dialog.Ended()) {
    if (rc != 0) return -1;
    dialog.UserClick(kCloseBoxId);
  }
  return dialog.Ended() ? dialog.Result() : -1;
}
