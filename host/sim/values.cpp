#include "host/sim/values.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hostsim {
namespace {

uint16_t Upper16(uint32_t cell) {
  return static_cast<uint16_t>(cell >> 16);
}
uint32_t WithUpper16(uint16_t word) {
  return static_cast<uint32_t>(word) << 16;
}

bool ParseInteger(const std::string& input, long long lo, long long hi, long long* out,
                  std::string* error) {
  const char* begin = input.c_str();
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(begin, &end, 0);
  if (input.empty() || *end != '\0' || end == begin) {
    *error = "'" + input + "' is not an integer";
    return false;
  }
  if (errno == ERANGE || v < lo || v > hi) {
    *error = "'" + input + "' is out of range " + std::to_string(lo) + ".." + std::to_string(hi);
    return false;
  }
  *out = v;
  return true;
}

bool ParseReal(const std::string& input, double* out, std::string* error) {
  const char* begin = input.c_str();
  char* end = nullptr;
  double v = std::strtod(begin, &end);
  if (input.empty() || *end != '\0' || end == begin || !std::isfinite(v)) {
    *error = "'" + input + "' is not a number";
    return false;
  }
  *out = v;
  return true;
}

}  // namespace

const char* GateTypeName(uint16_t type) {
  static const char* const names[] = {"int16", "int16", "bcd",  "float",
                                      "int32", "int32", "bool", "text"};
  return type <= kMaxGateType ? names[type] : "none";
}

uint16_t EncodeBcd(int value) {
  if (value >= 10000) return 0x9999;
  if (value < 0) return 0;
  uint16_t word = 0;
  for (int shift = 0; shift < 16; shift += 4, value /= 10) {
    word = static_cast<uint16_t>(word | ((value % 10) << shift));
  }
  return word;
}

int DecodeBcd(uint16_t word) {
  int value = 0;
  for (int place = 1, shift = 0; shift < 16; shift += 4, place *= 10) {
    value += ((word >> shift) & 0xF) * place;
  }
  return value;
}

std::string FormatGateValue(uint16_t type, uint32_t cell, const std::string& text) {
  char buffer[64];
  switch (type) {
    case 0:
    case 1:
      std::snprintf(buffer, sizeof(buffer), "%d", static_cast<int16_t>(Upper16(cell)));
      return buffer;
    case 2:
      std::snprintf(buffer, sizeof(buffer), "%d", DecodeBcd(Upper16(cell)));
      return buffer;
    case 3: {
      float f;
      std::memcpy(&f, &cell, sizeof(f));
      std::snprintf(buffer, sizeof(buffer), "%g", static_cast<double>(f));
      return buffer;
    }
    case 4:
    case 5:
      std::snprintf(buffer, sizeof(buffer), "%d", static_cast<int32_t>(cell));
      return buffer;
    case 6:
      return Upper16(cell) ? "1" : "0";
    case 7:
      return text;
    default:
      return "-";
  }
}

bool ParseGateValue(uint16_t type, const std::string& input, uint32_t* cell, std::string* text,
                    std::string* error) {
  long long v = 0;
  switch (type) {
    case 0:
    case 1:
      if (!ParseInteger(input, INT16_MIN, INT16_MAX, &v, error)) return false;
      *cell = WithUpper16(static_cast<uint16_t>(static_cast<int16_t>(v)));
      return true;
    case 2:
      if (!ParseInteger(input, 0, 9999, &v, error)) return false;
      *cell = WithUpper16(EncodeBcd(static_cast<int>(v)));
      return true;
    case 3: {
      double d = 0;
      if (!ParseReal(input, &d, error)) return false;
      float f = static_cast<float>(d);
      if (!std::isfinite(f)) {
        *error = "'" + input + "' does not fit a 32-bit float";
        return false;
      }
      std::memcpy(cell, &f, sizeof(f));
      return true;
    }
    case 4:
    case 5:
      if (!ParseInteger(input, INT32_MIN, INT32_MAX, &v, error)) return false;
      *cell = static_cast<uint32_t>(static_cast<int32_t>(v));
      return true;
    case 6:
      if (input == "1" || input == "true" || input == "on") {
        *cell = WithUpper16(1);
      } else if (input == "0" || input == "false" || input == "off") {
        *cell = 0;
      } else {
        *error = "'" + input + "' is not a boolean (0, 1, true, false, on, off)";
        return false;
      }
      return true;
    case 7:
      *text = input;
      return true;
    default:
      *error = "gate type " + std::to_string(type) + " has no value";
      return false;
  }
}

bool GateValueMatches(uint16_t type, uint32_t cell, const std::string& text,
                      const std::string& expected) {
  if (type == kTextGateType) return text == expected;
  if (type == 3) {
    double want = 0;
    std::string error;
    if (!ParseReal(expected, &want, &error)) return false;
    float have;
    std::memcpy(&have, &cell, sizeof(have));
    double tolerance = std::max(1e-4, std::fabs(want) * 1e-3);
    return std::fabs(static_cast<double>(have) - want) <= tolerance;
  }
  uint32_t wantCell = 0;
  std::string unused, error;
  if (!ParseGateValue(type, expected, &wantCell, &unused, &error)) return false;
  // Only the bytes the type uses count: a node gate's lower half carries the attach flag.
  if (type == 0 || type == 1 || type == 2 || type == 6) return Upper16(cell) == Upper16(wantCell);
  return cell == wantCell;
}

}  // namespace hostsim
