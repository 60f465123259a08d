// telmar-host run as a program, as an integrator runs it: scripts that pass and fail, bad
// input, and a browse from a second process while the first runs the driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

struct HostRun {
  int status;
  std::string out;
  std::string err;
};

// Runs telmar-host with the arguments (split at spaces) in the current (temporary) directory;
// its output goes to the files NAME.out and NAME.err. An argument "<FILE" makes FILE its
// standard input, as in a shell.
HostRun RunHost(const ScopedTempDir& dir, const std::string& args,
                const std::string& name = "run") {
  std::vector<std::string> words;
  std::string input;
  for (size_t at = 0; at < args.size();) {
    size_t end = std::min(args.find(' ', at), args.size());
    std::string word = args.substr(at, end - at);
    if (word.size() > 1 && word[0] == '<') {
      input = word.substr(1);
    } else if (!word.empty()) {
      words.push_back(word);
    }
    at = end + 1;
  }
  int status = RunProgram(TELMAR_HOST_PROGRAM, words, input, name + ".out", name + ".err").status;
  // Text output: lines end in CR LF on Windows.
  auto lines = [](std::string text) {
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
      text.erase(at, 1);
    }
    return text;
  };
  return HostRun{status, lines(dir.ReadFile(name + ".out")), lines(dir.ReadFile(name + ".err"))};
}

const char* const kOptionFile =
    "[Lns]\nNetwork=Demo\n\n[Macros]\n#R101 = Building.Floor1.Room101\n";

TEST(HostProgram, AScriptThatHoldsExitsZeroAndEndsTheDriver) {
  ScopedTempDir dir;
  dir.WriteFile("TELMAR01.int", kOptionFile);
  dir.WriteFile("s.script",
                "coldstart\n"
                "expect result 0\n"
                "gate 1 3 0 0 #R101.nviSetpoint\n"
                "parse 1\n"
                "write 1 19.5\n"
                "read 1\n"
                "expect value 1 19.5\n");
  HostRun run = RunHost(dir, "--workdir . --script s.script");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("s.script: passed (7 commands, 2 expectations)"), std::string::npos);
  // The host sends EndVpi itself when the script did not.
  EXPECT_NE(run.out.find("TelMAR: driver unloaded"), std::string::npos) << run.out;
}

TEST(HostProgram, AFailedExpectationStopsTheScriptAndNamesItsLine) {
  ScopedTempDir dir;
  dir.WriteFile("TELMAR01.int", kOptionFile);
  dir.WriteFile("s.script",
                "coldstart\n"
                "gate 1 3 0 0 #R101.nviSetpoint\n"
                "parse 1\n"
                "read 1\n"
                "expect value 1 99\n"
                "touch not-reached\n");
  HostRun run = RunHost(dir, "--workdir . --script s.script --expect-timeout 100");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("s.script:5: FAILED: expect value 1 99"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("expected the value '99', it holds '21'"), std::string::npos) << run.err;
  EXPECT_EQ(dir.ReadFile("not-reached"), "");
  EXPECT_NE(run.out.find("TelMAR: driver unloaded"), std::string::npos) << "EndVpi after failing";
}

TEST(HostProgram, BadInputIsReportedWithItsPlaceBeforeAnythingRuns) {
  ScopedTempDir dir;
  dir.WriteFile("TELMAR01.int", kOptionFile);
  dir.WriteFile("s.script", "coldstart\nparse all\nexpect valeu 1 2\n");
  HostRun run = RunHost(dir, "--workdir . --script s.script");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("s.script:3: unknown expectation 'valeu'"), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("ColdStart"), std::string::npos) << "nothing ran: " << run.out;

  dir.WriteFile("g.gates", "1 3 2 0 A.b\n2 3 9 0 C.d\n");
  run = RunHost(dir, "--workdir . --gates g.gates");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("g.gates:2: updateMode must be a number 0..2, not '9'"), std::string::npos)
      << run.err;

  run = RunHost(dir, "--workdir . --script missing.script");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("cannot read the script 'missing.script'"), std::string::npos);

  run = RunHost(dir, "--workdir . --driver ./nothing.so --script s.script");
  EXPECT_EQ(run.status, 2) << "the script is checked first";
  dir.WriteFile("ok.script", "coldstart\n");
  run = RunHost(dir, "--workdir . --driver ./nothing.so --script ok.script");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot load the driver"), std::string::npos) << run.err;

  run = RunHost(dir, "--log-level loud");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("--log-level needs a number"), std::string::npos) << run.err;
}

TEST(HostProgram, StandardInputIsAScriptWhenNotATerminal) {
  ScopedTempDir dir;
  dir.WriteFile("TELMAR01.int", kOptionFile);
  dir.WriteFile("in.txt", "coldstart\nexpect result 0\nexpect result 2\n");
  HostRun run = RunHost(dir, "--workdir . <in.txt");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("stdin:3: FAILED: expect result 2"), std::string::npos) << run.err;
}

