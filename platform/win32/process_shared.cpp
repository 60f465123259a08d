// The process-shared values live in a data section of the module that every process loading it
// shares (a section with the shared attribute). The system keeps the section while any process
// has the module loaded and starts it from its initial zero values after the last one has
// unloaded it, which is the lifetime the contract asks for: the table of attached processes is
// not needed here.
#include "platform/process_shared.h"

#include <windows.h>

#include <string>

static_assert(std::atomic<int32_t>::is_always_lock_free,
              "the shared values must be lock-free to work across processes");

namespace {

ProcessShared sharedValues __attribute__((section(".shared"), shared)) = {};

// The file of the module that holds this code (the driver DLL, or a program linking the driver).
std::string ModuleFilePath() {
  HMODULE module = nullptr;
  char path[MAX_PATH] = "";
  if (GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&sharedValues), &module)) {
    GetModuleFileNameA(module, path, sizeof path);
  }
  return path;
}

}  // namespace

ProcessShared* ProcessSharedData() {
  return &sharedValues;
}

bool ProcessAlive(int32_t pid) {
  if (pid <= 0) return false;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;  // exists, but not ours to ask
  DWORD code = 0;
  bool alive = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return alive;
}

int32_t CurrentProcessId() {
  return static_cast<int32_t>(GetCurrentProcessId());
}

const char* ProcessSharedName() {
  static const std::string* name = new std::string(ModuleFilePath());
  return name->c_str();
}

// The section has no name that could be removed: it ends with the last process that loaded it.
void ProcessSharedRemove() {}
