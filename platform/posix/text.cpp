// PLACEHOLDER: replaced by the real backend.
#include "platform/text.h"
std::u16string MultiByteToWide(const std::string& text) { return std::u16string(text.begin(), text.end()); }
std::string WideToMultiByte(const std::u16string& text) { return std::string(text.begin(), text.end()); }
std::tm LocalTimeNow() { return std::tm{}; }
