#include "netsim/xif.h"

#include <algorithm>
#include <unordered_map>

#include "netsim/text.h"

namespace lonsim {
namespace {

struct Refusal {
  int line;
  std::string what;
};

// The decimal numbers of an interface file take 12 characters at most.
bool Number(std::string_view s, long long* v) {
  return ParseInteger(s, 12, v);
}

// A line of decimal numbers only.
bool Numbers(std::string_view line, std::vector<long long>* out) {
  out->clear();
  for (std::string_view w : Split(line)) {
    long long v;
    if (!Number(w, &v)) return false;
    out->push_back(v);
  }
  return true;
}

bool HexBytes(std::string_view s, std::vector<uint8_t>* out) {
  if (s.empty() || s.size() % 2) return false;
  for (size_t i = 0; i < s.size(); i += 2) {
    int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return true;
}

// Header number lines per version: the count of numbers on each of the five.
struct Version {
  const char* name;
  int line1a, line1b, line2;
};
const Version kVersions[] = {
    {"3.1", 22, 22, 12},   {"4.0", 22, 23, 12},   {"4.400", 42, 42, 13},
    {"4.401", 43, 43, 13}, {"4.501", 45, 45, 14},
};
const int kLines3to5[] = {10, 12, 15};

// A user type's field is named by its byte offset: f0, f1, ...
std::string FieldName(uint32_t pos) {
  std::string name(1, 'f');
  name.append(std::to_string(pos));
  return name;
}

const TypeDef* StandardByIndex(int index) {
  static const std::unordered_map<int, const TypeDef*> byIndex = [] {
    std::unordered_map<int, const TypeDef*> m;
    for (const TypeDef& t : StandardTypes()) m.emplace(t.index, &t);
    return m;
  }();
  auto it = byIndex.find(index);
  return it == byIndex.end() ? nullptr : it->second;
}

class Reader {
 public:
  Reader(std::string_view prefix, XifFile* file) : prefix_(prefix), file_(file) {}

  bool Run(std::string_view text, Refusal* r) {
    if (!SplitLines(text) || !Header() || !Body() || !Counts() || !Defaults()) {
      *r = refusal_;
      return false;
    }
    return true;
  }

 private:
  bool Fail(int line, std::string what) {
    refusal_ = {line, std::move(what)};
    return false;
  }
  bool FailHere(std::string what) { return Fail(static_cast<int>(at_) + 1, std::move(what)); }

  // Lines without their ends; one kind of line end per file, text characters only. One 0x1A at
  // the very end and a last line without its end are tolerated.
  bool SplitLines(std::string_view text) {
    if (!text.empty() && text.back() == '\x1A') text.remove_suffix(1);
    int crlf = -1;  // unknown yet
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
      int line = static_cast<int>(lines_.size()) + 1;
      if (i == text.size()) {
        if (i > start) lines_.push_back(text.substr(start));
        break;
      }
      unsigned char c = static_cast<unsigned char>(text[i]);
      if (c == '\n' || c == '\r') {
        bool pair = c == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
        if (c == '\r' && !pair) return Fail(line, "a carriage return without its line feed");
        if (crlf >= 0 && crlf != (pair ? 1 : 0)) return Fail(line, "line ends of two kinds");
        crlf = pair ? 1 : 0;
        lines_.push_back(text.substr(start, i - start));
        if (pair) ++i;
        start = i + 1;
        continue;
      }
      if ((c < 0x20 && c != '\t') || c >= 0x7F) {
        std::string what = "byte " + std::to_string(c) + " is not text: binary data";
        if (text.substr(start, i - start + 64).find("APPIMAGE") != std::string_view::npos) {
          what += " (an application image appended to the interface file)";
        }
        return Fail(line, what);
      }
    }
    return true;
  }

  bool AtEnd() const { return at_ >= lines_.size(); }
  std::string_view Cur() const { return lines_[at_]; }
  bool BlankOrComment(std::string_view l) const {
    std::string_view t = Trim(l);
    return t.empty() || t[0] == '#';
  }

  bool Header() {
    if (lines_.empty()) return Fail(1, "empty file: not a device interface file");
    std::string_view first = TrimEnd(lines_[0]);
    size_t v = first.rfind("XIF Version ");
    if (first.substr(0, 6) != "File: " || v == std::string_view::npos) {
      return Fail(1,
                  "not a device interface file (its first line is not 'File: ... XIF Version "
                  "M.m')");
    }
    std::string versionName(first.substr(v + 12));  // "4.501"
    const Version* version = nullptr;
    for (const Version& k : kVersions) {
      if (versionName == k.name) version = &k;
    }
    if (!version) return Fail(1, "XIF version '" + versionName + "' is not one this reader knows");
    // The free lines of the comment header end at the first blank line.
    at_ = 1;
    while (!AtEnd() && !Trim(Cur()).empty()) ++at_;
    while (!AtEnd() && BlankOrComment(Cur())) ++at_;
    if (AtEnd()) return FailHere("the file ends before its program ID");
    std::string_view pid = Trim(Cur());
    std::string hex;
    bool ok = pid.size() == 23;
    for (size_t i = 0; ok && i < pid.size(); ++i) {
      if (i % 3 == 2) {
        ok = pid[i] == ':';
      } else {
        ok = HexDigit(pid[i]) >= 0;
        hex += pid[i];
      }
    }
    if (!ok) return FailHere("the program ID is not 8 hex bytes separated by ':'");
    file_->programId = UpperHex(hex);
    ++at_;
    const int counts[5] = {version->line1a, version->line2, kLines3to5[0], kLines3to5[1],
                           kLines3to5[2]};
    std::vector<long long> n;
    for (int k = 0; k < 5; ++k, ++at_) {
      if (AtEnd()) return FailHere("the file ends inside the header");
      if (!Numbers(Cur(), &n))
        return FailHere("header line " + std::to_string(k + 1) +
                        " holds something other than numbers");
      int want = counts[k];
      bool fits = static_cast<int>(n.size()) == want ||
                  (k == 0 && static_cast<int>(n.size()) == version->line1b);
      if (!fits) {
        return FailHere(
            "header line " + std::to_string(k + 1) + " has " + std::to_string(n.size()) +
            " numbers; version " + versionName + " has " + std::to_string(want) +
            (k == 0 && version->line1b != want ? " or " + std::to_string(version->line1b)
                                               : std::string()));
      }
      if (k == 0) {
        headerLine_ = static_cast<int>(at_) + 1;
        nvCount_ = n[3];
        tagCount_ = n[4];
      }
    }
    if (AtEnd() || Trim(Cur()) != "*") return FailHere("expected the line '*' after the header");
    ++at_;
    std::string sd;
    int sdLine = static_cast<int>(at_) + 1;
    if (!String(&sd)) return false;
    return Blocks(sd, sdLine);
  }

  // A string: lines starting with '"', joined; or '*' for none. Text after the quote stays as it
  // is, trailing blanks included; \xHH escapes become their byte.
  bool String(std::string* out) {
    if (AtEnd()) return FailHere("the file ends where a string belongs");
    if (TrimEnd(Cur()) == "*") {
      ++at_;
      return true;
    }
    if (Cur().empty() || Cur()[0] != '"') return FailHere("a string without its opening quote");
    std::string raw;
    while (!AtEnd() && !Cur().empty() && Cur()[0] == '"') {
      raw += Cur().substr(1);
      ++at_;
    }
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '\\' && i + 3 < raw.size() && raw[i + 1] == 'x' && HexDigit(raw[i + 2]) >= 0 &&
          HexDigit(raw[i + 3]) >= 0) {
        out->push_back(static_cast<char>(HexDigit(raw[i + 2]) * 16 + HexDigit(raw[i + 3])));
        i += 3;
      } else {
        out->push_back(raw[i]);
      }
    }
    return true;
  }

