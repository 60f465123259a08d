#include "host/sim/line_editor.h"

#if defined(TELMAR_HAVE_LIBEDIT)

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>

#include <editline/readline.h>

namespace hostsim {
namespace {

std::deque<std::string> lines;  // edited lines not yet handed out
bool ended = false;
bool started = false;
bool prompting = false;  // the editor shows the prompt and takes keys
std::string promptText;

// Called by the editor with each finished line, or null at the end of input (Ctrl-D).
void OnLine(char* text) {
  if (!text) {
    ended = true;
    return;
  }
  if (*text) add_history(text);
  lines.emplace_back(text);
  std::free(text);
}

}  // namespace

bool LineEditorStart(const std::string& prompt) {
  if (started) return true;
  using_history();
  promptText = prompt;
  started = true;
  return true;
}

InputStatus LineEditorRead(std::string* line, int timeoutMs) {
  while (lines.empty() && !ended) {
    // The prompt comes when the next line is wanted, after the output of the last one.
    if (!prompting) {
      rl_callback_handler_install(promptText.c_str(), OnLine);
      prompting = true;
    }
    struct pollfd fd = {STDIN_FILENO, POLLIN, 0};
    int ready = poll(&fd, 1, timeoutMs);
    if (ready <= 0) return InputStatus::kTimeout;  // also EINTR: the caller checks Ctrl-C
    rl_callback_read_char();
    if (!lines.empty() || ended) {
      rl_callback_handler_remove();
      prompting = false;
    }
  }
  if (lines.empty()) return InputStatus::kEnd;
  *line = std::move(lines.front());
  lines.pop_front();
  return InputStatus::kLine;
}

void LineEditorStop() {
  if (prompting) rl_callback_handler_remove();
  prompting = false;
  started = false;
}

}  // namespace hostsim

#else

namespace hostsim {

bool LineEditorStart(const std::string&) {
  return false;
}
InputStatus LineEditorRead(std::string* line, int timeoutMs) {
  return ReadInputLine(line, timeoutMs);
}
void LineEditorStop() {}

}  // namespace hostsim

#endif
