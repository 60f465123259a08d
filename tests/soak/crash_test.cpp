// A host process killed while its driver's worker runs leaves the process-shared values and the
// shared macro block behind. A new process must still start the driver, and a browse command
// must not trust the texts of a block that nobody finished writing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "config/share_data.h"
#include "core/driver_instance.h"
#include "core/host_records.h"
#include "core/vpi_main.h"
#include "host/kest_host.h"
#include "netsim/lonsim_control.h"
#include "platform/process_shared.h"
#include "platform/shared_memory.h"
#include "tests/support/temp_dir.h"

// Starting the other process, reading its output, killing it and collecting its end, in each
// system's terms.
#if defined(_WIN32)
#include <windows.h>

namespace {

struct Child {
  HANDLE process = nullptr;
  HANDLE output = nullptr;  // read end of the child's standard output
  bool started() const { return process != nullptr; }
};

Child Spawn(const std::vector<std::string>& args) {
  Child child;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 0)) return child;
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  std::string command = std::string("\"") + TELMAR_CRASH_HELPER + "\"";
  for (const std::string& a : args) command += " \"" + a + "\"";
  PROCESS_INFORMATION info{};
  if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &info)) {
    CloseHandle(info.hThread);
    child.process = info.hProcess;
  }
  CloseHandle(write);
  child.output = read;
  return child;
}

std::string ReadOutput(const Child& child, bool stopAtLine) {
  std::string text;
  char c;
  DWORD n = 0;
  while (ReadFile(child.output, &c, 1, &n, nullptr) && n == 1) {
    if (c == '\r') continue;  // the C runtime's text mode writes line ends as CR LF
    text += c;
    if (stopAtLine && c == '\n') break;
  }
  return text;
}

// Waits for the child's end; its exit code.
int Reap(Child* child) {
  DWORD code = 0;
  WaitForSingleObject(child->process, INFINITE);
  GetExitCodeProcess(child->process, &code);
  CloseHandle(child->process);
  CloseHandle(child->output);
  child->process = nullptr;
  return static_cast<int>(code);
}

constexpr UINT kKilledCode = 137;

// Ends the child at once, as the task manager does; true when it ended so.
bool Kill(Child* child) {
  if (!TerminateProcess(child->process, kKilledCode)) return false;
  return Reap(child) == static_cast<int>(kKilledCode);
}

bool ExitedWithZero(int status) {
  return status == 0;
}

// A named block lives only while a view of it is open: the test holds one across the kill, as
// a second host process would.
constexpr bool kBlockNeedsAHolder = true;

}  // namespace
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct Child {
  pid_t pid = -1;
  int output = -1;  // read end of the child's standard output
  bool started() const { return pid > 0; }
};

Child Spawn(const std::vector<std::string>& args) {
  Child child;
  int fds[2];
  if (pipe(fds) != 0) return child;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  std::vector<std::string> copy = args;
  copy.insert(copy.begin(), TELMAR_CRASH_HELPER);
  std::vector<char*> argv;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    child.pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  child.output = fds[0];
  return child;
}

// Reads the child's output up to the first line end (stopAtLine) or to its end.
std::string ReadOutput(const Child& child, bool stopAtLine) {
  std::string text;
  char c;
  while (read(child.output, &c, 1) == 1) {
    text += c;
    if (stopAtLine && c == '\n') break;
  }
  return text;
}

int Reap(Child* child) {
  int status = 0;
  waitpid(child->pid, &status, 0);
  close(child->output);
  child->pid = -1;
  return status;
}

bool Kill(Child* child) {
  if (kill(child->pid, SIGKILL) != 0) return false;
  int status = Reap(child);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

bool ExitedWithZero(int status) {
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The named block stays after its last user.
constexpr bool kBlockNeedsAHolder = false;

}  // namespace
#endif

namespace {

class CrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kesthost::Reset();
    lonsim::Reset();
    record_ = dir_.path() + "/lonsim.network";
    lonsim::SetNetworkRecordFile(record_);
    for (const char* name : {"TELMAR01.int", "TELMAR02.int"}) {
      dir_.WriteFile(name, "[Lns]\nNetwork=Demo\n[Macros]\n");
    }
  }
  void TearDown() override {
    RemoveShareData(1);
    RemoveShareData(2);
    if (!hostBlock_.empty()) SharedMemoryRemove(hostBlock_.c_str());
    ProcessSharedRemove();
    lonsim::Reset();
  }

  // A host that has started the driver for instance 1, killed while its worker runs;
  // whileRunning is called before the kill.
  void KillRunningHost(const std::function<void()>& whileRunning = {}) {
    Child host = Spawn({"host", record_});
    ASSERT_TRUE(host.started());
    std::string line = ReadOutput(host, true);
    const std::string ready = "ready 0 block ";
    ASSERT_EQ(line.rfind(ready, 0), 0u) << "the host could not start its driver: " << line;
    hostBlock_ = line.substr(ready.size(), line.size() - ready.size() - 1);
    if (whileRunning) whileRunning();
    ASSERT_TRUE(Kill(&host));
  }

  uint32_t Command(void* block, uint32_t command, int32_t instance, void* params) {
    VpiRequest request{static_cast<DriverInstance*>(block), command, instance, 0, params};
    return VpiMain(&request);
  }

  ScopedTempDir dir_;
  std::string record_;
  std::string hostBlock_;  // the system name of the killed host's block
};

