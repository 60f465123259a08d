#include "netsim/network.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unordered_map>

#include "netsim/standard_catalogue.h"
#include "netsim/text.h"
#include "netsim/xif.h"

namespace lonsim {
namespace {

struct Word {
  std::string_view text;
  size_t pos;  // in the line
};

std::vector<Word> Words(std::string_view line) {
  std::vector<Word> words;
  for (std::string_view s : Split(line)) {
    words.push_back({s, static_cast<size_t>(s.data() - line.data())});
  }
  return words;
}

bool ValidName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

// A name with every character that a name does not take turned into '_'.
std::string SafeName(std::string_view text) {
  std::string name(text);
  for (char& c : name) {
    if (!ValidName(std::string_view(&c, 1))) c = '_';
  }
  return name;
}

bool ValidPath(std::string_view path) {
  size_t start = 0;
  while (true) {
    size_t dot = path.find('.', start);
    if (!ValidName(path.substr(start, dot == std::string_view::npos ? dot : dot - start))) {
      return false;
    }
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

bool IsHex(std::string_view s, size_t digits) {
  if (s.size() != digits) return false;
  for (char c : s) {
    if (HexDigit(c) < 0) return false;
  }
  return true;
}

// A line without its comment: from a '#' that begins a word outside double quotes to the end.
// A '#' inside a word or a quoted text is part of it.
std::string_view WithoutComment(std::string_view line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == '#' && !quoted && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
      return line.substr(0, i);
    }
  }
  return line;
}

const standard::ProfileRow* FindProfile(std::string_view name) {
  const standard::ProfileRow* end = standard::kProfiles + standard::kProfileCount;
  const standard::ProfileRow* p = std::lower_bound(
      standard::kProfiles, end, name, [](const standard::ProfileRow& r, std::string_view n) {
        return std::string_view(r.name) < n;
      });
  return p != end && name == p->name ? p : nullptr;
}

bool ParseInt(std::string_view s, long long lo, long long hi, long long* out) {
  long long v;
  if (!ParseInteger(s, 18, &v) || v < lo || v > hi) return false;
  *out = v;
  return true;
}

// The whole text of a file; false for one that cannot be opened or is a directory.
bool ReadTextFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  std::error_code ec;
  if (!in || std::filesystem::is_directory(path, ec)) return false;
  std::stringstream s;
  s << in.rdbuf();
  *text = s.str();
  return true;
}

class Parser {
 public:
  Parser(const std::string& source, Network* net) : source_(source), net_(net) {}

  bool Run(std::string_view text, std::string* error) {
    size_t start = 0;
    while (start <= text.size() && !failed_) {
      size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      std::string_view line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      ++lineNo_;
      Line(line);
      start = end + 1;
    }
    if (!failed_ && openType_) {
      lineNo_ = openTypeLine_;
      Fail("type " + openType_->name + " has no 'end'");
    }
    if (!failed_) ResolveFollows();
    if (failed_) *error = error_;
    return !failed_;
  }

 private:
  void Fail(const std::string& what) {
    if (failed_) return;
    failed_ = true;
    error_ = source_ + ":" + std::to_string(lineNo_) + ": " + what;
  }

  void Line(std::string_view line) {
    line = WithoutComment(line);
    std::vector<Word> w = Words(line);
    if (w.empty()) return;
    std::string_view key = w[0].text;
    if (openType_) {
      if (key == "field") return FieldLine(w);
      if (key == "end") {
        if (openType_->fields.empty()) return Fail("type " + openType_->name + " has no field");
        LayOut(openType_.get());
        net_->userTypes.push_back(std::move(openType_));
        return;
      }
      return Fail("'" + std::string(key) + "' inside a type; expected 'field' or 'end'");
    }
    if (key == "network") {
      std::string_view rest = w.size() > 1 ? TrimEnd(line.substr(w[1].pos)) : std::string_view();
      if (rest.empty()) return Fail("network needs a name");
      net_->rootText = std::string(rest);
      return;
    }
    if (key == "type") return TypeLine(w);
    if (key == "subsystem") return ObjectLine(w, kObjSubsystem);
    if (key == "device") return DeviceLine(line, w);
    if (key == "block") {
      if (w.size() > 2 && w[2].text == "profile") return ProfileBlockLine(line, w);
      return ObjectLine(w, kObjBlock);
    }
    if (key == "nv") return NvLine(line, w);
    if (key == "value") return ValueLine(line, w);
    Fail("unknown statement '" + std::string(key) + "'");
  }

