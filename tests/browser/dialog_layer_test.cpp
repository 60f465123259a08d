// The dialog layer's controls, its user actions and the tree image strip.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "browser/browser_dlg.h"
#include "browser/browser_resources.h"
#include "config/share_data.h"
#include "core/host_records.h"

namespace {

class LayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    share_.delimiter = '.';
    dlg_.CreateControls();
    dlg_.UpdateData(false);
    root_ = dlg_.m_tree.InsertItem("Demo", 0, TVI_ROOT);
    dev_ = dlg_.m_tree.InsertItem("Dev", 4, root_);
    nv_ = dlg_.m_tree.InsertItem("nvoA", kImageNV, dev_);
    nv2_ = dlg_.m_tree.InsertItem("nvoB", kImageNV, dev_);
  }
  std::string AddressBox() {
    std::string text = "unread";
    dlg_.m_addressEdit.GetWindowText(text);
    return text;
  }

  VpiRequest request_{};
  ShareData share_{};
  MacroTable macros_;
  CBrowserDlg dlg_{&request_, &share_, &macros_};
  HTREEITEM root_ = 0, dev_ = 0, nv_ = 0, nv2_ = 0;
};

TEST_F(LayerTest, TreeNavigation) {
  CTreeCtrl& t = dlg_.m_tree;
  EXPECT_EQ(t.GetRootItem(), root_);
  EXPECT_EQ(t.GetNextItem(dev_, TVGN_CHILD), nv_);
  EXPECT_EQ(t.GetNextItem(nv_, TVGN_NEXT), nv2_);
  EXPECT_EQ(t.GetNextItem(nv2_, TVGN_NEXT), 0u);
  EXPECT_EQ(t.GetParentItem(nv2_), dev_);
  EXPECT_EQ(t.GetParentItem(root_), 0u);
  EXPECT_EQ(t.InsertItem("orphan", 8, 999), 0u);
  EXPECT_EQ(t.GetItemText(999), "");
  int image = -5, selected = -5;
  EXPECT_FALSE(t.GetItemImage(999, image, selected));
  EXPECT_EQ(image, -5);
  EXPECT_TRUE(t.GetItemImage(nv2_, image, selected));
  EXPECT_EQ(image, kImageNV);
  EXPECT_EQ(t.GetCount(), 4);
}

TEST_F(LayerTest, SelectingTheSelectedItemAgainSendsNothing) {
  ASSERT_TRUE(dlg_.UserSelectTreeItem(nv_));
  EXPECT_EQ(dlg_.m_tree.GetSelectedItem(), nv_);
  dlg_.m_addressEdit.SetWindowText("poison");
  EXPECT_TRUE(dlg_.UserSelectTreeItem(nv_));
  EXPECT_EQ(AddressBox(), "poison");
  EXPECT_FALSE(dlg_.UserSelectTreeItem(999));
}

TEST_F(LayerTest, ComboSelectionOutOfRangeClears) {
  EXPECT_EQ(dlg_.m_typesCombo.GetCount(), 5);
  EXPECT_EQ(dlg_.m_typesCombo.SetCurSel(4), 4);
  EXPECT_EQ(dlg_.m_typesCombo.SetCurSel(5), -1);
  EXPECT_EQ(dlg_.m_typesCombo.GetCurSel(), -1);
  std::string text = "poison";
  dlg_.m_typesCombo.GetLBText(1, text);
  EXPECT_EQ(text, "Real");
  dlg_.m_typesCombo.SetCurSel(1);
  dlg_.m_typesCombo.GetWindowText(text);  // a drop-down list shows its selection
  EXPECT_EQ(text, "Real");
}

