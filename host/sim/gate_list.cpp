#include "host/sim/gate_list.h"

#include <cerrno>
#include <cstdlib>
#include <set>
#include <sstream>

#include "host/sim/values.h"

namespace hostsim {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool ReadNumber(const std::string& word, long long lo, long long hi, const char* what,
                long long* out, std::string* error) {
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(word.c_str(), &end, 10);
  if (word.empty() || *end != '\0' || errno == ERANGE || v < lo || v > hi) {
    *error = std::string(what) + " must be a number " + std::to_string(lo) + ".." +
             std::to_string(hi) + ", not '" + word + "'";
    return false;
  }
  *out = v;
  return true;
}

}  // namespace

bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error,
                std::vector<size_t>* starts) {
  words->clear();
  if (starts) starts->clear();
  size_t i = 0;
  while (i < line.size()) {
    if (IsBlank(line[i])) {
      ++i;
      continue;
    }
    std::string word;
    if (starts) starts->push_back(i);
    if (line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\')) c = line[i++];
        word += c;
      }
      if (!closed) {
        *error = "unterminated quote";
        return false;
      }
    } else {
      while (i < line.size() && !IsBlank(line[i])) word += line[i++];
    }
    words->push_back(word);
  }
  return true;
}

bool GateFromLine(const std::string& line, GateSpec* gate, std::string* error) {
  std::vector<std::string> words;
  std::vector<size_t> starts;
  if (!SplitWords(line, &words, error, &starts)) return false;
  if (words.size() < 5) {
    *error = "a gate needs id, type, updateMode, pollingRate and address (" +
             std::to_string(words.size()) + " of 5 given)";
    return false;
  }
  long long id, type, mode, rate;
  if (!ReadNumber(words[0], 1, UINT32_MAX, "gate id", &id, error) ||
      !ReadNumber(words[1], 0, kMaxGateType, "gate type", &type, error) ||
      !ReadNumber(words[2], 0, 2, "updateMode", &mode, error) ||
      !ReadNumber(words[3], 0, INT32_MAX, "pollingRate", &rate, error)) {
    return false;
  }
  // An unquoted address is the rest of the line as written: it may hold blanks between its
  // options ("/F:r  /M:p").
  std::string address;
  if (line[starts[4]] == '"') {
    if (words.size() > 5) {
      *error = "text after the quoted address: '" + words[5] + "'";
      return false;
    }
    address = words[4];
  } else {
    address = line.substr(starts[4]);
    address.erase(address.find_last_not_of(" \t\r\v\f") + 1);
  }
  if (address.empty()) {
    *error = "the address is empty";
    return false;
  }
  gate->id = static_cast<uint32_t>(id);
  gate->type = static_cast<uint16_t>(type);
  gate->updateMode = static_cast<int32_t>(mode);
  gate->pollingRate = static_cast<int32_t>(rate);
  gate->address = address;
  return true;
}

bool ParseGateList(const std::string& text, const std::string& name, std::vector<GateSpec>* gates,
                   std::string* error) {
  std::vector<GateSpec> result;
  std::set<uint32_t> seen;
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    size_t first = line.find_first_not_of(" \t\r\v\f");
    if (first == std::string::npos || line[first] == ';') continue;
    std::string what;
    GateSpec gate;
    std::string place = name + ":" + std::to_string(number);
    if (!GateFromLine(line, &gate, &what)) {
      *error = place + ": " + what;
      return false;
    }
    if (!seen.insert(gate.id).second) {
      *error = place + ": gate id " + std::to_string(gate.id) + " is defined twice";
      return false;
    }
    gate.origin = place;
    result.push_back(gate);
  }
  gates->insert(gates->end(), result.begin(), result.end());
  return true;
}

}  // namespace hostsim
