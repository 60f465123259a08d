// The shared macro block: a named 514-byte shared-memory object through which a browse command,
// possibly in another process, learns the running driver's delimiter and host client id and
// hands one newly created macro back to the driver. The layout is a cross-process format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct DriverInstance;
struct SharedMemory;
struct VpiRequest;

struct ShareData {
  char pendingValue[256];  // value of a macro the driver has not yet taken over; "" = none
  char pendingName[256];   // its name, with the leading '#'
  char delimiter;          // the running driver's path delimiter
  uint8_t clientId;        // the running driver's host client id
};
static_assert(sizeof(ShareData) == 514);
static_assert(offsetof(ShareData, pendingName) == 256);
static_assert(offsetof(ShareData, delimiter) == 512);
static_assert(offsetof(ShareData, clientId) == 513);

// Creates (or opens) the block of the request's instance number into instance->shareHandle and
// ->shareView and zeroes it. 0 or 2.
int CreateShareData(VpiRequest* request);
// Opens the running driver's block. 0 or 53; handle and view are given back also on failure.
int OpenShareData(VpiRequest* request, SharedMemory** handle, ShareData** view);
// Unmaps and closes; either may be null. Always 0.
int CloseShareData(SharedMemory* handle, ShareData* view);
// Removes the block's name, so browse commands fail to open it (tests and tools clean up so).
void RemoveShareData(uint32_t instanceNumber);

// The hand-over of a new macro, from a browse command in any process to the running driver.
// Every look at or change of the pending texts, in any process, holds the lock beside the block
// (ShareLockName), so a reader never sees a value without its name and nothing written by one
// side is wiped unseen by the other.

// The driver, at each parse of an address that is not a special gate: takes a pending macro over
// with AddMacro (table and option file, under the lock), empties both texts, and takes over the
// macros that browses wrote to the option file meanwhile. A text that fills its field without a NUL
// is refused: the block is emptied, a level-32 line names the field, nothing reaches the table or
// the file.
void TakePendingMacro(DriverInstance* instance);
// The driver at teardown: takes a pending macro over (into the option file: the address that
// the browse returned must parse at the next start), removes the block's name, closes the view.
void EndShareData(DriverInstance* instance);

// A browse command as it begins: the pending macro (false when none), so that its dialog names
// a new macro against it too. A text that fills its field without a NUL is no macro: both are
// emptied, with a level-32 line.
bool PeekPendingMacro(uint32_t instanceNumber, ShareData* view, std::string* name,
                      std::string* value);
// A browse command closed with OK on an address with a macro the file does not define: opens
// the block by name at this moment (a driver restarted meanwhile has a new one; nothing is
// created) and settles the macro's name against the file and the pending macro. A macro of the
// file or the pending one with that value is used as it is; else a macro pending with another
// value is written to the option file (never dropped) and the new one takes the block, under a
// name neither uses. *settled: the name the address is to use. False, with a level-32 line,
// when no driver runs or a text does not fit. A browse that hands nothing over leaves the block
// as it is.
bool HandOverMacro(uint32_t instanceNumber, const std::string& name, const std::string& value,
                   std::string* settled);

// The system name of the lock beside the block: the block's with ".lock" after it.
std::string ShareLockName(uint32_t instanceNumber);

// The system name of the block of an instance number: "TELMAR%02u.int" made private to this user
// and this driver file (PrivateObjectName), so another user's or installation's driver on the
// same instance number never meets it.
std::string ShareDataName(uint32_t instanceNumber);

// The text of a field of the block: up to the first NUL, at most 255 characters. Other processes
// write the block without a lock, so a field without a NUL is never read past its end.
std::string ShareText(const char (&field)[256]);
// Writes text and its NUL into a field. False, the field unchanged, when the text has more than
// 255 characters or holds a NUL.
bool SetShareText(char (&field)[256], std::string_view text);
