// The named shared block. Instance number 71 keeps its name apart from other tests' blocks.
#include "config/share_data.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <cstring>
#include <string>

#include "platform/shared_memory.h"
#include "tests/config/config_fixture.h"

namespace {

constexpr int32_t kNumber = 71;

class ShareDataTest : public ConfigTest {
 protected:
  void SetUp() override {
    kesthost::Reset();
    RemoveShareData(kNumber);
    SetUpInstance(kNumber);
  }
  void TearDown() override {
    CloseShareData(inst_->shareHandle, inst_->shareView);
    inst_->shareHandle = nullptr;
    inst_->shareView = nullptr;
    RemoveShareData(kNumber);
    TearDownInstance();
  }
};

TEST_F(ShareDataTest, BrowserSideSeesTheDriversBlockAtTheFixedOffsets) {
  ASSERT_EQ(CreateShareData(&request_), 0);
  ShareData* driver = inst_->shareView;
  driver->delimiter = '/';
  driver->clientId = 0xA5;
  ASSERT_TRUE(SetShareText(driver->pendingValue, "Building.Floor1"));
  ASSERT_TRUE(SetShareText(driver->pendingName, "#001"));

  SharedMemory* handle = nullptr;
  ShareData* view = nullptr;
  ASSERT_EQ(OpenShareData(&request_, &handle, &view), 0);
  ASSERT_NE(static_cast<void*>(view), static_cast<void*>(driver));  // a mapping of its own
  const unsigned char* raw = reinterpret_cast<const unsigned char*>(view);
  EXPECT_EQ(std::memcmp(raw, "Building.Floor1", 16), 0);
  EXPECT_EQ(std::memcmp(raw + 256, "#001", 5), 0);
  EXPECT_EQ(raw[512], '/');
  EXPECT_EQ(raw[513], 0xA5);
  ASSERT_TRUE(SetShareText(view->pendingName, "#002"));  // and back to the driver
  EXPECT_EQ(ShareText(driver->pendingName), "#002");
  EXPECT_EQ(CloseShareData(handle, view), 0);
  EXPECT_TRUE(kesthost::Log().empty());

  // Creating again, as the next ColdStart does, zeroes what is there.
  std::memset(driver, 0x5A, sizeof(ShareData));
  CloseShareData(inst_->shareHandle, inst_->shareView);
  ASSERT_EQ(CreateShareData(&request_), 0);
  raw = reinterpret_cast<const unsigned char*>(inst_->shareView);
  for (size_t i = 0; i < sizeof(ShareData); ++i) ASSERT_EQ(raw[i], 0) << "byte " << i;
}

TEST_F(ShareDataTest, OpeningWithoutARunningDriverFailsWith53) {
  SharedMemory* handle = reinterpret_cast<SharedMemory*>(1);
  ShareData* view = reinterpret_cast<ShareData*>(1);
  EXPECT_EQ(OpenShareData(&request_, &handle, &view), 53);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(view, nullptr);
  EXPECT_EQ(LogAt(32), std::vector<std::string>{
                           "telMar: OpenShareData() fail on OpenFileMapping 'TELMAR71.int'"});

  // A driver torn down leaves nothing to open, while its own view stays usable until it closes
  // it. (Windows drops the name only with the last view.)
  ASSERT_EQ(CreateShareData(&request_), 0);
  RemoveShareData(kNumber);
  inst_->shareView->clientId = 3;
  EXPECT_EQ(inst_->shareView->clientId, 3);
  CloseShareData(inst_->shareHandle, inst_->shareView);
  inst_->shareHandle = nullptr;
  inst_->shareView = nullptr;
  EXPECT_EQ(OpenShareData(&request_, &handle, &view), 53);
}

#if defined(_WIN32)
// A driver of another logon session leaves its mark in the global namespace beside a block that
// this session cannot see: the browse says why it gets 53.
TEST_F(ShareDataTest, ADriverOfAnotherSessionIsSaidToBeOutOfReach) {
  std::string marker = ShareDataName(kNumber);
  ASSERT_EQ(marker.rfind("Local\\", 0), 0u) << marker;
  marker = "Global\\" + marker.substr(6) + ".session";
  HANDLE other = CreateMutexA(nullptr, FALSE, marker.c_str());
  ASSERT_NE(other, nullptr);
  SharedMemory* handle = nullptr;
  ShareData* view = nullptr;
  EXPECT_EQ(OpenShareData(&request_, &handle, &view), 53);
  EXPECT_EQ(LogAt(32),
            (std::vector<std::string>{
                "telMar: OpenShareData(): the driver of 'TELMAR71.int' runs in another logon "
                "session, which this process cannot reach",
                "telMar: OpenShareData() fail on OpenFileMapping 'TELMAR71.int'"}));
  CloseHandle(other);

  // The driver of this session holds the same mark: its block is opened, without the line.
  ASSERT_EQ(CreateShareData(&request_), 0);
  EXPECT_EQ(OpenShareData(&request_, &handle, &view), 0);
  CloseShareData(handle, view);
}
#endif

TEST_F(ShareDataTest, BlockTooSmallToMapGivesItsHandleBackForRelease) {
#if defined(_WIN32)
  GTEST_SKIP() << "Wine maps a file mapping in whole pages; Windows refuses the view itself";
#endif
  SharedMemory* foreign = SharedMemoryCreate(ShareDataName(kNumber).c_str(), 100);
  ASSERT_NE(foreign, nullptr);
  SharedMemory* handle = nullptr;
  ShareData* view = reinterpret_cast<ShareData*>(1);
  EXPECT_EQ(OpenShareData(&request_, &handle, &view), 53);
  EXPECT_NE(handle, nullptr);
  EXPECT_EQ(view, nullptr);
  EXPECT_TRUE(
      kesthost::LogContains("telMar: OpenShareData() fail on MapViewOfFile 'TELMAR71.int'", 32));
  EXPECT_EQ(CloseShareData(handle, view), 0);
  EXPECT_EQ(CloseShareData(nullptr, nullptr), 0);

  EXPECT_EQ(CreateShareData(&request_), 0);  // the driver grows it instead of failing
  EXPECT_EQ(inst_->shareView->clientId, 0);
  SharedMemoryClose(foreign);
}

TEST(ShareTextTest, FieldsAreNeverReadPastTheirEndAndRefuseWhatDoesNotFit) {
  // The block's name is private to this user and driver file, and ends in the option file's.
  const std::string name = ShareDataName(7);
  EXPECT_EQ(name, PrivateObjectName("TELMAR07.int"));
  EXPECT_NE(name, "/TELMAR07.int");
  EXPECT_EQ(ShareLockName(7), name + ".lock");
  ShareData block;
  std::memset(&block, 'x', sizeof block);  // no NUL anywhere, as a crashed writer may leave it
  EXPECT_EQ(ShareText(block.pendingValue), std::string(255, 'x'));
  std::memcpy(block.pendingName, "#A\0junk", 7);
  EXPECT_EQ(ShareText(block.pendingName), "#A");

  const std::string fits(255, 'f');
  EXPECT_TRUE(SetShareText(block.pendingValue, fits));
  EXPECT_EQ(ShareText(block.pendingValue), fits);
  EXPECT_EQ(block.pendingValue[255], 0);
  EXPECT_EQ(block.pendingName[0], '#');  // the neighbour untouched
  EXPECT_FALSE(SetShareText(block.pendingValue, std::string(256, 'g')));
  EXPECT_FALSE(SetShareText(block.pendingValue, std::string("a\0b", 3)));
  EXPECT_EQ(ShareText(block.pendingValue), fits);
  EXPECT_TRUE(SetShareText(block.pendingValue, ""));
  EXPECT_EQ(ShareText(block.pendingValue), "");
}

}  // namespace
