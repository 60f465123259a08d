#include "netsim/nv_types.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace lonsim {
namespace {

const std::vector<EnumItem> kOccupancy = {
    {-1, "OC_NUL"}, {0, "OC_OCCUPIED"}, {1, "OC_UNOCCUPIED"}, {2, "OC_BYPASS"}, {3, "OC_STANDBY"}};
const std::vector<EnumItem> kHvacMode = {
    {-1, "HVAC_NUL"}, {0, "HVAC_AUTO"},        {1, "HVAC_HEAT"},     {2, "HVAC_MRNG_WRMUP"},
    {3, "HVAC_COOL"}, {4, "HVAC_NIGHT_PURGE"}, {5, "HVAC_PRE_COOL"}, {6, "HVAC_OFF"},
    {7, "HVAC_TEST"}, {8, "HVAC_EMERG_HEAT"},  {9, "HVAC_FAN_ONLY"}, {10, "HVAC_FREE_COOL"}};
const std::vector<EnumItem> kLevDisc = {{-1, "ST_NUL"}, {0, "ST_OFF"},  {1, "ST_LOW"},
                                        {2, "ST_MED"},  {3, "ST_HIGH"}, {4, "ST_ON"}};

FieldDef Field(const char* name, Base base, double scale = 1, double offset = 0,
               const std::vector<EnumItem>* enums = nullptr) {
  FieldDef f;
  f.name = name;
  f.base = base;
  f.scale = scale;
  f.offset = offset;
  f.enums = enums;
  f.size = BaseSize(base);
  return f;
}

TypeDef Scalar(const char* name, int index, Base base, double scale = 1, double offset = 0,
               const std::vector<EnumItem>* enums = nullptr) {
  TypeDef t;
  t.name = name;
  t.index = index;
  t.fields.push_back(Field("", base, scale, offset, enums));
  LayOut(&t);
  return t;
}

TypeDef Text(const char* name, int index, uint32_t chars) {
  TypeDef t;
  t.name = name;
  t.index = index;
  FieldDef f = Field("", Base::kText);
  f.size = chars + 1;
  t.fields.push_back(f);
  LayOut(&t);
  return t;
}

TypeDef Struct(const char* name, int index, std::vector<FieldDef> fields) {
  TypeDef t;
  t.name = name;
  t.index = index;
  t.structured = true;
  t.fields = std::move(fields);
  LayOut(&t);
  return t;
}

const std::vector<TypeDef>& StandardTypes() {
  static const std::vector<TypeDef> types = [] {
    std::vector<TypeDef> v;
    v.push_back(Scalar("SNVT_amp", 1, Base::kSigned16, 0.1));
    v.push_back(Scalar("SNVT_count", 8, Base::kUnsigned16));
    v.push_back(Scalar("SNVT_count_inc", 9, Base::kSigned16));
    v.push_back(Scalar("SNVT_elec_kwh", 13, Base::kUnsigned16));
    v.push_back(Scalar("SNVT_flow", 15, Base::kUnsigned16));
    v.push_back(Scalar("SNVT_lev_cont", 21, Base::kUnsigned8, 0.5));
    v.push_back(Scalar("SNVT_lev_disc", 22, Base::kEnum8, 1, 0, &kLevDisc));
    v.push_back(Scalar("SNVT_power", 27, Base::kUnsigned16, 0.1));
    v.push_back(Scalar("SNVT_ppm", 29, Base::kUnsigned16));
    v.push_back(Text("SNVT_str_asc", 36, 30));
    v.push_back(Scalar("SNVT_temp", 39, Base::kUnsigned16, 0.1, -274.0));
    v.push_back(Scalar("SNVT_volt", 44, Base::kSigned16, 0.1));
    v.push_back(Scalar("SNVT_count_f", 51, Base::kFloat32));
    v.push_back(Scalar("SNVT_temp_f", 63, Base::kFloat32));
    v.push_back(Scalar("SNVT_lux", 79, Base::kUnsigned16));
    v.push_back(Scalar("SNVT_lev_percent", 81, Base::kSigned16, 0.005));
    TypeDef sw = Struct("SNVT_switch", 95,
                        {Field("value", Base::kUnsigned8, 0.5), Field("state", Base::kSigned8)});
    sw.switchLike = true;
    v.push_back(sw);
    v.push_back(Scalar("SNVT_rpm", 102, Base::kUnsigned16));
    v.push_back(Scalar("SNVT_temp_p", 105, Base::kSigned16, 0.01));
    v.push_back(Struct("SNVT_temp_setpt", 106,
                       {Field("occupied_cool", Base::kSigned16, 0.01),
                        Field("standby_cool", Base::kSigned16, 0.01),
                        Field("unoccupied_cool", Base::kSigned16, 0.01),
                        Field("occupied_heat", Base::kSigned16, 0.01),
                        Field("standby_heat", Base::kSigned16, 0.01),
                        Field("unoccupied_heat", Base::kSigned16, 0.01)}));
    v.push_back(Scalar("SNVT_time_sec", 107, Base::kUnsigned16, 0.1));
    v.push_back(Scalar("SNVT_hvac_mode", 108, Base::kEnum8, 1, 0, &kHvacMode));
    v.push_back(Scalar("SNVT_occupancy", 109, Base::kEnum8, 1, 0, &kOccupancy));
    v.push_back(Scalar("SNVT_press_p", 113, Base::kSigned16));
    return v;
  }();
  return types;
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

bool EngineeringToField(const FieldDef& f, double value, uint8_t* p, std::string* error) {
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
  RawRange(f.base, &lo, &hi);
  if (f.base == Base::kFloat32) {
    if (value < lo || value > hi) {
      *error = "value " + FormatNumber(value, -1) + " out of range";
      return false;
    }
    float fl = static_cast<float>(value);
    std::memcpy(&u, &fl, sizeof u);
  } else {
    double raw = std::round((value - f.offset) / f.scale);
    if (raw < lo || raw > hi) {
      *error = "value " + FormatNumber(value, Decimals(f)) + " out of range " +
               FormatNumber(lo * f.scale + f.offset, Decimals(f)) + " to " +
               FormatNumber(hi * f.scale + f.offset, Decimals(f));
      return false;
    }
    u = IsSigned(f.base) ? static_cast<uint32_t>(static_cast<int64_t>(raw))
                         : static_cast<uint32_t>(raw);
  }
  for (uint32_t i = 0; i < f.size; ++i) p[i] = static_cast<uint8_t>(u >> (8 * (f.size - 1 - i)));
  return true;
}

std::string FieldText(const FieldDef& f, const uint8_t* p) {
  if (f.base == Base::kText) {
    size_t n = 0;
    while (n + 1 < f.size && p[n]) ++n;
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

bool FieldFromText(const FieldDef& f, std::string_view text, uint8_t* p, std::string* error) {
  if (f.base == Base::kText) {
    if (text.size() > f.size - 1) {
      *error = "text of " + std::to_string(text.size()) + " characters is longer than " +
               std::to_string(f.size - 1);
      return false;
    }
    std::memset(p, 0, f.size);
    std::memcpy(p, text.data(), text.size());
    return true;
  }
  if (f.enums) {
    for (const EnumItem& e : *f.enums) {
      if (EqualNoCase(e.name, text)) return EngineeringToField(f, e.value, p, error);
    }
  }
  double v;
  if (!ParseNumber(text, &v)) {
    *error = NotANumber(text);
    return false;
  }
  return EngineeringToField(f, v, p, error);
}

std::vector<std::string_view> SplitWords(std::string_view text) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The whole NV, or one of its fields, takes a scalar (switch-like types: value and state).
bool ScalarToRaw(const TypeDef& type, int field, double value, std::vector<uint8_t>* raw,
                 std::string* error) {
  if (field < 0 && type.switchLike) {
    std::vector<uint8_t> next = *raw;
    if (!EngineeringToField(type.fields[0], value, next.data() + type.fields[0].pos, error) ||
        !EngineeringToField(type.fields[1], value > 0 ? 1 : 0, next.data() + type.fields[1].pos,
                            error)) {
      return false;
    }
    *raw = std::move(next);
    return true;
  }
  const FieldDef& f = ViewField(type, field);
  return EngineeringToField(f, value, raw->data() + f.pos, error);
}

}  // namespace

const TypeDef* FindStandardType(std::string_view name) {
  for (const TypeDef& t : StandardTypes()) {
    if (t.name == name) return &t;
  }
  return nullptr;
}

bool ParseBaseName(std::string_view name, Base* base) {
  static const struct {
    const char* name;
    Base base;
  } kNames[] = {{"unsigned8", Base::kUnsigned8},   {"signed8", Base::kSigned8},
                {"unsigned16", Base::kUnsigned16}, {"signed16", Base::kSigned16},
                {"unsigned32", Base::kUnsigned32}, {"signed32", Base::kSigned32},
                {"float32", Base::kFloat32}};
  for (const auto& n : kNames) {
    if (name == n.name) {
      *base = n.base;
      return true;
    }
  }
  return false;
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
                      std::string* error) {
  return ScalarToRaw(type, field, value, raw, error);
}

std::string RawToText(const TypeDef& type, int field, const std::vector<uint8_t>& raw) {
  if (field < 0 && type.structured) {
    std::string text;
    for (const FieldDef& f : type.fields) {
      if (!text.empty()) text += ' ';
      text += FieldText(f, raw.data() + f.pos);
    }
    return text;
  }
  const FieldDef& f = ViewField(type, field);
  return FieldText(f, raw.data() + f.pos);
}

bool TextToRaw(const TypeDef& type, int field, std::string_view text, std::vector<uint8_t>* raw,
               std::string* error) {
  std::vector<uint8_t> next = *raw;
  if (field < 0 && type.structured) {
    std::vector<std::string_view> words = SplitWords(text);
    if (words.size() == 1 && type.switchLike) {
      double v;
      if (!ParseNumber(words[0], &v)) {
        *error = NotANumber(words[0]);
        return false;
      }
      return ScalarToRaw(type, field, v, raw, error);
    }
    if (words.size() != type.fields.size()) {
      *error = type.name + " takes " + std::to_string(type.fields.size()) + " field values, not " +
               std::to_string(words.size());
      return false;
    }
    for (size_t i = 0; i < words.size(); ++i) {
      const FieldDef& f = type.fields[i];
      if (!FieldFromText(f, words[i], next.data() + f.pos, error)) {
        *error = "field " + f.name + ": " + *error;
        return false;
      }
    }
  } else {
    const FieldDef& f = ViewField(type, field);
    if (!FieldFromText(f, f.base == Base::kText ? text : Trim(text), next.data() + f.pos, error)) {
      return false;
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
    const uint8_t* p = raw.data();
    uint32_t n = static_cast<uint32_t>(raw.size());
    if (field >= 0) {
      p += type.fields[field].pos;
      n = type.fields[field].size;
    }
    ByteArray* a = ByteArrayCreate(p, n);
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
    BSTR s = SysAllocStringLen(wide.data(), static_cast<uint32_t>(wide.size()));
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
                  std::string* error) {
  if (field >= static_cast<int>(type.fields.size()) || (field >= 0 && !type.structured)) {
    *error = "no field " + std::to_string(field) + " in " + type.name;
    return false;
  }
  switch (value.vt) {
    case VT_ARRAY_UI1: {
      uint32_t want = field < 0 ? type.length : type.fields[field].size;
      uint32_t pos = field < 0 ? 0 : type.fields[field].pos;
      uint32_t have = value.parray ? value.parray->size : 0;
      bool text = ViewField(type, field).base == Base::kText && !type.structured;
      if (have > want || (have < want && !text)) {
        *error = "raw value of " + std::to_string(have) + " bytes, " + type.name + " needs " +
                 std::to_string(want);
        return false;
      }
      std::memset(raw->data() + pos, 0, want);
      if (have) std::memcpy(raw->data() + pos, value.parray->data, have);
      return true;
    }
    case VT_BSTR: {
      uint32_t n = SysStringLen(value.bstrVal);
      std::string text(n, '\0');
      for (uint32_t i = 0; i < n; ++i) {
        if (value.bstrVal[i] > 0xFF) {
          *error = "text holds a character outside ISO 8859-1";
          return false;
        }
        text[i] = static_cast<char>(value.bstrVal[i]);
      }
      return TextToRaw(type, field, text, raw, error);
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
      return ScalarToRaw(type, field, v, raw, error);
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
  return std::memcmp(a.data() + f.pos, b.data() + f.pos, f.size) != 0;
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
