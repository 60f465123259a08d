// The running driver's side of a browse command for the native window's test, in plain types:
// the test's own source includes windows.h, whose names clash with the driver's declarations.
#pragma once

#include <cstdint>
#include <string>

namespace browsetest {

struct BrowseDriver;

// An instance with its shared block, the option file without macros, and the demo network.
BrowseDriver* StartBrowseDriver();
void StopBrowseDriver(BrowseDriver* driver);
// Command 16 through VpiMain; *address receives the host's buffer.
uint32_t BrowseThroughVpiMain(BrowseDriver* driver, std::string* address);
// The host log so far, one line a line: what a failed check shows.
std::string DriverLog();
std::string PendingName(BrowseDriver* driver);
std::string PendingValue(BrowseDriver* driver);
// What the driver does with the pending macro at its next parse: it goes into the option file.
// The option file's text afterwards.
std::string TakeOverPendingMacro(BrowseDriver* driver);

}  // namespace browsetest
