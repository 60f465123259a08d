// PLACEHOLDER
#include "address/address_options.h"
int SplitOptions(VpiRequest*, std::string&, std::string&) { return 0; }
int GetOptions(const std::string&, int&, int&, VARTYPE&) { return 1; }
int ParseMacro(VpiRequest*, std::string&, std::string&, std::string&) { return 1; }
