#include "netsim/sim.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string_view>

#include "platform/user_files.h"

namespace lonsim {
namespace {

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The producer of changes and the delivery thread each hold a delivery's lock for a few
// instructions. Blocking at once on a held lock costs both sides a system call (sleep and
// wake-up), dear on a virtual machine: try for a moment first.
void CpuPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

void LockBriefly(std::mutex& mu) {
  for (int i = 0; i < 256; ++i) {
    if (mu.try_lock()) return;
    CpuPause();
  }
  mu.lock();
}

void Relock(std::unique_lock<std::mutex>& lock) {
  std::mutex* mu = lock.mutex();
  LockBriefly(*mu);
  lock = std::unique_lock<std::mutex>(*mu, std::adopt_lock);
}

bool SameNetwork(const CLns::Impl* impl, const Network* net) {
  return impl->net.get() == net;
}

CNVItem* ItemOf(CLns::Impl* impl, int nvIndex) {
  if (nvIndex < 0 || static_cast<size_t>(nvIndex) >= impl->byNv.size()) return nullptr;
  return impl->byNv[nvIndex];
}

std::string NameWith(const std::string& path, char delimiter) {
  std::string name = path;
  if (delimiter != '.') std::replace(name.begin(), name.end(), '.', delimiter);
  return name;
}

void Enqueue(Delivery* d, Event&& e) {
  LockBriefly(d->mu);
  std::lock_guard<std::mutex> lock(d->mu, std::adopt_lock);
  if (d->stop || !d->notify.load()) {
    VariantClear(&e.value);
    return;
  }
  d->queue.push_back(std::move(e));
  d->hasWork.store(true, std::memory_order_relaxed);
  ++d->raised;
  if (d->waiting) d->cv.notify_one();
}

void DeviceEvent(Network* net, int deviceIndex, Event::Kind kind, bool attached) {
  const Device& dev = net->devices[deviceIndex];
  const Object& obj = net->objects[dev.object];
  for (CLns::Impl* impl : S().open) {
    if (!SameNetwork(impl, net)) continue;
    Delivery* d = impl->delivery.get();
    {
      std::lock_guard<std::mutex> lock(d->mu);
      if (d->listeners.empty()) continue;
    }
    Event e;
    e.kind = kind;
    e.device = std::make_unique<DeviceInfo>();
    e.device->subsystem = obj.parent;
    e.device->handle = dev.handle;
    e.device->isAttached = attached ? 1 : 0;
    e.device->neuronId = dev.neuronId;
    e.device->programId = dev.programId;
    e.device->name = NameWith(obj.path, impl->delimiter);
    Enqueue(d, std::move(e));
  }
}

// The library sees a new device value for the item: reports it when the device sent it
// (`sent`) or a binding makes it, and each listened field whose value changed.
void Observe(CNVItem* item, const std::vector<uint8_t>& raw, bool sent) {
  Network* net = item->owner->net.get();
  const TypeDef& type = *net->nvs[item->nv].type;
  bool nvSeen = sent || item->bound != 0;
  if (nvSeen && item->monitor && !item->gates.empty()) Report(item, -1, raw);
  for (size_t i = 0; i < item->fields.size(); ++i) {
    FieldReg& f = item->fields[i];
    if (!(nvSeen || f.bound) || !FieldDiffers(type, static_cast<int>(i), item->seen, raw)) {
      continue;
    }
    if (f.monitor && !f.gates.empty()) Report(item, static_cast<int>(i), raw);
    if (!nvSeen) {
      const FieldDef& fd = type.fields[i];
      std::copy_n(raw.begin() + fd.pos, fd.size, item->seen.begin() + fd.pos);
    }
  }
  if (nvSeen) item->seen = raw;
}

// A poll of the whole item or of one field: the device answers when attached.
void Poll(CNVItem* item, int field) {
  Network* net = item->owner->net.get();
  const Nv& nv = net->nvs[item->nv];
  if (!net->devices[nv.device].attached) return;
  const TypeDef& type = *nv.type;
  if (field < 0) {
    for (size_t i = 0; i < item->fields.size(); ++i) {
      FieldReg& f = item->fields[i];
      if (f.monitor && !f.gates.empty() &&
          FieldDiffers(type, static_cast<int>(i), item->seen, nv.raw)) {
        Report(item, static_cast<int>(i), nv.raw);
      }
    }
    if (item->seen != nv.raw) {
      if (item->monitor && !item->gates.empty()) Report(item, -1, nv.raw);
      item->seen = nv.raw;
    }
    return;
  }
  if (!FieldDiffers(type, field, item->seen, nv.raw)) return;
  FieldReg& f = item->fields[field];
  if (f.monitor && !f.gates.empty()) Report(item, field, nv.raw);
  const FieldDef& fd = type.fields[field];
  std::copy_n(nv.raw.begin() + fd.pos, fd.size, item->seen.begin() + fd.pos);
}

int64_t NextDue() {
  int64_t next = INT64_MAX;
  std::vector<Network*> nets;
  for (CLns::Impl* impl : S().open) {
    Network* net = impl->net.get();
    if (net->demo && std::find(nets.begin(), nets.end(), net) == nets.end()) {
      nets.push_back(net);
      next = std::min(next, net->nextBehaviour);
    }
    for (const auto& item : impl->items) {
      if (item->pollRate > 0) next = std::min(next, item->nextPoll);
      for (const FieldReg& f : item->fields) {
        if (f.pollRate > 0) next = std::min(next, f.nextPoll);
      }
    }
  }
  return next;
}

void RunDue(int64_t t) {
  std::vector<Network*> nets;
  // Copied: a step may not open or close a CLns, but keep the walk independent of the list.
  std::vector<CLns::Impl*> open = S().open;
  for (CLns::Impl* impl : open) {
    Network* net = impl->net.get();
    if (net->demo && net->nextBehaviour <= t &&
        std::find(nets.begin(), nets.end(), net) == nets.end()) {
      nets.push_back(net);
      net->nextBehaviour = (t / 1000 + 1) * 1000;
      DemoStep(net, t / 1000);
    }
  }
  for (CLns::Impl* impl : open) {
    for (const auto& item : impl->items) {
      if (item->pollRate > 0 && item->nextPoll <= t) {
        item->nextPoll = t + item->pollRate;
        Poll(item.get(), -1);
      }
      for (size_t i = 0; i < item->fields.size(); ++i) {
        FieldReg& f = item->fields[i];
        if (f.pollRate > 0 && f.nextPoll <= t) {
          f.nextPoll = t + f.pollRate;
          Poll(item.get(), static_cast<int>(i));
        }
      }
    }
  }
}

void TickerLoop(uint64_t generation) {
  std::unique_lock<std::mutex> lock(S().mu);
  while (S().tickerGen == generation) {
    int64_t wait = 50;
    if (!S().manual) {
      int64_t now = NowLocked();
      RunUntil(now);
      wait = std::clamp<int64_t>(NextDue() - now, 1, 50);
    }
    S().tickerCv.wait_for(lock, std::chrono::milliseconds(wait));
  }
}

void Deliver(Event& e, const std::vector<ILnsListener*>& listeners) {
  for (size_t i = 0; i < listeners.size(); ++i) {
    ILnsListener* l = listeners[i];
    switch (e.kind) {
      case Event::kUpdate: {
        if (i + 1 == listeners.size()) {
          l->OnNetworkVariableUpdate(e.gateId, &e.value, e.fieldIndex);
        } else {
          VARIANT copy;
          VariantInit(&copy);
          VariantCopy(&copy, &e.value);
          l->OnNetworkVariableUpdate(e.gateId, &copy, e.fieldIndex);
          VariantClear(&copy);
        }
        break;
      }
      case Event::kServicePin:
        l->OnSystemServicePin(1, e.device->subsystem, e.device->handle, e.device->neuronId.c_str(),
                              e.device->programId.c_str(), e.device->name.c_str(), 1,
                              (e.device->handle % 127) + 1, 0);
        break;
      case Event::kAttachment:
        l->OnAttachmentLca(1, e.device->subsystem, kLnsKindAppDevice, e.device->isAttached,
                           e.device->name.c_str(), e.device->handle);
        break;
    }
  }
}

void DeliveryLoop(std::shared_ptr<Delivery> d) {
  std::vector<Event> batch;
  std::vector<ILnsListener*> listeners;
  std::unique_lock<std::mutex> lock(d->mu);
  while (true) {
    if (d->queue.empty() && !d->stop) {
      // Changes come in bursts: a short look before sleeping saves the producer a wake-up call
      // for nearly every event.
      lock.unlock();
      for (int i = 0; i < 64 && !d->hasWork.load(std::memory_order_relaxed); ++i) {
        std::this_thread::yield();
      }
      Relock(lock);
    }
    while (d->queue.empty() && !d->stop) {
      d->waiting = true;
      d->cv.wait(lock);
      d->waiting = false;
    }
    if (d->stop) {
      for (Event& e : d->queue) VariantClear(&e.value);
      d->queue.clear();
      d->delivered = d->raised;
      d->doneCv.notify_all();
      return;
    }
    batch.swap(d->queue);
    d->hasWork.store(false, std::memory_order_relaxed);
    listeners = d->listeners;
    d->busy = true;
    lock.unlock();
    for (Event& e : batch) {
      if (d->notify.load()) Deliver(e, listeners);
      VariantClear(&e.value);
    }
    size_t n = batch.size();
    batch.clear();
    Relock(lock);
    d->busy = false;
    d->delivered += n;
    d->doneCv.notify_all();
  }
}

}  // namespace

Sim& S() {
  // Never destroyed: threads of CLns objects that a process does not release may still use it.
  static Sim* sim = [] {
    Sim* s = new Sim;
    s->anchor = SteadyMs();
    return s;
  }();
  return *sim;
}

bool Intercept(const char* op, std::initializer_list<int64_t> args, int* result) {
  Sim& s = S();
  std::lock_guard<std::mutex> lock(s.counterMu);
  auto counter = s.counters.find(std::string_view(op));
  if (counter == s.counters.end()) counter = s.counters.emplace(op, Counter{}).first;
  Counter& c = counter->second;
  ++c.count;
  c.last.assign(args.begin(), args.end());
  if (s.failures.empty()) return false;
  auto it = s.failures.find(std::string_view(op));
  if (it == s.failures.end()) return false;
  *result = it->second.result;
  if (--it->second.times <= 0) s.failures.erase(it);
  return true;
}

void SetError(std::string text) {
  S().lastError = std::move(text);
}

int64_t NowLocked() {
  Sim& s = S();
  return s.manual ? s.base : s.base + (SteadyMs() - s.anchor);
}

void RunUntil(int64_t target) {
  while (true) {
    int64_t t = NextDue();
    if (t > target) break;
    if (S().manual) S().base = t;
    RunDue(t);
  }
  if (S().manual) S().base = target;
}

void StartTicker() {
  Sim& s = S();
  if (s.ticker.joinable()) return;
  s.ticker = std::thread(TickerLoop, ++s.tickerGen);
}

void StopTickerIfIdle(std::unique_lock<std::mutex>& lock) {
  Sim& s = S();
  if (!s.open.empty() || !s.ticker.joinable()) return;
  ++s.tickerGen;
  s.tickerCv.notify_all();
  std::thread t = std::move(s.ticker);
  lock.unlock();
  t.join();
  lock.lock();
}

Network* CurrentNetwork(char* delimiter) {
  if (S().open.empty()) {
    SetError("no network is open");
    return nullptr;
  }
  CLns::Impl* impl = S().open.back();
  if (delimiter) *delimiter = impl->delimiter;
  return impl->net.get();
}

bool ToDotted(std::string_view name, char delimiter, std::string* path) {
  if (name.empty()) return false;
  path->assign(name);
  if (delimiter == '.') return true;
  if (path->find('.') != std::string::npos) return false;
  std::replace(path->begin(), path->end(), delimiter, '.');
  return true;
}

bool FindField(Network* net, std::string_view path, int* nvIndex, int* field) {
  size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return false;
  int o = net->Find(path.substr(0, dot));
  if (o < 0 || net->objects[o].kind != kObjNV) return false;
  const Nv& nv = net->nvs[net->objects[o].ref];
  if (!nv.type->structured) return false;
  std::string_view name = path.substr(dot + 1);
  for (size_t i = 0; i < nv.type->fields.size(); ++i) {
    if (nv.type->fields[i].name == name) {
      *nvIndex = net->objects[o].ref;
      *field = static_cast<int>(i);
      return true;
    }
  }
  return false;
}

void Report(CNVItem* item, int field, const std::vector<uint8_t>& raw) {
  Delivery* d = item->owner->delivery.get();
  if (!d->notify.load()) return;
  const std::vector<uint32_t>& gates = field < 0 ? item->gates : item->fields[field].gates;
  if (gates.empty()) return;
  const Nv& nv = item->owner->net->nvs[item->nv];
  VARTYPE vt = field < 0 ? item->vt : item->fields[field].vt;
  VARIANT value;
  VariantInit(&value);
  std::string error;
  if (!RawToVariant(*nv.type, field, raw, vt, &value, &error)) {
    SetError(item->owner->net->objects[nv.object].path + ": " + error);
    return;
  }
  for (size_t i = 0; i < gates.size(); ++i) {
    Event e;
    e.gateId = gates[i];
    e.fieldIndex = field;
    if (i + 1 == gates.size()) {
      e.value = value;
    } else {
      VariantInit(&e.value);
      VariantCopy(&e.value, &value);
    }
    Enqueue(d, std::move(e));
  }
}

void MonitorSwitched(CNVItem* item, int field, bool on) {
  std::vector<uint8_t>& atOff = field < 0 ? item->seenAtOff : item->fields[field].seenAtOff;
  bool& monitor = field < 0 ? item->monitor : item->fields[field].monitor;
  if (monitor == on) return;
  monitor = on;
  if (!on) {
    atOff = item->seen;
    return;
  }
  const TypeDef& type = *item->owner->net->nvs[item->nv].type;
  if (FieldDiffers(type, field, atOff, item->seen)) Report(item, field, item->seen);
  atOff.clear();
}

void DeviceUpdate(Network* net, int nvIndex, const std::vector<uint8_t>& raw, bool write) {
  Nv& nv = net->nvs[nvIndex];
  nv.raw = raw;
  if (!net->devices[nv.device].attached) return;
  for (CLns::Impl* impl : S().open) {
    if (!SameNetwork(impl, net)) continue;
    if (CNVItem* item = ItemOf(impl, nvIndex)) Observe(item, nv.raw, nv.propagates || write);
  }
  if (!write) return;
  for (size_t i = 0; i < net->nvs.size(); ++i) {
    if (net->nvs[i].follows == nvIndex) DeviceUpdate(net, static_cast<int>(i), raw, false);
  }
}

void SetAttached(Network* net, int deviceIndex, bool attached) {
  Device& dev = net->devices[deviceIndex];
  if (dev.attached == attached) return;
  dev.attached = attached;
  DeviceEvent(net, deviceIndex, Event::kAttachment, attached);
}

void ServicePin(Network* net, int deviceIndex) {
  DeviceEvent(net, deviceIndex, Event::kServicePin, net->devices[deviceIndex].attached);
}

void DemoStep(Network* net, int64_t k) {
  auto nvAt = [net](const std::string& path) {
    int o = net->Find(path);
    return o >= 0 && net->objects[o].kind == kObjNV ? net->objects[o].ref : -1;
  };
  auto get = [&](const std::string& path, int field = -1) {
    double v = 0;
    int n = nvAt(path);
    if (n >= 0) RawToEngineering(*net->nvs[n].type, field, net->nvs[n].raw, &v);
    return v;
  };
  auto set = [&](const std::string& path, double v, int field = -1) {
    int n = nvAt(path);
    if (n < 0) return;
    std::vector<uint8_t> raw = net->nvs[n].raw;
    std::string error;
    if (EngineeringToRaw(*net->nvs[n].type, field, v, &raw, &error)) {
      DeviceUpdate(net, n, raw, false);
    }
  };
  auto device = [net](const std::string& path) {
    int o = net->Find(path);
    return o >= 0 && net->objects[o].kind == kObjDevice ? net->objects[o].ref : -1;
  };
  const std::string f1 = "Building.Floor1.", f2 = "Building.Floor2.", plant = "Building.Plant.";

  set(f1 + "Room101.nvoCount",
      static_cast<double>((static_cast<int64_t>(get(f1 + "Room101.nvoCount")) + 1) % 65536));
  if (k % 5 == 0) {
    // Rooms drift towards their setpoints and then hover around them.
    for (const std::string& room :
         {f1 + "Room101", f1 + "Room102", f2 + "Room201", f2 + "Room202", f2 + "Meeting"}) {
      double t = get(room + ".nvoSpaceTemp");
      double sp = nvAt(room + ".nviSetpoint") >= 0 ? get(room + ".nviSetpoint") : 21.5;
      if (t < sp - 0.05) {
        t += 0.1;
      } else if (t > sp + 0.05) {
        t -= 0.1;
      } else {
        t = sp + ((k / 5) % 2 ? 0.1 : -0.1);
      }
      set(room + ".nvoSpaceTemp", std::round(t * 100) / 100);
    }
    double pct = get(plant + "Pump.nviSpeed");
    set(plant + "Pump.nvoSpeed", std::round(18 * pct));
  }
  if (k % 10 == 0) {
    set(f2 + "Room201.nvoCO2", 500 + static_cast<double>((k / 10) % 12) * 10);
    set(f2 + "Meeting.nvoCO2", 650 + static_cast<double>((k / 10) % 8) * 25);
  }
  if (k % 30 == 0) set(f1 + "Room101.nvoOccupancy", (k / 30) % 2 ? 1 : 0);
  if (k % 3 == 0) {
    double power = 1500 + static_cast<double>(k % 17) * 3.5;
    set(plant + "Meter.nvoPower", power);
    set(plant + "Meter.nvoCurrent", std::round(power / 23.0) / 10);
  }
  if (k % 60 == 0) {
    set(plant + "Meter.nvoEnergy",
        static_cast<double>((static_cast<int64_t>(get(plant + "Meter.nvoEnergy")) + 1) % 65536));
    set(plant + "Boiler.nvoRunHours",
        static_cast<double>((static_cast<int64_t>(get(plant + "Boiler.nvoRunHours")) + 1) % 65536));
  }
  if (k % 7 == 0) {
    double sp = get(plant + "Boiler.nviFlowSetpt");
    set(plant + "Boiler.nvoFlowTemp", sp - 1.5 + static_cast<double>((k / 7) % 4) * 0.5);
    set(plant + "Boiler.nvoReturnTemp", sp - 18 + static_cast<double>((k / 7) % 3) * 0.5);
  }
  if (k % 2 == 0) {
    set(plant + "Logger.nvoSamples", static_cast<double>(k % 256), static_cast<int>((k / 2) % 300));
    set(plant + "Logger.nvoUptime", static_cast<double>(k % 6553));
    set(plant + "Logger.nvoTotal", get(plant + "Logger.nvoTotal") + 1);
  }
  int pump = device(plant + "Pump");
  if (pump >= 0 && k % 60 == 45) SetAttached(net, pump, false);
  if (pump >= 0 && k % 60 == 55) SetAttached(net, pump, true);
  int room201 = device(f2 + "Room201");
  if (room201 >= 0 && k % 90 == 20) ServicePin(net, room201);
  int logger = device(plant + "Logger");
  if (logger >= 0 && k % 120 == 100) ServicePin(net, logger);
}

void DrainAll() {
  std::vector<std::shared_ptr<Delivery>> all;
  {
    std::lock_guard<std::mutex> lock(S().mu);
    all = S().deliveries;
  }
  for (const auto& d : all) {
    std::unique_lock<std::mutex> lock(d->mu);
    if (d->threadId == std::this_thread::get_id()) continue;
    uint64_t target = d->raised;
    d->doneCv.wait(lock, [&] { return d->delivered >= target || d->stop; });
  }
}

std::shared_ptr<Delivery> StartDelivery() {
  auto d = std::make_shared<Delivery>();
  std::lock_guard<std::mutex> lock(d->mu);
  d->thread = std::thread(DeliveryLoop, d);
  d->threadId = d->thread.get_id();
  return d;
}

void SetNotify(Delivery* d, bool on) {
  d->notify.store(on);
  if (on) return;
  std::unique_lock<std::mutex> lock(d->mu);
  if (d->threadId == std::this_thread::get_id()) return;  // from a callback: it ends after this
  d->doneCv.wait(lock, [&] { return !d->busy; });
}

void StopDelivery(const std::shared_ptr<Delivery>& d) {
  bool self;
  {
    std::unique_lock<std::mutex> lock(d->mu);
    d->notify.store(false);
    d->stop = true;
    d->cv.notify_all();
    self = d->threadId == std::this_thread::get_id();
    if (!self) d->doneCv.wait(lock, [&] { return !d->busy; });
  }
  if (self) {
    d->thread.detach();
  } else {
    d->thread.join();
  }
}

std::string UserStateFile(const std::string& name) {
  std::string dir = UserStateDirectory();
  return dir.empty() ? dir : dir + "/" + name;
}

std::string DefaultRecordFile() {
  return UserStateFile("lonsim.network");
}

void WriteRecord(const std::string& name) {
  const std::string& file = S().recordFile;
  if (file.empty()) return;
  std::string temp =
      file + "." + std::to_string(std::hash<std::thread::id>{}(std::this_thread::get_id()));
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return;
    out << name;
  }
  std::error_code ec;
  std::filesystem::rename(temp, file, ec);
  if (ec) std::filesystem::remove(temp, ec);
}