TEST_F(CrashTest, ANewProcessStartsTheDriverAfterTheRunningHostWasKilled) {
  for (int32_t instance : {1, 2}) {
    SCOPED_TRACE(instance);
    kesthost::Reset();
    KillRunningHost();
    void* block = std::calloc(1, sizeof(DriverInstance));
    ColdStartParams cold{};
    cold.connectNetwork = 1;
    ASSERT_EQ(Command(block, kColdStart, instance, &cold), 0u);

    // The worker of this process does the work: a gate binds and reads.
    const char* address = "Building.Floor1.Room101.nvoSpaceTemp";
    kesthost::Gate gate;
    gate.id = 7, gate.type = 3, gate.address = address;
    kesthost::AddGate(gate);
    GateAddressParams parse{};
    parse.address = address, parse.gateId = 7, parse.gateType = 3;
    ASSERT_EQ(Command(block, kSingleAddressParser, instance, &parse), 0u);
    uint32_t cell = 0xA5A5A5A5u;
    GateIoParams io{};
    io.address = address, io.bindingWord = parse.bindingWord, io.nvItem = parse.nvItem;
    io.gateType = 3, io.valueCell = &cell;
    ASSERT_EQ(Command(block, kSingleRead, instance, &io), 0u);
    EXPECT_EQ(cell, 0x41AC0000u);  // 21.5f

    EXPECT_EQ(Command(block, kEndVpi, instance, nullptr), 0u);
    EXPECT_EQ(ProcessSharedData()->threadRunning.load(), 0);
    std::free(block);
  }
}

// What a browse in a third process makes of the block that the killed host left behind.
struct BrowseCase {
  const char* name;
  bool wholeBlock;  // garbage in the delimiter and client id too, not only in the texts
  const char* button;
};

// What gtest shows for the case in test lists and failures instead of its raw bytes.
void PrintTo(const BrowseCase& c, std::ostream* os) {
  *os << c.name << " (garbage in " << (c.wholeBlock ? "the whole block" : "the texts") << ", "
      << c.button << ")";
}

class CrashBrowseTest : public CrashTest, public ::testing::WithParamInterface<BrowseCase> {};

TEST_P(CrashBrowseTest, ABrowseReadsNoGarbageFromALeftBlock) {
  const BrowseCase& c = GetParam();
  SharedMemory* memory = nullptr;
  if (kBlockNeedsAHolder) {
    KillRunningHost([&] { memory = SharedMemoryOpen(hostBlock_.c_str()); });
  } else {
    KillRunningHost();
    memory = SharedMemoryOpen(hostBlock_.c_str());
  }
  ASSERT_NE(memory, nullptr) << "the killed host's block is gone";
  auto* share = static_cast<ShareData*>(SharedMemoryMap(memory, sizeof(ShareData)));
  ASSERT_NE(share, nullptr);
  ASSERT_EQ(share->delimiter, '.');
  // Texts without a NUL anywhere, as a writer killed halfway could leave them.
  size_t garbage = c.wholeBlock ? sizeof(ShareData) : offsetof(ShareData, delimiter);
  auto* bytes = reinterpret_cast<unsigned char*>(share);
  for (size_t i = 0; i < garbage; ++i) bytes[i] = static_cast<unsigned char>(i * 37 % 255 + 1);

  Child browse = Spawn({"browse", c.button, record_});
  ASSERT_TRUE(browse.started());
  std::string out = ReadOutput(browse, false);
  int status = Reap(&browse);
  ASSERT_TRUE(ExitedWithZero(status)) << status << "\n" << out;

  bool ok = std::strcmp(c.button, "ok") == 0;
  ASSERT_EQ(out.rfind("result ", 0), 0u) << out;
  unsigned result = std::strtoul(out.c_str() + 7, nullptr, 10);
  size_t length = std::strtoul(out.c_str() + out.find("\nlength ") + 8, nullptr, 10);
  if (!ok) {
    EXPECT_EQ(result, 53u);
    EXPECT_EQ(length, 0u) << "a cancelled browse empties the host's buffer";
  } else if (c.wholeBlock) {
    // With a garbage delimiter there may be no address; an address must fit the buffer.
    EXPECT_TRUE(result == 53 || (result == 0 && length < kBrowseAddressCapacity)) << out;
  } else {
    ASSERT_EQ(result, 0u) << out;
    std::string address = out.substr(out.find("\naddress ") + 9);
    address = address.substr(0, address.find('\n'));
    EXPECT_EQ(address.size(), length);
    // A long path comes back as a new macro plus the NV's name; the macro is handed over.
    ASSERT_EQ(address.rfind('#', 0), 0u) << address;
    EXPECT_EQ(address.substr(address.find('.')), ".nvoSpaceTemp");
    EXPECT_EQ(ShareText(share->pendingName), address.substr(0, address.find('.')));
    EXPECT_EQ(ShareText(share->pendingValue), "Building.Floor1.Room101");
  }
  // Whatever the browse left in the texts ends within its field.
  EXPECT_NE(std::memchr(share->pendingValue, 0, sizeof share->pendingValue), nullptr);
  EXPECT_NE(std::memchr(share->pendingName, 0, sizeof share->pendingName), nullptr);
  SharedMemoryUnmap(share, sizeof(ShareData));
  SharedMemoryClose(memory);
}

INSTANTIATE_TEST_SUITE_P(LeftBlocks, CrashBrowseTest,
                         ::testing::Values(BrowseCase{"TextsCancel", false, "cancel"},
                                           BrowseCase{"TextsOk", false, "ok"},
                                           BrowseCase{"WholeBlockCancel", true, "cancel"},
                                           BrowseCase{"WholeBlockOk", true, "ok"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
