#include "browser/browser_dlg.h"

#include <cstdio>
#include <iterator>

#include "browser/browser_resources.h"
#include "config/macro_names.h"
#include "config/share_data.h"
#include "core/host_api.h"
#include "core/host_records.h"

namespace {

// An address of this length or more (not beginning with "#") is shortened with a macro.
constexpr size_t kLongestPlainAddress = 31;
// The part from the last delimiter to the end, delimiter included, may have at most this length.
constexpr size_t kLongestRemainder = 31;
// The longest macro value the shared block can hand over to the running driver.
constexpr size_t kLongestHandedValue = sizeof(ShareData::pendingValue) - 1;
constexpr size_t kOptionLength = 4;

const char* const kBindingOptions[] = {"/M:b", "/M:i", "/M:e", "/M:a"};
const char* const kTypeOptions[] = {"/F:i", "/F:r", "/F:d", "/F:w", "/F:b"};

constexpr int kLargestFieldIndex = 255;

// The position of a field among the fields of its NV: the index the library gives it.
int FieldIndex(const CTreeCtrl& tree, HTREEITEM item) {
  int index = 0;
  HTREEITEM sibling = tree.GetNextItem(tree.GetParentItem(item), TVGN_CHILD);
  while (sibling && sibling != item) {
    ++index;
    sibling = tree.GetNextItem(sibling, TVGN_NEXT);
  }
  return index;
}

void RemoveOption(std::string& address, const char* kind) {
  size_t at = address.find(kind);
  if (at != std::string::npos) address.erase(at, kOptionLength);
}

const MessageMapEntry kMessageMap[] = {
    {TVN_SELCHANGED, IDC_TREE, nullptr,
     static_cast<AfxNotifyHandler>(&CBrowserDlg::OnSelchangedTree)},
    {BN_CLICKED, IDC_REFRESH, static_cast<AfxCommandHandler>(&CBrowserDlg::OnRefresh), nullptr},
    {BN_CLICKED, IDC_POLLING, static_cast<AfxCommandHandler>(&CBrowserDlg::OnPolling), nullptr},
    {BN_CLICKED, IDC_CLEAR_OPTIONS, static_cast<AfxCommandHandler>(&CBrowserDlg::OnClearOptions),
     nullptr},
    {CBN_SELCHANGE, IDC_BINDING, static_cast<AfxCommandHandler>(&CBrowserDlg::OnSelchangeBinding),
     nullptr},
    {CBN_SELCHANGE, IDC_TYPES, static_cast<AfxCommandHandler>(&CBrowserDlg::OnSelchangeTypes),
     nullptr},
};
const MessageMap kBrowserMessageMap{kMessageMap, std::size(kMessageMap)};

}  // namespace

CBrowserDlg::CBrowserDlg(VpiRequest* request, ShareData* share, MacroTable* macros)
    : CDialog(&BrowserTemplate()), m_request(request), m_share(share), m_macros(macros) {}

CBrowserDlg::~CBrowserDlg() {
  delete m_imageList;
}

const MessageMap* CBrowserDlg::GetMessageMap() const {
  return &kBrowserMessageMap;
}

void CBrowserDlg::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, IDC_TYPES, m_typesCombo);
  DDX_Control(dx, IDC_BINDING, m_bindingCombo);
  DDX_Control(dx, IDC_ADDRESS, m_addressEdit);
  DDX_Control(dx, IDC_MACRO, m_macroEdit);
  DDX_Control(dx, IDC_TREE, m_tree);
  DDX_Text(dx, IDC_ADDRESS, m_address);
  DDX_Text(dx, IDC_MACRO, m_macroValue);
}

bool CBrowserDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  BeginWaitCursor();
  {
    // Whatever the library manages to put into the tree is shown. A failure that left the tree
    // empty means there is no network (the driver's did not open): the command says so.
    CLnsArchive archive(nullptr, &m_tree, 1, 2);
    m_noNetwork = archive.Serialize() != 0 && !m_tree.GetRootItem();
  }
  m_imageList = new CImageList;
  if (m_imageList->Create(IDB_TREE_IMAGES, kTreeImageWidth, 0, kTreeImageMask)) {
    m_imageList->SetBkColor(GetSysColor(COLOR_WINDOW));
    m_tree.SetImageList(m_imageList, TVSIL_NORMAL);
  }
  m_tree.Expand(m_tree.GetRootItem(), TVE_EXPAND);
  m_bindingCombo.EnableWindow(false);
  m_typesCombo.EnableWindow(false);
  GetDlgItem(IDC_POLLING).EnableWindow(false);
  GetDlgItem(IDC_CLEAR_OPTIONS).EnableWindow(false);
  EndWaitCursor();
  return true;
}

void CBrowserDlg::OnOK() {
  CDialog::OnOK();
}

void CBrowserDlg::OnCancel() {
  CDialog::OnCancel();
}