  const TypeDef* FindType(std::string_view name) {
    if (const TypeDef* t = FindStandardType(name)) return t;
    for (const auto& t : net_->userTypes) {
      if (t->name == name) return t.get();
    }
    return nullptr;
  }

  // [scale S] [offset O] from word `i` on.
  bool Scaling(const std::vector<Word>& w, size_t i, FieldDef* f) {
    for (; i < w.size(); i += 2) {
      double v;
      if (i + 1 >= w.size() || !ParseNumber(w[i + 1].text, &v)) {
        Fail("'" + std::string(w[i].text) + "' needs a number");
        return false;
      }
      if (w[i].text == "scale" && v != 0) {
        f->scale = v;
      } else if (w[i].text == "offset") {
        f->offset = v;
      } else {
        Fail("unexpected '" + std::string(w[i].text) + "'");
        return false;
      }
    }
    if (f->base == Base::kFloat32 && (f->scale != 1 || f->offset != 0)) {
      Fail("float32 takes no scale or offset");
      return false;
    }
    return true;
  }

  void TypeLine(const std::vector<Word>& w) {
    if (w.size() < 3) return Fail("type needs a name and a kind (struct, scalar or text)");
    std::string_view name = w[1].text;
    if (!ValidName(name)) return Fail("bad type name '" + std::string(name) + "'");
    if (FindType(name)) return Fail("type " + std::string(name) + " already defined");
    auto t = std::make_unique<TypeDef>();
    t->name = std::string(name);
    if (w[2].text == "struct") {
      if (w.size() != 3) return Fail("unexpected words after 'struct'");
      t->structured = true;
      openType_ = std::move(t);
      openTypeLine_ = lineNo_;
      return;
    }
    FieldDef f;
    if (w[2].text == "scalar") {
      if (w.size() < 4 || !ParseBaseName(w[3].text, &f.base)) {
        return Fail(
            "scalar needs a base type (unsigned8, signed8, unsigned16, signed16, "
            "unsigned32, signed32, float32)");
      }
      f.size = BaseSize(f.base);
      if (!Scaling(w, 4, &f)) return;
    } else if (w[2].text == "text") {
      long long chars;
      if (w.size() != 4 || !ParseInt(w[3].text, 1, 1024, &chars)) {
        return Fail("text needs its length in characters (1 to 1024)");
      }
      f.base = Base::kText;
      f.size = static_cast<uint32_t>(chars) + 1;
    } else {
      return Fail("type kind must be struct, scalar or text, not '" + std::string(w[2].text) + "'");
    }
    t->fields.push_back(f);
    LayOut(t.get());
    net_->userTypes.push_back(std::move(t));
  }

  void FieldLine(const std::vector<Word>& w) {
    if (w.size() < 3) return Fail("field needs a name and a base type");
    FieldDef f;
    if (!ParseBaseName(w[2].text, &f.base)) {
      return Fail("unknown base type '" + std::string(w[2].text) + "'");
    }
    f.size = BaseSize(f.base);
    if (!Scaling(w, 3, &f)) return;
    std::vector<std::string> names;
    std::string_view range = w[1].text;
    size_t dots = range.find("..");
    if (dots == std::string_view::npos) {
      names.emplace_back(range);
    } else {
      // prefixN..prefixM: one field per number.
      auto split = [](std::string_view s, std::string_view* prefix, long long* n) {
        size_t d = s.size();
        while (d > 0 && s[d - 1] >= '0' && s[d - 1] <= '9') --d;
        *prefix = s.substr(0, d);
        return d < s.size() && ParseInt(s.substr(d), 0, 100000, n);
      };
      std::string_view p1, p2;
      long long from, to;
      if (!split(range.substr(0, dots), &p1, &from) || !split(range.substr(dots + 2), &p2, &to) ||
          p1 != p2 || from > to || to - from >= 4096) {
        return Fail("bad field range '" + std::string(range) + "' (e.g. s0..s299)");
      }
      for (long long i = from; i <= to; ++i) names.push_back(std::string(p1) + std::to_string(i));
    }
    for (const std::string& n : names) {
      if (!ValidName(n)) return Fail("bad field name '" + n + "'");
      for (const FieldDef& g : openType_->fields) {
        if (g.name == n) return Fail("field " + n + " already defined");
      }
      f.name = n;
      openType_->fields.push_back(f);
    }
  }

