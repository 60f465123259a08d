// The gate list: the host's gate configuration as a text file, one gate a line:
//
//   id  type  updateMode  pollingRate  address
//
// id: 1..4294967295, unique; type: gate type 0..7; updateMode: 0 never listens (the host reads
// it at its polling rate), 1 listens on demand (gate activity), 2 always listens; pollingRate:
// milliseconds, 0 for none; address: the rest of the line with blanks around it dropped, or a
// text in double quotes to keep them. Blank lines and lines whose first non-blank character is
// ';' are skipped ('#' cannot start a comment: addresses begin with '#' macros).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hostsim {

struct GateSpec {
  uint32_t id = 0;
  uint16_t type = 0;
  int32_t updateMode = 0;
  int32_t pollingRate = 0;
  std::string address;
  std::string origin;  // "file:line" of its definition
};

// Splits a line into words: blanks separate, "double quotes" keep blanks (\" and \\ inside).
// starts (may be null) receives where each word begins in the line (its quote, if quoted).
// False with *error set on an unterminated quote.
bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error,
                std::vector<size_t>* starts = nullptr);

// Reads one gate from a line of the list (id, type, updateMode, pollingRate, address). False
// with *error set (what is wrong, without the place).
bool GateFromLine(const std::string& line, GateSpec* gate, std::string* error);

// Reads a whole list; `name` is used in messages. Stops at the first bad line with *error =
// "name:line: what is wrong". Duplicate ids are errors.
bool ParseGateList(const std::string& text, const std::string& name, std::vector<GateSpec>* gates,
                   std::string* error);

}  // namespace hostsim
