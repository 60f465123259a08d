// The process-shared values live in a named file mapping on the paging file, in the session's
// namespace ("Local\telmar.shared.<hash of the module file>"), so every process of the session
// that loads the same driver file shares it and another installation does not. The mapping is
// created with a security descriptor that grants the creating user alone any access: a process of
// another user can neither write a process id into it nor read it. The system keeps the object
// while any process holds it (each holds it until it ends) and a new one starts from zero values,
// so, as the shared data section before it, no table of attached processes is needed; the worker
// treats a claim by a dead process as free.
#include "platform/process_shared.h"

#include <windows.h>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "platform/module.h"

static_assert(std::atomic<int32_t>::is_always_lock_free,
              "the shared values must be lock-free to work across processes");

namespace {

ProcessSharedFault mapFault{nullptr, 0};

const std::string& Name() {
  static const std::string* name = [] {
    char text[64];
    std::snprintf(text, sizeof text, "Local\\telmar.shared.%016llx",
                  static_cast<unsigned long long>(ModuleFileHash()));
    return new std::string(text);
  }();
  return *name;
}

// The calling process's user, as its token names it; empty on failure.
std::vector<unsigned char> CurrentUser() {
  std::vector<unsigned char> user;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return user;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  user.resize(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) user.clear();
  CloseHandle(token);
  return user;
}

// A descriptor whose access list grants the creating user everything and nobody else anything.
struct OwnerOnly {
  std::vector<unsigned char> user;  // TOKEN_USER
  std::vector<unsigned char> acl;
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes;
};

bool MakeOwnerOnly(OwnerOnly* sd) {
  sd->user = CurrentUser();
  if (sd->user.empty()) return false;
  PSID sid = reinterpret_cast<TOKEN_USER*>(sd->user.data())->User.Sid;
  DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid);
  sd->acl.assign(aclSize, 0);
  ACL* acl = reinterpret_cast<ACL*>(sd->acl.data());
  if (!InitializeAcl(acl, aclSize, ACL_REVISION) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid) ||
      !InitializeSecurityDescriptor(&sd->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorOwner(&sd->descriptor, sid, FALSE) ||
      !SetSecurityDescriptorDacl(&sd->descriptor, TRUE, acl, FALSE)) {
    return false;
  }
  sd->attributes = {sizeof(SECURITY_ATTRIBUTES), &sd->descriptor, FALSE};
  return true;
}

// The mapping stays open and mapped for the life of the process.
ProcessShared* MapShared() {
  OwnerOnly sd;
  if (!MakeOwnerOnly(&sd)) {
    mapFault = {"security descriptor", GetLastError()};
    return nullptr;
  }
  // A new mapping of the paging file is zero-filled: its first user starts from zero values.
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, &sd.attributes, PAGE_READWRITE, 0,
                                      sizeof(ProcessShared), Name().c_str());
  if (!mapping) {
    mapFault = {"CreateFileMapping", GetLastError()};
    return nullptr;
  }
  void* view = MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(ProcessShared));
  if (!view) {
    mapFault = {"MapViewOfFile", GetLastError()};
    CloseHandle(mapping);
    return nullptr;
  }
  return static_cast<ProcessShared*>(view);
}

}  // namespace

ProcessShared* ProcessSharedData() {
  static ProcessShared* data = [] {
    if (ProcessShared* mapped = MapShared()) return mapped;
    return new ProcessShared{};
  }();
  return data;
}

bool ProcessSharedFallback(ProcessSharedFault* fault) {
  ProcessSharedData();
  if (!mapFault.step) return false;
  if (fault) *fault = mapFault;
  return true;
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
  return Name().c_str();
}

// A name cannot be removed here: the object ends with the last process that holds it.
void ProcessSharedRemove() {}

void ProcessSharedSetAttachHook(void (*)(const char*)) {}
