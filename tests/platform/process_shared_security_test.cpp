// The process-shared values on Windows: a named mapping of the session that only its creating
// user may open. Wine runs every process as one user and does not enforce access lists between
// processes, so a second user's refused write cannot be shown there: the test reads back the
// descriptor the mapping carries and checks that it grants the creating user alone.
#include <windows.h>
// windows.h first
#include <aclapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process_shared.h"

namespace {

std::vector<unsigned char> TokenUserOf(HANDLE process) {
  std::vector<unsigned char> user;
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return user;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  user.resize(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) user.clear();
  CloseHandle(token);
  return user;
}

TEST(ProcessSharedSecurity, TheMappingGrantsItsCreatingUserAlone) {
  ProcessShared* shared = ProcessSharedData();
  ASSERT_NE(shared, nullptr);
  ProcessSharedFault fault{};
  ASSERT_FALSE(ProcessSharedFallback(&fault)) << fault.step << " " << fault.error;
  const std::string name = ProcessSharedName();
  EXPECT_EQ(name.rfind("Local\\telmar.shared.", 0), 0u) << name;

  // The name stands for the block this process uses.
  HANDLE mapping =
      OpenFileMappingA(READ_CONTROL | FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name.c_str());
  ASSERT_NE(mapping, nullptr) << GetLastError();
  auto* view = static_cast<ProcessShared*>(
      MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(ProcessShared)));
  ASSERT_NE(view, nullptr);
  const int32_t saved = shared->stationActive.load();
  view->stationActive.store(7);
  EXPECT_EQ(shared->stationActive.load(), 7);
  shared->stationActive.store(saved);
  UnmapViewOfFile(view);

  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(mapping, SE_KERNEL_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                            &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  std::vector<unsigned char> user = TokenUserOf(GetCurrentProcess());
  ASSERT_FALSE(user.empty());
  PSID self = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  ASSERT_NE(owner, nullptr);
  EXPECT_TRUE(EqualSid(owner, self));
  // A null access list would grant everybody everything: there must be one, with one entry.
  ASSERT_NE(dacl, nullptr);
  ASSERT_EQ(dacl->AceCount, 1);
  void* ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, &ace));
  auto* header = static_cast<ACE_HEADER*>(ace);
  ASSERT_EQ(header->AceType, ACCESS_ALLOWED_ACE_TYPE);
  auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
  EXPECT_TRUE(EqualSid(reinterpret_cast<PSID>(&allowed->SidStart), self));
  LocalFree(descriptor);
  CloseHandle(mapping);
}

}  // namespace
