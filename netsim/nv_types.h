// Network variable types of the simulated network: the standard types of LonWorks (built from the
// generated tables of netsim/standard_catalogue.h) with their wire encoding (big-endian), scaling
// and limits, user types read from network files, and the conversions between raw values,
// engineering values, text and VARIANTs.
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
  kText,   // NUL-padded text: of size - 1 characters at most for a whole NV, size in a structure
};

enum LimitFlags : uint8_t { kHasMin = 1, kHasMax = 2, kHasInvalid = 4 };

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
  uint32_t pos = 0;         // byte offset in the NV's raw value
  uint32_t size = 0;        // bytes
  uint8_t bitOffset = 0;    // a bit field: bits from the byte's most significant bit
  uint8_t bits = 0;         // a bit field: its width; 0 for a field of whole bytes
  uint8_t limits = 0;       // LimitFlags: which of min, max and invalid the type gives
  double min = 0, max = 0;  // engineering units; writes outside are refused
  double invalid = 0;       // the "invalid" value, accepted even outside min..max
  // A field inside a union: the union (1, 2, ... in its type) and the branch holding it. The
  // branches of one union share their bytes; a write to one changes what the others read.
  uint8_t unionId = 0;
  uint8_t branch = 0;
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
// Every standard type, sorted by name.
const std::vector<TypeDef>& StandardTypes();
// Base type by its network-file name ("unsigned16"); false when unknown, and for enum8 and text,
// which a network file does not declare.
bool ParseBaseName(std::string_view name, Base* base);
// A base type's name ("unsigned16", "enum8", "text").
const char* BaseName(Base base);
uint32_t BaseSize(Base base);
// Lays out the fields one after the other and sets the type's length.
void LayOut(TypeDef* type);

// What a value written is held to: the type's limits (writes through the library, network
// files), or only what the wire carries (a device reporting a value, maybe outside its type's
// limits, as the control API lets a test play a faulty device).
enum class Limits : uint8_t { kType, kWire };

// `field` is a field index, or -1 for the whole NV. Every function works on the NV's full raw
// value and reports a reason in *error when it fails.
bool FormatAccepted(const TypeDef& type, int field, VARTYPE vt);
bool RawToVariant(const TypeDef& type, int field, const std::vector<uint8_t>& raw, VARTYPE vt,
                  VARIANT* out, std::string* error);
bool VariantToRaw(const TypeDef& type, int field, const VARIANT& value, std::vector<uint8_t>* raw,
                  std::string* error, Limits check = Limits::kType);
// Text form of the whole value or one field ("21.5", "100.0 1", "OC_OCCUPIED", the text).
std::string RawToText(const TypeDef& type, int field, const std::vector<uint8_t>& raw);
bool TextToRaw(const TypeDef& type, int field, std::string_view text, std::vector<uint8_t>* raw,
               std::string* error, Limits check = Limits::kType);
bool RawToEngineering(const TypeDef& type, int field, const std::vector<uint8_t>& raw,
                      double* value);
bool EngineeringToRaw(const TypeDef& type, int field, double value, std::vector<uint8_t>* raw,
                      std::string* error, Limits check = Limits::kType);
// A field's raw form: its bytes, or one byte with a bit field's value (the whole value for -1).
std::vector<uint8_t> FieldBytes(const TypeDef& type, int field, const std::vector<uint8_t>& raw);
// Sets a field (or the whole value) from its raw form of exactly the right size.
bool SetFieldBytes(const TypeDef& type, int field, const uint8_t* bytes, uint32_t n,
                   std::vector<uint8_t>* raw, std::string* error);
// Whether the bytes of a field (or the whole value for -1) differ between two raw values.
bool FieldDiffers(const TypeDef& type, int field, const std::vector<uint8_t>& a,
                  const std::vector<uint8_t>& b);

// Locale-independent number text: the fewest decimals that show the scale's resolution.
std::string FormatNumber(double value, int decimals);
bool ParseNumber(std::string_view text, double* value);

}  // namespace lonsim
