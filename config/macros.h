// The [Macros] section of the option file. A file saved as UTF-16 (either byte order, with its
// byte-order mark) is read and appended in that encoding; any other file as 8-bit text.
#pragma once

#include <string>

#include "config/macro_table.h"

struct VpiRequest;

// Fills table from the file of the request's instance number. 0, or 2 when the file cannot be
// opened (table untouched).
// With headerMissing, a file without the section is left as it is and *headerMissing says so;
// without it the section header is appended at once.
int LoadMacros(VpiRequest* request, MacroTable* table, bool* headerMissing = nullptr);
// Appends the "[Macros]" section header to the file (LoadMacros found none).
void AppendMacrosHeader(VpiRequest* request);
// Adds a macro to the instance's table and appends it to the file. 0 added, 1 already defined,
// 2 refused or the file could not be written.
int AddMacro(const std::string& name, const std::string& value, VpiRequest* request);
