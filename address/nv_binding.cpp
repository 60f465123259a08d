// PLACEHOLDER
#include "address/nv_binding.h"
int ParseNV(VpiRequest*, const std::string&, VARTYPE&, int, int) { return 1; }
int ParseNVF(VpiRequest*, const std::string&, VARTYPE&, int, int) { return 1; }
