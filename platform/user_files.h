// Where a program keeps small state files of the user who runs it: a directory that no other
// user can read or replace.
#pragma once

#include <string>

// The user's private directory for state that lives until the machine restarts (POSIX: the
// session's runtime directory, else /tmp/telmar-UID created for this user only; Win32: the
// user's temporary folder). Empty when there is none that the user alone owns.
std::string UserStateDirectory();
