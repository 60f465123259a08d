// Small text helpers that the readers of network files, interface files and values share. Blanks
// are spaces and tabs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lonsim {

bool IsBlank(char c);
std::string_view TrimEnd(std::string_view s);
std::string_view Trim(std::string_view s);
// The words between blanks, as views into `s`.
std::vector<std::string_view> Split(std::string_view s);
// An optional '-' and decimal digits, `maxChars` characters at most (18 keep any value exact).
bool ParseInteger(std::string_view s, size_t maxChars, long long* value);
// A hexadecimal digit's value, -1 for any other character.
int HexDigit(char c);
// Hexadecimal digits with a to f in upper case.
std::string UpperHex(std::string_view s);

}  // namespace lonsim
