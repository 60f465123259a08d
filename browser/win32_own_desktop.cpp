#include "browser/win32_own_desktop.h"

#include <windows.h>

#include <cstdio>
#include <string>

int RunAgainOnOwnDesktop() {
  constexpr const char* kOnOwnDesktop = "TELMAR_OWN_DESKTOP";
  if (GetEnvironmentVariableA(kOnOwnDesktop, nullptr, 0) != 0) return -1;
  std::string name = "telmar-" + std::to_string(GetCurrentProcessId());
  HDESK desktop = CreateDesktopA(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  if (!desktop) {
    std::fprintf(stderr, "no desktop of its own: LastError %08lx\n", GetLastError());
    return 1;
  }
  SetEnvironmentVariableA(kOnOwnDesktop, name.c_str());
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = name.data();
  PROCESS_INFORMATION process{};
  std::string command = GetCommandLineA();
  DWORD status = 1;
  if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  } else {
    std::fprintf(stderr, "cannot start on its own desktop: LastError %08lx\n", GetLastError());
  }
  CloseDesktop(desktop);
  return static_cast<int>(status);
}