  // Adds the object at `path` below its parent, which must be of one of `parents`' kinds.
  int AddObject(std::string_view path, int kind, std::initializer_list<int> parents,
                bool checkName = true) {
    if (checkName && !ValidPath(path)) {
      Fail("bad object name '" + std::string(path) + "'");
      return -1;
    }
    if (net_->Find(path) >= 0) {
      Fail("object " + std::string(path) + " already defined");
      return -1;
    }
    size_t dot = path.rfind('.');
    std::string_view parentPath = dot == std::string_view::npos ? "" : path.substr(0, dot);
    int parent = parentPath.empty() ? 0 : net_->Find(parentPath);
    bool ok = false;
    if (parent >= 0) {
      for (int k : parents) ok = ok || net_->objects[parent].kind == k;
    }
    if (!ok) {
      Fail("the parent of " + std::string(path) + " is " +
           (parent < 0 ? "not defined" : "of the wrong kind"));
      return -1;
    }
    Object o;
    o.path = std::string(path);
    o.text = std::string(dot == std::string_view::npos ? path : path.substr(dot + 1));
    o.kind = kind;
    o.parent = parent;
    int index = static_cast<int>(net_->objects.size());
    net_->objects.push_back(std::move(o));
    net_->objects[parent].children.push_back(index);
    net_->byPath.emplace(std::string(path), index);
    return index;
  }

  void ObjectLine(const std::vector<Word>& w, int kind) {
    if (w.size() != 2) return Fail(std::string(w[0].text) + " needs exactly one name");
    if (kind == kObjSubsystem) {
      AddObject(w[1].text, kind, {kObjNetwork, kObjSubsystem});
    } else {
      AddObject(w[1].text, kind, {kObjDevice});
    }
  }

  void DeviceLine(std::string_view line, const std::vector<Word>& w) {
    if (w.size() < 2) return Fail("device needs a name");
    Device d;
    d.programId = "0000000000000000";
    bool haveHandle = false;
    bool haveProgram = false;
    std::string xif;
    for (size_t i = 2; i < w.size(); ++i) {
      std::string_view k = w[i].text;
      if (k == "detached") {
        d.attached = false;
        continue;
      }
      if (k == "xif") {
        if (!XifArgument(line, w, &i, &xif)) return;
        continue;
      }
      if (k != "handle" && k != "neuron" && k != "program") {
        return Fail("unknown word '" + std::string(k) + "'");
      }
      if (i + 1 >= w.size()) return Fail("'" + std::string(k) + "' needs a value");
      std::string_view v = w[++i].text;
      if (k == "handle") {
        long long h;
        if (!ParseInt(v, 0, 31999, &h)) return Fail("handle must be 0 to 31999");
        for (const Device& o : net_->devices) {
          if (o.handle == h) return Fail("handle " + std::string(v) + " already used");
        }
        d.handle = static_cast<int32_t>(h);
        haveHandle = true;
      } else if (k == "neuron") {
        if (!IsHex(v, 12)) return Fail("neuron id must be 12 hex digits");
        d.neuronId = UpperHex(v);
      } else {
        if (!IsHex(v, 16)) return Fail("program id must be 16 hex digits");
        d.programId = UpperHex(v);
        haveProgram = true;
      }
    }
    if (!haveHandle) return Fail("device needs a handle");
    if (d.neuronId.empty()) return Fail("device needs a neuron id");
    for (const Device& o : net_->devices) {
      if (o.neuronId == d.neuronId) return Fail("neuron id " + d.neuronId + " already used");
    }
    d.object = AddObject(w[1].text, kObjDevice, {kObjNetwork, kObjSubsystem});
    if (d.object < 0) return;
    net_->objects[d.object].ref = static_cast<int>(net_->devices.size());
    net_->devices.push_back(d);
    if (!xif.empty()) XifDevice(static_cast<int>(net_->devices.size()) - 1, xif, haveProgram);
  }

  // xif FILE, or xif "FILE WITH BLANKS": moves *i past the name.
  bool XifArgument(std::string_view line, const std::vector<Word>& w, size_t* i, std::string* out) {
    if (*i + 1 >= w.size()) return Fail("'xif' needs the interface file's name"), false;
    size_t start = w[*i + 1].pos;
    if (line[start] != '"') {
      *out = std::string(w[++*i].text);
      return true;
    }
    size_t close = line.find('"', start + 1);
    if (close == std::string_view::npos || close == start + 1) {
      return Fail("the interface file's name lacks its closing quote"), false;
    }
    *out = std::string(line.substr(start + 1, close - start - 1));
    while (*i + 1 < w.size() && w[*i + 1].pos <= close) ++*i;
    return true;
  }

