// The driver module's own handle (what the network library's Init receives).
#pragma once

#include <cstdint>

void* ModuleHandle();
// A function or object the host process exports under `name` (from its executable or a library
// loaded globally), or null when there is none.
void* HostSymbol(const char* name);
// Keeps the module mapped until the process ends, even when its loader unloads it: a thread that
// the module started may still be returning through its code. False when that cannot be done.
bool ModuleKeepLoaded();
// A hash (FNV-1a) of the path of the file this code was loaded from (the driver library, or the
// program that links the driver statically): equal in every process that loads that file, and
// different for another installation or build. Names of the driver's shared objects carry it.
uint64_t ModuleFileHash();