TEST(HostProgram, HelpListsEveryOptionAndCommand) {
  ScopedTempDir dir;
  HostRun run = RunHost(dir, "--help");
  EXPECT_EQ(run.status, 0);
  for (const char* word : {"--demo", "--fast", "--script", "--gates", "--browse-only", "--workdir",
                           "--driver", "--log-level", "expect result N", "net value PATH NUMBER",
                           "browse [STEP...]", "advance MS"}) {
    EXPECT_NE(run.out.find(word), std::string::npos) << word;
  }
  run = RunHost(dir, "--help browse");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("browse [STEP...]", 0), 0u) << run.out;
}

// The browse command in a process of its own reaches the driver that another process runs:
// the new macro travels through the shared block, and the driver takes it over at its next
// parse, in its own process.
TEST(HostProgram, ABrowseInASecondProcessHandsANewMacroToTheRunningDriver) {
  ScopedTempDir dir;
  dir.WriteFile("TELMAR01.int", kOptionFile);
  dir.WriteFile("driver.script",
                "coldstart\n"
                "expect result 0\n"
                "touch ready\n"
                "wait-file browsed 30000\n"
                "gate 2 3 0 0 #002.nvoSpaceTemp\n"
                "parse 2\n"
                "expect result 0\n"
                "expect log \"AddMacro '#002' -> 'Building.Floor2.Room201'\"\n"
                "read 2\n"
                "expect value 2 20.8\n");
  dir.WriteFile("browser.script",
                "wait-file ready 30000\n"
                "browse select Building.Floor2.Room201.nvoSpaceTemp ok\n"
                "expect result 0\n"
                "expect address \"#002.nvoSpaceTemp\"\n"
                "touch browsed\n");
  HostRun driver;
  std::thread driverProcess(
      [&] { driver = RunHost(dir, "--workdir . --script driver.script", "driver"); });
  HostRun browser = RunHost(dir, "--workdir . --browse-only --script browser.script", "browser");
  driverProcess.join();
  EXPECT_EQ(browser.status, 0) << browser.out << browser.err;
  EXPECT_EQ(driver.status, 0) << driver.out << driver.err;
  EXPECT_NE(dir.ReadFile("TELMAR01.int").find("\n#002 = Building.Floor2.Room201"),
            std::string::npos);
  // The browsing process never started a driver of its own.
  EXPECT_EQ((browser.out + browser.err).find("ColdStart"), std::string::npos);
}

TEST(HostProgram, ABrowseWithoutARunningDriverFindsNoSharedBlock) {
  ScopedTempDir dir;
  dir.WriteFile("TELMAR01.int", kOptionFile);
  dir.WriteFile("b.script",
                "browse select Building.Floor1.Room101.nvoSpaceTemp ok\n"
                "expect result 53\n"
                "expect log \"telMar: OpenShareData() fail on OpenFileMapping 'TELMAR01.int'\"\n"
                "coldstart\n");
  HostRun run = RunHost(dir, "--workdir . --browse-only --script b.script");
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_NE(run.err.find("b.script:4: FAILED: coldstart"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("'coldstart' needs the driver: this process only browses"),
            std::string::npos);
}

// What goes wrong says why: the network's reason after a failed command, files checked alone,
// gates not bound at the start, an option file that would be overwritten, a --network that
// does not count, and the --errors filter and --log-file.
// A device from an interface file: --check-network counts its NVs, `net list` shows an NV's
// index, type, direction, size, config and value, a structured NV's fields, and never cuts a
// value without saying how to see it whole.
TEST(HostProgram, NetListShowsTheInterfaceOfADeviceFromItsFile) {
  ScopedTempDir dir;
  std::string header =
      "File: d.xif generated by hand, XIF Version 3.1\n\n01:02:03:04:05:06:07:08\n";
  header += "2 2 0 2 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";  // 22 numbers: 2 NVs, no tags
  header += "0 0 0 0 0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0 0 0\n78125 0 0 0 0 0 0 0 0 0 0 0\n";
  header += "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n*\n*\n";
  dir.WriteFile("d.xif",
                header + "VAR nciSet 0 0 0 0\n1 1 63 0 0 1 0 1 0 1 0 0 1\n*\n106 * 6\n" +
                    "2 0 0 1 0\n2 0 0 1 0\n2 0 0 1 0\n2 0 0 1 0\n2 0 0 1 0\n2 0 0 1 0\n" +
                    "VAR nvoBig 1 0 0 0\n0 1 63 1 0 1 0 1 0 1 0 0 0\n*\n0 * 1\n1 0 0 0 40\n" +
                    "NVVAL\n0x0A28 0x0B54 0x0C1C 0x0834 0x076C 0x0640\n");
  dir.WriteFile("net.txt", "device D handle 1 neuron 000000000001 xif d.xif\n");
  HostRun run = RunHost(dir, "--check-network net.txt");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("1 devices, 2 network variables (2 from XIF files)\n"), std::string::npos)
      << run.out;

  dir.WriteFile("TELMAR01.int", "[Lns]\nNetwork=net.txt\n");
  dir.WriteFile("s.script", "coldstart\nnet list\nnet list D.nvoBig\nnet list D.nciSet\n");
  run = RunHost(dir, "--workdir . --script s.script --log-level 32");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  auto line = [&](const std::string& start, size_t from = 0) {
    size_t at = run.out.find("\n" + start + " ", from);
    return at == std::string::npos ? std::string()
                                   : run.out.substr(at + 1, run.out.find('\n', at + 1) - at - 1);
  };
  std::string set = line("D.nciSet");
  for (const char* part :
       {"#0", "SNVT_temp_setpt", " in ", "12 bytes", "config", "26 29 31 21 19 16"}) {
    EXPECT_NE(set.find(part), std::string::npos) << part << " in " << set;
  }
  std::string big = line("D.nvoBig");
  EXPECT_NE(big.find("40 bytes"), std::string::npos) << big;
  EXPECT_EQ(big.back(), '~') << big;
  EXPECT_NE(run.out.find("net list PATH of its NV shows it whole"), std::string::npos) << run.out;
  std::string whole = line("D.nvoBig", run.out.find(big) + big.size());
  EXPECT_NE(whole.find(
                " 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"),
            std::string::npos)
      << whole;
  std::string field = line("D.nciSet.occupied_heat");
  for (const char* part :
       {"field", "signed16", "scaling x0.01", "limits -273.17 to 327.67", "value 21"}) {
    EXPECT_NE(field.find(part), std::string::npos) << part << " in " << field;
  }
}

