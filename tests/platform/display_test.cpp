// The display probe on Windows: a window station that no user sees (a service's) has no display,
// whatever its desktop could create.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/display.h"

namespace {

TEST(DisplayProbe, AnInvisibleWindowStationHasNoDisplay) {
  HWINSTA own = GetProcessWindowStation();
  HWINSTA hidden = CreateWindowStationA(nullptr, 0, WINSTA_ALL_ACCESS, nullptr);
  ASSERT_NE(hidden, nullptr) << GetLastError();
  USEROBJECTFLAGS flags{};
  ASSERT_TRUE(GetUserObjectInformationA(hidden, UOI_FLAGS, &flags, sizeof flags, nullptr));
  ASSERT_EQ(flags.dwFlags & WSF_VISIBLE, 0u);
  ASSERT_TRUE(SetProcessWindowStation(hidden));
  std::string why;
  bool available = GuiDisplayAvailable(&why);
  SetProcessWindowStation(own);
  CloseWindowStation(hidden);
  EXPECT_FALSE(available);
  EXPECT_NE(why.find("window station is not visible"), std::string::npos) << why;
}

}  // namespace
