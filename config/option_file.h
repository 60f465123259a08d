// The option file "TELMAR%02u.int" of the working directory: section "Lns" read into the instance
// and listed.
#pragma once

#include <string>

struct VpiRequest;

// "TELMAR%02u.int" for the instance number (no directory).
std::string OptionFileName(unsigned instanceNumber);
// Reads and lists the "Lns" options into request->instance. Always 0.
int ReadIntFile(VpiRequest* request);
