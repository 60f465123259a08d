// The browse command in the native window, driven from a second thread by the messages of its
// controls, as a user's clicks arrive: the tree's selection, a list's selection with the
// notification the dialog expects, a click of OK or Cancel.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "browser/dialog_script.h"
#include "browser/win32_dialog_hook.h"
#include "browser/win32_own_desktop.h"
#include "browser/win32_window.h"
#include "tests/browser/win32_browse_driver.h"

namespace browsetest {
namespace {

std::string Text(HWND window) {
  char text[256] = {};
  SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

std::string ItemText(HWND tree, HTREEITEM item, int* image) {
  char text[256] = {};
  TVITEMA tv{};
  tv.mask = TVIF_TEXT | TVIF_IMAGE;
  tv.hItem = item;
  tv.pszText = text;
  tv.cchTextMax = sizeof text;
  SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
  if (image) *image = tv.iImage;
  return text;
}

// The item below the root (the network) whose texts are `parts`.
HTREEITEM FindPath(HWND tree, const std::vector<std::string>& parts) {
  auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
  for (const std::string& part : parts) {
    auto child = reinterpret_cast<HTREEITEM>(
        SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
    while (child && ItemText(tree, child, nullptr) != part) {
      child = reinterpret_cast<HTREEITEM>(
          SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child)));
    }
    item = child;
    if (!item) break;
  }
  return item;
}

void ChooseEntry(HWND dialog, int id, int index) {
  HWND combo = GetDlgItem(dialog, id);
  SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { driver_ = StartBrowseDriver(); }
  void TearDown() override {
    SetWin32DialogShownHook(nullptr);
    StopBrowseDriver(driver_);
  }

  // Runs command 16 on this thread while `user` works the window from a second thread; the
  // dialog is closed afterwards if `user` left it open, so that a failed check cannot hang.
  uint32_t Browse(const std::function<void(HWND)>& user, std::string* address) {
    std::mutex lock;
    std::condition_variable changed;
    HWND shown = nullptr;
    bool returned = false;
    SetWin32DialogShownHook([&](void* window) {
      std::lock_guard<std::mutex> held(lock);
      shown = static_cast<HWND>(window);
      changed.notify_all();
    });
    std::thread second([&] {
      std::unique_lock<std::mutex> held(lock);
      if (!changed.wait_for(held, std::chrono::seconds(60), [&] { return shown || returned; }) ||
          !shown) {
        return;
      }
      held.unlock();
      user(shown);
      if (IsWindow(shown)) PostMessageA(shown, WM_CLOSE, 0, 0);
    });
    uint32_t result = BrowseThroughVpiMain(driver_, address);
    {
      std::lock_guard<std::mutex> held(lock);
      returned = true;
      changed.notify_all();
    }
    second.join();
    EXPECT_NE(shown, nullptr) << "the dialog was not shown; the log:\n" << DriverLog();
    return result;
  }

  BrowseDriver* driver_ = nullptr;
};

TEST_F(Win32WindowTest, ChooseNvImplicitRealAndOk) {
  std::string address;
  uint32_t result = Browse(
      [](HWND dialog) {
        EXPECT_EQ(Text(dialog), "LonWorks browser");
        HWND tree = GetDlgItem(dialog, kTelmarIdTree);
        HWND binding = GetDlgItem(dialog, kTelmarIdBinding);
        HWND types = GetDlgItem(dialog, kTelmarIdTypes);
        EXPECT_FALSE(IsWindowEnabled(binding));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, kTelmarIdPolling)));
        EXPECT_EQ(SendMessageA(binding, CB_GETCOUNT, 0, 0), 4);
        char entry[32] = {};
        SendMessageA(types, CB_GETLBTEXT, 4, reinterpret_cast<LPARAM>(entry));
        EXPECT_STREQ(entry, "Binary");
        EXPECT_NE(SendMessageA(tree, TVM_GETIMAGELIST, TVSIL_NORMAL, 0), 0);

        HTREEITEM nv = FindPath(tree, {"Building", "Floor1", "Room101", "nvoSpaceTemp"});
        ASSERT_NE(nv, nullptr);
        int image = -1;
        ItemText(tree, nv, &image);
        EXPECT_EQ(image, 8);
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(nv));
        EXPECT_TRUE(IsWindowEnabled(binding));
        EXPECT_EQ(Text(GetDlgItem(dialog, kTelmarIdAddress)), "#001.nvoSpaceTemp");
        EXPECT_EQ(Text(GetDlgItem(dialog, kTelmarIdMacro)), "Building.Floor1.Room101");
        ChooseEntry(dialog, kTelmarIdBinding, 1);  // "Implicit"
        ChooseEntry(dialog, kTelmarIdTypes, 1);    // "Real"
        EXPECT_EQ(Text(GetDlgItem(dialog, kTelmarIdAddress)), "#001.nvoSpaceTemp/M:i/F:r");
        SendMessageA(GetDlgItem(dialog, kTelmarIdOk), BM_CLICK, 0, 0);
      },
      &address);
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(address, "#001.nvoSpaceTemp/M:i/F:r");
  EXPECT_EQ(PendingName(driver_), "#001");
  EXPECT_EQ(PendingValue(driver_), "Building.Floor1.Room101");
  EXPECT_NE(TakeOverPendingMacro(driver_).find("#001 = Building.Floor1.Room101"),
            std::string::npos);
}

TEST_F(Win32WindowTest, CancelGivesTheEmptyText) {
  std::string address;
  uint32_t result = Browse(
      [](HWND dialog) {
        HWND tree = GetDlgItem(dialog, kTelmarIdTree);
        HTREEITEM nv = FindPath(tree, {"Building", "Floor1", "Room101", "nvoSpaceTemp"});
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(nv));
        EXPECT_EQ(Text(GetDlgItem(dialog, kTelmarIdAddress)), "#001.nvoSpaceTemp");
        SendMessageA(GetDlgItem(dialog, kTelmarIdCancel), BM_CLICK, 0, 0);
      },
      &address);
  EXPECT_EQ(result, 53u);
  EXPECT_EQ(address, "");
  EXPECT_EQ(PendingName(driver_), "");
}

// The host's window is the dialog's owner and stays disabled while it is open, as under the
// system's own modal dialogs; a second browse meanwhile is refused, and the tree's image list is
// gone with the dialog.
TEST_F(Win32WindowTest, OwnedByTheHostWindowOneAtATimeWithoutLeftovers) {
  HWND host = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                              nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(host, nullptr);
  SetActiveWindow(host);
  const int lists = win32ui::OpenImageLists();
  std::string address;
  std::string secondAddress = "poison";
  uint32_t second = 0;
  uint32_t result = Browse(
      [&](HWND dialog) {
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), host);
        EXPECT_FALSE(IsWindowEnabled(host));
        EXPECT_EQ(win32ui::OpenImageLists(), lists + 1);
        second = BrowseThroughVpiMain(driver_, &secondAddress);
        SendMessageA(GetDlgItem(dialog, kTelmarIdCancel), BM_CLICK, 0, 0);
      },
      &address);
  EXPECT_EQ(result, 53u);
  EXPECT_EQ(second, 53u);
  EXPECT_EQ(secondAddress, "");
  EXPECT_NE(DriverLog().find("another dialog window is open"), std::string::npos) << DriverLog();
  EXPECT_TRUE(IsWindowEnabled(host));
  EXPECT_EQ(win32ui::OpenImageLists(), lists);
  DestroyWindow(host);
}

}  // namespace
}  // namespace browsetest

int main(int argc, char** argv) {
  int status = RunAgainOnOwnDesktop();
  if (status >= 0) return status;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
