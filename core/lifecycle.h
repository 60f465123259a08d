// The commands that bring the driver up and down, GetVpiInfo, and the commands that do nothing.
#pragma once

#include <cstdint>

#include "core/host_records.h"

uint32_t ColdStart(VpiRequest* request);        // 0 loaded, 2 failed
uint32_t EndVpi(VpiRequest* request);           // 0
uint32_t GetVpiInfo(VpiRequest* request);       // 0; runs on the caller's thread
uint32_t WarmStart(VpiRequest* request);        // 0, does nothing
uint32_t CloseCom(VpiRequest* request);         // 0, does nothing
uint32_t ReOpenCom(VpiRequest* request);        // 0, does nothing
uint32_t ChangeVpiParams(VpiRequest* request);  // 0, does nothing
