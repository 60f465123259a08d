// The dialog layer of the browser: a modal dialog built from a template, its controls held in
// memory (edit, combo box, tree view, push button, static text, group box), data exchange
// between controls and members, a message table that routes control notifications to handlers,
// and an image list. The in-memory controls are the truth; a backend shows them: the script
// backend (no window, dialog_script.h) or the Qt backend (a real window), which mirrors every
// change through the dialog's observer and feeds the user's actions back as User* calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "lon/lns.h"

// Tree items are handles; 0 is "no item".
using HTREEITEM = uintptr_t;
using LRESULT = intptr_t;

// Tree navigation, expansion and image-list codes.
constexpr uint32_t TVGN_ROOT = 0x0;
constexpr uint32_t TVGN_NEXT = 0x1;
constexpr uint32_t TVGN_PARENT = 0x3;
constexpr uint32_t TVGN_CHILD = 0x4;
constexpr uint32_t TVGN_CARET = 0x9;
constexpr uint32_t TVE_COLLAPSE = 0x1;
constexpr uint32_t TVE_EXPAND = 0x2;
constexpr int TVSIL_NORMAL = 0;
constexpr HTREEITEM TVI_ROOT = 0;

// Notification codes of the message table.
constexpr int BN_CLICKED = 0;
constexpr int CBN_SELCHANGE = 1;
constexpr int TVN_SELCHANGED = -402;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDC_STATIC = -1;
// Not a control: the close box of the caption, which ends the dialog as Cancel does.
constexpr int kCloseBoxId = 0;

constexpr int COLOR_WINDOW = 5;
uint32_t GetSysColor(int index);  // 0xRRGGBB

// Window and control styles a template may carry (the values of the original platform, so a
// template reads like the resource it reproduces).
constexpr uint32_t WS_POPUP = 0x80000000u;
constexpr uint32_t WS_VISIBLE = 0x10000000u;
constexpr uint32_t WS_CAPTION = 0x00C00000u;
constexpr uint32_t WS_BORDER = 0x00800000u;
constexpr uint32_t WS_VSCROLL = 0x00200000u;
constexpr uint32_t WS_SYSMENU = 0x00080000u;
constexpr uint32_t WS_GROUP = 0x00020000u;
constexpr uint32_t WS_TABSTOP = 0x00010000u;
constexpr uint32_t WS_EX_APPWINDOW = 0x00040000u;
constexpr uint32_t DS_3DLOOK = 0x4;
constexpr uint32_t DS_MODALFRAME = 0x80;
constexpr uint32_t ES_AUTOHSCROLL = 0x80;
constexpr uint32_t ES_READONLY = 0x800;
constexpr uint32_t TVS_HASBUTTONS = 0x1;
constexpr uint32_t TVS_HASLINES = 0x2;
constexpr uint32_t TVS_LINESATROOT = 0x4;
constexpr uint32_t BS_DEFPUSHBUTTON = 0x1;
constexpr uint32_t CBS_DROPDOWNLIST = 0x3;
constexpr uint32_t CBS_SORT = 0x100;
constexpr uint32_t SS_CENTERIMAGE = 0x200;

enum class ControlKind { kEdit, kTreeView, kPushButton, kStatic, kComboBox, kGroupBox };

// One control of a template; position and size in dialog units.
struct ControlTemplate {
  int id;
  ControlKind kind;
  const char* text;
  int x, y, cx, cy;
  uint32_t style;
};

// Initial entries of a combo box, in the order they are added.
struct ComboInit {
  int id;
  const char* const* items;
  size_t count;
};

struct DialogTemplate {
  int id;
  const char* title;
  const char* fontName;
  int pointSize;
  int cx, cy;
  uint32_t style;
  uint32_t exStyle;
  const ControlTemplate* controls;  // in tab order
  size_t controlCount;
  const ComboInit* comboInit;
  size_t comboInitCount;
};