TEST_F(LayerTest, DisabledControlsRefuseTheUser) {
  ASSERT_TRUE(dlg_.UserSelectTreeItem(dev_));  // image 4: options disabled
  dlg_.m_addressEdit.SetWindowText("poison");
  EXPECT_FALSE(dlg_.UserClick(IDC_POLLING));
  EXPECT_FALSE(dlg_.UserClick(IDC_CLEAR_OPTIONS));
  EXPECT_FALSE(dlg_.UserSelectCombo(IDC_BINDING, 1));
  EXPECT_FALSE(dlg_.UserSelectCombo(IDC_TYPES, 1));
  EXPECT_EQ(AddressBox(), "poison");
  EXPECT_EQ(dlg_.m_bindingCombo.GetCurSel(), -1);
  EXPECT_FALSE(dlg_.UserClick(IDC_MACRO));  // not a button
  EXPECT_FALSE(dlg_.UserClick(4711));
}

TEST_F(LayerTest, OkTakesTheBoxesCancelAndCloseBoxDoNot) {
  struct Case {
    int click;
    int result;
    bool exchanged;
  };
  for (Case c : {Case{IDOK, 1, true}, Case{IDCANCEL, 2, false}, Case{kCloseBoxId, 2, false}}) {
    SCOPED_TRACE(c.click);
    SetUp();
    ASSERT_TRUE(dlg_.UserSelectTreeItem(nv2_));
    dlg_.m_address = "poison";
    dlg_.m_macroValue = "poison";
    dlg_.m_macroEdit.SetWindowText("P");
    ASSERT_TRUE(dlg_.UserClick(c.click));
    EXPECT_TRUE(dlg_.Ended());
    EXPECT_EQ(dlg_.Result(), c.result);
    EXPECT_EQ(dlg_.m_address, c.exchanged ? "Dev.nvoB" : "poison");
    EXPECT_EQ(dlg_.m_macroValue, c.exchanged ? "P" : "poison");
    // An ended dialog takes no more actions.
    EXPECT_FALSE(dlg_.UserClick(IDOK));
    EXPECT_FALSE(dlg_.UserSelectTreeItem(nv_));
  }
}

TEST(TreeImagesTest, StripOfFourteenWithMagentaTransparent) {
  CImageList list;
  EXPECT_FALSE(list.Create(999, kTreeImageWidth, 0, kTreeImageMask));
  EXPECT_FALSE(list.Create(IDB_TREE_IMAGES, 0, 0, kTreeImageMask));
  ASSERT_TRUE(list.Create(IDB_TREE_IMAGES, kTreeImageWidth, 0, kTreeImageMask));
  ASSERT_EQ(list.GetImageCount(), kTreeImageCount);
  EXPECT_EQ(list.Width(), 16);
  EXPECT_EQ(list.Height(), 13);
  std::vector<std::vector<uint32_t>> images(kTreeImageCount);
  std::set<std::vector<uint32_t>> distinct;
  for (int i = 0; i < kTreeImageCount; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(list.GetImagePixels(i, &images[i]));
    ASSERT_EQ(images[i].size(), 16u * 13u);
    size_t transparent = 0;
    for (uint32_t p : images[i]) {
      if ((p >> 24) == 0) {
        ++transparent;
      } else {
        EXPECT_EQ(p >> 24, 0xFFu);
      }
    }
    EXPECT_GT(transparent, 0u);
    EXPECT_LT(transparent, images[i].size());
    distinct.insert(images[i]);
  }
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kTreeImageCount));
  EXPECT_FALSE(list.GetImagePixels(kTreeImageCount, &images[0]));

  // 3, 5, 7, 9 and 11 are 2, 4, 6, 8 and 10 with image 12's plus sign over them.
  const std::vector<uint32_t>& plus = images[12];
  for (int base : {2, 4, 6, 8, 10}) {
    SCOPED_TRACE(base);
    for (size_t p = 0; p < plus.size(); ++p) {
      uint32_t expected = (plus[p] >> 24) ? plus[p] : images[base][p];
      EXPECT_EQ(images[base + 1][p], expected) << "pixel " << p;
    }
  }
}

}  // namespace
