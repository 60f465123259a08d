// Locking of an open file against the other openings that lock it too (in this process or in
// another), so that read-modify-append steps on one file never interleave. The lock is advisory:
// it keeps out only those who take it, and never stops a plain reader.
#pragma once

#include <cstdio>

// Waits until this opening holds the file's lock, at most timeoutMs milliseconds (a negative limit
// waits without one). False on a system failure or when the limit passed, with LastSystemError set
// (the system's "timed out" code then).
bool FileLock(std::FILE* file, int timeoutMs);
// Releases it; closing the file releases it too.
void FileUnlock(std::FILE* file);