bool ReadRecord(std::string* name) {
  if (S().recordFile.empty()) return false;
  std::ifstream in(S().recordFile, std::ios::binary);
  if (!in) return false;
  std::stringstream s;
  s << in.rdbuf();
  *name = s.str();
  return true;
}

int FillTree(std::shared_ptr<Network> net, LnsTreeControl* tree) {
  struct Item {
    std::string text;
    int image;
    int parent;  // index into the items, -1 for a root item
  };
  std::vector<Item> items;
  {
    std::lock_guard<std::mutex> lock(S().mu);
    std::function<void(int, int)> walk = [&](int o, int parent) {
      const Object& obj = net->objects[o];
      int image = obj.kind == kObjNetwork     ? 1
                  : obj.kind == kObjSubsystem ? 13
                  : obj.kind == kObjDevice    ? 6
                  : obj.kind == kObjBlock     ? 4
                                              : 8;
      int self = static_cast<int>(items.size());
      items.push_back({obj.text, image, parent});
      if (obj.kind == kObjNV) {
        const TypeDef& type = *net->nvs[obj.ref].type;
        if (type.structured) {
          for (const FieldDef& f : type.fields) items.push_back({f.name, 10, self});
        }
        return;
      }
      for (int c : obj.children) walk(c, self);
    };
    walk(0, -1);
  }
  std::vector<uintptr_t> handles(items.size(), 0);
  for (size_t i = 0; i < items.size(); ++i) {
    uintptr_t parent = items[i].parent < 0 ? 0 : handles[items[i].parent];
    handles[i] = tree->InsertItem(items[i].text.c_str(), items[i].image, parent);
    if (!handles[i]) return 1;
  }
  return 0;
}

}  // namespace lonsim
