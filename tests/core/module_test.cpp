// libtelmar.so (telmar.dll) as a host sees it: what it exports, loading it, and the
// one-instance rule between two host processes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/host_records.h"
#include "host/kest_host.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

// Loading the library and naming this process, in each system's terms.
#if defined(_WIN32)
#include <windows.h>

namespace {

using ProcessId = DWORD;

void* OpenLibrary(const char* path) {
  return reinterpret_cast<void*>(LoadLibraryA(path));
}
void* LibrarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void CloseLibrary(void* library) {
  FreeLibrary(static_cast<HMODULE>(library));
}
ProcessId ThisProcess() {
  return GetCurrentProcessId();
}

}  // namespace
#else
#include <dlfcn.h>
#include <unistd.h>

namespace {

using ProcessId = pid_t;

void* OpenLibrary(const char* path) {
  return dlopen(path, RTLD_NOW);
}
void* LibrarySymbol(void* library, const char* name) {
  return dlsym(library, name);
}
void CloseLibrary(void* library) {
  dlclose(library);
}
ProcessId ThisProcess() {
  return getpid();
}

// The symbols that a shared library's dynamic symbol table defines (imports left out).
std::vector<std::string> ExportedSymbols(const char* path) {
  std::vector<std::string> names;
  std::string command = std::string("nm -D --defined-only --format=just-symbols '") + path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return names;
  char line[512];
  while (std::fgets(line, sizeof(line), pipe)) {
    std::string name(line);
    while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
    if (!name.empty()) names.push_back(name);
  }
  if (pclose(pipe) != 0) names.push_back("<nm failed>");
  return names;
}

TEST(ModuleExportTest, OnlyVpiMainIsExported) {
  EXPECT_EQ(ExportedSymbols(TELMAR_LIBRARY), std::vector<std::string>{"VpiMain"});
}

}  // namespace
#endif

namespace {

struct ChildResult {
  int status = -1;
  long pid = 0;
  std::string output;
};

// Runs the second host with its arguments; waits for it and collects what it printed.
ChildResult RunSecondHost(const char* instance, const char* mode) {
  const char* outputName = "second-host.out";
  ProgramRun run = RunProgram(TELMAR_SECOND_HOST, {instance, mode}, "", outputName, "");
  ChildResult result{run.status, run.pid, ""};
  std::ifstream in(outputName, std::ios::binary);
  result.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  in.close();
  std::remove(outputName);
  return result;
}

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kesthost::Reset();
    dir_.WriteFile("TELMAR01.int", "[Macros]\n");
    dir_.WriteFile("TELMAR02.int", "[Macros]\n");
    library_ = OpenLibrary(TELMAR_LIBRARY);
    ASSERT_NE(library_, nullptr) << TELMAR_LIBRARY;
    vpiMain_ = reinterpret_cast<uint32_t (*)(VpiRequest*)>(LibrarySymbol(library_, "VpiMain"));
    ASSERT_NE(vpiMain_, nullptr);
    VpiInfo info{};
    ASSERT_EQ(Call(kGetVpiInfo, 1, &info), 0u);
    ASSERT_GT(info.instanceSize, 0u);
    block_ = std::calloc(1, info.instanceSize);
  }

  void TearDown() override {
    if (vpiMain_) {
      Call(kEndVpi, 1);
      Call(kEndVpi, 2);
    }
    if (library_) CloseLibrary(library_);
    std::free(block_);
  }

  uint32_t Call(uint32_t command, int32_t instanceNumber, void* params = nullptr) {
    VpiRequest request{};
    request.instance = static_cast<DriverInstance*>(block_);
    request.command = command;
    request.instanceNumber = instanceNumber;
    request.params = params;
    return vpiMain_(&request);
  }

  uint32_t ColdStart(int32_t instanceNumber) {
    ColdStartParams params{};
    return Call(kColdStart, instanceNumber, &params);
  }

  ScopedTempDir dir_;
  void* library_ = nullptr;
  uint32_t (*vpiMain_)(VpiRequest*) = nullptr;
  void* block_ = nullptr;
};

TEST_F(ModuleTest, HostLoadsStartsAndEndsTheDriver) {
  VpiInfo info{};
  ASSERT_EQ(Call(kGetVpiInfo, 1, &info), 0u);
  EXPECT_EQ(info.infoTag, 77u);
  EXPECT_STREQ(info.description, "LonWorks LCA");

  ASSERT_EQ(ColdStart(1), 0u);
  EXPECT_TRUE(kesthost::LogContains("TelMAR: driver loaded", 32));
  EXPECT_NE(kesthost::CurrentClient(), 0);
  ASSERT_EQ(Call(kEndVpi, 1), 0u);
  EXPECT_EQ(kesthost::CurrentClient(), 0);
  EXPECT_TRUE(kesthost::LogContains("telMAR> VpiThread() stopping successfully", 32));
}

TEST_F(ModuleTest, AnotherProcessCannotStartWhileThisOneRuns) {
  ASSERT_EQ(ColdStart(1), 0u);
  const std::string here = std::to_string(ThisProcess());

  ChildResult same = RunSecondHost("1", "end");
  EXPECT_EQ(same.status, 2);
  EXPECT_NE(same.output.find("telMAR: StartVpiThread() fail: instance 1 of the driver runs in "
                             "process " +
                             here + ", not in this one"),
            std::string::npos)
      << same.output;

  ChildResult other = RunSecondHost("2", "end");
  EXPECT_EQ(other.status, 2);
  EXPECT_NE(other.output.find("only one instance of the driver allowed"), std::string::npos)
      << other.output;

  // This process's driver is untouched; once it has ended, the other process may start.
  EXPECT_EQ(Call(kBlockWrite, 1), 1u);
  ASSERT_EQ(Call(kEndVpi, 1), 0u);
  ChildResult after = RunSecondHost("2", "end");
  EXPECT_EQ(after.status, 0) << after.output;
}

TEST_F(ModuleTest, ProcessThatDiedWithItsWorkerLocksNobodyOut) {
  // This process maps the shared values first (a start and stop does), so that they outlive
  // the dying process and its stale claim is met at the next ColdStart.
  ASSERT_EQ(ColdStart(1), 0u);
  ASSERT_EQ(Call(kEndVpi, 1), 0u);
  ChildResult died = RunSecondHost("2", "die");
  ASSERT_EQ(died.status, 0) << died.output;
  ASSERT_EQ(ColdStart(1), 0u);
  EXPECT_TRUE(kesthost::LogContains("telMAR: StartVpiThread(), process " +
                                    std::to_string(died.pid) +
                                    " ended without EndVpi; its worker no longer runs"));
}

}  // namespace
