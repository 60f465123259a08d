// Address composition and the option controls of the browser dialog, on a tree filled here.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "browser/browser_dlg.h"
#include "browser/browser_resources.h"
#include "config/macro_names.h"
#include "config/share_data.h"
#include "core/host_records.h"

namespace {

using Macros = std::vector<std::pair<std::string, std::string>>;

class ComposeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    share_.delimiter = '.';
    dlg_.CreateControls();
    dlg_.UpdateData(false);  // binds the member controls
    root_ = dlg_.m_tree.InsertItem("Demo", 0, TVI_ROOT);
  }

  // Adds the path's items below the root (reusing none); the last gets `image`.
  HTREEITEM AddPath(const std::vector<std::string>& parts, int image = kImageNV) {
    HTREEITEM parent = root_;
    for (size_t i = 0; i < parts.size(); ++i) {
      parent = dlg_.m_tree.InsertItem(parts[i].c_str(), i + 1 == parts.size() ? image : 2, parent);
    }
    return parent;
  }
  void SetMacros(const Macros& macros) {
    for (const auto& [name, value] : macros) macros_.Set(name, value);
  }
  std::string Text(int id) {
    std::string text = "unread";
    dlg_.GetDlgItem(id).GetWindowText(text);
    return text;
  }
  void Poison() {
    dlg_.m_addressEdit.SetWindowText("poison-address");
    dlg_.m_macroEdit.SetWindowText("poison-macro");
  }
  void Select(HTREEITEM item) { ASSERT_TRUE(dlg_.UserSelectTreeItem(item)); }
  void Pick(int id, int index) { ASSERT_TRUE(dlg_.UserSelectCombo(id, index)); }
  void Press(int id) { ASSERT_TRUE(dlg_.UserClick(id)); }

  VpiRequest request_{};
  ShareData share_{};
  MacroTable macros_;
  CBrowserDlg dlg_{&request_, &share_, &macros_};
  HTREEITEM root_ = 0;
};

struct ComposeCase {
  const char* name;
  std::vector<std::string> parts;
  Macros macros;
  char delimiter;
  std::string address;
  std::string macro;
  std::string macroName;  // checked when the address was shortened
  bool longForm = false;  // the rule could not make it short: OK says so
};

std::string JoinedPath(const std::vector<std::string>& parts) {
  std::string path;
  for (const std::string& part : parts) path += (path.empty() ? "" : ".") + part;
  return path;
}

TEST_F(ComposeTest, SelectedPathIsShownOrShortened) {
  const std::string a10(10, 'A'), b10(10, 'B'), c9(9, 'C'), c10(10, 'C'), c30(30, 'C');
  const std::vector<ComposeCase> cases = {
      {"31 characters", {a10, b10, c9}, {}, '.', a10 + "." + b10 + "." + c9, "", ""},
      {"32 characters", {a10, b10, c10}, {}, '.', "#001." + c10, a10 + "." + b10, "#001"},
      // Where no macro makes it short enough, the path in full (never the address shown before).
      {"no delimiter", {std::string(40, 'X')}, {}, '.', std::string(40, 'X'), "", "", true},
      {"delimiter only first",
       {"." + std::string(39, 'X')},
       {},
       '.',
       "." + std::string(39, 'X'),
       "",
       "",
       true},
      {"remainder of 31", {a10, c30}, {}, '.', "#001." + c30, a10, "#001"},
      {"remainder of 32", {a10, c30 + "C"}, {}, '.', a10 + "." + c30 + "C", "", "", true},
      {"other delimiter", {a10, b10, c10}, {}, '/', a10 + "." + b10 + "." + c10, "", "", true},
      // Too long for the host's buffer in full: the macro and the long last part.
      {"long path and long last part",
       {std::string(250, 'P'), std::string(40, 'n')},
       {},
       '.',
       "#001." + std::string(40, 'n'),
       std::string(250, 'P'),
       "#001",
       true},
      {"macro in other case",
       {"Gebäude", "Stockwerk1", "Raum101", "nvoTemp"},
       {{"#001", "x"}, {"#007", "GEBÄUDE.STOCKWERK1.RAUM101"}},
       '.',
       "#007.nvoTemp",
       "Gebäude.Stockwerk1.Raum101",
       "#007"},
      {"third macro",
       {a10, b10, c10},
       {{"#001", "x"}, {"#002", "y"}},
       '.',
       "#003." + c10,
       a10 + "." + b10,
       "#003"},
      // The entry count plus 1 is taken: the next free number, not a macro of another value.
      {"count name taken",
       {a10, b10, c10},
       {{"#002", "x"}},
       '.',
       "#003." + c10,
       a10 + "." + b10,
       "#003"},
      {"sparse names",
       {a10, b10, c10},
       {{"#001", "x"}, {"#005", "y"}},
       '.',
       "#003." + c10,
       a10 + "." + b10,
       "#003"},
      // A new macro must fit the shared block's 255 characters to reach the driver.
      {"prefix of 255",
       {std::string(255, 'P'), "nvoX"},
       {},
       '.',
       "#001.nvoX",
       std::string(255, 'P'),
       "#001"},
      // Nothing fits: the path in full, which OK refuses.
      {"prefix of 256",
       {std::string(256, 'P'), "nvoX"},
       {},
       '.',
       std::string(256, 'P') + ".nvoX",
       "",
       "",
       true},
      {"long prefix of a known macro",
       {std::string(256, 'P'), "nvoX"},
       {{"#004", std::string(256, 'p')}},
       '.',
       "#004.nvoX",
       std::string(256, 'P'),
       "#004"},
  };
  for (const ComposeCase& c : cases) {
    SCOPED_TRACE(c.name);
    macros_.RemoveAll();
    dlg_.m_tree.DeleteAllItems();
    root_ = dlg_.m_tree.InsertItem("Demo", 0, TVI_ROOT);
    SetMacros(c.macros);
    share_.delimiter = c.delimiter;
    HTREEITEM item = AddPath(c.parts);
    Poison();
    dlg_.m_macroName = "poison-name";
    Select(item);
    EXPECT_EQ(Text(IDC_ADDRESS), c.address);
    EXPECT_EQ(Text(IDC_MACRO), c.macro);
    EXPECT_EQ(dlg_.m_longPath, c.longForm ? JoinedPath(c.parts) : "");
    if (!c.macroName.empty()) {
      EXPECT_EQ(dlg_.m_macroName, c.macroName);
      EXPECT_EQ(dlg_.m_macroValue, c.macro);
    } else {
      EXPECT_EQ(dlg_.m_macroName, "poison-name");
    }
  }
}

