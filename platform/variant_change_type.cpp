// PLACEHOLDER: replaced by the real coercion rules.
#include "platform/variant.h"
HRESULT VariantChangeType(VARIANT*, const VARIANT*, uint16_t, VARTYPE) { return DISP_E_TYPEMISMATCH; }