  // The interface file at `name`, read once per network however many devices use it.
  std::shared_ptr<XifFile> ReadInterface(const std::string& name, std::string* path) {
    std::filesystem::path p(name);
    if (p.is_relative()) p = std::filesystem::path(source_).parent_path() / p;
    *path = p.lexically_normal().string();
    auto it = xifs_.find(*path);
    if (it != xifs_.end()) return it->second;
    std::string text;
    if (!ReadTextFile(*path, &text)) {
      Fail("cannot read the interface file '" + *path + "'");
      return nullptr;
    }
    std::string prefix = SafeName(p.stem().string());
    auto file = std::make_shared<XifFile>();
    int line = 0;
    std::string what;
    if (!ReadXif(text, prefix, file.get(), &line, &what)) {
      Fail(*path + ":" + std::to_string(line) + ": " + what);
      return nullptr;
    }
    net_->held.push_back(file);
    xifs_.emplace(*path, file);
    return file;
  }

  // A device's program ID, blocks and NVs from its interface file.
  void XifDevice(int device, const std::string& name, bool haveProgram) {
    std::string path;
    std::shared_ptr<XifFile> x = ReadInterface(name, &path);
    if (!x) return;
    Device& d = net_->devices[static_cast<size_t>(device)];
    if (haveProgram && d.programId != x->programId) {
      return Fail("program " + d.programId + " disagrees with " + path + "'s " + x->programId);
    }
    d.programId = x->programId;
    std::string prefix = net_->objects[d.object].path + ".";
    // Blocks: by their names; an unnamed one, or one of several of a name, takes its index.
    std::vector<int> blocks;
    for (size_t b = 0; b < x->blocks.size(); ++b) {
      const XifBlock& block = x->blocks[b];
      std::string text = SafeName(block.name);
      size_t same = 0;
      for (const XifBlock& o : x->blocks) same += o.name == block.name;
      if (text.empty()) text = XifProfileName(block.profile);
      if (block.name.empty() || same > 1) text += std::to_string(b);
      int o = AddObject(prefix + text, kObjBlock, {kObjDevice});
      if (o < 0) return;
      net_->objects[o].profile = block.profile;
      blocks.push_back(o);
    }
    for (const XifNv& v : x->nvs) {
      if (!ValidName(v.name))
        return Fail(path + ":" + std::to_string(v.line) + ": bad NV name '" + v.name + "'");
      int elements = std::max(1, v.arrayCount);
      for (int k = 0; k < elements; ++k) {
        Nv nv;
        nv.output = v.output;
        nv.type = v.type;
        nv.index = v.index + k;
        nv.config = v.config;
        nv.fromXif = true;
        nv.block = v.block >= 0 ? blocks[static_cast<size_t>(v.block)] : -1;
        auto first = v.initial.begin() + static_cast<long>(k) * v.type->length;
        nv.raw.assign(first, first + v.type->length);
        std::string nvName = v.arrayCount ? v.name + "[" + std::to_string(k) + "]" : v.name;
        if (!AddNv(prefix + nvName, std::move(nv), /*checkName=*/false)) return;
      }
    }
  }

  // An unnamed block's name: its standard profile's ("spaceComfortController"), or
  // "profileN_" for a user profile.
  static std::string XifProfileName(int key) {
    if (const standard::ProfileRow* p = FindProfileByKey(key)) {
      std::string_view n = p->name;
      if (n.substr(0, 4) == "SFPT") n.remove_prefix(4);
      return std::string(n);
    }
    return "profile" + std::to_string(key) + "_";
  }

