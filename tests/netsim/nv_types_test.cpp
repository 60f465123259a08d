#include "netsim/nv_types.h"
#include <gtest/gtest.h>