struct NMHDR {
  uintptr_t hwndFrom;
  uintptr_t idFrom;
  int code;
};
struct TVITEM {
  HTREEITEM hItem;
};
struct NMTREEVIEW {
  NMHDR hdr;
  int action;
  TVITEM itemOld;
  TVITEM itemNew;
};

class CDialog;

// What a backend is told after a change of the in-memory controls.
enum class DialogChange {
  kText,          // a control's text
  kEnabled,       // a control's enable state
  kSelection,     // a combo box's or the tree's selection
  kItemAdded,     // a tree item (item) or a combo entry was added
  kItemsCleared,  // all tree items or combo entries removed
  kExpanded,      // a tree item (item) expanded or collapsed
  kImageList,     // the tree's image list attached or removed
  kWaitCursor,    // the wait cursor shown (item 1) or restored (item 0)
  kEnded,         // the dialog ended; item holds the result
};
using DialogObserver = std::function<void(int controlId, DialogChange change, uintptr_t item)>;

// A control of a dialog, by id: what member controls become through data exchange.
class CWnd {
 public:
  void Attach(CDialog* dialog, int id) {
    dialog_ = dialog;
    id_ = id;
  }
  bool IsBound() const { return dialog_ != nullptr; }
  int GetDlgCtrlID() const { return id_; }
  void EnableWindow(bool enable);
  bool IsWindowEnabled() const;
  void SetWindowText(const std::string& text);
  void GetWindowText(std::string& text) const;

 protected:
  CDialog* dialog_ = nullptr;
  int id_ = 0;
};

class CEdit : public CWnd {};

class CComboBox : public CWnd {
 public:
  int GetCurSel() const;     // -1 when none
  int SetCurSel(int index);  // -1 clears; returns -1 (CB_ERR) when index is out of range
  int GetCount() const;
  int AddString(const std::string& text);  // index of the new entry
  void GetLBText(int index, std::string& text) const;
};

class CImageList;

// The tree view; the network library fills it through LnsTreeControl.
class CTreeCtrl final : public CWnd, public LnsTreeControl {
 public:
  uintptr_t InsertItem(const char* text, int image, uintptr_t parent) override;
  HTREEITEM GetRootItem() const { return GetNextItem(0, TVGN_ROOT); }
  HTREEITEM GetParentItem(HTREEITEM item) const { return GetNextItem(item, TVGN_PARENT); }
  HTREEITEM GetSelectedItem() const { return GetNextItem(0, TVGN_CARET); }
  HTREEITEM GetNextItem(HTREEITEM item, uint32_t code) const;
  std::string GetItemText(HTREEITEM item) const;
  bool GetItemImage(HTREEITEM item, int& image, int& selectedImage) const;
  bool Expand(HTREEITEM item, uint32_t code);
  bool SelectItem(HTREEITEM item);  // notifies TVN_SELCHANGED when the selection changes
  CImageList* SetImageList(CImageList* list, int which);
  int GetCount() const;
  bool DeleteAllItems();
};

// Images cut from a bitmap resource, with a mask colour that becomes transparent.
class CImageList {
 public:
  // bitmapId names an embedded bitmap; false when there is none or it cannot be cut into
  // images of width cx.
  bool Create(int bitmapId, int cx, int grow, uint32_t mask);
  uint32_t SetBkColor(uint32_t colour);  // returns the previous colour
  uint32_t GetBkColor() const { return background_; }
  int GetImageCount() const { return count_; }
  int Width() const { return cx_; }
  int Height() const { return cy_; }
  int ResourceId() const { return bitmapId_; }   // the bitmap it was cut from
  uint32_t MaskColour() const { return mask_; }  // 0xRRGGBB
  // 0xAARRGGBB pixels of image `index`, row by row; the mask colour has alpha 0. False when
  // there is no such image.
  bool GetImagePixels(int index, std::vector<uint32_t>* argb) const;

