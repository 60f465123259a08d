// PLACEHOLDER
#include "lon/value_conversion.h"
VARTYPE GateTypeToVariantType(uint32_t) { return VT_EMPTY; }
int VariantToKestValue(VARIANT*, uint32_t, void*, char*) { return 0; }
int KestToVariantValue(const void*, uint32_t, VARIANT*) { return 0; }
