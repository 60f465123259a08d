// The driver module's own handle (what the network library's Init receives).
#pragma once

void* ModuleHandle();
