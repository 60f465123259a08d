// Commands of the host simulator, typed on standard input or read from a script file: one
// command a line, words separated by blanks, "double quotes" around a word with blanks, lines
// whose first non-blank character is ';' are comments. Every line of a script is checked before
// the first one runs, so a typo is reported with its place and nothing half runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hostsim {

struct CommandInfo {
  const char* name;
  const char* usage;  // the arguments
  const char* help;   // one line, or several separated by '\n'
};

// Every command, in the order of the help text.
const std::vector<CommandInfo>& Commands();
const CommandInfo* FindCommand(const std::string& name);

struct ScriptLine {
  std::string origin;  // "file:line"
  std::string text;    // the line as written
  std::vector<std::string> words;
};

// Splits and checks one line. A comment or blank line gives true with no words. False with
// *error set (what is wrong, without the place) for an unknown command, a wrong argument count
// or an argument of the wrong form.
bool ParseCommandLine(const std::string& text, ScriptLine* line, std::string* error);

// Reads a whole script. Stops at the first bad line with *error = "name:line: what is wrong":
// also a gate line whose id an earlier gate line defined without a remove in between, and
// watch (which waits for Enter). Comment and blank lines are left out of *lines.
bool ParseScript(const std::string& text, const std::string& name, std::vector<ScriptLine>* lines,
                 std::string* error);

// Why a gate id cannot be defined again: "gate 5 is already defined (s.script:2): 'remove 5'
// first, or take another id". origin: where it was defined ("" when unknown).
std::string RedefinitionText(uint32_t id, const std::string& origin);

// Whether a word is written like an enumeration's constant (HVAC_HEAT): upper-case letters,
// digits and '_', beginning with a letter.
bool IsConstantName(const std::string& word);

// Reads a signed decimal (or 0x hexadecimal) integer in [lo, hi]; false when it is none.
bool ReadInt(const std::string& word, long long lo, long long hi, long long* out);

// The full help text: every command with its usage and help.
std::string CommandHelp();
// One command's help, or "" when it does not exist.
std::string CommandHelp(const std::string& name);

}  // namespace hostsim
