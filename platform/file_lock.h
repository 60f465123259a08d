// Locking of an open file against the other openings that lock it too (in this process or in
// another), so that read-modify-append steps on one file never interleave. The lock is advisory:
// it keeps out only those who take it, and never stops a plain reader.
#pragma once

#include <cstdio>

// Waits without a limit until this opening holds the file's lock. False on a system failure,
// with LastSystemError set.
bool FileLock(std::FILE* file);
// Releases it; closing the file releases it too.
void FileUnlock(std::FILE* file);