TEST(HostProgram, EveryRefusalSaysWhy) {
  ScopedTempDir dir;
  auto has = [](const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  };
  dir.WriteFile("net.txt", "network Plant\ndevise A\n");
  dir.WriteFile("TELMAR01.int", "[Lns]\nNetwork=net.txt\n");
  dir.WriteFile("s.script", "coldstart\n");
  HostRun run = RunHost(dir, "--workdir . --script s.script");
  EXPECT_TRUE(has(run.out, "ColdStart -> 2\n  network: ")) << run.out;
  EXPECT_TRUE(has(run.out, "net.txt:2: unknown statement 'devise'")) << run.out;
  EXPECT_EQ(dir.ReadFile("TELMAR01.int"), "[Lns]\nNetwork=net.txt\n") << "a failed start";
  run = RunHost(dir, "--check-network net.txt");
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(has(run.err, "net.txt:2: unknown statement 'devise'")) << run.err;
  dir.WriteFile("g.gates", "1 3 0 0 #R101.nviSetpoint\n2 3 0 0 #R101.nvoNothing\n");
  run = RunHost(dir, "--check-gates g.gates");
  EXPECT_EQ(run.status, 0) << run.err;

  // Gates that are not bound at the start fail the run unless allowed; a refused write
  // carries the network's reason, and show names a gate's last error.
  dir.WriteFile("demo.int", kOptionFile);
  dir.WriteFile("TELMAR01.int", kOptionFile);
  run = RunHost(dir, "--workdir . --option-file demo.int --gates g.gates --start");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(has(run.out, "1 of 2 gates bound\n  gate 2 '#R101.nvoNothing' (g.gates:2): "))
      << run.out;
  EXPECT_TRUE(has(run.err, "1 gate was not bound at the start")) << run.err;
  dir.WriteFile("w.script", "write 1 1000\nshow 2\n");
  run = RunHost(dir,
                "--workdir . --option-file demo.int --gates g.gates --start --allow-unbound "
                "--script w.script --errors --log-file all.log");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(has(run.out,
                  "write 1 1000 -> 1\n  network: Building.Floor1.Room101.nviSetpoint: "
                  "value 1000 out of range"))
      << run.out;
  EXPECT_TRUE(has(run.out,
                  "  last error  TelMAR: SingleAddressParser fail, "
                  "'Building.Floor1.Room101.nvoNothing' not found in Lon tree"))
      << run.out;
  // --errors hides the routine level-32 lines, the log file has them.
  EXPECT_TRUE(has(run.out, "NVSingleWrite failed on WriteNV")) << run.out;
  EXPECT_FALSE(has(run.out, "Remote = 0")) << run.out;
  EXPECT_TRUE(has(dir.ReadFile("all.log"), "[32] TelMAR: Remote = 0"));
  EXPECT_TRUE(has(dir.ReadFile("all.log"), "1 of 2 gates bound"));

  // An option file that differs is not overwritten without being asked to.
  dir.WriteFile("TELMAR01.int", std::string(kOptionFile) + "#002 = Building.Floor2\n");
  run = RunHost(dir, "--workdir . --option-file demo.int --network Demo");
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(has(run.err, "TELMAR01.int differs from 'demo.int'")) << run.err;
  EXPECT_TRUE(has(run.err, "--replace-option-file")) << run.err;
  run = RunHost(dir, "--workdir . --option-file demo.int --replace-option-file");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dir.ReadFile("TELMAR01.int"), kOptionFile);
  EXPECT_TRUE(has(dir.ReadFile("TELMAR01.int.bak"), "#002 = Building.Floor2"));
  run = RunHost(dir, "--workdir . --network other.txt");
  EXPECT_TRUE(has(run.err, "--network other.txt is not used")) << run.err;

  // With a network, the driver resolves every address on it; the working directory's files
  // stay as they are.
  std::string optionFile = dir.ReadFile("TELMAR01.int");
  run = RunHost(dir, "--check-gates g.gates --network Demo --option-file demo.int");
  EXPECT_EQ(run.status, 2) << run.out << run.err;
  EXPECT_TRUE(has(run.err,
                  "g.gates:2: gate 2 '#R101.nvoNothing' does not resolve: TelMAR: "
                  "SingleAddressParser fail, 'Building.Floor1.Room101.nvoNothing' not found"))
      << run.err;
  EXPECT_FALSE(has(run.err, "g.gates:1:")) << run.err;
  EXPECT_TRUE(has(run.err, "checked on the network Demo with the macros of demo.int")) << run.err;
  dir.WriteFile("one.gates", "1 3 0 0 #R101.nviSetpoint\n");
  run = RunHost(dir, "--check-gates one.gates --network Demo");
  EXPECT_EQ(run.status, 2) << "no macros without an option file: " << run.out;
  EXPECT_TRUE(has(run.err, "macro '#R101' not found")) << run.err;
  run = RunHost(dir, "--check-gates one.gates --network Demo --option-file demo.int");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(has(run.out, "every address resolves on the network Demo")) << run.out;
  EXPECT_EQ(dir.ReadFile("TELMAR01.int"), optionFile);
}

