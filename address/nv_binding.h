// Binding of NV and NV-field gates.
#pragma once

#include <cstdint>
#include <string>

#include "platform/variant.h"

class CNVItem;
struct VpiRequest;

// One per NV or NVF gate, owned by bindingMap. kind and fieldIndex copy the gate's binding word.
struct GateBinding {
  CNVItem* nvItem;
  uint8_t kind;        // 1 NV, 2 NVF
  uint8_t fieldIndex;  // NVF field index; 0 for an NV
  uint8_t reserved[2];
  // Set when the record is made, never 0 and never given to another record of this process. The
  // worker's messages 2024 and 2026 carry it: a record freed and made again (the gate removed
  // and parsed again) may come back at the same address, never with the same generation.
  uint32_t generation;
};

int ParseNV(VpiRequest* request, const std::string& lonPart, VARTYPE& formatType, int monitorMode,
            int boundOpt);  // 0 or 1
int ParseNVF(VpiRequest* request, const std::string& lonPart, VARTYPE& formatType, int monitorMode,
             int boundOpt);  // 0 or 1
