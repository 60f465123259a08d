#include "netsim/nv_types.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "netsim/standard_catalogue.h"
#include "netsim/text.h"

namespace lonsim {
namespace {

// The standard types, built once from the generated tables.
struct Catalogue {
  std::vector<std::vector<EnumItem>> enums;
  std::vector<TypeDef> types;  // sorted by name, as the tables are
};

// Fills the catalogue in place: fields point into its enumerations.
void Build(Catalogue* catalogue) {
  namespace st = standard;
  Catalogue& c = *catalogue;
  c.enums.resize(st::kEnumCount);
  for (size_t e = 0; e < st::kEnumCount; ++e) {
    const st::EnumRow& row = st::kEnums[e];
    for (size_t i = row.first; i < row.first + row.count; ++i) {
      c.enums[e].push_back({st::kEnumConsts[i].value, st::kEnumConsts[i].name});
    }
  }
  c.types.resize(st::kTypeCount);
  for (size_t t = 0; t < st::kTypeCount; ++t) {
    const st::TypeRow& row = st::kTypes[t];
    TypeDef& type = c.types[t];
    type.name = row.name;
    type.index = row.index;
    type.structured = row.structured;
    type.length = row.length;
    type.fields.resize(row.fieldCount);
    for (size_t i = 0; i < row.fieldCount; ++i) {
      const st::FieldRow& r = st::kFields[row.firstField + i];
      FieldDef& f = type.fields[i];
      f.name = r.name;
      f.base = r.base;
      f.scale = r.scale;
      f.offset = r.offset;
      f.enums = r.enumIndex >= 0 ? &c.enums[static_cast<size_t>(r.enumIndex)] : nullptr;
      f.pos = r.pos;
      f.size = r.size;
      f.bitOffset = r.bitOffset;
      f.bits = r.bits;
      f.limits = r.limits;
      f.min = r.min;
      f.max = r.max;
      f.invalid = r.invalid;
      f.unionId = r.unionId;
      f.branch = r.branch;
    }
    // A switch: a level and an on/off state, which a single number sets together.
    type.switchLike = type.structured && type.fields.size() == 2 &&
                      type.fields[0].name == "value" && type.fields[1].name == "state";
  }
}

const Catalogue& StandardCatalogue() {
  static Catalogue catalogue;
  static const bool built = (Build(&catalogue), true);
  (void)built;
  return catalogue;
}

const FieldDef& ViewField(const TypeDef& type, int field) {
  return type.fields[field < 0 ? 0 : static_cast<size_t>(field)];
}

bool IsSigned(Base b) {
  return b == Base::kSigned8 || b == Base::kSigned16 || b == Base::kSigned32 || b == Base::kEnum8;
}

void RawRange(Base b, double* lo, double* hi) {
  switch (b) {
    case Base::kUnsigned8:
      *lo = 0;
      *hi = 255;
      return;
    case Base::kSigned8:
    case Base::kEnum8:
      *lo = -128;
      *hi = 127;
      return;
    case Base::kUnsigned16:
      *lo = 0;
      *hi = 65535;
      return;
    case Base::kSigned16:
      *lo = -32768;
      *hi = 32767;
      return;
    case Base::kUnsigned32:
      *lo = 0;
      *hi = 4294967295.0;
      return;
    case Base::kSigned32:
      *lo = -2147483648.0;
      *hi = 2147483647.0;
      return;
    default:
      *lo = -std::numeric_limits<float>::max();
      *hi = std::numeric_limits<float>::max();
  }
}

// The raw range of a field: its base's, or its bits' for a bit field.
void FieldRawRange(const FieldDef& f, double* lo, double* hi) {
  if (f.bits == 0) return RawRange(f.base, lo, hi);
  double span = std::ldexp(1.0, f.bits);
  *lo = IsSigned(f.base) ? -span / 2 : 0;
  *hi = IsSigned(f.base) ? span / 2 - 1 : span - 1;
}

// Where a bit field sits in its byte.
uint32_t BitShift(const FieldDef& f) {
  return 8u - f.bitOffset - f.bits;
}
uint32_t BitMask(const FieldDef& f) {
  return ((1u << f.bits) - 1) << BitShift(f);
}

// The characters a text field holds: a whole NV's text keeps a terminating NUL.
uint32_t TextCapacity(const FieldDef& f) {
  return f.name.empty() ? f.size - 1 : f.size;
}

int Decimals(const FieldDef& f) {
  if (f.base == Base::kFloat32) return -1;
  for (int d = 0; d < 6; ++d) {
    double s = f.scale * std::pow(10.0, d);
    if (std::fabs(s - std::round(s)) < 1e-9) return d;
  }
  return 6;
}

bool FieldToEngineering(const FieldDef& f, const uint8_t* p, double* value) {
  uint32_t u = 0;
  for (uint32_t i = 0; i < f.size && i < 4; ++i) u = (u << 8) | p[i];
  if (f.bits) {
    u = (u & BitMask(f)) >> BitShift(f);
    double raw = u;
    if (IsSigned(f.base) && u >= (1u << (f.bits - 1))) raw -= std::ldexp(1.0, f.bits);
    *value = raw * f.scale + f.offset;
    return true;
  }
  double raw = 0;
  switch (f.base) {
    case Base::kUnsigned8:
    case Base::kUnsigned16:
    case Base::kUnsigned32:
      raw = u;
      break;
    case Base::kSigned8:
    case Base::kEnum8:
      raw = static_cast<int8_t>(u);
      break;
    case Base::kSigned16:
      raw = static_cast<int16_t>(u);
      break;
    case Base::kSigned32:
      raw = static_cast<int32_t>(u);
      break;
    case Base::kFloat32: {
      float fl;
      std::memcpy(&fl, &u, sizeof fl);
      *value = fl;
      return true;
    }
    case Base::kText:
      return false;
  }
  *value = raw * f.scale + f.offset;
  return true;
}

// The raw value of an engineering value in a field with a scale.
double RawOf(const FieldDef& f, double value) {
  return std::round((value - f.offset) / f.scale);
}

// A refusal always gives the limits the value is held to (the type's, or with Limits::kWire the
// raw range), and says so when the value lies beyond what the field's raw form holds at all.
std::string OutOfRange(const FieldDef& f, double value, Limits check, bool beyondRaw) {
  int d = Decimals(f);
  double rawLo, rawHi;
  FieldRawRange(f, &rawLo, &rawHi);
  if (f.base != Base::kFloat32) {
    rawLo = rawLo * f.scale + f.offset;
    rawHi = rawHi * f.scale + f.offset;
  }
  // The type's minimum and maximum where it gives them, else what the raw range holds.
  double lo = rawLo, hi = rawHi;
  if (check != Limits::kWire && !f.enums) {
    if (f.limits & kHasMin) lo = f.min;
    if (f.limits & kHasMax) hi = f.max;
  }
  std::string text = "value " + FormatNumber(value, d) + " out of range " + FormatNumber(lo, d) +
                     " to " + FormatNumber(hi, d);
  if (f.bits) {
    if (beyondRaw) {
      text += " (a field of " + std::to_string(f.bits) + (f.bits == 1 ? " bit" : " bits") + ")";
    }
  } else if (beyondRaw) {
    text += lo == rawLo && hi == rawHi ? " (the raw range)"
                                       : " and beyond the raw range " + FormatNumber(rawLo, d) +
                                             " to " + FormatNumber(rawHi, d);
  }
  return text;
}

// The field's limits: those of the type where it gives them, else what the wire holds. An
// enumeration takes any constant of its byte (a newer device may know more names).
bool WithinLimits(const FieldDef& f, double value, double raw, Limits check, std::string* error) {
  if (check == Limits::kWire || !f.limits || f.enums) return true;
  bool isFloat = f.base == Base::kFloat32;
  if ((f.limits & kHasInvalid) && (isFloat ? value == f.invalid : raw == RawOf(f, f.invalid))) {
    return true;
  }
  bool below = (f.limits & kHasMin) && (isFloat ? value < f.min : raw < RawOf(f, f.min));
  bool above = (f.limits & kHasMax) && (isFloat ? value > f.max : raw > RawOf(f, f.max));
  if (below || above) {
    *error = OutOfRange(f, value, check, false);
    return false;
  }
  return true;
}

bool EngineeringToField(const FieldDef& f, double value, uint8_t* p, Limits check,
                        std::string* error) {
  if (f.base == Base::kText) {
    *error = "a text value takes no number";
    return false;
  }
  if (!std::isfinite(value)) {
    *error = "value is not a finite number";
    return false;
  }
  uint32_t u;
  double lo, hi;
  FieldRawRange(f, &lo, &hi);
  if (f.base == Base::kFloat32) {
    if (value < lo || value > hi) {
      *error = OutOfRange(f, value, check, true);
      return false;
    }
    if (!WithinLimits(f, value, 0, check, error)) return false;
    float fl = static_cast<float>(value);
    std::memcpy(&u, &fl, sizeof u);
  } else {
    double raw = RawOf(f, value);
    if (raw < lo || raw > hi) {
      *error = OutOfRange(f, value, check, true);
      return false;
    }
    if (!WithinLimits(f, value, raw, check, error)) return false;
    u = IsSigned(f.base) ? static_cast<uint32_t>(static_cast<int64_t>(raw))
                         : static_cast<uint32_t>(raw);
  }
  if (f.bits) {
    p[0] = static_cast<uint8_t>((p[0] & ~BitMask(f)) | ((u << BitShift(f)) & BitMask(f)));
    return true;
  }
  for (uint32_t i = 0; i < f.size; ++i) p[i] = static_cast<uint8_t>(u >> (8 * (f.size - 1 - i)));
  return true;
}

std::string FieldText(const FieldDef& f, const uint8_t* p) {
  if (f.base == Base::kText) {
    size_t n = 0;
    while (n < TextCapacity(f) && p[n]) ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
  }
  double v = 0;
  FieldToEngineering(f, p, &v);
  if (f.enums) {
    for (const EnumItem& e : *f.enums) {
      if (e.value == static_cast<int>(v)) return e.name;
    }
  }
  return FormatNumber(v, Decimals(f));
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::string NotANumber(std::string_view text) {
  std::string message(1, '\'');
  message.append(text);
  message.append("' is not a number");
  return message;
}

// Edit distance of two names, letter case ignored: how near a mistyped constant is to one.
size_t Distance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      bool same = EqualNoCase(a.substr(i - 1, 1), b.substr(j - 1, 1));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The name of a standard enumeration ("hvac_t"); empty for one the catalogue does not hold.
std::string EnumName(const std::vector<EnumItem>& items) {
  const Catalogue& c = StandardCatalogue();
  for (size_t e = 0; e < c.enums.size(); ++e) {
    if (&c.enums[e] == &items) return standard::kEnums[e].name;
  }
  return "";
}

// A word that is neither a constant of the field's enumeration nor a number: names the
// enumeration and lists its constants, or the nearest few of a long list.
std::string NotAConstant(const std::vector<EnumItem>& items, std::string_view text) {
  constexpr size_t kListedWhole = 12;
  constexpr size_t kNearest = 5;
  std::string name = EnumName(items);
  std::string message = "'" + std::string(text) + "' is not a constant of the enumeration" +
                        (name.empty() ? "" : " " + name);
  std::vector<const EnumItem*> shown;
  for (const EnumItem& e : items) shown.push_back(&e);
  if (shown.size() > kListedWhole) {
    std::stable_sort(shown.begin(), shown.end(), [&](const EnumItem* a, const EnumItem* b) {
      return Distance(text, a->name) < Distance(text, b->name);
    });
    shown.resize(kNearest);
    message += " (" + std::to_string(items.size()) + " constants; the nearest: ";
  } else {
    message += " (constants: ";
  }
  for (size_t i = 0; i < shown.size(); ++i)
    message += (i ? ", " : "") + std::string(shown[i]->name);
  return message + ")";
}

bool FieldFromText(const FieldDef& f, std::string_view text, uint8_t* p, Limits check,
                   std::string* error) {
  if (f.base == Base::kText) {
    if (text.size() > TextCapacity(f)) {
      *error = "text of " + std::to_string(text.size()) + " characters is longer than " +
               std::to_string(TextCapacity(f));
      return false;
    }
    std::memset(p, 0, f.size);
    std::memcpy(p, text.data(), text.size());
    return true;
  }
  if (f.enums) {
    for (const EnumItem& e : *f.enums) {
      if (EqualNoCase(e.name, text)) return EngineeringToField(f, e.value, p, check, error);
    }
  }
  if ((f.limits & kHasInvalid) && EqualNoCase(text, "invalid")) {
    return EngineeringToField(f, f.invalid, p, check, error);
  }
  double v;
  if (!ParseNumber(text, &v)) {
    *error = f.enums ? NotAConstant(*f.enums, text) : NotANumber(text);
    return false;
  }
  return EngineeringToField(f, v, p, check, error);
}

// Words separated by blanks; a word in double quotes (a text field) may hold blanks or be empty.
std::vector<std::string_view> SplitWords(std::string_view text) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < text.size() && text[i] == '"') {
      size_t close = text.find('"', i + 1);
      if (close != std::string_view::npos) {
        words.push_back(text.substr(i + 1, close - i - 1));
        i = close + 1;
        continue;
      }
    }
    size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

// A refusal names the field of a structure it concerns.
bool NameField(const TypeDef& type, const FieldDef& f, std::string* error) {
  if (type.structured) *error = "field " + f.name + ": " + *error;
  return false;
}

// The whole NV, or one of its fields, takes a scalar (switch-like types: value and state).
bool ScalarToRaw(const TypeDef& type, int field, double value, std::vector<uint8_t>* raw,
                 Limits check, std::string* error) {
  if (field < 0 && type.switchLike) {
    std::vector<uint8_t> next = *raw;
    for (int i = 0; i < 2; ++i) {
      const FieldDef& f = type.fields[i];
      double v = i == 0 ? value : (value > 0 ? 1 : 0);
      if (!EngineeringToField(f, v, next.data() + f.pos, check, error)) {
        return NameField(type, f, error);
      }
    }
    *raw = std::move(next);
    return true;
  }
  const FieldDef& f = ViewField(type, field);
  if (!EngineeringToField(f, value, raw->data() + f.pos, check, error)) {
    return NameField(type, f, error);
  }
  return true;
}

}  // namespace

const std::vector<TypeDef>& StandardTypes() {
  return StandardCatalogue().types;
}

const TypeDef* FindStandardType(std::string_view name) {
  const std::vector<TypeDef>& types = StandardTypes();
  auto it = std::lower_bound(types.begin(), types.end(), name,
                             [](const TypeDef& t, std::string_view n) { return t.name < n; });
  return it != types.end() && it->name == name ? &*it : nullptr;
}

// The name of every base type; a network file declares fields of the numeric ones only.
const struct {
  const char* name;
  Base base;
  bool declared;
} kBaseNames[] = {
    {"unsigned8", Base::kUnsigned8, true},
    {"signed8", Base::kSigned8, true},
    {"unsigned16", Base::kUnsigned16, true},
    {"signed16", Base::kSigned16, true},
    {"unsigned32", Base::kUnsigned32, true},
    {"signed32", Base::kSigned32, true},
    {"float32", Base::kFloat32, true},
    {"enum8", Base::kEnum8, false},
    {"text", Base::kText, false},
};

bool ParseBaseName(std::string_view name, Base* base) {
  for (const auto& n : kBaseNames) {
    if (n.declared && name == n.name) {
      *base = n.base;
      return true;
    }
  }
  return false;
}

const char* BaseName(Base base) {
  for (const auto& n : kBaseNames) {
    if (n.base == base) return n.name;
  }
  return "";
}

uint32_t BaseSize(Base base) {
  switch (base) {
    case Base::kUnsigned8:
    case Base::kSigned8:
    case Base::kEnum8:
      return 1;
    case Base::kUnsigned16:
    case Base::kSigned16:
      return 2;
    case Base::kText:
      return 0;
    default:
      return 4;
  }
}

void LayOut(TypeDef* type) {
  uint32_t pos = 0;
  for (FieldDef& f : type->fields) {
    f.pos = pos;
    pos += f.size;
  }
  type->length = pos;
}

bool FormatAccepted(const TypeDef& type, int field, VARTYPE vt) {
  if (field >= static_cast<int>(type.fields.size()) || (field >= 0 && !type.structured)) {
    return false;
  }
  switch (vt) {
    case VT_BSTR:
    case VT_ARRAY_UI1:
      return true;
    case VT_R4:
    case VT_I2:
    case VT_I4:
    case VT_BOOL:
      return ViewField(type, field).base != Base::kText;
    default:
      return false;
  }
}

bool RawToEngineering(const TypeDef& type, int field, const std::vector<uint8_t>& raw,
                      double* value) {
  const FieldDef& f = ViewField(type, field);
  return FieldToEngineering(f, raw.data() + f.pos, value);
}

bool EngineeringToRaw(const TypeDef& type, int field, double value, std::vector<uint8_t>* raw,
                      std::string* error, Limits check) {
  return ScalarToRaw(type, field, value, raw, check, error);
}

std::string RawToText(const TypeDef& type, int field, const std::vector<uint8_t>& raw) {
  if (field < 0 && type.structured) {
    std::string text;
    for (const FieldDef& f : type.fields) {
      if (!text.empty()) text += ' ';
      if (f.base == Base::kText) {
        text += '"' + FieldText(f, raw.data() + f.pos) + '"';
      } else {
        text += FieldText(f, raw.data() + f.pos);
      }
    }
    return text;
  }
  const FieldDef& f = ViewField(type, field);
  return FieldText(f, raw.data() + f.pos);
}

bool TextToRaw(const TypeDef& type, int field, std::string_view text, std::vector<uint8_t>* raw,
               std::string* error, Limits check) {
  std::vector<uint8_t> next = *raw;
  if (field < 0 && type.structured) {
    std::vector<std::string_view> words = SplitWords(text);
    if (words.size() == 1 && type.switchLike) {
      double v;
      if (!ParseNumber(words[0], &v)) {
        *error = NotANumber(words[0]);
        return false;
      }
      return ScalarToRaw(type, field, v, raw, check, error);
    }
    if (words.size() != type.fields.size()) {
      *error = type.name + " takes " + std::to_string(type.fields.size()) + " field values, not " +
               std::to_string(words.size());
      return false;
    }
    for (size_t i = 0; i < words.size(); ++i) {
      const FieldDef& f = type.fields[i];
      if (!FieldFromText(f, words[i], next.data() + f.pos, check, error)) {
        return NameField(type, f, error);
      }
    }
  } else {
    const FieldDef& f = ViewField(type, field);
    if (!FieldFromText(f, f.base == Base::kText ? text : Trim(text), next.data() + f.pos, check,
                       error)) {
      return NameField(type, f, error);
    }
  }
  *raw = std::move(next);
  return true;
}

bool RawToVariant(const TypeDef& type, int field, const std::vector<uint8_t>& raw, VARTYPE vt,
                  VARIANT* out, std::string* error) {
  if (!FormatAccepted(type, field, vt)) {
    *error = "format " + std::to_string(vt) + " not accepted by " + type.name;
    return false;
  }
  if (vt == VT_ARRAY_UI1) {
    std::vector<uint8_t> bytes = FieldBytes(type, field, raw);
    ByteArray* a = ByteArrayCreate(bytes.data(), static_cast<uint32_t>(bytes.size()));
    if (!a) {
      *error = "out of memory";
      return false;
    }
    out->vt = VT_ARRAY_UI1;
    out->parray = a;
    return true;
  }
  if (vt == VT_BSTR) {
    std::string text = RawToText(type, field, raw);
    std::u16string wide(text.size(), u'\0');
    for (size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<unsigned char>(text[i]);
    BSTR s = BstrFromUtf16(wide.data(), static_cast<uint32_t>(wide.size()));
    if (!s) {
      *error = "out of memory";
      return false;
    }
    out->vt = VT_BSTR;
    out->bstrVal = s;
    return true;
  }
  double v = 0;
  RawToEngineering(type, field, raw, &v);
  switch (vt) {
    case VT_R4:
      out->vt = VT_R4;
      out->fltVal = static_cast<float>(v);
      return true;
    case VT_BOOL:
      out->vt = VT_BOOL;
      out->boolVal = v != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      return true;
    case VT_I2: {
      double r = std::round(v);
      if (r < -32768 || r > 32767) {
        *error = "value " + FormatNumber(v, -1) + " does not fit a 16-bit integer";
        return false;
      }
      out->vt = VT_I2;
      out->iVal = static_cast<int16_t>(r);
      return true;
    }
    default: {  // VT_I4
      double r = std::round(v);
      if (r < -2147483648.0 || r > 2147483647.0) {
        *error = "value " + FormatNumber(v, -1) + " does not fit a 32-bit integer";
        return false;
      }
      out->vt = VT_I4;
      out->lVal = static_cast<int32_t>(r);
      return true;
    }
  }
}

bool VariantToRaw(const TypeDef& type, int field, const VARIANT& value, std::vector<uint8_t>* raw,
                  std::string* error, Limits check) {
  if (field >= static_cast<int>(type.fields.size()) || (field >= 0 && !type.structured)) {
    *error = "no field " + std::to_string(field) + " in " + type.name;
    return false;
  }
  switch (value.vt) {
    case VT_ARRAY_UI1: {
      uint32_t have = ByteArraySize(value.parray);
      if (field >= 0) {
        return SetFieldBytes(type, field, have ? ByteArrayData(value.parray) : nullptr, have, raw,
                             error);
      }
      uint32_t want = type.length;
      uint32_t pos = 0;
      bool text = type.IsText();
      if (have > want || (have < want && !text)) {
        *error = "raw value of " + std::to_string(have) + " bytes, " + type.name + " needs " +
                 std::to_string(want);
        return false;
      }
      std::memset(raw->data() + pos, 0, want);
      if (have) std::memcpy(raw->data() + pos, ByteArrayData(value.parray), have);
      return true;
    }
    case VT_BSTR: {
      uint32_t n = SysStringLen(value.bstrVal);
      const char16_t* units = BstrUtf16(value.bstrVal);
      std::string text(n, '\0');
      for (uint32_t i = 0; i < n; ++i) {
        if (units[i] > 0xFF) {
          *error = "text holds a character outside ISO 8859-1";
          return false;
        }
        text[i] = static_cast<char>(units[i]);
      }
      return TextToRaw(type, field, text, raw, error, check);
    }
    case VT_R4:
    case VT_I2:
    case VT_I4:
    case VT_BOOL: {
      if (ViewField(type, field).base == Base::kText && !type.structured) {
        *error = type.name + " takes text, not a number";
        return false;
      }
      double v = value.vt == VT_R4   ? value.fltVal
                 : value.vt == VT_I2 ? value.iVal
                 : value.vt == VT_I4 ? value.lVal
                                     : (value.boolVal != 0 ? 1.0 : 0.0);
      if (value.vt == VT_BOOL && field < 0 && type.switchLike && v != 0) v = 100;
      return ScalarToRaw(type, field, v, raw, check, error);
    }
    default:
      *error = "VARIANT type " + std::to_string(value.vt) + " cannot be written";
      return false;
  }
}

bool FieldDiffers(const TypeDef& type, int field, const std::vector<uint8_t>& a,
                  const std::vector<uint8_t>& b) {
  if (field < 0) return a != b;
  const FieldDef& f = type.fields[field];
  if (f.bits) return ((a[f.pos] ^ b[f.pos]) & BitMask(f)) != 0;
  return std::memcmp(a.data() + f.pos, b.data() + f.pos, f.size) != 0;
}

std::vector<uint8_t> FieldBytes(const TypeDef& type, int field, const std::vector<uint8_t>& raw) {
  if (field < 0) return raw;
  const FieldDef& f = type.fields[field];
  if (f.bits) return {static_cast<uint8_t>((raw[f.pos] & BitMask(f)) >> BitShift(f))};
  return std::vector<uint8_t>(raw.begin() + f.pos, raw.begin() + f.pos + f.size);
}

bool SetFieldBytes(const TypeDef& type, int field, const uint8_t* bytes, uint32_t n,
                   std::vector<uint8_t>* raw, std::string* error) {
  uint32_t want = field < 0 ? type.length : (type.fields[field].bits ? 1 : type.fields[field].size);
  if (n != want) {
    *error = "raw value of " + std::to_string(n) + " bytes, needs " + std::to_string(want);
    return false;
  }
  if (field >= 0 && type.fields[field].bits) {
    const FieldDef& f = type.fields[field];
    if (bytes[0] >> f.bits) {
      *error = "field " + f.name + ": raw value " + std::to_string(bytes[0]) + " takes more than " +
               std::to_string(f.bits) + " bits";
      return false;
    }
    (*raw)[f.pos] = static_cast<uint8_t>(((*raw)[f.pos] & ~BitMask(f)) | (bytes[0] << BitShift(f)));
    return true;
  }
  if (n) std::memcpy(raw->data() + (field < 0 ? 0 : type.fields[field].pos), bytes, n);
  return true;
}

std::string FormatNumber(double value, int decimals) {
  char buf[64];
  std::to_chars_result r;
  if (decimals < 0) {
    r = std::to_chars(buf, buf + sizeof buf, static_cast<float>(value));
  } else {
    r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  }
  std::string s(buf, r.ptr);
  if (decimals > 0 && s.find('.') != std::string::npos && s.find('e') == std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

bool ParseNumber(std::string_view text, double* value) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  double v;
  auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return false;
  *value = v;
  return true;
}

}  // namespace lonsim
