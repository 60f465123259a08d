// The control API of the simulated network.
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "netsim/lonsim_control.h"
#include "netsim/sim.h"
#include "netsim/standard_catalogue.h"

namespace lonsim {
namespace {

using Lock = std::lock_guard<std::mutex>;

// The NV (field -1) or NV field at `path` of the current network.
bool FindNv(const std::string& path, Network** net, int* nv, int* field) {
  char delimiter = '.';
  *net = CurrentNetwork(&delimiter);
  if (!*net) return false;
  std::string converted;
  std::string_view dotted = path;
  if (delimiter != '.') {
    if (!ToDotted(path, delimiter, &converted)) converted.clear();
    dotted = converted;
  }
  if (!dotted.empty()) {
    int o = (*net)->Find(dotted);
    if (o >= 0 && (*net)->objects[o].kind == kObjNV) {
      *nv = (*net)->objects[o].ref;
      *field = -1;
      return true;
    }
    if (FindField(*net, dotted, nv, field)) return true;
  }
  SetError(path + " is not a network variable or field");
  return false;
}

int FindDevice(const std::string& path, Network** net) {
  char delimiter = '.';
  *net = CurrentNetwork(&delimiter);
  if (!*net) return -1;
  std::string dotted;
  if (ToDotted(path, delimiter, &dotted)) {
    int o = (*net)->Find(dotted);
    if (o >= 0 && (*net)->objects[o].kind == kObjDevice) return (*net)->objects[o].ref;
  }
  SetError(path + " is not an application device");
  return -1;
}

// Applies `change` to a copy of the NV's value and hands it to the network as the device's.
template <typename F>
bool Change(const std::string& path, F change) {
  Lock lock(S().mu);
  Network* net;
  int nv, field;
  if (!FindNv(path, &net, &nv, &field)) return false;
  thread_local std::vector<uint8_t> raw;  // reused: changes come by the million
  raw = net->nvs[nv].raw;
  std::string error;
  if (!change(*net->nvs[nv].type, field, &raw, &error)) {
    SetError(path + ": " + error);
    return false;
  }
  DeviceUpdate(net, nv, raw, false);
  return true;
}

}  // namespace

void UseManualClock() {
  Lock lock(S().mu);
  if (S().manual) return;
  S().base = NowLocked();
  S().manual = true;
}

void UseRealTimeClock() {
  Lock lock(S().mu);
  if (!S().manual) return;
  S().anchor = std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
                   .count();
  S().manual = false;
  S().tickerCv.notify_all();
}

void AdvanceClock(int64_t milliseconds) {
  if (milliseconds > 0) {
    Lock lock(S().mu);
    RunUntil(NowLocked() + milliseconds);
    if (!S().manual) S().base += milliseconds;
  }
  DrainAll();
}

int64_t Now() {
  Lock lock(S().mu);
  return NowLocked();
}

bool SetNVValue(const std::string& path, double engineeringValue) {
  return Change(path, [&](const TypeDef& t, int field, std::vector<uint8_t>* raw, std::string* e) {
    return EngineeringToRaw(t, field, engineeringValue, raw, e, Limits::kWire);
  });
}

bool SetNVText(const std::string& path, const std::string& text) {
  return Change(path, [&](const TypeDef& t, int field, std::vector<uint8_t>* raw, std::string* e) {
    return TextToRaw(t, field, text, raw, e, Limits::kWire);
  });
}

bool SetNVRaw(const std::string& path, const std::vector<uint8_t>& bytes) {
  return Change(path, [&](const TypeDef& t, int field, std::vector<uint8_t>* raw, std::string* e) {
    return SetFieldBytes(t, field, bytes.data(), static_cast<uint32_t>(bytes.size()), raw, e);
  });
}

bool GetNVRaw(const std::string& path, std::vector<uint8_t>* bytes) {
  Lock lock(S().mu);
  Network* net;
  int nv, field;
  if (!bytes || !FindNv(path, &net, &nv, &field)) return false;
  const Nv& v = net->nvs[nv];
  *bytes = FieldBytes(*v.type, field, v.raw);
  return true;
}

bool GetNVValue(const std::string& path, double* engineeringValue) {
  Lock lock(S().mu);
  Network* net;
  int nv, field;
  if (!engineeringValue || !FindNv(path, &net, &nv, &field)) return false;
  if (!RawToEngineering(*net->nvs[nv].type, field, net->nvs[nv].raw, engineeringValue)) {
    SetError(path + " holds text, not a number");
    return false;
  }
  return true;
}

bool PressServicePin(const std::string& devicePath) {
  Lock lock(S().mu);
  Network* net;
  int d = FindDevice(devicePath, &net);
  if (d < 0) return false;
  ServicePin(net, d);
  return true;
}

bool SetDeviceAttached(const std::string& devicePath, bool attached) {
  Lock lock(S().mu);
  Network* net;
  int d = FindDevice(devicePath, &net);
  if (d < 0) return false;
  SetAttached(net, d, attached);
  return true;
}

int32_t DeviceHandle(const std::string& devicePath) {
  Lock lock(S().mu);
  Network* net;
  int d = FindDevice(devicePath, &net);
  return d < 0 ? -1 : net->devices[d].handle;
}

void Drain() {
  DrainAll();
}

void FailNext(const std::string& operation, int result, int times) {
  Lock lock(S().counterMu);
  if (times <= 0) {
    S().failures.erase(operation);
    return;
  }
  S().failures[operation] = Failure{result, times};
}

void ClearFailures() {
  Lock lock(S().counterMu);
  S().failures.clear();
}

int CallCount(const std::string& operation) {
  Lock lock(S().counterMu);
  auto it = S().counters.find(operation);
  return it == S().counters.end() ? 0 : it->second.count;
}

std::vector<int64_t> LastArgs(const std::string& operation) {
  Lock lock(S().counterMu);
  auto it = S().counters.find(operation);
  return it == S().counters.end() ? std::vector<int64_t>() : it->second.last;
}

void ResetCounters() {
  Lock lock(S().counterMu);
  S().counters.clear();
}

void Reset() {
  {
    Lock lock(S().counterMu);
    S().counters.clear();
    S().failures.clear();
  }
  Lock lock(S().mu);
  S().cache.clear();
  S().base = NowLocked();  // the clock never runs backwards: open items keep their times
  S().manual = false;
  S().anchor = std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
                   .count();
  S().lastError.clear();
  S().recordFile = DefaultRecordFile();
  S().tickerCv.notify_all();
}

std::string LastError() {
  Lock lock(S().mu);
  return S().lastError;
}

namespace {

std::string ProfileName(int key) {
  if (key < 0) return "";
  if (const standard::ProfileRow* p = FindProfileByKey(key)) return p->name;
  return key >= 20000 ? "user profile" : "unknown profile";
}

// The fields of a structured NV: base type, scaling, limits and value each.
void ListFields(const std::string& path, const Nv& nv, std::vector<ObjectInfo>* objects) {
  const TypeDef& t = *nv.type;
  for (size_t i = 0; i < t.fields.size(); ++i) {
    const FieldDef& f = t.fields[i];
    ObjectInfo info;
    info.path = path + "." + f.name;
    info.kind = "field";
    info.type = BaseName(f.base);
    if (f.bits) info.type += ":" + std::to_string(f.bits);
    info.size = f.bits ? 0 : f.size;
    int decimals = 6;
    if (f.scale != 1 || f.offset != 0) {
      info.scaling = "x" + FormatNumber(f.scale, decimals);
      if (f.offset != 0) info.scaling += " +" + FormatNumber(f.offset, decimals);
    }
    if (f.limits & (kHasMin | kHasMax)) {
      info.limits = ((f.limits & kHasMin) ? FormatNumber(f.min, decimals) : "") + " to " +
                    ((f.limits & kHasMax) ? FormatNumber(f.max, decimals) : "");
    }
    if (f.limits & kHasInvalid) {
      info.limits += (info.limits.empty() ? "" : ", ") + std::string("invalid ") +
                     FormatNumber(f.invalid, decimals);
    }
    info.value = RawToText(t, static_cast<int>(i), nv.raw);
    objects->push_back(std::move(info));
  }
}

}  // namespace

bool ListObjects(const std::string& path, std::vector<ObjectInfo>* objects) {
  Lock lock(S().mu);
  char delimiter = '.';
  Network* net = CurrentNetwork(&delimiter);
  if (!net) return false;
  int top = 0;
  if (!path.empty()) {
    std::string dotted;
    top = ToDotted(path, delimiter, &dotted) ? net->Find(dotted) : -1;
    if (top < 0) return false;
  }
  std::vector<int> stack{top};
  while (!stack.empty()) {
    const Object& o = net->objects[stack.back()];
    stack.pop_back();
    for (auto it = o.children.rbegin(); it != o.children.rend(); ++it) stack.push_back(*it);
    ObjectInfo info;
    info.path = o.path;
    switch (o.kind) {
      case kObjNetwork:
        continue;
      case kObjSubsystem:
        info.kind = "subsystem";
        break;
      case kObjBlock:
        info.kind = "block";
        info.profile = o.profile;
        info.profileName = ProfileName(o.profile);
        break;
      case kObjDevice:
        info.kind = "device";
        info.value = net->devices[o.ref].attached ? "attached" : "detached";
        break;
      case kObjNV: {
        const Nv& nv = net->nvs[o.ref];
        info.kind = "nv";
        info.type = nv.type->name;
        info.direction = nv.output ? "out" : "in";
        info.value = RawToText(*nv.type, -1, nv.raw);
        info.index = nv.index;
        info.size = nv.type->length;
        info.config = nv.config;
        if (nv.block >= 0) info.block = net->objects[static_cast<size_t>(nv.block)].text;
        if (&o == &net->objects[static_cast<size_t>(top)] && nv.type->structured) {
          objects->push_back(std::move(info));
          ListFields(o.path, nv, objects);
          continue;
        }
        break;
      }
      default:
        info.kind = std::to_string(o.kind);
        break;
    }
    objects->push_back(std::move(info));
  }
  return true;
}

void ClearLastError() {
  Lock lock(S().mu);
  S().lastError.clear();
}

bool CheckNetwork(const std::string& name, std::string* error) {
  return LoadNetwork(name, error) != nullptr;
}

bool CheckNetwork(const std::string& name, std::string* error, NetworkCounts* counts) {
  std::unique_ptr<Network> net = LoadNetwork(name, error);
  if (!net) return false;
  counts->devices = static_cast<int>(net->devices.size());
  counts->nvs = static_cast<int>(net->nvs.size());
  counts->fromXif = 0;
  for (const Nv& nv : net->nvs) counts->fromXif += nv.fromXif;
  return true;
}

void SetNetworkRecordFile(const std::string& path) {
  Lock lock(S().mu);
  S().recordFile = path;
}

void SetDriverInstance(uint32_t instanceNumber) {
  std::error_code ec;
  std::string where = std::filesystem::current_path(ec).string();
  // FNV-1a of the working directory: the instances of one number in two folders are two.
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : where) hash = (hash ^ c) * 1099511628211ull;
  char name[64];
  std::snprintf(name, sizeof name, "lonsim-%02u-%016llx.network",
                static_cast<unsigned>(instanceNumber), static_cast<unsigned long long>(hash));
  std::string file = UserStateFile(name);
  Lock lock(S().mu);
  S().recordFile = file;
}

}  // namespace lonsim
