// PLACEHOLDER: replaced by the real backend.
#include "platform/module.h"
void* ModuleHandle() { return nullptr; }