// A gate id is defined once until it is removed: the driver would go on putting the old
// binding's values into a gate redefined in place. Refusals name the place of both
// definitions; a gate list that would redefine one defines none of its gates.
TEST(HostProgram, ARefusedLineSaysWhereAndChangesNothing) {
  struct Case {
    const char* script;  // "<" + the lines: given on standard input
    const char* args;
    int status;
    const char* message;
  } cases[] = {
      {"gate 1 3 0 0 A.b\ngate 2 3 0 0 A.c\ngate 1 3 0 0 A.d\n", "", 2,
       "s.script:3: gate 1 is already defined (s.script:1): 'remove 1' first, or take another id"},
      {"gates g.gates\ngate 2 3 0 0 A.c\n", "", 1,
       "s.script:2: FAILED: gate 2 3 0 0 A.c\n    gate 2 is already defined (g.gates:2): "
       "'remove 2' first, or take another id (it is 'B.b')"},
      {"gates g.gates\nexpect nolog never\n", "--gates g.gates", 1,
       "g.gates:1: gate 1 is already defined (g.gates:1)"},
      {"<gate 1 3 0 0 A.b\ngate 1 3 0 0 A.c\nshow 1\n", "", 1,
       "stdin:2: FAILED: gate 1 3 0 0 A.c\n    gate 1 is already defined (stdin:1)"},
      {"watch 1\n", "", 2, "s.script:1: watch waits for Enter: it is for the prompt"},
      {"export gates TELMAR01.int\n", "", 1,
       "the file 'TELMAR01.int' exists and is no export of gates: not replaced"},
  };
  for (const Case& c : cases) {
    ScopedTempDir dir;
    dir.WriteFile("TELMAR01.int", kOptionFile);
    dir.WriteFile("g.gates", "1 3 0 0 A.a\n2 3 0 0 B.b\n");
    bool input = c.script[0] == '<';
    dir.WriteFile(input ? "in.txt" : "s.script", c.script + (input ? 1 : 0));
    std::string args =
        std::string("--workdir . ") + c.args + (input ? " <in.txt" : " --script s.script");
    HostRun run = RunHost(dir, args);
    EXPECT_EQ(run.status, c.status) << c.script << run.out << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.script << run.err;
    EXPECT_EQ(dir.ReadFile("TELMAR01.int"), kOptionFile) << c.script;
  }
}

}  // namespace
