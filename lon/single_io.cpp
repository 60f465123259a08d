// PLACEHOLDER
#include "lon/single_io.h"
uint32_t SingleRead(VpiRequest*) { return 1; }
uint32_t BlockRead(VpiRequest*) { return 1; }
uint32_t SingleWrite(VpiRequest*) { return 1; }
uint32_t BlockWrite(VpiRequest*) { return 1; }
uint32_t NVSingleRead(VpiRequest*) { return 1; }
uint32_t NVFSingleRead(VpiRequest*) { return 1; }
uint32_t NVSingleWrite(VpiRequest*) { return 1; }
uint32_t NVFSingleWrite(VpiRequest*) { return 1; }
