// The shared macro block on a named shared-memory object of the platform.
#include "config/share_data.h"

#include <cstring>

#include "config/option_file.h"
#include "core/driver_instance.h"
#include "core/host_api.h"
#include "platform/shared_memory.h"

std::string ShareDataName(uint32_t instanceNumber) {
  return "/" + OptionFileName(instanceNumber);
}

std::string ShareText(const char (&field)[256]) {
  const size_t limit = sizeof field - 1;
  const void* nul = std::memchr(field, 0, limit);
  size_t length = nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : limit;
  return std::string(field, length);
}

bool SetShareText(char (&field)[256], std::string_view text) {
  if (text.size() >= sizeof field || text.find('\0') != std::string_view::npos) return false;
  std::memcpy(field, text.data(), text.size());
  std::memset(field + text.size(), 0, sizeof field - text.size());
  return true;
}

int CreateShareData(VpiRequest* request) {
  DriverInstance* inst = request->instance;
  const uint32_t number = static_cast<uint32_t>(request->instanceNumber);
  // Messages give the block's name as the option file's, without the system's leading '/'.
  const std::string shown = OptionFileName(number);

  inst->shareHandle = SharedMemoryCreate(ShareDataName(number).c_str(), sizeof(ShareData));
  if (!inst->shareHandle) {
    err(kLogError, "%s: CreateShareData() failed on CreateFileMapping '%s'", inst->name.c_str(),
        shown.c_str());
    return 2;
  }
  inst->shareView = static_cast<ShareData*>(SharedMemoryMap(inst->shareHandle, sizeof(ShareData)));
  if (!inst->shareView) {
    err(kLogError, "%s: CreateShareData() failed on MapViewOfFile '%s'", inst->name.c_str(),
        shown.c_str());
    return 2;
  }
  std::memset(inst->shareView, 0, sizeof(ShareData));
  return 0;
}

int OpenShareData(VpiRequest* request, SharedMemory** handle, ShareData** view) {
  const uint32_t number = static_cast<uint32_t>(request->instanceNumber);
  const std::string shown = OptionFileName(number);
  *view = nullptr;
  *handle = SharedMemoryOpen(ShareDataName(number).c_str());
  if (!*handle) {
    err(kLogError, "telMar: OpenShareData() fail on OpenFileMapping '%s'", shown.c_str());
    return 53;
  }
  *view = static_cast<ShareData*>(SharedMemoryMap(*handle, sizeof(ShareData)));
  if (!*view) {
    err(kLogError, "telMar: OpenShareData() fail on MapViewOfFile '%s'", shown.c_str());
    return 53;
  }
  return 0;
}

int CloseShareData(SharedMemory* handle, ShareData* view) {
  SharedMemoryUnmap(view, sizeof(ShareData));
  SharedMemoryClose(handle);
  return 0;
}

void RemoveShareData(uint32_t instanceNumber) {
  SharedMemoryRemove(ShareDataName(instanceNumber).c_str());
}
