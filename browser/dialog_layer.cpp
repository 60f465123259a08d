#include "browser/dialog_layer.h"

#include <atomic>

#include "browser/dialog_backend.h"
#include "core/host_api.h"

uint32_t GetSysColor(int index) {
  switch (index) {
    case COLOR_WINDOW:
      return 0xFFFFFF;
    default:
      return 0xC0C0C0;  // the face colour of 3-D elements
  }
}

// ---- controls ----

void CWnd::EnableWindow(bool enable) {
  ControlState* c = dialog_ ? dialog_->Control(id_) : nullptr;
  if (!c || c->enabled == enable) return;
  c->enabled = enable;
  dialog_->Notify(id_, DialogChange::kEnabled);
}

bool CWnd::IsWindowEnabled() const {
  const ControlState* c = dialog_ ? dialog_->Control(id_) : nullptr;
  return c && c->enabled;
}

void CWnd::SetWindowText(const std::string& text) {
  ControlState* c = dialog_ ? dialog_->Control(id_) : nullptr;
  if (!c || c->text == text) return;
  c->text = text;
  dialog_->Notify(id_, DialogChange::kText);
}

void CWnd::GetWindowText(std::string& text) const {
  const ControlState* c = dialog_ ? dialog_->Control(id_) : nullptr;
  if (!c) {
    text.clear();
    return;
  }
  // A drop-down list shows its selected entry as its text.
  if (c->tpl->kind == ControlKind::kComboBox) {
    text = c->curSel >= 0 ? c->entries[c->curSel] : std::string();
    return;
  }
  text = c->text;
}

int CComboBox::GetCurSel() const {
  const ControlState* c = dialog_ ? dialog_->Control(id_) : nullptr;
  return c ? c->curSel : -1;
}

int CComboBox::SetCurSel(int index) {
  ControlState* c = dialog_ ? dialog_->Control(id_) : nullptr;
  if (!c) return -1;
  // An index out of range clears the selection, as -1 does.
  int wanted = (index >= 0 && index < static_cast<int>(c->entries.size())) ? index : -1;
  if (c->curSel != wanted) {
    c->curSel = wanted;
    dialog_->Notify(id_, DialogChange::kSelection);
  }
  return wanted;
}

int CComboBox::GetCount() const {
  const ControlState* c = dialog_ ? dialog_->Control(id_) : nullptr;
  return c ? static_cast<int>(c->entries.size()) : 0;
}

int CComboBox::AddString(const std::string& text) {
  ControlState* c = dialog_ ? dialog_->Control(id_) : nullptr;
  if (!c) return -1;
  c->entries.push_back(text);
  dialog_->Notify(id_, DialogChange::kItemAdded, c->entries.size() - 1);
  return static_cast<int>(c->entries.size()) - 1;
}

void CComboBox::GetLBText(int index, std::string& text) const {
  const ControlState* c = dialog_ ? dialog_->Control(id_) : nullptr;
  if (c && index >= 0 && index < static_cast<int>(c->entries.size())) {
    text = c->entries[index];
  } else {
    text.clear();
  }
}

namespace {

std::atomic<bool> dialogWindowOpen{false};

}  // namespace

OneDialogWindow::OneDialogWindow() : taken_(!dialogWindowOpen.exchange(true)) {}

OneDialogWindow::~OneDialogWindow() {
  if (taken_) dialogWindowOpen = false;
}

namespace {

TreeItem* ItemOf(ControlState* c, HTREEITEM item) {
  if (!c || item == 0 || item > c->items.size()) return nullptr;
  return &c->items[item - 1];
}

const TreeItem* ItemOf(const ControlState* c, HTREEITEM item) {
  return ItemOf(const_cast<ControlState*>(c), item);
}

}  // namespace

uintptr_t CTreeCtrl::InsertItem(const char* text, int image, uintptr_t parent) {
  ControlState* c = dialog_ ? dialog_->Control(id_) : nullptr;
  if (!c || (parent != TVI_ROOT && !ItemOf(c, parent))) return 0;
  TreeItem item;
  item.text = text ? text : "";
  item.image = image;
  item.parent = parent;
  c->items.push_back(std::move(item));
  HTREEITEM handle = c->items.size();
  HTREEITEM* first = parent ? &c->items[parent - 1].firstChild : &c->firstRoot;
  HTREEITEM* last = parent ? &c->items[parent - 1].lastChild : &c->lastRoot;
  if (*last) {
    c->items[*last - 1].nextSibling = handle;
  } else {
    *first = handle;
  }
  *last = handle;
  dialog_->Notify(id_, DialogChange::kItemAdded, handle);
  return handle;
}

HTREEITEM CTreeCtrl::GetNextItem(HTREEITEM item, uint32_t code) const {
  const ControlState* c = dialog_ ? dialog_->Control(id_) : nullptr;
  if (!c) return 0;
  switch (code) {
    case TVGN_ROOT:
      return c->firstRoot;
    case TVGN_CARET:
      return c->selected;
    case TVGN_CHILD:
      if (item == TVI_ROOT) return c->firstRoot;
      break;
    default:
      break;
  }
  const TreeItem* it = ItemOf(c, item);
  if (!it) return 0;
  switch (code) {
    case TVGN_PARENT:
      return it->parent;
    case TVGN_CHILD:
      return it->firstChild;
    case TVGN_NEXT:
      return it->nextSibling;
    default:
      return 0;
  }
}

