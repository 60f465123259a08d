// The driver module's own handle (what the network library's Init receives).
#pragma once

void* ModuleHandle();
// A function or object the host process exports under `name` (from its executable or a library
// loaded globally), or null when there is none.
void* HostSymbol(const char* name);
// Keeps the module mapped until the process ends, even when its loader unloads it: a thread that
// the module started may still be returning through its code. False when that cannot be done.
bool ModuleKeepLoaded();
