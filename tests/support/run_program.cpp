#include "tests/support/run_program.h"

#if defined(_WIN32)
#include <windows.h>

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input, const std::string& output,
                      const std::string& error) {
  ProgramRun run;
  // Each named file is opened as a handle that the child inherits.
  std::vector<HANDLE> opened;
  auto handle = [&opened](const std::string& name, DWORD own, bool write) {
    if (name.empty()) return GetStdHandle(own);
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE h = CreateFileA(name.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) opened.push_back(h);
    return h;
  };
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = handle(input, STD_INPUT_HANDLE, false);
  startup.hStdOutput = handle(output, STD_OUTPUT_HANDLE, true);
  startup.hStdError = handle(error, STD_ERROR_HANDLE, true);
  // Started directly rather than through cmd.exe, whose reading of a quoted /c line is not
  // reliable under Wine.
  std::string command = "\"" + program + "\"";
  for (const std::string& a : args) command += " \"" + a + "\"";
  PROCESS_INFORMATION process{};
  if (startup.hStdInput != INVALID_HANDLE_VALUE && startup.hStdOutput != INVALID_HANDLE_VALUE &&
      startup.hStdError != INVALID_HANDLE_VALUE &&
      CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &process)) {
    run.pid = static_cast<long>(process.dwProcessId);
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(process.hProcess, &code)) {
      run.status = static_cast<int>(code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  for (HANDLE h : opened) CloseHandle(h);
  return run;
}

#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input, const std::string& output,
                      const std::string& error) {
  ProgramRun run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!input.empty()) {
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
  }
  if (!output.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  if (!error.empty()) {
    posix_spawn_file_actions_addopen(&actions, 2, error.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    run.pid = pid;
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  return run;
}
#endif