std::string CTreeCtrl::GetItemText(HTREEITEM item) const {
  const TreeItem* it = ItemOf(dialog_ ? dialog_->Control(id_) : nullptr, item);
  return it ? it->text : std::string();
}

bool CTreeCtrl::GetItemImage(HTREEITEM item, int& image, int& selectedImage) const {
  const TreeItem* it = ItemOf(dialog_ ? dialog_->Control(id_) : nullptr, item);
  if (!it) return false;
  image = selectedImage = it->image;
  return true;
}

bool CTreeCtrl::Expand(HTREEITEM item, uint32_t code) {
  TreeItem* it = ItemOf(dialog_ ? dialog_->Control(id_) : nullptr, item);
  if (!it || (code != TVE_EXPAND && code != TVE_COLLAPSE)) return false;
  it->expanded = code == TVE_EXPAND;
  dialog_->Notify(id_, DialogChange::kExpanded, item);
  return true;
}

bool CTreeCtrl::SelectItem(HTREEITEM item) {
  return dialog_ && dialog_->SelectTreeItem(id_, item);
}

CImageList* CTreeCtrl::SetImageList(CImageList* list, int which) {
  ControlState* c = dialog_ ? dialog_->Control(id_) : nullptr;
  if (!c || which != TVSIL_NORMAL) return nullptr;
  CImageList* previous = c->images;
  c->images = list;
  dialog_->Notify(id_, DialogChange::kImageList);
  return previous;
}

int CTreeCtrl::GetCount() const {
  const ControlState* c = dialog_ ? dialog_->Control(id_) : nullptr;
  return c ? static_cast<int>(c->items.size()) : 0;
}

bool CTreeCtrl::DeleteAllItems() {
  ControlState* c = dialog_ ? dialog_->Control(id_) : nullptr;
  if (!c) return false;
  c->items.clear();
  c->firstRoot = c->lastRoot = c->selected = 0;
  dialog_->Notify(id_, DialogChange::kItemsCleared);
  return true;
}

bool CImageList::Create(int bitmapId, int cx, int grow, uint32_t mask) {
  (void)grow;  // the list never grows: it holds the bitmap's images only
  int width = 0, height = 0;
  std::vector<uint32_t> rgb;
  if (cx <= 0 || !LoadBitmapResource(bitmapId, &width, &height, &rgb) || width < cx) {
    return false;
  }
  strip_.resize(rgb.size());
  for (size_t i = 0; i < rgb.size(); ++i) {
    uint32_t p = rgb[i] & 0xFFFFFF;
    strip_[i] = p == (mask & 0xFFFFFF) ? 0 : 0xFF000000u | p;
  }
  stripWidth_ = width;
  bitmapId_ = bitmapId;
  mask_ = mask & 0xFFFFFF;
  cx_ = cx;
  cy_ = height;
  count_ = width / cx;
  return true;
}

uint32_t CImageList::SetBkColor(uint32_t colour) {
  uint32_t previous = background_;
  background_ = colour;
  return previous;
}

bool CImageList::GetImagePixels(int index, std::vector<uint32_t>* argb) const {
  if (index < 0 || index >= count_) return false;
  argb->resize(static_cast<size_t>(cx_) * cy_);
  for (int y = 0; y < cy_; ++y) {
    for (int x = 0; x < cx_; ++x) {
      (*argb)[static_cast<size_t>(y) * cx_ + x] =
          strip_[static_cast<size_t>(y) * stripWidth_ + index * cx_ + x];
    }
  }
  return true;
}

// ---- data exchange ----

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
  if (!control.IsBound() && dx->m_pDlgWnd->Control(id)) control.Attach(dx->m_pDlgWnd, id);
}

void DDX_Text(CDataExchange* dx, int id, std::string& value) {
  CWnd control = dx->m_pDlgWnd->GetDlgItem(id);
  if (dx->m_bSaveAndValidate) {
    control.GetWindowText(value);
  } else {
    control.SetWindowText(value);
  }
}

// ---- the dialog ----

const MessageMap* CDialog::GetMessageMap() const {
  static const MessageMap kEmpty{nullptr, 0};
  return &kEmpty;
}

void CDialog::DoDataExchange(CDataExchange*) {}

