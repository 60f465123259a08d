// Command 16: the "LonWorks browser" dialog, on the host's calling thread.
#pragma once

#include <cstdint>

struct VpiRequest;

uint32_t BrowseAddress(VpiRequest* request);  // 0 address written, 53 none