  // block PATH profile SFPTname [with MEMBER [as TYPE], ...]: the block, and below its device
  // the profile's mandatory members and the optional ones named, with their directions and types.
  void ProfileBlockLine(std::string_view line, const std::vector<Word>& w) {
    if (w.size() < 4) return Fail("profile needs a profile name (e.g. SFPTspaceComfortController)");
    const standard::ProfileRow* profile = FindProfile(w[3].text);
    if (!profile) return Fail("unknown profile '" + std::string(w[3].text) + "'");
    std::string pname = profile->name;
    std::vector<const TypeDef*> chosen(profile->memberCount, nullptr);
    std::vector<bool> named(profile->memberCount, false);
    // A second block of one profile on a device names its members apart: "prefix Ch2_" gives
    // Ch2_nviLampValue, "suffix _2" nviLampValue_2.
    std::string prefix, suffix;
    size_t at = 4;
    while (at < w.size() && (w[at].text == "prefix" || w[at].text == "suffix")) {
      std::string& part = w[at].text == "prefix" ? prefix : suffix;
      if (at + 1 >= w.size() || !ValidName(w[at + 1].text) || w[at + 1].text == "with") {
        return Fail("'" + std::string(w[at].text) +
                    "' needs letters, digits, '_' or '-' (e.g. suffix _2)");
      }
      if (!part.empty()) return Fail("'" + std::string(w[at].text) + "' given twice");
      part = std::string(w[at + 1].text);
      at += 2;
    }
    if (at < w.size()) {
      if (w[at].text != "with") return Fail("unknown word '" + std::string(w[at].text) + "'");
      if (w.size() == at + 1) return Fail("'with' needs members (e.g. with nviSetpoint, nvoHeat)");
      std::string_view rest = line.substr(w[at + 1].pos);
      while (true) {
        size_t comma = rest.find(',');
        std::vector<Word> item = Words(rest.substr(0, comma));
        if (item.empty()) return Fail("an empty member in the 'with' list");
        if (item.size() != 1 && (item.size() != 3 || item[1].text != "as")) {
          return Fail("a member is NAME or NAME as TYPE, not '" +
                      std::string(Trim(rest.substr(0, comma))) + "'");
        }
        size_t m = 0;
        while (m < profile->memberCount &&
               item[0].text != standard::kMembers[profile->firstMember + m].name) {
          ++m;
        }
        if (m == profile->memberCount) {
          return Fail("profile " + pname + " has no member '" + std::string(item[0].text) + "'");
        }
        if (named[m]) return Fail("member " + std::string(item[0].text) + " named twice");
        named[m] = true;
        if (item.size() == 3) {
          const standard::MemberRow& member = standard::kMembers[profile->firstMember + m];
          if (member.type >= 0) {
            return Fail("member " + std::string(member.name) + " of " + pname + " is " +
                        StandardTypes()[static_cast<size_t>(member.type)].name +
                        "; 'as' types only a member of any type (SNVT_xxx)");
          }
          chosen[m] = FindType(item[2].text);
          if (!chosen[m]) return Fail("unknown type '" + std::string(item[2].text) + "'");
        }
        if (comma == std::string_view::npos) break;
        rest = rest.substr(comma + 1);
      }
    }
    int block = AddObject(w[1].text, kObjBlock, {kObjDevice});
    if (block < 0) return;
    net_->objects[block].profile = profile->key;
    std::string device = net_->objects[net_->objects[block].parent].path;
    for (size_t m = 0; m < profile->memberCount; ++m) {
      const standard::MemberRow& member = standard::kMembers[profile->firstMember + m];
      if (!member.mandatory && !named[m]) continue;
      Nv nv;
      nv.output = member.output;
      nv.type = member.type >= 0 ? &StandardTypes()[static_cast<size_t>(member.type)] : chosen[m];
      if (!nv.type) {
        return Fail("member " + std::string(member.name) + " of " + pname +
                    " takes any type: give it with '" + member.name + " as SNVT_...'");
      }
      nv.raw.assign(nv.type->length, 0);
      nv.block = block;
      std::string name = prefix + member.name + suffix;
      if (net_->Find(device + "." + name) >= 0) {
        return Fail("member " + name + " of " + pname + ": the device already has an object " +
                    name + " (a second block of a profile names its members with 'prefix P' " +
                    "or 'suffix S')");
      }
      if (!AddNv(device + "." + name, std::move(nv))) return;
    }
  }

  // value PATH TEXT: a new value for an NV declared above (e.g. a profile's member).
  void ValueLine(std::string_view line, const std::vector<Word>& w) {
    if (w.size() < 3) return Fail("value needs an NV and a value");
    int o = net_->Find(w[1].text);
    if (o < 0 || net_->objects[o].kind != kObjNV) {
      return Fail("no NV " + std::string(w[1].text) + " declared above");
    }
    Nv& nv = net_->nvs[net_->objects[o].ref];
    std::string why;
    if (!TextToRaw(*nv.type, -1, ValueText(line.substr(w[2].pos), *nv.type), &nv.raw, &why)) {
      return Fail("bad value: " + why);
    }
  }

