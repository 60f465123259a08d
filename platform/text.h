// Text services: multibyte (UTF-8, the local code page here) and wide (UTF-16) conversion,
// local date and time.
#pragma once

#include <ctime>
#include <string>

// Malformed multibyte sequences become U+FFFD; unpaired surrogates likewise in the other way.
std::u16string MultiByteToWide(const std::string& text);
// As MultiByteToWide; false when the text held a malformed sequence.
bool MultiByteToWideChecked(const std::string& text, std::u16string* out);
std::string WideToMultiByte(const std::u16string& text);
// The current local time; thread-safe.
std::tm LocalTimeNow();