  // &M.m@<list>[;text]: the functional blocks. Other strings declare none.
  bool Blocks(const std::string& sd, int line) {
    if (sd.empty() || sd[0] != '&') return true;
    size_t at = sd.find('@');
    if (at == std::string::npos) return true;
    std::string list = sd.substr(
        at + 1, sd.find(';') == std::string::npos ? std::string::npos : sd.find(';') - at - 1);
    size_t start = 0;
    while (start <= list.size()) {
      size_t comma = list.find(',', start);
      std::string entry = list.substr(start, comma == std::string::npos ? comma : comma - start);
      size_t i = 0;
      while (i < entry.size() && entry[i] >= '0' && entry[i] <= '9') ++i;
      if (i == 0 || i > 6) {
        return Fail(line, "block entry '" + entry + "' does not start with its profile number");
      }
      XifBlock b;
      b.profile = std::stoi(entry.substr(0, i));
      int count = 1;
      if (i < entry.size() && entry[i] == '[') {
        size_t j = ++i;
        while (i < entry.size() && entry[i] >= '0' && entry[i] <= '9') ++i;
        if (i == j || i - j > 4)
          return Fail(line, "block entry '" + entry + "': '[' needs a count");
        count = std::stoi(entry.substr(j, i - j));
      }
      b.name = entry.substr(i);
      for (int k = 0; k < count; ++k) file_->blocks.push_back(b);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    return true;
  }

  bool Body() {
    bool nvval = false;
    while (!AtEnd() && !nvval) {
      std::string_view l = Cur();
      if (BlankOrComment(l)) {
        ++at_;
        continue;
      }
      std::vector<std::string_view> w = Split(l);
      if (w[0] == "TAG") {
        if (!Tag(w)) return false;
      } else if (w[0] == "VAR") {
        if (!Var(w)) return false;
      } else if (w[0] == "FILE") {
        if (!FileSection(w)) return false;
      } else if (w[0] == "NVVAL" && w.size() == 1) {
        nvvalLine_ = static_cast<int>(at_) + 1;
        ++at_;
        nvval = true;
      } else {
        return FailHere("unexpected line '" + std::string(Trim(l).substr(0, 40)) +
                        "' (a TAG, VAR, FILE or NVVAL section starts here)");
      }
    }
    if (nvval) return ByteLines(&nvval_, /*toSection=*/false);
    return true;
  }

  // name index n n n
  bool BlockLine(const std::vector<std::string_view>& w, int expected, long long* array) {
    long long v[4];
    bool ok = w.size() == 6;
    for (int i = 0; ok && i < 4; ++i) ok = Number(w[2 + i], &v[i]) && v[i] >= 0;
    if (!ok)
      return FailHere(std::string(w[0]) + " line is not '" + std::string(w[0]) +
                      " name index n n n'");
    if (v[0] != expected) {
      return FailHere(std::string(w[0]) + " " + std::string(w[1]) + " has index " +
                      std::to_string(v[0]) + "; expected " + std::to_string(expected));
    }
    *array = v[3];
    return true;
  }

  bool Flags(std::vector<long long>* f) {
    if (AtEnd() || !Numbers(Cur(), f) || f->size() != 13) {
      return FailHere("the flags line does not hold 13 numbers");
    }
    for (size_t i = 0; i < 13; ++i) {
      long long v = (*f)[i];
      bool ok = i == 2 ? v == 63 : i == 4 ? (v >= 0 && v <= 2) : (v == 0 || v == 1);
      if (!ok) {
        return FailHere("flag " + std::to_string(i + 1) + " is " + std::to_string(v) +
                        (i == 2   ? ", not 63"
                         : i == 4 ? ", not 0 to 2"
                                  : ", not 0 or 1"));
      }
    }
    ++at_;
    return true;
  }

  bool Tag(const std::vector<std::string_view>& w) {
    long long array;
    if (!BlockLine(w, tags_, &array)) return false;
    ++at_;
    std::vector<long long> f;
    if (!Flags(&f)) return false;
    ++tags_;
    return true;
  }

  struct Element {
    long long code, bitOffset, width, sign, dim;
  };

  bool Var(const std::vector<std::string_view>& w) {
    XifNv nv;
    nv.line = static_cast<int>(at_) + 1;
    long long array;
    if (!BlockLine(w, static_cast<int>(file_->nvs.size()), &array)) return false;
    if (array > 4096) return FailHere("array count " + std::to_string(array) + " is too large");
    nv.name = std::string(w[1]);
    nv.arrayCount = static_cast<int>(array);
    nv.index = file_->nvs.empty()
                   ? 0
                   : file_->nvs.back().index + std::max(1, file_->nvs.back().arrayCount);
    ++at_;
    std::vector<long long> f;
    if (!Flags(&f)) return false;
    nv.output = f[3] == 1;
    nv.config = f[12] == 1;
    int sdLine = static_cast<int>(at_) + 1;
    std::string sd;
    if (!String(&sd)) return false;
    if (!NvSd(sd, sdLine, &nv)) return false;
    // <index> * <count>
    if (AtEnd()) return FailHere("the file ends before the type line of " + nv.name);
    std::vector<std::string_view> t = Split(Cur());
    long long index, count;
    if (t.size() != 3 || t[1] != "*" || !Number(t[0], &index) || !Number(t[2], &count) ||
        index < 0 || index > 65535 || count < 1 || count > 4096) {
      return FailHere("the type line of " + nv.name + " is not '<type index> * <element count>'");
    }
    ++at_;
    std::vector<Element> elements;
    std::vector<long long> n;
    for (long long i = 0; i < count; ++i, ++at_) {
      if (AtEnd() || !Numbers(Cur(), &n) || n.size() != 5) {
        return FailHere("element line " + std::to_string(i + 1) + " of " + nv.name +
                        " is not five numbers");
      }
      Element e{n[0], n[1], n[2], n[3], n[4]};
      if (e.code < 0 || e.code > 4)
        return FailHere("unknown element code " + std::to_string(e.code));
      if (e.code == 3 && (e.width < 1 || e.bitOffset < 0 || e.bitOffset + e.width > 8)) {
        return FailHere("a bit field of " + std::to_string(e.width) + " bits at bit " +
                        std::to_string(e.bitOffset) + " goes past its byte");
      }
      if (e.dim < 0 || e.dim > 4096 || (e.code == 4 && (e.width < 1 || e.width > 4096))) {
        return FailHere("element line " + std::to_string(i + 1) + " of " + nv.name +
                        " gives an impossible length");
      }
      elements.push_back(e);
    }
    if (!Type(elements, static_cast<int>(index), &nv)) return false;
    file_->nvs.push_back(std::move(nv));
    return true;
  }

  // @fb|m or @fb#m with an optional '?' and ';text': a block member. '&...': a property.
  bool NvSd(const std::string& sd, int line, XifNv* nv) {
    if (sd.empty()) return true;
    if (sd[0] == '&') {
      if (sd.size() < 3 || sd[1] < '0' || sd[1] > '2' || sd[2] != ',') {
        return Fail(line, "the property string of " + nv->name + " is not '&<0-2>,...'");
      }
      return true;
    }
    if (sd[0] != '@') return true;
    std::string form =
        sd.substr(1, sd.find(';') == std::string::npos ? std::string::npos : sd.find(';') - 1);
    if (!form.empty() && form.back() == '?') form.pop_back();
    size_t bar = form.find_first_of("|#");
    long long fb, member;
    if (bar == std::string::npos || !Number(form.substr(0, bar), &fb) ||
        !Number(form.substr(bar + 1), &member) || fb < 0 || member < 0) {
      return Fail(line, "the string of " + nv->name + " is not '@block|member' or '@block#member'");
    }
    if (fb >= static_cast<long long>(file_->blocks.size())) {
      return Fail(line, nv->name + " belongs to block " + std::to_string(fb) +
                            "; the node declares " + std::to_string(file_->blocks.size()) +
                            " blocks");
    }
    nv->block = static_cast<int>(fb);
    return true;
  }

  // The type: the standard one of the index the file gives when the element lines give its size,
  // else a user type of one field per element line.
  bool Type(const std::vector<Element>& elements, int typeIndex, XifNv* nv) {
    auto td = std::make_unique<TypeDef>();
    td->name = "UNVT_" + std::string(prefix_) + "_" + nv->name;
    td->structured = true;
    uint32_t pos = 0;
    bool bitOpen = false;
    int bitEnd = 0;
    for (const Element& e : elements) {
      if (e.code == 3) {
        if (bitOpen && e.bitOffset < bitEnd) ++pos;
        bitOpen = true;
        bitEnd = static_cast<int>(e.bitOffset + e.width);
        FieldDef f;
        f.name = FieldName(pos) + "b" + std::to_string(e.bitOffset);
        f.base = e.sign ? Base::kSigned8 : Base::kUnsigned8;
        f.pos = pos;
        f.size = 1;
        f.bitOffset = static_cast<uint8_t>(e.bitOffset);
        f.bits = static_cast<uint8_t>(e.width);
        td->fields.push_back(f);
        continue;
      }
      if (bitOpen) ++pos;
      bitOpen = false;
      uint32_t n = static_cast<uint32_t>(std::max<long long>(1, e.dim));
      std::string name = FieldName(pos);
      if (e.code == 0 && n > 1) {
        FieldDef f;
        f.name = name;
        f.base = Base::kText;
        f.pos = pos;
        f.size = n;
        td->fields.push_back(f);
        pos += n;
        continue;
      }
      Base base = e.code == 2 ? (e.sign ? Base::kSigned16 : Base::kUnsigned16)
                              : (e.code == 1 && e.sign ? Base::kSigned8 : Base::kUnsigned8);
      uint32_t size = e.code == 2 ? 2 : 1;
      if (e.code == 4) n *= static_cast<uint32_t>(e.width);
      for (uint32_t i = 0; i < n; ++i) {
        FieldDef f;
        f.name = n > 1 ? name + "[" + std::to_string(i) + "]" : name;
        f.base = base;
        f.pos = pos;
        f.size = size;
        td->fields.push_back(f);
        pos += size;
      }
    }
    if (bitOpen) ++pos;
    td->length = pos;
    if (const TypeDef* standard = typeIndex ? StandardByIndex(typeIndex) : nullptr) {
      if (standard->length != pos) {
        return Fail(nv->line, nv->name + ": its element lines give " + std::to_string(pos) +
                                  " bytes, " + standard->name + " has " +
                                  std::to_string(standard->length));
      }
      nv->type = standard;
      return true;
    }
    if (td->fields.size() > 255) {
      return Fail(nv->line, nv->name + ": a user type of " + std::to_string(td->fields.size()) +
                                " fields; an NV field address reaches 255");
    }
    // One plain number is a scalar type; a text keeps its field, which holds every byte (a whole
    // NV's text would keep one for its terminating NUL).
    const FieldDef& only = td->fields[0];
    if (td->fields.size() == 1 && only.bits == 0 && only.base != Base::kText &&
        only.name.find('[') == std::string::npos) {
      td->structured = false;
      td->fields[0].name.clear();
    }
    nv->type = td.get();
    file_->types.push_back(std::move(td));
    return true;
  }

  // A FILE section: its header, then string lines (template) or byte lines (value files).
  bool FileSection(const std::vector<std::string_view>& w) {
    long long index, kind;
    if (w.size() != 4 || !Number(w[2], &index) || !Number(w[3], &kind)) {
      return FailHere("a FILE line is not 'FILE <name> <index> <kind>'");
    }
    if (w[1] != "template" && w[1] != "value" && w[1] != "readOnly") {
      return FailHere("FILE section '" + std::string(w[1]) +
                      "' is none of template, value, readOnly");
    }
    if (kind != 1 && kind != 2)
      return FailHere("FILE kind " + std::to_string(kind) + " is not 1 or 2");
    ++at_;
    if (w[1] == "template") {
      while (!AtEnd() && !Cur().empty() && Cur()[0] == '"') ++at_;
      return true;
    }
    std::vector<uint8_t> bytes;
    return ByteLines(&bytes, /*toSection=*/true);
  }

  // Byte notations: \xHH tokens, 0x with an even number of digits, bare two-digit hex after a
  // 0x token on its line; commas and blanks between; '#' comment lines. `toSection`: the lines
  // end at the next section; otherwise at the end of the file.
  bool ByteLines(std::vector<uint8_t>* out, bool toSection) {
    for (; !AtEnd(); ++at_) {
      std::string_view l = Trim(Cur());
      if (l.empty() || l[0] == '#') continue;
      if (toSection && (l.substr(0, 5) == "FILE " || l == "NVVAL" || l.substr(0, 4) == "VAR " ||
                        l.substr(0, 4) == "TAG ")) {
        return true;
      }
      bool sawHex = false;
      size_t i = 0;
      while (i < l.size()) {
        while (i < l.size() && (IsBlank(l[i]) || l[i] == ',')) ++i;
        size_t start = i;
        while (i < l.size() && !IsBlank(l[i]) && l[i] != ',') ++i;
        std::string_view tok = l.substr(start, i - start);
        if (tok.empty()) continue;
        bool ok = true;
        if (tok[0] == '\\') {
          while (ok && !tok.empty()) {
            ok = tok.size() >= 4 && tok[1] == 'x' && HexBytes(tok.substr(2, 2), out);
            tok.remove_prefix(ok ? 4 : 0);
          }
        } else if (tok.size() > 2 && tok[0] == '0' && (tok[1] == 'x' || tok[1] == 'X')) {
          ok = HexBytes(tok.substr(2), out);
          sawHex = true;
        } else {
          ok = sawHex && tok.size() == 2 && HexBytes(tok, out);
        }
        if (!ok) {
          std::string what(1, '\'');
          what.append(l.substr(start, 20)).append("' is no byte value (\\xHH, 0xHH..)");
          return FailHere(what);
        }
      }
    }
    return true;
  }

  bool Counts() {
    if (nvCount_ != static_cast<long long>(file_->nvs.size())) {
      return Fail(headerLine_, "the header counts " + std::to_string(nvCount_) +
                                   " network variables; the file has " +
                                   std::to_string(file_->nvs.size()));
    }
    if (tagCount_ != tags_) {
      return Fail(headerLine_, "the header counts " + std::to_string(tagCount_) +
                                   " message tags; the file has " + std::to_string(tags_));
    }
    return true;
  }

  // NVVAL: the defaults of the configuration NVs in index order; other NVs start at zero.
  bool Defaults() {
    size_t need = 0;
    for (const XifNv& nv : file_->nvs) {
      if (nv.config) need += nv.type->length * static_cast<size_t>(std::max(1, nv.arrayCount));
    }
    if (!nvvalLine_) need = 0;
    if (nvval_.size() != need) {
      return Fail(nvvalLine_, "NVVAL holds " + std::to_string(nvval_.size()) +
                                  " bytes; the configuration NVs take " + std::to_string(need));
    }
    size_t at = 0;
    for (XifNv& nv : file_->nvs) {
      size_t n = nv.type->length * static_cast<size_t>(std::max(1, nv.arrayCount));
      if (nv.config && nvvalLine_) {
        nv.initial.assign(nvval_.begin() + static_cast<long>(at),
                          nvval_.begin() + static_cast<long>(at + n));
        at += n;
      } else {
        nv.initial.assign(n, 0);
      }
    }
    return true;
  }

  std::string_view prefix_;
  XifFile* file_;
  std::vector<std::string_view> lines_;
  size_t at_ = 0;
  Refusal refusal_;
  int headerLine_ = 0;
  long long nvCount_ = 0, tagCount_ = 0;
  int tags_ = 0;  // TAG sections read
  int nvvalLine_ = 0;
  std::vector<uint8_t> nvval_;
};

}  // namespace

bool ReadXif(std::string_view text, std::string_view typePrefix, XifFile* file, int* line,
             std::string* what) {
  Reader reader(typePrefix, file);
  Refusal r;
  if (reader.Run(text, &r)) return true;
  *line = r.line;
  *what = r.what;
  return false;
}

}  // namespace lonsim
