#include "host/sim/sim_os.h"

#include <dirent.h>
#include <dlfcn.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <string>

namespace hostsim {
namespace {

volatile sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
  interrupted = 1;
}

// Bytes of standard input read but not yet handed out as lines.
std::string& InputBuffer() {
  static std::string buffer;
  return buffer;
}
bool inputEnded = false;

bool TakeLine(std::string* line) {
  std::string& buffer = InputBuffer();
  size_t eol = buffer.find('\n');
  if (eol == std::string::npos) return false;
  line->assign(buffer, 0, eol);
  if (!line->empty() && line->back() == '\r') line->pop_back();
  buffer.erase(0, eol + 1);
  return true;
}

}  // namespace

void* LoadLibrary(const std::string& path, bool global, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | (global ? RTLD_GLOBAL : RTLD_LOCAL));
  if (!handle && error) {
    const char* why = dlerror();
    *error = why ? why : "unknown error";
  }
  return handle;
}

void* LibrarySymbol(void* library, const char* name) {
  return dlsym(library, name);
}

void UnloadLibrary(void* library) {
  if (library) dlclose(library);
}

bool StdoutIsTerminal() {
  return isatty(STDOUT_FILENO) == 1;
}
bool StdinIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}

void TerminalSize(int* columns, int* rows) {
  struct winsize size = {};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) size = {};
  *columns = size.ws_col;
  *rows = size.ws_row;
}

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = getenv(name);
    if (value && *value) return true;
  }
  // A platform plugin chosen explicitly counts, unless it draws nowhere a user could click.
  const char* qpa = getenv("QT_QPA_PLATFORM");
  std::string platform = qpa ? qpa : "";
  return !platform.empty() && platform != "offscreen" && platform != "minimal";
}

int ThreadCount() {
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return -1;
  int count = 0;
  while (struct dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count;
}

std::tm LocalTime(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

void InstallInterruptHandler() {
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() {
  return interrupted != 0;
}

std::string MakeTempDir(const std::string& prefix) {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "XXXXXX";
  if (!mkdtemp(pattern.data())) return "";
  return pattern;
}

bool ChangeDir(const std::string& path) {
  return chdir(path.c_str()) == 0;
}

std::string CurrentDir() {
  char buffer[PATH_MAX];
  if (!getcwd(buffer, sizeof(buffer))) return "";
  return buffer;
}

InputStatus ReadInputLine(std::string* line, int timeoutMs) {
  if (TakeLine(line)) return InputStatus::kLine;
  while (!inputEnded) {
    struct pollfd fd = {STDIN_FILENO, POLLIN, 0};
    int ready = poll(&fd, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) return InputStatus::kTimeout;
    if (ready == 0) return InputStatus::kTimeout;
    char chunk[4096];
    ssize_t n = read(STDIN_FILENO, chunk, sizeof(chunk));
    if (n < 0 && errno == EINTR) return InputStatus::kTimeout;
    if (n <= 0) {
      inputEnded = true;
      break;
    }
    InputBuffer().append(chunk, static_cast<size_t>(n));
    if (TakeLine(line)) return InputStatus::kLine;
  }
  // A last line without a line break still counts.
  std::string& buffer = InputBuffer();
  if (!buffer.empty()) {
    line->swap(buffer);
    buffer.clear();
    return InputStatus::kLine;
  }
  return InputStatus::kEnd;
}

}  // namespace hostsim
