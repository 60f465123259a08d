// The "LonWorks browser" dialog: the network tree, the gate address composed from the selected
// item, and the option controls that append "/M:" and "/F:" options to it.
#pragma once

#include <string>

#include "browser/dialog_layer.h"
#include "config/macro_table.h"

struct ShareData;
struct VpiRequest;

class CBrowserDlg final : public CDialog {
 public:
  CBrowserDlg(VpiRequest* request, ShareData* share, MacroTable* macros);
  ~CBrowserDlg() override;

  const MessageMap* GetMessageMap() const override;
  void DoDataExchange(CDataExchange* dx) override;
  bool OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;

  // Handlers of the message table.
  void OnSelchangedTree(NMHDR* header, LRESULT* result);
  void OnRefresh();
  void OnPolling();
  void OnClearOptions();
  void OnSelchangeBinding();
  void OnSelchangeTypes();

  // The item's path: the texts from below the first root item down to it, joined by ".".
  void GetItemPath(HTREEITEM item, std::string& path);
  // Shortens m_address with a macro when it is too long to be shown without one, and shows it.
  // An address the rule cannot shorten enough is shown in its longest form that fits the host's
  // buffer (m_longPath says so).
  void ComposeAddress();

  CComboBox m_typesCombo;
  CComboBox m_bindingCombo;
  CEdit m_addressEdit;
  CEdit m_macroEdit;
  CTreeCtrl m_tree;
  CImageList* m_imageList = nullptr;  // owned
  std::string m_address;
  std::string m_macroValue;
  std::string m_macroName;
  // The path that the last composition could not shorten to the rule's length (options
  // included), and why; empty when the rule applied.
  std::string m_longPath;
  const char* m_longWhy = "";
  VpiRequest* m_request;
  ShareData* m_share;
  MacroTable* m_macros;
  bool m_noNetwork = false;  // the library had no network to show: the tree stayed empty
};

// The path GetItemPath gives; also how a script names the item it selects.
std::string TreeItemPath(const CTreeCtrl& tree, HTREEITEM item);