void CBrowserDlg::OnSelchangedTree(NMHDR* header, LRESULT* result) {
  HTREEITEM item = reinterpret_cast<NMTREEVIEW*>(header)->itemNew.hItem;
  if (item) {
    int image = -1, selectedImage = -1;
    m_tree.GetItemImage(item, image, selectedImage);
    bool options = image == kImageNV || image == kImageNVField;
    // OK only for an item that can become a gate: a device, an NV, or a field whose index
    // fits the byte that the gate's binding keeps it in (the driver refuses larger ones).
    bool gate = image == kImageDevice || image == kImageNV ||
                (image == kImageNVField && FieldIndex(m_tree, item) <= kLargestFieldIndex);
    GetDlgItem(IDOK).EnableWindow(gate);
    m_bindingCombo.EnableWindow(options);
    m_typesCombo.EnableWindow(options);
    GetDlgItem(IDC_POLLING).EnableWindow(options);
    GetDlgItem(IDC_CLEAR_OPTIONS).EnableWindow(options);
    GetItemPath(item, m_address);
    ComposeAddress();
    m_bindingCombo.SetCurSel(-1);
    m_typesCombo.SetCurSel(-1);
  }
  *result = 0;
}

void CBrowserDlg::OnRefresh() {
  BeginWaitCursor();
  uint32_t gateId = 0;
  if (KestGetGateIdByAddressStr(m_share->clientId, static_cast<uint8_t>(m_request->instanceNumber),
                                "!Browse", &gateId) != 0) {
    err(kLogError, "%s: !Browse gate not found", "TelMAR");
  } else {
    // The running driver browses the network again; this dialog keeps the tree it has.
    KestPutGateVal(m_share->clientId, gateId, 1, 1.0, 0, 0);
    m_tree.Expand(m_tree.GetRootItem(), TVE_EXPAND);
  }
  EndWaitCursor();
}

void CBrowserDlg::OnPolling() {
  m_addressEdit.GetWindowText(m_address);
  m_bindingCombo.SetCurSel(-1);
  RemoveOption(m_address, "/M:");
  m_address += "/M:p";
  ComposeAddress();
}

void CBrowserDlg::OnClearOptions() {
  m_addressEdit.GetWindowText(m_address);
  m_bindingCombo.SetCurSel(-1);
  m_typesCombo.SetCurSel(-1);
  RemoveOption(m_address, "/M:");
  RemoveOption(m_address, "/F:");
  ComposeAddress();
}

void CBrowserDlg::OnSelchangeBinding() {
  m_addressEdit.GetWindowText(m_address);
  RemoveOption(m_address, "/M:");
  int index = m_bindingCombo.GetCurSel();
  if (index >= 0 && index < static_cast<int>(std::size(kBindingOptions))) {
    m_address += kBindingOptions[index];
  }
  ComposeAddress();
}

void CBrowserDlg::OnSelchangeTypes() {
  m_addressEdit.GetWindowText(m_address);
  RemoveOption(m_address, "/F:");
  int index = m_typesCombo.GetCurSel();
  if (index >= 0 && index < static_cast<int>(std::size(kTypeOptions))) {
    m_address += kTypeOptions[index];
  }
  ComposeAddress();
}

std::string TreeItemPath(const CTreeCtrl& tree, HTREEITEM item) {
  HTREEITEM root = tree.GetRootItem();
  if (item == root) return std::string();
  std::string path = tree.GetItemText(item);
  // The root's own text (the network) is never part of a path; the joint is always ".".
  for (HTREEITEM parent = tree.GetParentItem(item); parent && parent != root;
       parent = tree.GetParentItem(parent)) {
    path = tree.GetItemText(parent) + "." + path;
  }
  return path;
}

void CBrowserDlg::GetItemPath(HTREEITEM item, std::string& path) {
  path = TreeItemPath(m_tree, item);
}

void CBrowserDlg::ComposeAddress() {
  const std::string address = m_address;
  const size_t n = address.size();
  if (!address.empty() && address[0] == '#') {
    m_addressEdit.SetWindowText(address);
    return;
  }
  if (n <= kLongestPlainAddress) {
    m_addressEdit.SetWindowText(address);
    m_macroEdit.SetWindowText("");
    m_longPath.clear();
    return;
  }
  // The prefix before the last delimiter becomes a macro: one of the table's with that value,
  // or a new one whose value fits the shared block (to reach the running driver).
  size_t c = address.rfind(m_share->delimiter);
  std::string name;
  const char* why = "no delimiter after its first character";
  if (c != std::string::npos && c != 0) {
    std::string prefix = address.substr(0, c);
    if (FindMacroByValue(*m_macros, prefix, name) || prefix.size() <= kLongestHandedValue) {
      if (name.empty()) name = NewMacroName(*m_macros);
      why = "its last part has more than 31 characters";
    } else {
      why = "its prefix is too long for a new macro";
    }
  }
  const bool macro = !name.empty() && name.size() + n - c < kBrowseAddressCapacity;
  const bool shortened = macro && n - c <= kLongestRemainder;
  if (shortened) {
    m_longPath.clear();
  } else {
    // The rule cannot make it short enough. The address is never left without its path: the
    // path in full when the host's buffer takes it, else the macro and the long last part;
    // where neither fits, the path in full is shown and OK refuses it.
    m_longPath = address;
    m_longWhy = name.empty() || n - c > kLongestRemainder
                    ? why
                    : "its macro name makes it too long for the host's buffer";
    if (n < kBrowseAddressCapacity || !macro) {
      m_addressEdit.SetWindowText(address);
      m_macroEdit.SetWindowText("");
      return;
    }
  }
  m_macroValue = address.substr(0, c);
  m_macroEdit.SetWindowText(m_macroValue);
  m_macroName = name;
  m_address = m_macroName + address.substr(c);
  m_addressEdit.SetWindowText(m_address);
}
