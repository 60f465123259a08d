// Naming of macros: finding the macro that stands for a path prefix, and the name of a new one.
// The browse command names its new macro with these both in its dialog and, once more, when it
// hands the macro over to the running driver.
#pragma once

#include <string>

#include "config/macro_table.h"

// Whether two macro values are the same path: equal regardless of letter case (Latin, Greek and
// Cyrillic letters). Malformed text is equal only to itself.
bool MacroValuesEqual(const std::string& a, const std::string& b);

// The name of the first macro (in the table's order) whose value equals `value` regardless of
// letter case; false and `name` untouched when there is none.
bool FindMacroByValue(const MacroTable& macros, const std::string& value, std::string& name);

// The name for a new macro: "#%03d" with the entry count plus 1, or the next number after it
// that names no macro of the table, so that an address never names a macro of another value.
std::string NewMacroName(const MacroTable& macros);
