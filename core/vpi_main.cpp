// PLACEHOLDER: replaced by the real entry point.
#include "core/vpi_main.h"
extern "C" __attribute__((visibility("default"))) uint32_t VpiMain(VpiRequest*) { return 2; }
CommandHandler CommandTableHandler(uint32_t) { return nullptr; }
