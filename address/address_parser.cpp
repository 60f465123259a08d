// PLACEHOLDER
#include "address/address_parser.h"
const SpecialGate specialGates[] = {{"", 0}, {"!ServicePin", 7}, {"!Browse", 1}, {nullptr, 0}};
uint32_t SingleAddressParser(VpiRequest*) { return 1; }
uint32_t BlockAddressParser(VpiRequest*) { return 1; }
int FindSpecialGate(const char*) { return 0; }
int ParseSpecialGate(VpiRequest*, int) { return 1; }
