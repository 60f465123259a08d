// The DLLs of the Windows build as a station's loader sees them: telmar.dll exports only
// VpiMain and imports the host's API from DEDERIR.dll and the network library from Ostrel.dll;
// none of the three needs a runtime DLL of the compiler. Read from the files' own tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

struct PeTables {
  bool valid = false;
  std::vector<std::string> exports;
  std::vector<std::string> imports;                           // DLL names
  std::map<std::string, std::vector<std::string>> functions;  // imported by name, per DLL
};

class PeFile {
 public:
  explicit PeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  PeTables Read() const {
    PeTables t;
    uint32_t pe = U32(0x3C);
    if (bytes_.size() < 0x40 || U32(pe) != 0x00004550u) return t;  // "PE\0\0"
    uint16_t sections = U16(pe + 6);
    uint16_t optionalSize = U16(pe + 20);
    size_t optional = pe + 24;
    if (U16(optional) != 0x20B) return t;  // PE32+
    for (uint16_t i = 0; i < sections; ++i) {
      size_t s = optional + optionalSize + i * 40u;
      sections_.push_back({U32(s + 12), U32(s + 8), U32(s + 20)});
    }
    size_t directories = optional + 112;
    uint32_t exportRva = U32(directories), importRva = U32(directories + 8);
    if (exportRva) {
      size_t dir = Offset(exportRva);
      uint32_t names = U32(dir + 24);
      size_t nameTable = Offset(U32(dir + 32));
      for (uint32_t i = 0; i < names; ++i) t.exports.push_back(Text(U32(nameTable + 4 * i)));
    }
    if (importRva) {
      for (size_t d = Offset(importRva); U32(d + 12) != 0; d += 20) {
        t.imports.push_back(Text(U32(d + 12)));
        // The lookup table: 64-bit entries, each the address of a hint and a name unless the
        // top bit says it imports by ordinal.
        uint32_t lookup = U32(d) ? U32(d) : U32(d + 16);
        for (size_t e = Offset(lookup); U32(e) != 0 || U32(e + 4) != 0; e += 8) {
          if ((U32(e + 4) & 0x80000000u) == 0) {
            t.functions[t.imports.back()].push_back(Text(U32(e) + 2));
          }
        }
      }
    }
    t.valid = true;
    return t;
  }

 private:
  struct Section {
    uint32_t rva, size, file;
  };

  uint32_t U32(size_t at) const {
    uint32_t v = 0;
    if (at + 4 <= bytes_.size()) std::memcpy(&v, bytes_.data() + at, 4);
    return v;
  }
  uint16_t U16(size_t at) const {
    uint16_t v = 0;
    if (at + 2 <= bytes_.size()) std::memcpy(&v, bytes_.data() + at, 2);
    return v;
  }
  size_t Offset(uint32_t rva) const {
    for (const Section& s : sections_) {
      if (rva >= s.rva && rva < s.rva + s.size) return rva - s.rva + s.file;
    }
    return bytes_.size();
  }
  std::string Text(uint32_t rva) const {
    std::string s;
    for (size_t at = Offset(rva); at < bytes_.size() && bytes_[at] != '\0'; ++at) s += bytes_[at];
    return s;
  }

  std::vector<char> bytes_;
  mutable std::vector<Section> sections_;
};

bool NeedsCompilerRuntime(const std::vector<std::string>& imports) {
  for (const std::string& name : imports) {
    if (name.rfind("libstdc++", 0) == 0 || name.rfind("libgcc", 0) == 0 ||
        name.rfind("libwinpthread", 0) == 0) {
      return true;
    }
  }
  return false;
}

TEST(DllTables, TelmarExportsOnlyVpiMainAndImportsTheHostAndNetworkLibraries) {
  PeTables telmar = PeFile(TELMAR_LIBRARY).Read();
  ASSERT_TRUE(telmar.valid) << TELMAR_LIBRARY;
  EXPECT_EQ(telmar.exports, std::vector<std::string>{"VpiMain"});
  auto imports = [&](const char* name) {
    for (const std::string& i : telmar.imports) {
      if (i == name) return true;
    }
    return false;
  };
  EXPECT_TRUE(imports("DEDERIR.dll"));
  EXPECT_TRUE(imports("Ostrel.dll"));
  EXPECT_FALSE(NeedsCompilerRuntime(telmar.imports));
  // The network library is imported by its C++ names; a standard-library type in them would tie
  // the driver to one compiler's library as well as to its name mangling.
  const std::vector<std::string>& network = telmar.functions["Ostrel.dll"];
  EXPECT_FALSE(network.empty());
  for (const std::string& name : network) {
    for (const char* standard : {"NSt", "RSt", "PSt", "KSt", "__cxx11"}) {
      EXPECT_EQ(name.find(standard), std::string::npos) << name;
    }
  }
  for (const char* path : {TELMAR_HOST_LIBRARY, TELMAR_NETWORK_LIBRARY}) {
    PeTables other = PeFile(path).Read();
    ASSERT_TRUE(other.valid) << path;
    EXPECT_FALSE(other.exports.empty()) << path;
    EXPECT_FALSE(NeedsCompilerRuntime(other.imports)) << path;
  }
}

}  // namespace
