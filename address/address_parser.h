// The single-address parser: validates and binds a gate address (command 3).
#pragma once

#include <cstdint>

struct VpiRequest;

struct SpecialGate {
  const char* name;  // null ends the table
  uint32_t requiredType;  // 0 accepts any gate type
};
// Row 0 is never searched; row 1 "!ServicePin" (type 7), row 2 "!Browse" (type 1).
extern const SpecialGate specialGates[];
constexpr uint8_t kSpecialServicePin = 1;
constexpr uint8_t kSpecialBrowse = 2;

uint32_t SingleAddressParser(VpiRequest* request);  // 0 bound, 1 failed
uint32_t BlockAddressParser(VpiRequest* request);   // always 1
// Row whose name equals address ignoring ASCII case, or 0.
int FindSpecialGate(const char* address);
int ParseSpecialGate(VpiRequest* request, int row);  // 0 or 1
