// The resources of the Windows build hold the same dialog as the template of the other backends:
// controls, ids, styles, geometry, texts, the lists' entries and the tree's images.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "browser/browser_resources.h"
#include "browser/win32_window.h"

namespace {

constexpr int kDialogType = 5, kBitmapType = 2, kDlgInitType = 240;

// Reads the little-endian fields of a resource, in order.
struct Reader {
  const std::string& bytes;
  size_t at = 0;
  uint32_t Word() {
    uint32_t v = static_cast<uint8_t>(bytes.at(at)) | static_cast<uint8_t>(bytes.at(at + 1)) << 8;
    at += 2;
    return v;
  }
  uint32_t Dword() { return Word() | Word() << 16; }
  int Short() { return static_cast<int16_t>(Word()); }
  // A text, or an ordinal given as "#n".
  std::string TextOrOrdinal() {
    uint32_t first = Word();
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    std::string text;
    for (uint32_t c = first; c != 0; c = Word()) text += static_cast<char>(c);  // ASCII here
    return text;
  }
  void Align() { at = (at + 3) & ~size_t{3}; }
};

// The system's class of each kind of control, as the resource names it.
std::string ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::kPushButton:
    case ControlKind::kGroupBox:
      return "#128";
    case ControlKind::kEdit:
      return "#129";
    case ControlKind::kStatic:
      return "#130";
    case ControlKind::kComboBox:
      return "#133";
    case ControlKind::kTreeView:
      return "SysTreeView32";
  }
  return "";
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

TEST(Win32Resources, DialogTemplateIsTheBrowsersTemplate) {
  const DialogTemplate& tpl = BrowserTemplate();
  std::string bytes;
  ASSERT_TRUE(win32ui::LoadResourceBytes(kDialogType, IDD_BROWSER, &bytes));
  Reader r{bytes};
  ASSERT_EQ(r.Word(), 1u);  // an extended template
  ASSERT_EQ(r.Word(), 0xFFFFu);
  r.Dword();  // help id
  EXPECT_EQ(r.Dword() & tpl.exStyle, tpl.exStyle);
  uint32_t style = r.Dword();
  EXPECT_EQ(style & tpl.style, tpl.style);
  ASSERT_EQ(r.Word(), tpl.controlCount);
  r.Short();
  r.Short();
  EXPECT_EQ(r.Short(), tpl.cx);
  EXPECT_EQ(r.Short(), tpl.cy);
  EXPECT_EQ(r.TextOrOrdinal(), "");  // no menu
  EXPECT_EQ(r.TextOrOrdinal(), "");  // the system's dialog class
  EXPECT_EQ(r.TextOrOrdinal(), tpl.title);
  EXPECT_EQ(static_cast<int>(r.Word()), tpl.pointSize);
  r.Word();  // weight
  r.Word();  // italic, character set
  EXPECT_EQ(r.TextOrOrdinal(), tpl.fontName);
  for (size_t i = 0; i < tpl.controlCount; ++i) {
    const ControlTemplate& c = tpl.controls[i];
    SCOPED_TRACE("control " + std::to_string(i) + " '" + c.text + "'");
    r.Align();
    r.Dword();  // help id
    r.Dword();  // extended style
    uint32_t controlStyle = r.Dword();
    EXPECT_EQ(controlStyle & c.style, c.style);
    EXPECT_EQ(r.Short(), c.x);
    EXPECT_EQ(r.Short(), c.y);
    EXPECT_EQ(r.Short(), c.cx);
    EXPECT_EQ(r.Short(), c.cy);
    EXPECT_EQ(static_cast<int32_t>(r.Dword()), c.id);
    EXPECT_EQ(Upper(r.TextOrOrdinal()), Upper(ClassOf(c.kind)));  // class names ignore case
    if (c.kind == ControlKind::kGroupBox) {
      EXPECT_EQ(controlStyle & 0xF, 7u);  // a group box
    }
    EXPECT_EQ(r.TextOrOrdinal(), c.text);
    r.at += r.Word();  // creation data
  }
}

TEST(Win32Resources, ListEntriesAndTreeImages) {
  const DialogTemplate& tpl = BrowserTemplate();
  std::string bytes;
  ASSERT_TRUE(win32ui::LoadResourceBytes(kDlgInitType, IDD_BROWSER, &bytes));
  std::map<int, std::vector<std::string>> entries;
  Reader r{bytes};
  for (uint32_t id = r.Word(); id != 0; id = r.Word()) {
    EXPECT_EQ(r.Word(), 0x0403u);  // add an entry to a combo box
    uint32_t length = r.Dword();
    ASSERT_LE(r.at + length, bytes.size());
    entries[static_cast<int>(id)].push_back(std::string(bytes.c_str() + r.at));
    r.at += length;
  }
  ASSERT_EQ(entries.size(), tpl.comboInitCount);
  for (size_t i = 0; i < tpl.comboInitCount; ++i) {
    const ComboInit& init = tpl.comboInit[i];
    EXPECT_EQ(entries[init.id], std::vector<std::string>(init.items, init.items + init.count));
  }

  // The bitmap: a 16-colour strip whose pixels are those of the embedded strip.
  int width = 0, height = 0;
  std::vector<uint32_t> rgb;
  ASSERT_TRUE(LoadBitmapResource(IDB_TREE_IMAGES, &width, &height, &rgb));
  ASSERT_TRUE(win32ui::LoadResourceBytes(kBitmapType, IDB_TREE_IMAGES, &bytes));
  Reader b{bytes};
  uint32_t header = b.Dword();
  ASSERT_EQ(static_cast<int>(b.Dword()), width);
  ASSERT_EQ(static_cast<int>(b.Dword()), height);
  b.Word();
  ASSERT_EQ(b.Word(), 4u);
  b.at = header;
  uint32_t palette[16];
  for (uint32_t& colour : palette) colour = b.Dword() & 0xFFFFFF;
  const size_t rowBytes = ((static_cast<size_t>(width) * 4 + 31) / 32) * 4;
  for (int y = 0; y < height; ++y) {
    const size_t row = b.at + static_cast<size_t>(height - 1 - y) * rowBytes;
    for (int x = 0; x < width; ++x) {
      auto pair = static_cast<uint8_t>(bytes.at(row + x / 2));
      uint32_t index = x % 2 ? pair & 0xF : pair >> 4;
      ASSERT_EQ(palette[index], rgb[static_cast<size_t>(y) * width + x]) << x << "," << y;
    }
  }
}

}  // namespace
