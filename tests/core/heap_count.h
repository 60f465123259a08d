// Live heap blocks of the program that links heap_count.cpp (it replaces operator new and
// delete). Shared libraries allocate through the same operators, so their blocks count too.
#pragma once

long LiveHeapBlocks();