 private:
  std::vector<uint32_t> strip_;  // 0xAARRGGBB, the whole strip
  int stripWidth_ = 0;
  int cx_ = 0, cy_ = 0, count_ = 0;
  int bitmapId_ = 0;
  uint32_t mask_ = 0;
  uint32_t background_ = 0xFFFFFFFFu;  // CLR_NONE
};

// An embedded bitmap resource as 0xRRGGBB pixels, row by row; false for an unknown id.
bool LoadBitmapResource(int id, int* width, int* height, std::vector<uint32_t>* rgb);

class CDataExchange {
 public:
  CDataExchange(CDialog* dialog, bool saveAndValidate)
      : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
  CDialog* m_pDlgWnd;
  bool m_bSaveAndValidate;  // true: controls to members
};
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
void DDX_Text(CDataExchange* dx, int id, std::string& value);

// The message table: handlers are members of the derived dialog, stored as members of the
// base as the table of the original framework does.
using AfxCommandHandler = void (CDialog::*)();
using AfxNotifyHandler = void (CDialog::*)(NMHDR*, LRESULT*);
struct MessageMapEntry {
  int notification;
  int controlId;
  AfxCommandHandler command;  // BN_CLICKED, CBN_SELCHANGE
  AfxNotifyHandler notify;    // TVN_SELCHANGED
};
struct MessageMap {
  const MessageMapEntry* entries;
  size_t count;
};

// In-memory state of one control.
struct TreeItem {
  std::string text;
  int image = 0;
  HTREEITEM parent = 0;
  HTREEITEM firstChild = 0, lastChild = 0, nextSibling = 0;
  bool expanded = false;
};
struct ControlState {
  const ControlTemplate* tpl = nullptr;
  std::string text;
  bool enabled = true;
  std::vector<std::string> entries;  // combo box
  int curSel = -1;
  std::vector<TreeItem> items;  // tree: handle = index + 1
  HTREEITEM firstRoot = 0, lastRoot = 0, selected = 0;
  CImageList* images = nullptr;
};

class CDialog {
 public:
  explicit CDialog(const DialogTemplate* tpl) : tpl_(tpl) {}
  virtual ~CDialog() = default;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  virtual const MessageMap* GetMessageMap() const;
  virtual void DoDataExchange(CDataExchange* dx);
  virtual bool OnInitDialog();  // base: exchanges members into the controls
  virtual void OnOK();          // controls into members, then ends with 1
  virtual void OnCancel();      // ends with 2

  // Shows the dialog modally: 1 OK, 2 Cancel or the close box, -1 when it cannot be shown
  // (logged with the reason).
  int DoModal();

  bool UpdateData(bool saveAndValidate);
  void EndDialog(int result);
  CWnd GetDlgItem(int id);
  void BeginWaitCursor();
  void EndWaitCursor();

  // For backends. Builds the controls from the template (combo entries included); every
  // earlier state is dropped.
  void CreateControls();
  const DialogTemplate* Template() const { return tpl_; }
  ControlState* Control(int id);
  const ControlState* Control(int id) const;
  bool Ended() const { return ended_; }
  int Result() const { return result_; }
  void SetObserver(DialogObserver observer) { observer_ = std::move(observer); }
  void Notify(int id, DialogChange change, uintptr_t item = 0) const {
    if (observer_) observer_(id, change, item);
  }
  // The user's actions; false (and nothing happens) when the control is unknown or disabled,
  // or the dialog has ended.
  bool UserClick(int id);
  bool UserSelectCombo(int id, int index);
  bool UserSelectTreeItem(HTREEITEM item);
  // Selects an item (0 clears) of tree `id`; TVN_SELCHANGED goes out when the selection changes.
  bool SelectTreeItem(int id, HTREEITEM item);
  // Routes a notification through the message table; false when no entry handles it.
  bool Dispatch(int notification, int id, NMHDR* header, LRESULT* result);

 private:
  const DialogTemplate* tpl_;
  std::vector<ControlState> controls_;
  DialogObserver observer_;
  bool ended_ = false;
  int result_ = 0;
  int waitDepth_ = 0;
};