bool CDialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void CDialog::OnOK() {
  if (!UpdateData(true)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() {
  EndDialog(IDCANCEL);
}

int CDialog::DoModal() {
  DialogScript script;
  std::string whyNot;
  int result;
  if (FindDialogScript(&script)) {
    result = RunScriptedDialog(*this, script);
    whyNot = "its script ended without OK or Cancel";
  } else {
    result = RunWindowDialog(*this, &whyNot);
  }
  if (result < 0) {
    err(kLogError, "telMar: dialog '%s' cannot be shown: %s", tpl_->title, whyNot.c_str());
  }
  return result;
}

bool CDialog::UpdateData(bool saveAndValidate) {
  CDataExchange dx(this, saveAndValidate);
  DoDataExchange(&dx);
  return true;
}

void CDialog::EndDialog(int result) {
  ended_ = true;
  result_ = result;
  Notify(kCloseBoxId, DialogChange::kEnded, static_cast<uintptr_t>(result));
}

CWnd CDialog::GetDlgItem(int id) {
  CWnd control;
  if (Control(id)) control.Attach(this, id);
  return control;
}

void CDialog::BeginWaitCursor() {
  if (waitDepth_++ == 0) Notify(kCloseBoxId, DialogChange::kWaitCursor, 1);
}

void CDialog::EndWaitCursor() {
  if (waitDepth_ > 0 && --waitDepth_ == 0) Notify(kCloseBoxId, DialogChange::kWaitCursor, 0);
}

void CDialog::CreateControls() {
  controls_.clear();
  controls_.reserve(tpl_->controlCount);
  for (size_t i = 0; i < tpl_->controlCount; ++i) {
    ControlState c;
    c.tpl = &tpl_->controls[i];
    c.text = c.tpl->text ? c.tpl->text : "";
    controls_.push_back(std::move(c));
  }
  for (size_t i = 0; i < tpl_->comboInitCount; ++i) {
    const ComboInit& init = tpl_->comboInit[i];
    if (ControlState* c = Control(init.id)) c->entries.assign(init.items, init.items + init.count);
  }
  ended_ = false;
  result_ = 0;
  waitDepth_ = 0;
}

ControlState* CDialog::Control(int id) {
  if (id == IDC_STATIC) return nullptr;  // statics are not addressable by id
  for (ControlState& c : controls_) {
    if (c.tpl->id == id) return &c;
  }
  return nullptr;
}

const ControlState* CDialog::Control(int id) const {
  return const_cast<CDialog*>(this)->Control(id);
}

bool CDialog::SelectTreeItem(int id, HTREEITEM item) {
  ControlState* c = Control(id);
  if (!c || c->tpl->kind != ControlKind::kTreeView) return false;
  if (item != 0 && !ItemOf(c, item)) return false;
  if (c->selected == item) return true;
  NMTREEVIEW nm{};
  nm.hdr.idFrom = static_cast<uintptr_t>(id);
  nm.hdr.code = TVN_SELCHANGED;
  nm.itemOld.hItem = c->selected;
  nm.itemNew.hItem = item;
  c->selected = item;
  // The selected item is made visible: its ancestors open.
  for (HTREEITEM p = item ? c->items[item - 1].parent : 0; p; p = c->items[p - 1].parent) {
    if (!c->items[p - 1].expanded) {
      c->items[p - 1].expanded = true;
      Notify(id, DialogChange::kExpanded, p);
    }
  }
  Notify(id, DialogChange::kSelection, item);
  LRESULT result = 0;
  Dispatch(TVN_SELCHANGED, id, &nm.hdr, &result);
  return true;
}

bool CDialog::UserClick(int id) {
  if (ended_) return false;
  if (id == kCloseBoxId) {
    // The close box is refused while Cancel is disabled, as the platform does.
    const ControlState* cancel = Control(IDCANCEL);
    if (cancel && !cancel->enabled) return false;
    OnCancel();
    return true;
  }
  const ControlState* c = Control(id);
  if (!c || c->tpl->kind != ControlKind::kPushButton || !c->enabled) return false;
  if (!Dispatch(BN_CLICKED, id, nullptr, nullptr)) {
    if (id == IDOK) {
      OnOK();
    } else if (id == IDCANCEL) {
      OnCancel();
    }
  }
  return true;
}

bool CDialog::UserSelectCombo(int id, int index) {
  if (ended_) return false;
  ControlState* c = Control(id);
  if (!c || c->tpl->kind != ControlKind::kComboBox || !c->enabled) return false;
  if (index < -1 || index >= static_cast<int>(c->entries.size())) return false;
  if (c->curSel != index) {
    c->curSel = index;
    Notify(id, DialogChange::kSelection);
  }
  Dispatch(CBN_SELCHANGE, id, nullptr, nullptr);
  return true;
}

bool CDialog::UserSelectTreeItem(HTREEITEM item) {
  if (ended_ || item == 0) return false;
  for (ControlState& c : controls_) {
    if (c.tpl->kind != ControlKind::kTreeView) continue;
    if (!c.enabled || !ItemOf(&c, item)) return false;
    return SelectTreeItem(c.tpl->id, item);
  }
  return false;
}

bool CDialog::Dispatch(int notification, int id, NMHDR* header, LRESULT* result) {
  const MessageMap* map = GetMessageMap();
  for (size_t i = 0; i < map->count; ++i) {
    const MessageMapEntry& e = map->entries[i];
    if (e.notification != notification || e.controlId != id) continue;
    if (e.notify) {
      LRESULT ignored = 0;
      (this->*e.notify)(header, result ? result : &ignored);
    } else if (e.command) {
      (this->*e.command)();
    }
    return true;
  }
  return false;
}
