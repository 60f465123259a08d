// The [Macros] section of the option file. A file saved as UTF-16 (either byte order, with its
// byte-order mark) is read and appended in that encoding; any other file as 8-bit text.
#pragma once

#include <cstdint>
#include <string>

#include "config/macro_table.h"

struct DeferredLog;
struct VpiRequest;

// Fills table from the file of the request's instance number. 0, or 2 when the file cannot be
// opened (table untouched).
// With headerMissing, a file without the section is left as it is and *headerMissing says so;
// without it the section header is appended at once. With noteLines (the driver's ColdStart),
// lines of the section that are not read as their writer meant get a level-32 line each.
int LoadMacros(VpiRequest* request, MacroTable* table, bool* headerMissing = nullptr,
               bool noteLines = false);
// Appends the "[Macros]" section header to the file (LoadMacros found none).
void AppendMacrosHeader(VpiRequest* request);
// Adds a macro to the instance's table and appends it to the file. 0 added, 1 already defined,
// 2 refused or the file could not be written. With log, its lines are kept there (for a caller
// that holds a cross-process lock) instead of logged.
int AddMacro(const std::string& name, const std::string& value, VpiRequest* request,
             DeferredLog* log = nullptr);

// Why name and value could not travel through the shared block or be written as one file line
// that loads back unchanged; null when they can.
const char* MacroRefusalReason(const std::string& name, const std::string& value);
// The text with control characters shown as \xNN, so a refused macro cannot break a log line.
std::string Printable(const std::string& text);

// For the hand-over of macros between browse commands and the driver, which hold the lock of
// the shared block meanwhile: lines go to log.
// The macros of the file's section (none without it), under the file's lock and with no line
// about its contents. False when the file cannot be opened.
bool ReadFileMacros(uint32_t instanceNumber, MacroTable* table, DeferredLog* log);
enum class MacroWrite { kWritten, kNotOpened, kNotWritten };
// Appends "name = value" on a line of its own, in the file's encoding, under the file's lock.
MacroWrite AppendMacroLine(uint32_t instanceNumber, const std::string& name,
                           const std::string& value, DeferredLog* log);
