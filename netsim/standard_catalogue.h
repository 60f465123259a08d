// The standard types, enumerations and functional profiles of LonWorks as plain tables. The
// tables are generated at build time from netsim/standard/*.tsv (netsim/standard/generate.py):
// fields come out at their byte offsets (the branches of a union overlapping) with the names an
// address uses, bit fields and array elements as fields of their own. nv_types.cpp and network.cpp
// build their records from them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "netsim/nv_types.h"

namespace lonsim::standard {

struct EnumConstRow {
  const char* name;
  int value;
};

struct EnumRow {
  const char* name;  // "hvac_t"
  uint16_t first;    // into kEnumConsts
  uint16_t count;
};

struct FieldRow {
  const char* name;  // "" for the one field of a scalar type
  Base base;
  uint16_t pos;       // byte offset in the value
  uint16_t size;      // bytes (characters of a text)
  uint8_t bitOffset;  // bit fields: bits from the byte's most significant bit
  uint8_t bits;       // bit fields: width; 0 for a whole-byte field
  uint8_t limits;     // LimitFlags
  int16_t enumIndex;  // into kEnums, -1 for none
  double scale, offset;
  double min, max, invalid;  // engineering units, where `limits` says so
  uint8_t unionId;           // 1, 2, ... for a field inside a union of its type, else 0
  uint8_t branch;            // the union's branch (member) that holds it, from 1
};

struct TypeRow {
  const char* name;  // sorted by name
  uint16_t index;    // standard type number
  uint16_t length;   // bytes on the wire
  bool structured;
  uint16_t firstField;  // into kFields
  uint16_t fieldCount;
};

struct MemberRow {
  const char* name;  // "nvoSpaceTemp"
  uint16_t number;
  int16_t type;  // into kTypes; -1 for SNVT_xxx, the device's choice
  bool output;
  bool mandatory;
};

struct ProfileRow {
  const char* name;  // sorted by name
  uint16_t key;
  uint16_t firstMember;  // into kMembers
  uint16_t memberCount;
};

extern const EnumConstRow kEnumConsts[];
extern const EnumRow kEnums[];
extern const FieldRow kFields[];
extern const TypeRow kTypes[];
extern const MemberRow kMembers[];
extern const ProfileRow kProfiles[];
extern const size_t kEnumCount, kTypeCount, kProfileCount;

}  // namespace lonsim::standard
