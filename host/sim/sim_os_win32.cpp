// The host simulator's operating-system services on Windows.
#include "host/sim/sim_os.h"

#include <windows.h>

#include <tlhelp32.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>

// windows.h names its ANSI functions by macros; ours keep their plain names.
#undef LoadLibrary

namespace hostsim {
namespace {

std::atomic<bool> interrupted{false};

BOOL WINAPI OnConsoleControl(DWORD) {
  interrupted = true;
  return TRUE;
}

// Standard input is read on a thread of its own, so that a line can be awaited with a time
// limit whatever standard input is (console, pipe or file).
//
// A console is read only when a line is wanted: the console edits and echoes the line it reads
// from where the cursor stood when the read began, so a read begun ahead, before the output of
// the last command and the prompt, would echo the typed text over them.
struct Input {
  std::mutex lock;
  std::condition_variable changed;
  std::string buffer;  // read but not yet handed out as lines
  bool ended = false;
  bool started = false;
  bool console = false;
  bool wanted = false;  // console: a line is asked for and not yet read
};

Input& TheInput() {
  static Input* input = new Input;  // never destroyed: the reader may still run at exit
  return *input;
}

void ReadStdin() {
  Input& in = TheInput();
  HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
  char chunk[4096];
  for (;;) {
    if (in.console) {
      std::unique_lock<std::mutex> held(in.lock);
      in.changed.wait(held, [&] { return in.wanted; });
    }
    DWORD n = 0;
    if (!ReadFile(handle, chunk, sizeof chunk, &n, nullptr) || n == 0) break;
    std::lock_guard<std::mutex> held(in.lock);
    in.buffer.append(chunk, n);
    in.wanted = false;
    in.changed.notify_all();
  }
  std::lock_guard<std::mutex> held(in.lock);
  in.ended = true;
  in.changed.notify_all();
}

bool TakeLine(std::string& buffer, std::string* line) {
  size_t eol = buffer.find('\n');
  if (eol == std::string::npos) return false;
  line->assign(buffer, 0, eol);
  if (!line->empty() && line->back() == '\r') line->pop_back();
  buffer.erase(0, eol + 1);
  return true;
}

}  // namespace

void* LoadLibrary(const std::string& path, bool, std::string* error) {
  // A DLL's exports are found by name from anywhere in the process (HostSymbol) anyway.
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module && error) *error = "LoadLibrary failed, error " + std::to_string(GetLastError());
  return reinterpret_cast<void*>(module);
}

void* LibrarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void UnloadLibrary(void* library) {
  if (library) FreeLibrary(static_cast<HMODULE>(library));
}

bool StdoutIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool StdinIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

void TerminalSize(int* columns, int* rows) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
    *columns = *rows = 0;
    return;
  }
  *columns = info.srWindow.Right - info.srWindow.Left + 1;
  *rows = info.srWindow.Bottom - info.srWindow.Top + 1;
}

// A user can see the native dialog when a window can be made on this desktop (not so under Wine
// without an X server).
bool HasDisplay() {
  HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  if (probe) DestroyWindow(probe);
  return probe != nullptr;
}

int ThreadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  DWORD self = GetCurrentProcessId();
  int count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    count += entry.th32OwnerProcessID == self;
  }
  CloseHandle(snapshot);
  return count;
}

std::tm LocalTime(std::time_t t) {
  std::tm local{};
  localtime_s(&local, &t);
  return local;
}

void InstallInterruptHandler() {
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool Interrupted() {
  return interrupted;
}

std::string MakeTempDir(const std::string& prefix) {
  std::error_code ec;
  std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) return "";
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path dir = base / (prefix + std::to_string(random() % 1000000000u));
    if (std::filesystem::create_directory(dir, ec)) return dir.string();
  }
  return "";
}

bool ChangeDir(const std::string& path) {
  return SetCurrentDirectoryA(path.c_str()) != FALSE;
}

std::string CurrentDir() {
  char buffer[MAX_PATH];
  DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
  if (n == 0 || n >= sizeof buffer) return "";
  return std::string(buffer, n);
}

InputStatus ReadInputLine(std::string* line, int timeoutMs) {
  Input& in = TheInput();
  std::unique_lock<std::mutex> held(in.lock);
  if (!in.started) {
    in.started = true;
    in.console = StdinIsTerminal();
    // Plain line input: the console echoes the line and lets it be corrected with Backspace;
    // Ctrl-C goes to the interrupt handler.
    if (in.console) {
      HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
      SetConsoleMode(handle, ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT);
    }
    std::thread(ReadStdin).detach();
  }
  auto ready = [&] { return in.ended || in.buffer.find('\n') != std::string::npos; };
  if (in.console && !ready() && !in.wanted) {
    in.wanted = true;
    in.changed.notify_all();
  }
  if (timeoutMs < 0) {
    in.changed.wait(held, ready);
  } else if (!in.changed.wait_for(held, std::chrono::milliseconds(timeoutMs), ready)) {
    return InputStatus::kTimeout;
  }
  if (TakeLine(in.buffer, line)) return InputStatus::kLine;
  // A last line without a line break still counts.
  if (!in.buffer.empty()) {
    line->swap(in.buffer);
    in.buffer.clear();
    return InputStatus::kLine;
  }
  return InputStatus::kEnd;
}

}  // namespace hostsim
