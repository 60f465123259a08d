// Single read and write of bound gates; block commands are refused.
#pragma once

#include <cstdint>

struct VpiRequest;

uint32_t SingleRead(VpiRequest* request);   // 0 or 1
uint32_t BlockRead(VpiRequest* request);    // 1
uint32_t SingleWrite(VpiRequest* request);  // 0 or 1
uint32_t BlockWrite(VpiRequest* request);   // 1
uint32_t NVSingleRead(VpiRequest* request);
uint32_t NVFSingleRead(VpiRequest* request);
uint32_t NVSingleWrite(VpiRequest* request);
uint32_t NVFSingleWrite(VpiRequest* request);
