// PLACEHOLDER
#include "address/node_binding.h"
int ParseNode(VpiRequest*, const std::string&, VARTYPE&) { return 1; }