TEST_F(ComposeTest, RootAndSecondRootPaths) {
  HTREEITEM other = dlg_.m_tree.InsertItem("Other", 2, TVI_ROOT);
  HTREEITEM child = dlg_.m_tree.InsertItem("nvoX", kImageNV, other);
  Select(child);
  EXPECT_EQ(Text(IDC_ADDRESS), "Other.nvoX");  // a second root is part of its items' paths
  Poison();
  Select(root_);
  EXPECT_EQ(Text(IDC_ADDRESS), "");
  EXPECT_EQ(Text(IDC_MACRO), "");
  std::string path = "poison";
  dlg_.GetItemPath(other, path);
  EXPECT_EQ(path, "Other");
}

TEST_F(ComposeTest, OptionsFollowTheSelectedItemsImage) {
  for (int image = 0; image < kTreeImageCount; ++image) {
    SCOPED_TRACE(image);
    Select(AddPath({"Dev", "item" + std::to_string(image)}, image));
    bool allowed = image == kImageNV || image == kImageNVField;
    for (int id : {IDC_BINDING, IDC_TYPES, IDC_POLLING, IDC_CLEAR_OPTIONS}) {
      EXPECT_EQ(dlg_.GetDlgItem(id).IsWindowEnabled(), allowed) << id;
    }
    // OK only for an item that can become a gate.
    bool gate = allowed || image == kImageDevice;
    EXPECT_EQ(dlg_.GetDlgItem(IDOK).IsWindowEnabled(), gate);
    for (int id : {IDCANCEL, IDC_REFRESH}) EXPECT_TRUE(dlg_.GetDlgItem(id).IsWindowEnabled());
  }
  // A field whose index does not fit one byte cannot become a gate either.
  HTREEITEM nv = AddPath({"Dev", "nvoBig"});
  std::vector<HTREEITEM> fields;
  for (int i = 0; i <= 256; ++i) {
    fields.push_back(dlg_.m_tree.InsertItem(("f" + std::to_string(i)).c_str(), kImageNVField, nv));
  }
  Select(fields[256]);
  EXPECT_FALSE(dlg_.GetDlgItem(IDOK).IsWindowEnabled());
  Select(fields[255]);
  EXPECT_TRUE(dlg_.GetDlgItem(IDOK).IsWindowEnabled());
}

TEST_F(ComposeTest, SelectionWithoutNewItemOnlyClearsTheResult) {
  Poison();
  NMTREEVIEW nm{};
  nm.hdr.code = TVN_SELCHANGED;
  LRESULT result = -7;
  dlg_.OnSelchangedTree(&nm.hdr, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Text(IDC_ADDRESS), "poison-address");
}

struct OptionStep {
  int control;  // IDC_BINDING / IDC_TYPES pick `index`; a button is pressed
  int index;
};

struct OptionCase {
  const char* name;
  std::vector<OptionStep> steps;
  std::string address;
  int binding, types;
};

