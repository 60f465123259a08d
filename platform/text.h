// Text services: multibyte (UTF-8, the local code page here) and wide (UTF-16) conversion,
// local date and time.
#pragma once

#include <ctime>
#include <string>

std::u16string MultiByteToWide(const std::string& text);
std::string WideToMultiByte(const std::u16string& text);
// The current local time; thread-safe.
std::tm LocalTimeNow();
