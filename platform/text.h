// Text services: multibyte (UTF-8, the local code page here) and wide (UTF-16) conversion,
// local date and time.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

// Malformed multibyte sequences become U+FFFD; unpaired surrogates likewise in the other way.
std::u16string MultiByteToWide(const std::string& text);
// As MultiByteToWide; false when the text held a malformed sequence.
bool MultiByteToWideChecked(const std::string& text, std::u16string* out);
std::string WideToMultiByte(const std::u16string& text);
// The length of the longest start of text[0, length) of at most max bytes that ends on a whole
// character of the multibyte encoding in use (UTF-8 here; the ANSI code page on Windows, where a
// double-byte code page's lead byte is never left last).
size_t MultiBytePrefix(const char* text, size_t length, size_t max);
// The code page of multibyte text: 65001 for UTF-8.
unsigned MultiByteCodePage();
// The current local time; thread-safe.
std::tm LocalTimeNow();
