// PLACEHOLDER
#include "browser/browse_address.h"
uint32_t BrowseAddress(VpiRequest*) { return 53; }
