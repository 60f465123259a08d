// Gate values as the host holds them: a 4-byte value cell whose layout depends on the gate type
// (16-bit values in bytes 2..3, the upper half), or a text for type 7. Formatting for the table
// and parsing of values typed by the user.
#pragma once

#include <cstdint>
#include <string>

namespace hostsim {

constexpr uint16_t kMaxGateType = 7;
constexpr uint16_t kTextGateType = 7;

// "int16", "int16", "bcd", "float", "int32", "int32", "bool", "text".
const char* GateTypeName(uint16_t type);

// The value shown for a cell (or the text of a text gate): integers in decimal, BCD as the
// decimal number its digits spell, floats in shortest form, booleans 0/1.
std::string FormatGateValue(uint16_t type, uint32_t cell, const std::string& text);

// Reads a value typed for a gate of this type into a cell (or text). False with *error set when
// the input is not a value of that type or does not fit; outputs are then untouched.
bool ParseGateValue(uint16_t type, const std::string& input, uint32_t* cell, std::string* text,
                    std::string* error);

// True when the gate's value equals the expected value written as the user would type it;
// floats are compared with a tolerance of a thousandth of their magnitude (at least 1e-4).
bool GateValueMatches(uint16_t type, uint32_t cell, const std::string& text,
                      const std::string& expected);

// Four decimal digits packed one per nibble, units in the lowest; values above 9999 give 0x9999.
uint16_t EncodeBcd(int value);
int DecodeBcd(uint16_t word);

}  // namespace hostsim
