// Network variable types of the simulated network: the standard types a building network uses,
// with their wire encoding (big-endian) and scaling, user types read from network files, and the
// conversions between raw values, engineering values, text and VARIANTs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/variant.h"

namespace lonsim {

enum class Base : uint8_t {
  kUnsigned8,
  kSigned8,
  kUnsigned16,
  kSigned16,
  kUnsigned32,
  kSigned32,
  kFloat32,
  kEnum8,  // signed 8-bit enumeration
  kText,   // NUL-padded text of size - 1 characters at most
};

struct EnumItem {
  int value;
  const char* name;
};

struct FieldDef {
  std::string name;  // empty for the one field of a scalar type
  Base base = Base::kUnsigned8;
  double scale = 1;  // engineering value = raw * scale + offset
  double offset = 0;
  const std::vector<EnumItem>* enums = nullptr;
  uint32_t pos = 0;   // byte offset in the NV's raw value
  uint32_t size = 0;  // bytes
};

struct TypeDef {
  std::string name;
  int index = 0;  // standard type number; 0 for a user type
  bool structured = false;
  bool switchLike = false;  // a scalar written to it sets value and state together
  std::vector<FieldDef> fields;
  uint32_t length = 0;

  bool IsText() const { return !structured && fields[0].base == Base::kText; }
};

// Standard type by name ("SNVT_temp_p"); null when unknown.
const TypeDef* FindStandardType(std::string_view name);
// Base type by its network-file name ("unsigned16"); false when unknown.
bool ParseBaseName(std::string_view name, Base* base);
uint32_t BaseSize(Base base);
// Lays out the fields one after the other and sets the type's length.
void LayOut(TypeDef* type);

// `field` is a field index, or -1 for the whole NV. Every function works on the NV's full raw
// value and reports a reason in *error when it fails.
bool FormatAccepted(const TypeDef& type, int field, VARTYPE vt);
bool RawToVariant(const TypeDef& type, int field, const std::vector<uint8_t>& raw, VARTYPE vt,
                  VARIANT* out, std::string* error);
bool VariantToRaw(const TypeDef& type, int field, const VARIANT& value, std::vector<uint8_t>* raw,
                  std::string* error);
// Text form of the whole value or one field ("21.5", "100.0 1", "OC_OCCUPIED", the text).
std::string RawToText(const TypeDef& type, int field, const std::vector<uint8_t>& raw);
bool TextToRaw(const TypeDef& type, int field, std::string_view text, std::vector<uint8_t>* raw,
               std::string* error);
bool RawToEngineering(const TypeDef& type, int field, const std::vector<uint8_t>& raw,
                      double* value);
bool EngineeringToRaw(const TypeDef& type, int field, double value, std::vector<uint8_t>* raw,
                      std::string* error);
// Whether the bytes of a field (or the whole value for -1) differ between two raw values.
bool FieldDiffers(const TypeDef& type, int field, const std::vector<uint8_t>& a,
                  const std::vector<uint8_t>& b);

// Locale-independent number text: the fewest decimals that show the scale's resolution.
std::string FormatNumber(double value, int decimals);
bool ParseNumber(std::string_view text, double* value);

}  // namespace lonsim