  // The rest of a line as a value: blanks at its end dropped; a whole text in quotes keeps its
  // blanks.
  static std::string_view ValueText(std::string_view value, const TypeDef& type) {
    value = Trim(value);
    if (!type.structured && value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }

  bool AddNv(std::string_view path, Nv nv, bool checkName = true) {
    nv.object = AddObject(path, kObjNV, {kObjDevice}, checkName);
    if (nv.object < 0) return false;
    nv.device = net_->objects[net_->objects[nv.object].parent].ref;
    Device& owner = net_->devices[static_cast<size_t>(nv.device)];
    if (nv.index < 0) nv.index = owner.nvs;
    owner.nvs = std::max(owner.nvs, nv.index + 1);
    net_->objects[nv.object].ref = static_cast<int>(net_->nvs.size());
    net_->nvs.push_back(std::move(nv));
    return true;
  }

  void NvLine(std::string_view line, const std::vector<Word>& w) {
    if (w.size() < 4) return Fail("nv needs a name, input or output, and a type");
    Nv nv;
    if (w[2].text == "input") {
      nv.output = false;
    } else if (w[2].text == "output") {
      nv.output = true;
    } else {
      return Fail("direction must be input or output, not '" + std::string(w[2].text) + "'");
    }
    nv.type = FindType(w[3].text);
    if (!nv.type) return Fail("unknown type '" + std::string(w[3].text) + "'");
    nv.raw.assign(nv.type->length, 0);
    std::string follows;
    bool haveValue = false;
    std::string_view value;
    for (size_t i = 4; i < w.size() && !haveValue; ++i) {
      std::string_view k = w[i].text;
      if (k == "poll") {
        nv.propagates = false;
      } else if (k == "follows") {
        if (i + 1 >= w.size()) return Fail("'follows' needs an input NV of the same device");
        follows = std::string(w[++i].text);
      } else if (k == "value") {
        haveValue = true;
        value =
            i + 1 < w.size() ? ValueText(line.substr(w[i + 1].pos), *nv.type) : std::string_view();
      } else {
        return Fail("unknown word '" + std::string(k) + "'");
      }
    }
    if (haveValue) {
      std::string why;
      if (!TextToRaw(*nv.type, -1, value, &nv.raw, &why)) return Fail("bad value: " + why);
    }
    int index = static_cast<int>(net_->nvs.size());
    if (!AddNv(w[1].text, std::move(nv))) return;
    if (!follows.empty()) follows_.push_back({index, follows, lineNo_});
  }

  void ResolveFollows() {
    for (const Pending& p : follows_) {
      lineNo_ = p.line;
      Nv& out = net_->nvs[p.nv];
      const Object& o = net_->objects[out.object];
      int src = net_->Find(net_->objects[o.parent].path + "." + p.input);
      if (src < 0 || net_->objects[src].kind != kObjNV) {
        return Fail("follows: no NV " + p.input + " on the same device");
      }
      const Nv& in = net_->nvs[net_->objects[src].ref];
      if (!out.output || in.output || in.type != out.type) {
        return Fail("follows: an output follows an input NV of the same type");
      }
      out.follows = net_->objects[src].ref;
    }
  }

  struct Pending {
    int nv;
    std::string input;
    int line;
  };

  std::string source_;
  Network* net_;
  int lineNo_ = 0;
  bool failed_ = false;
  std::string error_;
  std::unique_ptr<TypeDef> openType_;
  int openTypeLine_ = 0;
  std::vector<Pending> follows_;
  std::unordered_map<std::string, std::shared_ptr<XifFile>> xifs_;
};

}  // namespace

const standard::ProfileRow* FindProfileByKey(int key) {
  for (size_t p = 0; p < standard::kProfileCount; ++p) {
    if (standard::kProfiles[p].key == key) return &standard::kProfiles[p];
  }
  return nullptr;
}

std::unique_ptr<Network> ParseNetwork(std::string_view text, const std::string& source,
                                      std::string* error) {
  auto net = std::make_unique<Network>();
  Object root;
  root.kind = kObjNetwork;
  net->objects.push_back(root);
  Parser parser(source, net.get());
  if (!parser.Run(text, error)) return nullptr;
  return net;
}

std::string NetworkKey(const std::string& name) {
  if (name == "Demo") return name;
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(name, ec);
  if (ec) return name;
  return p.lexically_normal().string();
}

std::unique_ptr<Network> LoadNetwork(const std::string& name, std::string* error) {
  if (name.empty()) {
    *error = "no network name";
    return nullptr;
  }
  std::string key = NetworkKey(name);
  std::unique_ptr<Network> net;
  if (key == "Demo") {
    net = ParseNetwork(DemoNetworkText(), "Demo", error);
    if (net) net->demo = true;
  } else {
    std::string text;
    if (!ReadTextFile(key, &text)) {
      *error = "cannot read network file '" + key + "' (unknown network)";
      return nullptr;
    }
    net = ParseNetwork(text, key, error);
  }
  if (!net) return nullptr;
  net->name = key;
  if (net->rootText.empty()) {
    net->rootText = key == "Demo" ? key : std::filesystem::path(key).stem().string();
  }
  net->objects[0].text = net->rootText;
  return net;
}

void MergeNetwork(Network* net, std::unique_ptr<Network> fresh) {
  for (auto& t : fresh->userTypes) net->userTypes.push_back(std::move(t));
  for (auto& h : fresh->held) net->held.push_back(std::move(h));
  std::vector<int> map(fresh->objects.size(), -1);
  map[0] = 0;
  for (size_t i = 1; i < fresh->objects.size(); ++i) {
    const Object& f = fresh->objects[i];
    int existing = net->Find(f.path);
    if (existing >= 0) {
      map[i] = existing;
      continue;
    }
    int parent = map[f.parent];
    if (parent < 0 || (f.kind == kObjNV && net->objects[parent].kind != kObjDevice)) continue;
    Object o = f;
    o.parent = parent;
    o.children.clear();
    int index = static_cast<int>(net->objects.size());
    if (f.kind == kObjDevice) {
      Device d = fresh->devices[f.ref];
      bool clash = false;
      for (const Device& e : net->devices) clash = clash || e.handle == d.handle;
      if (clash) continue;
      d.object = index;
      o.ref = static_cast<int>(net->devices.size());
      net->devices.push_back(d);
    } else if (f.kind == kObjNV) {
      Nv nv = fresh->nvs[f.ref];
      nv.object = index;
      nv.device = net->objects[parent].ref;
      nv.follows = -1;
      nv.block = nv.block >= 0 ? map[static_cast<size_t>(nv.block)] : -1;
      o.ref = static_cast<int>(net->nvs.size());
      net->nvs.push_back(std::move(nv));
    }
    map[i] = index;
    net->objects.push_back(std::move(o));
    net->objects[parent].children.push_back(index);
    net->byPath.emplace(f.path, index);
  }
}

const char* DemoNetworkText() {
  return R"(# The built-in demo network: a small office building.
network Demo
type UNVT_samples struct
  field s0..s299 unsigned8
end
type UNVT_message text 120

subsystem Building
subsystem Building.Floor1
subsystem Building.Floor2
subsystem Building.Plant

device Building.Floor1.Room101 handle 1 neuron 00A1B2C3D4E5 program 9000A70A0A040401
block Building.Floor1.Room101.Thermostat
block Building.Floor1.Room101.LampActuator
block Building.Floor1.Room101.OccupancySensor
nv Building.Floor1.Room101.nvoSpaceTemp output SNVT_temp_p value 21.5
nv Building.Floor1.Room101.nviSetpoint input SNVT_temp_p value 21
nv Building.Floor1.Room101.nvoLamp output SNVT_switch follows nviLamp value 0 0
nv Building.Floor1.Room101.nviLamp input SNVT_switch value 0 0
nv Building.Floor1.Room101.nvoOccupancy output SNVT_occupancy value OC_OCCUPIED
nv Building.Floor1.Room101.nvoDisplay output SNVT_str_asc follows nviDisplay value Welcome
nv Building.Floor1.Room101.nviDisplay input SNVT_str_asc value Welcome
nv Building.Floor1.Room101.nvoCount output SNVT_count value 0
nv Building.Floor1.Room101.nvoLux output SNVT_lux value 420
nv Building.Floor1.Room101.nciSetpoints input SNVT_temp_setpt value 26 28 30 21 19 16

device Building.Floor1.Room102 handle 2 neuron 00A1B2C3D4E6 program 9000A70A0A040401
block Building.Floor1.Room102.Thermostat
nv Building.Floor1.Room102.nvoSpaceTemp output SNVT_temp_p value 22.1
nv Building.Floor1.Room102.nviSetpoint input SNVT_temp_p value 21.5
nv Building.Floor1.Room102.nvoLamp output SNVT_switch follows nviLamp value 100 1
nv Building.Floor1.Room102.nviLamp input SNVT_switch value 100 1
nv Building.Floor1.Room102.nvoOccupancy output SNVT_occupancy value OC_UNOCCUPIED
nv Building.Floor1.Room102.nvoValvePos output SNVT_lev_percent value 35
nv Building.Floor1.Room102.nvoLux output SNVT_lux value 380

device Building.Floor1.LightSwitch handle 3 neuron 00A1B2C3D4E7 program 9000A70B01040402
block Building.Floor1.LightSwitch.Switch
nv Building.Floor1.LightSwitch.nvoSwitch output SNVT_switch value 0 0
nv Building.Floor1.LightSwitch.nvoLevel output SNVT_lev_cont value 0

device Building.Floor2.Room201 handle 4 neuron 00A1B2C3D4F1 program 9000A70A0A040401
block Building.Floor2.Room201.Thermostat
nv Building.Floor2.Room201.nvoSpaceTemp output SNVT_temp_p value 20.8
nv Building.Floor2.Room201.nviSetpoint input SNVT_temp_p value 21
nv Building.Floor2.Room201.nvoOccupancy output SNVT_occupancy value OC_OCCUPIED
nv Building.Floor2.Room201.nvoValvePos output SNVT_lev_percent value 60
nv Building.Floor2.Room201.nvoCO2 output SNVT_ppm value 540
nv Building.Floor2.Room201.nvoLux output SNVT_lux value 510

device Building.Floor2.Room202 handle 5 neuron 00A1B2C3D4F2 program 9000A70A0A040401
block Building.Floor2.Room202.Thermostat
nv Building.Floor2.Room202.nvoSpaceTemp output SNVT_temp_p value 23.4
nv Building.Floor2.Room202.nviSetpoint input SNVT_temp_p value 22
nv Building.Floor2.Room202.nvoLamp output SNVT_switch follows nviLamp value 0 0
nv Building.Floor2.Room202.nviLamp input SNVT_switch value 0 0
nv Building.Floor2.Room202.nvoHvacMode output SNVT_hvac_mode value HVAC_AUTO
nv Building.Floor2.Room202.nvoOccupancy output SNVT_occupancy value OC_STANDBY

device Building.Floor2.Meeting handle 6 neuron 00A1B2C3D4F3 program 9000A70A0C040403
block Building.Floor2.Meeting.AirQuality
nv Building.Floor2.Meeting.nvoSpaceTemp output SNVT_temp_p value 21.9
nv Building.Floor2.Meeting.nvoCO2 output SNVT_ppm value 720
nv Building.Floor2.Meeting.nvoOccupancy output SNVT_occupancy value OC_UNOCCUPIED
nv Building.Floor2.Meeting.nvoFanLevel output SNVT_lev_disc value ST_LOW

device Building.Plant.Boiler handle 10 neuron 00A1B2C3D501 program 9000A7200A040410
block Building.Plant.Boiler.BoilerControl
nv Building.Plant.Boiler.nvoFlowTemp output SNVT_temp value 68.5
nv Building.Plant.Boiler.nvoReturnTemp output SNVT_temp value 52
nv Building.Plant.Boiler.nviFlowSetpt input SNVT_temp value 70
nv Building.Plant.Boiler.nvoBurner output SNVT_switch value 100 1
nv Building.Plant.Boiler.nvoHvacMode output SNVT_hvac_mode value HVAC_HEAT
nv Building.Plant.Boiler.nvoRunHours output SNVT_count poll value 1234

device Building.Plant.Pump handle 11 neuron 00A1B2C3D502 program 9000A7210A040411
block Building.Plant.Pump.PumpControl
nv Building.Plant.Pump.nvoSpeed output SNVT_rpm value 1450
nv Building.Plant.Pump.nviSpeed input SNVT_lev_percent value 80
nv Building.Plant.Pump.nvoPressure output SNVT_press_p value 15000
nv Building.Plant.Pump.nvoRunState output SNVT_switch value 100 1

device Building.Plant.Meter handle 12 neuron 00A1B2C3D503 program 9000A7300A040412
block Building.Plant.Meter.EnergyMeter
nv Building.Plant.Meter.nvoPower output SNVT_power value 1520.5
nv Building.Plant.Meter.nvoEnergy output SNVT_elec_kwh value 48211
nv Building.Plant.Meter.nvoVoltage output SNVT_volt value 230.1
nv Building.Plant.Meter.nvoCurrent output SNVT_amp poll value 6.6
nv Building.Plant.Meter.nvoFlow output SNVT_flow value 12

device Building.Plant.Logger handle 13 neuron 00A1B2C3D504 program 9000A7400A040413
block Building.Plant.Logger.DataLogger
nv Building.Plant.Logger.nvoSamples output UNVT_samples
nv Building.Plant.Logger.nvoMessage output UNVT_message value Logger ready. Samples of the plant are taken every two seconds and kept in nvoSamples, three hundred of them.
nv Building.Plant.Logger.nvoUptime output SNVT_time_sec poll value 0
nv Building.Plant.Logger.nvoTotal output SNVT_count_f value 0
)";
}

}  // namespace lonsim
