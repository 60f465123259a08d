// The driver's single exported entry point and its command table.
#pragma once

#include <cstdint>

#include "core/host_records.h"

using CommandHandler = uint32_t (*)(VpiRequest* request);

extern "C" uint32_t VpiMain(VpiRequest* request);

// The handler of a command code, or null (codes 0, 8, 9, 17 and above 17).
CommandHandler CommandTableHandler(uint32_t command);
