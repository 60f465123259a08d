// The shared macro block: a named 514-byte shared-memory object through which a browse command,
// possibly in another process, learns the running driver's delimiter and host client id and
// hands one newly created macro back to the driver. The layout is a cross-process format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
// Removes the block's name (the driver process at teardown), so browse commands fail to open it.
void RemoveShareData(uint32_t instanceNumber);

// "/TELMAR%02u.int": the system name of the block of an instance number.
std::string ShareDataName(uint32_t instanceNumber);

// The text of a field of the block: up to the first NUL, at most 255 characters. Other processes
// write the block without a lock, so a field without a NUL is never read past its end.
std::string ShareText(const char (&field)[256]);
// Writes text and its NUL into a field. False, the field unchanged, when the text has more than
// 255 characters or holds a NUL.
bool SetShareText(char (&field)[256], std::string_view text);
