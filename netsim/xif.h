// The reader of device interface files (.xif, the LonMark text form): what a simulated device
// needs of one, its program ID, functional blocks, network variables with types, sizes and
// defaults. Everything else is checked for shape only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "netsim/nv_types.h"

namespace lonsim {

struct XifBlock {
  int profile = 0;   // a standard profile's number (below 20000) or a user profile's
  std::string name;  // as the node's self-documentation gives it; may be empty or hold blanks
};

struct XifNv {
  std::string name;
  int index = 0;       // on the device; an array's elements take index .. index + count - 1
  int arrayCount = 0;  // 0: a single NV
  bool output = false;
  bool config = false;  // implements a configuration property; its default comes from NVVAL
  int block = -1;       // index into XifFile::blocks, -1 for none
  const TypeDef* type = nullptr;  // a standard type, or one of XifFile::types
  std::vector<uint8_t> initial;   // the default of each element, one after the other
  int line = 0;                   // of its VAR line
};

struct XifFile {
  std::string programId;  // 16 hex digits
  std::vector<XifBlock> blocks;
  std::vector<XifNv> nvs;
  std::vector<std::unique_ptr<TypeDef>> types;  // the user types of its NVs
};

// Reads a file's text. `typePrefix` starts the names of its user types ("UNVT_<prefix>_<nv>").
// False with the failing line (from 1) and what is wrong there.
bool ReadXif(std::string_view text, std::string_view typePrefix, XifFile* file, int* line,
             std::string* what);

}  // namespace lonsim
