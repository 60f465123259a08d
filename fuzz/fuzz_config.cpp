// Arbitrary option files: the "Lns" options and the [Macros] section, long lines and NUL bytes
// included.
#include <cstdint>
#include <fstream>
#include <string>

#include "config/macros.h"
#include "config/option_file.h"
#include "fuzz/fuzz_support.h"

namespace {
FuzzDriver* driver;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  driver = &FuzzSetUp("", false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    std::ofstream file("TELMAR01.int", std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  ReadIntFile(&driver->request);
  MacroTable table;
  LoadMacros(&driver->request, &table);
  FuzzForgetHostRecords();
  return 0;
}