TEST_F(ComposeTest, OptionSequences) {
  const std::vector<OptionCase> cases = {
      {"Real then Integer", {{IDC_TYPES, 1}, {IDC_TYPES, 0}}, "Building.nvoTemp/F:i", -1, 0},
      {"Polling after Explicit",
       {{IDC_BINDING, 2}, {IDC_POLLING, 0}},
       "Building.nvoTemp/M:p",
       -1,
       -1},
      {"in the order last chosen",
       {{IDC_TYPES, 1}, {IDC_BINDING, 1}, {IDC_BINDING, 0}},
       "Building.nvoTemp/F:r/M:b",
       0,
       1},
      {"every binding letter", {{IDC_BINDING, 3}}, "Building.nvoTemp/M:a", 3, -1},
      {"every type letter",
       {{IDC_TYPES, 2}, {IDC_TYPES, 3}, {IDC_TYPES, 4}},
       "Building.nvoTemp/F:b",
       -1,
       4},
      {"cleared list removes its option",
       {{IDC_BINDING, 1}, {IDC_BINDING, -1}},
       "Building.nvoTemp",
       -1,
       -1},
      {"Clear options",
       {{IDC_BINDING, 1}, {IDC_TYPES, 1}, {IDC_CLEAR_OPTIONS, 0}},
       "Building.nvoTemp",
       -1,
       -1},
  };
  HTREEITEM nv = AddPath({"Building", "nvoTemp"});
  HTREEITEM other = AddPath({"Building", "nvoOther"});
  for (const OptionCase& c : cases) {
    SCOPED_TRACE(c.name);
    Select(other);
    Select(nv);  // a new selection starts from the bare path
    for (const OptionStep& s : c.steps) {
      if (s.control == IDC_BINDING || s.control == IDC_TYPES) {
        Pick(s.control, s.index);
      } else {
        Press(s.control);
      }
    }
    EXPECT_EQ(Text(IDC_ADDRESS), c.address);
    EXPECT_EQ(dlg_.m_bindingCombo.GetCurSel(), c.binding);
    EXPECT_EQ(dlg_.m_typesCombo.GetCurSel(), c.types);
  }
}

TEST_F(ComposeTest, NewSelectionDropsOptionsAndListSelections) {
  Select(AddPath({"Building", "nvoTemp"}));
  Pick(IDC_BINDING, 1);
  Pick(IDC_TYPES, 1);
  Select(AddPath({"Building", "nvoLamp"}));
  EXPECT_EQ(Text(IDC_ADDRESS), "Building.nvoLamp");
  EXPECT_EQ(dlg_.m_bindingCombo.GetCurSel(), -1);
  EXPECT_EQ(dlg_.m_typesCombo.GetCurSel(), -1);
}

TEST_F(ComposeTest, OptionsOnMacroAddressHaveNoLengthRule) {
  const std::string last(30, 'n');
  Select(AddPath({"Building", "Floor1", "Room101", last}));
  ASSERT_EQ(Text(IDC_ADDRESS), "#001." + last);
  Pick(IDC_BINDING, 1);
  Pick(IDC_TYPES, 1);
  EXPECT_EQ(Text(IDC_ADDRESS), "#001." + last + "/M:i/F:r");
  EXPECT_EQ(Text(IDC_MACRO), "Building.Floor1.Room101");
}

TEST_F(ComposeTest, OptionThatReachesLimitShortensAtLastDelimiter) {
  // 28 characters; with "/M:i" 32, so the option travels in the remainder.
  Select(AddPath({"Building", "Floor1", "nvoSpaceTemp"}));
  ASSERT_EQ(Text(IDC_ADDRESS), "Building.Floor1.nvoSpaceTemp");
  Pick(IDC_BINDING, 1);
  EXPECT_EQ(Text(IDC_ADDRESS), "#001.nvoSpaceTemp/M:i");
  EXPECT_EQ(Text(IDC_MACRO), "Building.Floor1");
}

TEST(FindMacroByValueTest, FirstEqualValueIgnoringCase) {
  MacroTable macros;
  std::string name = "poison";
  EXPECT_FALSE(FindMacroByValue(macros, "a.b", name));
  EXPECT_EQ(name, "poison");
  macros.Set("#001", "Zone.Nord");
  macros.Set("#002", "ÉTAGE.ÅS.ĞÖL.Ωμέγα.ДОМ");
  EXPECT_FALSE(FindMacroByValue(macros, "zone.nor", name));
  EXPECT_EQ(name, "poison");
  EXPECT_TRUE(FindMacroByValue(macros, "étage.ås.ğöl.ωμέγα.дом", name));
  EXPECT_EQ(name, "#002");
  EXPECT_TRUE(FindMacroByValue(macros, "ZONE.NORD", name));
  EXPECT_EQ(name, "#001");
  // Malformed bytes are equal only to themselves.
  macros.Set("#003", "\xff");
  EXPECT_FALSE(FindMacroByValue(macros, "\xfe", name));
  EXPECT_EQ(name, "#001");
}

}  // namespace
