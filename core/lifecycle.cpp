// PLACEHOLDER: replaced by the real lifecycle commands.
#include "core/lifecycle.h"
uint32_t ColdStart(VpiRequest*) { return 2; }
uint32_t EndVpi(VpiRequest*) { return 0; }
uint32_t GetVpiInfo(VpiRequest*) { return 0; }
uint32_t WarmStart(VpiRequest*) { return 0; }
uint32_t CloseCom(VpiRequest*) { return 0; }
uint32_t ReOpenCom(VpiRequest*) { return 0; }
uint32_t ChangeVpiParams(VpiRequest*) { return 0; }
