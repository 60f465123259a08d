// Binding of node (application device) gates.
#pragma once

#include <cstdint>
#include <string>

#include "platform/variant.h"

struct VpiRequest;

// A node gate's nodeValue and its nodeMap key: the device handle plus this offset.
constexpr int32_t kNodeValueOffset = 32000;

int ParseNode(VpiRequest* request, const std::string& lonPart, VARTYPE& formatType);  // 0 or 1
