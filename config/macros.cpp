// The [Macros] section of the option file: loaded into a macro table, appended by AddMacro.
#include "config/macros.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/deferred_log.h"
#include "config/option_file.h"
#include "core/driver_instance.h"
#include "core/host_api.h"
#include "core/test_point.h"
#include "platform/file_lock.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace {

// Lines are read through a buffer of this size; the rest of a longer line comes as the next one.
constexpr int kLineSize = 512;
// What a text field of the shared block holds besides its NUL.
constexpr size_t kMaxMacroText = 255;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

bool IsMacrosHeader(std::string_view line) {
  constexpr std::string_view kHeader = "[macros]";
  if (line.size() != kHeader.size()) return false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kHeader[i]) return false;
  }
  return true;
}

bool IsControl(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7f;
}

bool HasControl(const std::string& s) {
  for (char c : s) {
    if (IsControl(c)) return true;
  }
  return false;
}

}  // namespace

std::string Printable(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (IsControl(c)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

const char* MacroRefusalReason(const std::string& name, const std::string& value) {
  if (name.size() > kMaxMacroText) return "name longer than 255 characters";
  if (value.size() > kMaxMacroText) return "value longer than 255 characters";
  if (HasControl(name) || HasControl(value)) return "control character in name or value";
  if (name.empty() || name[0] != '#' || name.find_first_of("= ") != std::string::npos) {
    return "name must start with '#' and hold no '=' or blank";
  }
  return nullptr;
}

// How long a read-modify-append waits for the file's lock. A holder keeps it for one read and
// append; one that keeps it longer is stalled (another process stopped in it), and the worker
// of this process must not stall with it.
constexpr int kFileLockWaitMs = 10000;

namespace {

// Takes the file's lock for the rest of its opening (closing releases it). Without it (a system
// failure, or a holder that did not give it up in time) the work goes on as it did before there
// was one, after a level-32 line; nothing is logged while the lock is held.
void LockFile(FILE* f, const std::string& file, DeferredLog* log) {
  TestPoint("LockFile:waiting");
  if (!FileLock(f, kFileLockWaitMs)) {
    Defer(log, kLogError, "telMar: lock of initialization file '%s' not taken, LastError %08x",
          file.c_str(), LastSystemError());
  }
}

// How the file stores its text: 8-bit, or UTF-16 of either byte order after its byte-order mark
// (as an editor saves "Unicode"). Anything else, a UTF-8 mark included, is 8-bit text.
enum class Encoding { k8Bit, kUtf16Le, kUtf16Be };

// From the file's first bytes; leaves the file at its start.
Encoding ReadEncoding(FILE* f) {
  std::rewind(f);
  const int b0 = std::fgetc(f);
  const int b1 = std::fgetc(f);
  std::rewind(f);
  if (b0 == 0xFF && b1 == 0xFE) return Encoding::kUtf16Le;
  if (b0 == 0xFE && b1 == 0xFF) return Encoding::kUtf16Be;
  return Encoding::k8Bit;
}

// The file's lines, read under its lock. An 8-bit file is read line by line; a UTF-16 one is
// decoded whole into the local code page and its lines given as an 8-bit file gives them.
struct OptionText {
  FILE* file = nullptr;
  Encoding encoding = Encoding::k8Bit;
  std::string decoded;
  size_t next = 0;
};

OptionText ReadOptionText(FILE* f) {
  OptionText text;
  text.file = f;
  text.encoding = ReadEncoding(f);
  if (text.encoding == Encoding::k8Bit) return text;
  const bool little = text.encoding == Encoding::kUtf16Le;
  std::fseek(f, 2, SEEK_SET);
  std::u16string wide;
  unsigned char unit[2];
  while (std::fread(unit, 1, 2, f) == 2) {  // a stray last byte is dropped
    wide.push_back(static_cast<char16_t>(little ? unit[0] | unit[1] << 8 : unit[0] << 8 | unit[1]));
  }
  text.decoded = WideToMultiByte(wide);
  return text;
}

// The next line as fgets gives it through a buffer of kLineSize: the line break kept, the rest
// of a longer line as the next one.
bool NextLine(OptionText* text, char (&line)[kLineSize]) {
  if (text->encoding == Encoding::k8Bit) return std::fgets(line, kLineSize, text->file);
  if (text->next >= text->decoded.size()) return false;
  size_t n = 0;
  while (n < kLineSize - 1 && text->next < text->decoded.size()) {
    const char c = text->decoded[text->next++];
    line[n++] = c;
    if (c == '\n') break;
  }
  line[n] = 0;
  return true;
}

// Whether the file is empty (after its mark) or its last character is a line break.
bool EndsLine(FILE* f, Encoding encoding) {
  if (encoding == Encoding::k8Bit) return std::fseek(f, -1, SEEK_END) != 0 || std::fgetc(f) == '\n';
  unsigned char unit[2];
  if (std::fseek(f, 0, SEEK_END) != 0 || std::ftell(f) < 4) return true;
  if (std::fseek(f, -2, SEEK_END) != 0 || std::fread(unit, 1, 2, f) != 2) return false;
  return encoding == Encoding::kUtf16Le ? unit[0] == '\n' && unit[1] == 0
                                        : unit[0] == 0 && unit[1] == '\n';
}

// Appends s (local code page) in the file's own encoding. False when it could not be written.
bool Append(FILE* f, Encoding encoding, const std::string& s) {
  // Switching from reading to writing needs a positioning call.
  std::fseek(f, 0, SEEK_END);
  if (encoding == Encoding::k8Bit) return std::fputs(s.c_str(), f) >= 0;
  const bool little = encoding == Encoding::kUtf16Le;
  std::string bytes;
  for (char16_t c : MultiByteToWide(s)) {
    const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
    bytes += little ? lo : hi;
    bytes += little ? hi : lo;
  }
  return std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
}

// Whether a line is a section header: "[" with a "]" after it.
bool IsSectionHeader(std::string_view line) {
  return !line.empty() && line.front() == '[' && line.find(']') != std::string_view::npos;
}

// Reads the macro lines from the line after the section's header (line number `lineNumber`) to
// the end of the file into table (emptied first). With noteLines, what looks meant as a macro
// but is not read as the writer meant it gets a level-32 line: a line of the section without
// the leading '#', a '#' line without '=', a value holding ';' (which starts no comment here).
// Lines below a later section header are that section's; macros there still load.
void ReadSection(OptionText* text, int lineNumber, MacroTable* table, bool noteLines,
                 DeferredLog* log) {
  table->RemoveAll();
  char line[kLineSize];
  bool laterSection = false;
  while (NextLine(text, line)) {
    ++lineNumber;
    std::string_view entry = TrimRight(TrimLeft(line));
    if (entry.empty() || entry.front() == ';') continue;
    if (IsSectionHeader(entry)) {
      laterSection = true;
      continue;
    }
    const size_t eq = entry.find('=');
    if (entry.front() != '#' || eq == std::string_view::npos) {
      if (noteLines && !laterSection) {
        Defer(log, kLogError, "telMar: [Macros] line %d '%.*s' is not used: %s", lineNumber,
              static_cast<int>(entry.size()), entry.data(),
              entry.front() != '#' ? "a macro name begins with '#'" : "it has no '='");
      }
      continue;
    }
    std::string_view name = TrimRight(entry.substr(0, eq));
    std::string_view value = TrimLeft(entry.substr(eq + 1));
    if (table->Contains(name)) {
      Defer(log, kLogError, "telMar: : Macro '%s' on line %d already define",
            std::string(name).c_str(), lineNumber);
      continue;
    }
    if (noteLines && value.find(';') != std::string_view::npos) {
      Defer(log, kLogError,
            "telMar: [Macros] line %d: the value of '%.*s' is '%.*s' with its ';' and all after "
            "it (a comment stands on a line of its own)",
            lineNumber, static_cast<int>(name.size()), name.data(), static_cast<int>(value.size()),
            value.data());
    }
    table->Set(name, value);
  }
}

// Finds the section header; lineNumber counts the lines read.
bool FindHeader(OptionText* text, int* lineNumber) {
  char line[kLineSize];
  while (NextLine(text, line)) {
    ++*lineNumber;
    if (IsMacrosHeader(TrimRight(TrimLeft(line)))) return true;
  }
  return false;
}

}  // namespace

int LoadMacros(VpiRequest* request, MacroTable* table, bool* headerMissing, bool noteLines) {
  const std::string file = OptionFileName(static_cast<unsigned>(request->instanceNumber));
  // Binary, so that UTF-16 text passes unchanged.
  FILE* f = std::fopen(file.c_str(), "rb+");
  if (!f) {
    err(kLogError, "telMar: failed to open initialization file: '%s'", file.c_str());
    return 2;
  }
  // The driver and browse commands in other processes read and append this file: the search for
  // the header and its append are one step for all of them. What is to be logged waits until
  // the file (and its lock) is closed.
  DeferredLog log;
  LockFile(f, file, &log);
  OptionText text = ReadOptionText(f);

  int lineNumber = 0;
  const bool found = FindHeader(&text, &lineNumber);
  if (headerMissing) *headerMissing = !found;
  if (!found && !headerMissing) {
    TestPoint("LoadMacros:no header");
    Append(f, text.encoding, "\n[Macros]\n");
  } else if (found) {
    // The section runs to the end of the file: later section headers do not end it.
    ReadSection(&text, lineNumber, table, noteLines, &log);
  }
  std::fclose(f);
  FlushLog(&log);

  int ordinal = 0;
  table->ForEach([&ordinal](const std::string& name, const std::string& value) {
    err(kLogTrace, "telMar: %d) '%s' -> '%s'", ++ordinal, name.c_str(), value.c_str());
  });
  return 0;
}

void AppendMacrosHeader(VpiRequest* request) {
  const std::string file = OptionFileName(static_cast<unsigned>(request->instanceNumber));
  FILE* f = std::fopen(file.c_str(), "rb+");
  if (!f) return;
  // A browse in another process may have added the header since the load: look again.
  DeferredLog log;
  LockFile(f, file, &log);
  OptionText text = ReadOptionText(f);
  int lineNumber = 0;
  if (!FindHeader(&text, &lineNumber)) Append(f, text.encoding, "\n[Macros]\n");
  std::fclose(f);
  FlushLog(&log);
}

bool ReadFileMacros(uint32_t instanceNumber, MacroTable* table, DeferredLog* log) {
  const std::string file = OptionFileName(instanceNumber);
  FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) return false;
  LockFile(f, file, log);
  OptionText text = ReadOptionText(f);
  int lineNumber = 0;
  DeferredLog ignored;  // the file's duplicates were named when it was loaded
  if (FindHeader(&text, &lineNumber)) {
    ReadSection(&text, lineNumber, table, false, &ignored);
  } else {
    table->RemoveAll();
  }
  std::fclose(f);
  return true;
}

MacroWrite AppendMacroLine(uint32_t instanceNumber, const std::string& name,
                           const std::string& value, DeferredLog* log) {
  const std::string file = OptionFileName(instanceNumber);
  FILE* f = std::fopen(file.c_str(), "ab+");
  if (!f) return MacroWrite::kNotOpened;
  LockFile(f, file, log);  // appends of other processes never interleave with this one
  // The macro is written in the file's own encoding. It gets a line of its own and ends it, so
  // that the file always ends with a line break and a line added after it by hand stays a line
  // of its own.
  const Encoding encoding = ReadEncoding(f);
  const char* lineBreak = EndsLine(f, encoding) ? "" : "\n";
  bool written = Append(f, encoding, lineBreak + name + " = " + value + "\n");
  written = std::fclose(f) == 0 && written;
  return written ? MacroWrite::kWritten : MacroWrite::kNotWritten;
}

int AddMacro(const std::string& name, const std::string& value, VpiRequest* request,
             DeferredLog* log) {
  if (!log) {
    DeferredLog now;
    int result = AddMacro(name, value, request, &now);
    FlushLog(&now);
    return result;
  }
  DriverInstance* inst = request->instance;
  const char* n = inst->name.c_str();

  if (inst->macros.Contains(name)) {
    Defer(log, kLogError, "%s: Macro '%s' already found while AddMacro()", n, name.c_str());
    return 1;
  }
  if (const char* reason = MacroRefusalReason(name, value)) {
    Defer(log, kLogError, "%s: AddMacro() refused '%s' -> '%s': %s", n, Printable(name).c_str(),
          Printable(value).c_str(), reason);
    return 2;
  }

  inst->macros.Set(name, value);

  const unsigned number = static_cast<unsigned>(request->instanceNumber);
  switch (AppendMacroLine(number, name, value, log)) {
    case MacroWrite::kNotOpened:
      Defer(log, kLogError, "%s: failed on AddMacro() while open initialization file: '%s' ", n,
            OptionFileName(number).c_str());
      return 2;
    case MacroWrite::kNotWritten:
      // The macro stays in the table for the life of the instance, as when the file cannot open.
      Defer(log, kLogError, "%s: failed on AddMacro() while writing initialization file: '%s'", n,
            OptionFileName(number).c_str());
      return 2;
    case MacroWrite::kWritten:
      break;
  }
  Defer(log, kLogTrace, "%s: AddMacro '%s' -> '%s'", n, name.c_str(), value.c_str());
  return 0;
}
