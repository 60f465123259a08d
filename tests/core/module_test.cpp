// libtelmar.so as a host sees it: what it exports, loading it, and the one-instance rule
// between two host processes.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/host_records.h"
#include "host/kest_host.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace {

// Names of the symbols that an ELF file's dynamic symbol table defines (imports left out).
template <typename Ehdr, typename Shdr, typename Sym, unsigned char (*Bind)(unsigned char)>
std::vector<std::string> DefinedDynamicSymbols(const std::vector<char>& file) {
  std::vector<std::string> names;
  if (file.size() < sizeof(Ehdr)) return names;
  Ehdr header;
  std::memcpy(&header, file.data(), sizeof(header));
  if (header.e_shoff == 0 || header.e_shoff + header.e_shnum * sizeof(Shdr) > file.size()) {
    return names;
  }
  std::vector<Shdr> sections(header.e_shnum);
  std::memcpy(sections.data(), file.data() + header.e_shoff, header.e_shnum * sizeof(Shdr));
  for (const Shdr& section : sections) {
    if (section.sh_type != SHT_DYNSYM || section.sh_link >= sections.size()) continue;
    const Shdr& strings = sections[section.sh_link];
    for (size_t off = 0; off + sizeof(Sym) <= section.sh_size; off += sizeof(Sym)) {
      Sym symbol;
      std::memcpy(&symbol, file.data() + section.sh_offset + off, sizeof(symbol));
      if (symbol.st_shndx == SHN_UNDEF || Bind(symbol.st_info) == STB_LOCAL) continue;
      if (symbol.st_name >= strings.sh_size) continue;
      names.emplace_back(file.data() + strings.sh_offset + symbol.st_name);
    }
  }
  return names;
}

unsigned char Bind64(unsigned char info) {
  return ELF64_ST_BIND(info);
}
unsigned char Bind32(unsigned char info) {
  return ELF32_ST_BIND(info);
}

std::vector<std::string> ExportedSymbols(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (file.size() < EI_NIDENT || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0) return {};
  if (file[EI_CLASS] == ELFCLASS64) {
    return DefinedDynamicSymbols<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym, Bind64>(file);
  }
  return DefinedDynamicSymbols<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym, Bind32>(file);
}

struct ChildResult {
  int status = -1;
  pid_t pid = 0;
  std::string output;
};

// Runs the second host with its arguments; waits for it and collects what it printed.
ChildResult RunSecondHost(const char* instance, const char* mode) {
  ChildResult result;
  char outputName[] = "second-host-XXXXXX";
  int fd = mkstemp(outputName);
  if (fd < 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
  std::string program = TELMAR_SECOND_HOST;
  std::string number = instance;
  std::string how = mode;
  char* argv[] = {program.data(), number.data(), how.data(), nullptr};
  if (posix_spawn(&result.pid, program.c_str(), &actions, nullptr, argv, environ) == 0) {
    int status = 0;
    if (waitpid(result.pid, &status, 0) == result.pid && WIFEXITED(status)) {
      result.status = WEXITSTATUS(status);
    }
  }
  posix_spawn_file_actions_destroy(&actions);
  close(fd);
  std::ifstream in(outputName);
  result.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::remove(outputName);
  return result;
}

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kesthost::Reset();
    dir_.WriteFile("TELMAR01.int", "[Macros]\n");
    dir_.WriteFile("TELMAR02.int", "[Macros]\n");
    library_ = dlopen(TELMAR_LIBRARY, RTLD_NOW);
    ASSERT_NE(library_, nullptr) << dlerror();
    vpiMain_ = reinterpret_cast<uint32_t (*)(VpiRequest*)>(dlsym(library_, "VpiMain"));
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
    if (library_) dlclose(library_);
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

TEST(ModuleExportTest, OnlyVpiMainIsExported) {
  EXPECT_EQ(ExportedSymbols(TELMAR_LIBRARY), std::vector<std::string>{"VpiMain"});
}

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
  const std::string here = std::to_string(getpid());

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
  ChildResult died = RunSecondHost("2", "die");
  ASSERT_EQ(died.status, 0) << died.output;
  ASSERT_EQ(ColdStart(1), 0u);
  EXPECT_TRUE(kesthost::LogContains("telMAR: StartVpiThread(), process " +
                                    std::to_string(died.pid) +
                                    " ended without EndVpi; its worker no longer runs"));
}

}  // namespace
