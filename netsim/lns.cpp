// CLns over the simulated network.
#include <algorithm>
#include <cstring>

#include "lon/lns.h"
#include "netsim/sim.h"

using lonsim::FieldReg;
using lonsim::Intercept;
using lonsim::S;
using lonsim::SetError;

namespace {

using Lock = std::lock_guard<std::mutex>;

std::string ItemName(const CNVItem* item) {
  const lonsim::Network& net = *item->owner->net;
  return net.objects[net.nvs[item->nv].object].path;
}

// The item when it belongs to this open connection; else null with the reason recorded.
CNVItem* Valid(CLns::Impl* impl, CNVItem* item) {
  if (!impl->net) {
    SetError("no network is open");
    return nullptr;
  }
  if (!item || item->owner != impl) {
    SetError("not an item of this connection");
    return nullptr;
  }
  return item;
}

FieldReg* ValidField(CLns::Impl* impl, CNVItem* item, int index) {
  if (!Valid(impl, item)) return nullptr;
  if (index < 0 || static_cast<size_t>(index) >= item->fields.size() ||
      !item->fields[index].added) {
    SetError(ItemName(item) + ": field " + std::to_string(index) + " was not added");
    return nullptr;
  }
  return &item->fields[index];
}

const lonsim::TypeDef& TypeOf(const CNVItem* item) {
  return *item->owner->net->nvs[item->nv].type;
}

int SetFormat(CNVItem* item, int field, VARTYPE vt) {
  if (!lonsim::FormatAccepted(TypeOf(item), field, vt)) {
    SetError(ItemName(item) + ": format " + std::to_string(vt) + " not accepted for " +
             TypeOf(item).name);
    return 1;
  }
  (field < 0 ? item->vt : item->fields[field].vt) = vt;
  return 0;
}

int SetPoll(CNVItem* item, int field, int rate) {
  if (rate < 0) {
    SetError(ItemName(item) + ": negative polling rate");
    return 1;
  }
  int& r = field < 0 ? item->pollRate : item->fields[field].pollRate;
  int64_t& next = field < 0 ? item->nextPoll : item->fields[field].nextPoll;
  r = rate;
  next = lonsim::NowLocked() + rate;
  return 0;
}

int SetBind(CNVItem* item, int field, int option) {
  if (option < 1 || option > 5) {
    SetError(ItemName(item) + ": binding option " + std::to_string(option) + " is not 1 to 5");
    return 1;
  }
  (field < 0 ? item->bound : item->fields[field].bound) = option;
  return 0;
}

int Read(CNVItem* item, int field, VARIANT* value, int ioOpt) {
  if (!value || (ioOpt != kIOOptDevice && ioOpt != kIOOptMonitored)) {
    SetError(ItemName(item) + ": bad read arguments");
    return 1;
  }
  const lonsim::Network& net = *item->owner->net;
  const lonsim::Nv& nv = net.nvs[item->nv];
  bool monitored = field < 0 ? item->monitor : item->fields[field].monitor;
  const std::vector<uint8_t>* raw = &nv.raw;
  if (ioOpt == kIOOptMonitored && monitored) {
    raw = &item->seen;
  } else if (!net.devices[nv.device].attached) {
    SetError(ItemName(item) + ": device " + net.objects[net.devices[nv.device].object].path +
             " is detached");
    return 1;
  }
  VARTYPE vt = field < 0 ? item->vt : item->fields[field].vt;
  VARIANT out;
  VariantInit(&out);
  std::string error;
  if (!lonsim::RawToVariant(*nv.type, field, *raw, vt, &out, &error)) {
    SetError(ItemName(item) + ": " + error);
    return 1;
  }
  *value = out;
  return 0;
}

int Write(CNVItem* item, int field, const VARIANT* value) {
  lonsim::Network* net = item->owner->net.get();
  const lonsim::Nv& nv = net->nvs[item->nv];
  if (!value) {
    SetError(ItemName(item) + ": no value to write");
    return 1;
  }
  if (nv.output) {
    SetError(ItemName(item) + " is an output and cannot be written");
    return 1;
  }
  if (!net->devices[nv.device].attached) {
    SetError(ItemName(item) + ": device " + net->objects[net->devices[nv.device].object].path +
             " is detached");
    return 1;
  }
  std::vector<uint8_t> raw = nv.raw;
  std::string error;
  if (!lonsim::VariantToRaw(*nv.type, field, *value, &raw, &error)) {
    SetError(ItemName(item) + ": " + error);
    return 1;
  }
  lonsim::DeviceUpdate(net, item->nv, raw, true);
  return 0;
}

int AddGate(std::vector<uint32_t>* gates, uint32_t gateId) {
  if (std::find(gates->begin(), gates->end(), gateId) == gates->end()) gates->push_back(gateId);
  return 0;
}

int RemoveGate(std::vector<uint32_t>* gates, uint32_t gateId) {
  auto it = std::find(gates->begin(), gates->end(), gateId);
  if (it == gates->end()) {
    SetError("gate " + std::to_string(gateId) + " does not listen");
    return 1;
  }
  gates->erase(it);
  return 0;
}

int HasGate(const std::vector<uint32_t>& gates, uint32_t gateId) {
  return std::find(gates.begin(), gates.end(), gateId) == gates.end() ? 1 : 0;
}

}  // namespace

CLns* CLns::GetLnsObject(int remote, int single, int pinEvent, char delimiter, const char*,
                         const char*, const char*) {
  int r;
  if (Intercept("GetLnsObject", {remote, single, pinEvent, delimiter}, &r)) return nullptr;
  CLns* lns = new CLns();
  lns->impl_ = new Impl();
  lns->impl_->self = lns;
  lns->impl_->delimiter = delimiter ? delimiter : '.';
  lns->impl_->delivery = lonsim::StartDelivery();
  Lock lock(S().mu);
  S().deliveries.push_back(lns->impl_->delivery);
  return lns;
}

int CLns::Init(void*, int flag) {
  int r;
  if (Intercept("Init", {flag}, &r)) return r;
  return 0;
}

int CLns::Open(const char* network, const char*, const char*, const char*) {
  int r;
  if (Intercept("Open", {}, &r)) return r;
  std::unique_lock<std::mutex> lock(S().mu);
  if (impl_->net) {
    SetError("a network is already open on this connection");
    return 1;
  }
  if (!network || !*network) {
    SetError("no network name");
    lonsim::WriteRecord("");
    return 1;
  }
  std::string key = lonsim::NetworkKey(network);
  std::shared_ptr<lonsim::Network>& cached = S().cache[key];
  if (!cached) {
    std::string error;
    std::unique_ptr<lonsim::Network> net = lonsim::LoadNetwork(network, &error);
    if (!net) {
      S().cache.erase(key);
      SetError(error);
      lonsim::WriteRecord("");  // a browse must not show a network opened before
      return 1;
    }
    net->nextBehaviour = (lonsim::NowLocked() / 1000 + 1) * 1000;
    cached = std::move(net);
  }
  impl_->net = cached;
  impl_->byNv.assign(impl_->net->nvs.size(), nullptr);
  S().open.push_back(impl_);
  lonsim::StartTicker();
  lonsim::WriteRecord(key);
  return 0;
}

int CLns::Browse(int flags, int depth, LnsTreeControl* tree, const char*) {
  int r;
  if (Intercept("Browse", {flags, depth}, &r)) return r;
  std::shared_ptr<lonsim::Network> net;
  {
    Lock lock(S().mu);
    if (!impl_->net) {
      SetError("no network is open");
      return 1;
    }
    net = impl_->net;
    if (!net->demo) {
      std::string error;
      std::unique_ptr<lonsim::Network> fresh = lonsim::LoadNetwork(net->name, &error);
      if (!fresh) {
        SetError(error);
        return 1;
      }
      lonsim::MergeNetwork(net.get(), std::move(fresh));
      for (CLns::Impl* impl : S().open) {
        if (impl->net == net) impl->byNv.resize(net->nvs.size(), nullptr);
      }
    }
  }
  return tree ? lonsim::FillTree(net, tree) : 0;
}

int CLns::AddListener(ILnsListener* listener) {
  int r;
  if (Intercept("AddListener", {}, &r)) return r;
  if (!listener) return 1;
  lonsim::Delivery* d = impl_->delivery.get();
  std::lock_guard<std::mutex> lock(d->mu);
  if (std::find(d->listeners.begin(), d->listeners.end(), listener) == d->listeners.end()) {
    d->listeners.push_back(listener);
  }
  return 0;
}

int CLns::EnableNotifyListeners(int enable) {
  int r;
  if (Intercept("EnableNotifyListeners", {enable}, &r)) return r;
  lonsim::SetNotify(impl_->delivery.get(), enable != 0);
  return 0;
}

void CLns::Release() {
  int r;
  Intercept("Release", {}, &r);
  lonsim::StopDelivery(impl_->delivery);
  {
    std::unique_lock<std::mutex> lock(S().mu);
    auto& open = S().open;
    open.erase(std::remove(open.begin(), open.end(), impl_), open.end());
    auto& all = S().deliveries;
    all.erase(std::remove(all.begin(), all.end(), impl_->delivery), all.end());
    impl_->items.clear();
    impl_->byNv.clear();
    impl_->net.reset();
    lonsim::StopTickerIfIdle(lock);
  }
  delete impl_;
  delete this;
}

int CLns::IsFound(const char* name, int* kind) {
  int r;
  if (Intercept("IsFound", {}, &r)) return 0;
  Lock lock(S().mu);
  std::string path;
  if (!impl_->net || !name || !lonsim::ToDotted(name, impl_->delimiter, &path)) return 0;
  lonsim::Network& net = *impl_->net;
  int found = 0;
  int o = net.Find(path);
  int nv, field;
  if (o >= 0) {
    found = static_cast<int>(net.objects[o].kind);
  } else if (lonsim::FindField(&net, path, &nv, &field)) {
    found = kLnsKindNVField;
  }
  if (!found) return 0;
  if (kind) *kind = found;
  return 1;
}

int32_t CLns::GetAppDeviceHandle(const char* name) {
  int r;
  if (Intercept("GetAppDeviceHandle", {}, &r)) return r;
  Lock lock(S().mu);
  std::string path;
  if (!impl_->net || !name || !lonsim::ToDotted(name, impl_->delimiter, &path)) return -1;
  int o = impl_->net->Find(path);
  if (o < 0 || impl_->net->objects[o].kind != lonsim::kObjDevice) {
    SetError(std::string(name) + " is not an application device");
    return -1;
  }
  return impl_->net->devices[impl_->net->objects[o].ref].handle;
}

CNVItem* CLns::AddNV(const char* name, int* reserved) {
  int r;
  if (Intercept("AddNV", {}, &r)) return nullptr;
  Lock lock(S().mu);
  std::string path;
  if (!impl_->net || !name || !lonsim::ToDotted(name, impl_->delimiter, &path)) {
    SetError("AddNV: no network open or no name");
    return nullptr;
  }
  lonsim::Network& net = *impl_->net;
  int o = net.Find(path);
  if (o < 0 || net.objects[o].kind != lonsim::kObjNV) {
    SetError(std::string(name) + " is not a network variable");
    return nullptr;
  }
  int n = net.objects[o].ref;
  if (impl_->byNv.size() < net.nvs.size()) impl_->byNv.resize(net.nvs.size(), nullptr);
  if (reserved) *reserved = n;
  if (impl_->byNv[n]) return impl_->byNv[n];
  auto item = std::make_unique<CNVItem>();
  const lonsim::TypeDef& type = *net.nvs[n].type;
  item->owner = impl_;
  item->nv = n;
  item->vt = type.structured ? VT_ARRAY_UI1 : static_cast<VARTYPE>(type.IsText() ? VT_BSTR : VT_R4);
  item->seen = net.nvs[n].raw;
  if (type.structured) item->fields.resize(type.fields.size());
  impl_->byNv[n] = item.get();
  impl_->items.push_back(std::move(item));
  return impl_->byNv[n];
}

int CLns::SplitNVFName(const char* name, char* nvName, size_t nvSize, char* fieldName,
                       size_t fieldSize) {
  int r;
  if (Intercept("SplitNVFName", {}, &r)) return r;
  if (!name || !nvName || !fieldName) return 1;
  std::string_view s(name);
  size_t cut = s.rfind(impl_->delimiter);
  if (cut == std::string_view::npos || cut == 0 || cut + 1 == s.size()) {
    Lock lock(S().mu);
    SetError(std::string(name) + " is not a field name");
    return 1;
  }
  std::string_view nv = s.substr(0, cut);
  std::string_view field = s.substr(cut + 1);
  if (nv.size() >= nvSize || field.size() >= fieldSize) {
    Lock lock(S().mu);
    SetError(std::string(name) + ": a part does not fit the buffer given for it");
    return 1;
  }
  std::memcpy(nvName, nv.data(), nv.size());
  nvName[nv.size()] = '\0';
  std::memcpy(fieldName, field.data(), field.size());
  fieldName[field.size()] = '\0';
  return 0;
}

int CLns::NVFNameToIndex(CNVItem* item, const char* fieldName) {
  int r;
  if (Intercept("NVFNameToIndex", {}, &r)) return r < 0 ? r : -1;
  Lock lock(S().mu);
  if (!Valid(impl_, item) || !fieldName) return -1;
  const lonsim::TypeDef& type = TypeOf(item);
  if (type.structured) {
    for (size_t i = 0; i < type.fields.size(); ++i) {
      if (type.fields[i].name == fieldName) return static_cast<int>(i);
    }
  }
  SetError(ItemName(item) + " has no field " + fieldName);
  return -1;
}

int CLns::AddNVF(CNVItem* item, const char* fieldName, int index) {
  int r;
  if (Intercept("AddNVF", {index}, &r)) return r;
  Lock lock(S().mu);
  if (!Valid(impl_, item)) return 1;
  if (index < 0 || static_cast<size_t>(index) >= item->fields.size() || !fieldName ||
      TypeOf(item).fields[index].name != fieldName) {
    SetError(ItemName(item) + ": no field " + (fieldName ? fieldName : "") + " at index " +
             std::to_string(index));
    return 1;
  }
  item->fields[index].added = true;
  return 0;
}

int CLns::GetNVStat(CNVItem* item, NVStructStat* stat) {
  int r;
  if (Intercept("GetNVStat", {}, &r)) return r;
  Lock lock(S().mu);
  if (!Valid(impl_, item) || !stat) return 1;
  const lonsim::Network& net = *impl_->net;
  const lonsim::Nv& nv = net.nvs[item->nv];
  stat->hNode = net.devices[nv.device].handle;
  stat->direction = nv.output ? 1 : 0;
  stat->typeIndex = nv.type->index;
  stat->length = static_cast<int32_t>(nv.type->length);
  stat->fieldCount = nv.type->structured ? static_cast<int32_t>(nv.type->fields.size()) : 0;
  return 0;
}

int CLns::GetNVFStat(CNVItem* item, int index, NVFieldStat* stat) {
  int r;
  if (Intercept("GetNVFStat", {index}, &r)) return r;
  Lock lock(S().mu);
  if (!ValidField(impl_, item, index) || !stat) return 1;
  const lonsim::FieldDef& f = TypeOf(item).fields[index];
  stat->bits = f.bits != 0 ? f.bits : static_cast<int32_t>(f.size * 8);
  return 0;
}

int CLns::SetNVFormatType(CNVItem* item, VARTYPE vt) {
  int r;
  if (Intercept("SetNVFormatType", {vt}, &r)) return r;
  Lock lock(S().mu);
  return Valid(impl_, item) ? SetFormat(item, -1, vt) : 1;
}

int CLns::SetNVFFormatType(CNVItem* item, int index, VARTYPE vt) {
  int r;
  if (Intercept("SetNVFFormatType", {index, vt}, &r)) return r;
  Lock lock(S().mu);
  return ValidField(impl_, item, index) ? SetFormat(item, index, vt) : 1;
}

int CLns::PollNV(CNVItem* item, int rate, int flag) {
  int r;
  if (Intercept("PollNV", {rate, flag}, &r)) return r;
  Lock lock(S().mu);
  return Valid(impl_, item) ? SetPoll(item, -1, rate) : 1;
}

int CLns::PollNVF(CNVItem* item, int index, int rate, int flag) {
  int r;
  if (Intercept("PollNVF", {index, rate, flag}, &r)) return r;
  Lock lock(S().mu);
  return ValidField(impl_, item, index) ? SetPoll(item, index, rate) : 1;
}

int CLns::BindNV(CNVItem* item, BoundOpt option, int flag) {
  int r;
  if (Intercept("BindNV", {option, flag}, &r)) return r;
  Lock lock(S().mu);
  return Valid(impl_, item) ? SetBind(item, -1, option) : 1;
}

int CLns::BindNVF(CNVItem* item, int index, BoundOpt option, int flag) {
  int r;
  if (Intercept("BindNVF", {index, option, flag}, &r)) return r;
  Lock lock(S().mu);
  return ValidField(impl_, item, index) ? SetBind(item, index, option) : 1;
}

int CLns::ReadNV(CNVItem* item, VARIANT* value, int ioOpt) {
  int r;
  if (Intercept("ReadNV", {ioOpt}, &r)) return r;
  Lock lock(S().mu);
  return Valid(impl_, item) ? Read(item, -1, value, ioOpt) : 1;
}

int CLns::ReadNVF(CNVItem* item, int index, VARIANT* value, int ioOpt) {
  int r;
  if (Intercept("ReadNVF", {index, ioOpt}, &r)) return r;
  Lock lock(S().mu);
  return ValidField(impl_, item, index) ? Read(item, index, value, ioOpt) : 1;
}

int CLns::WriteNV(CNVItem* item, VARIANT* value) {
  int r;
  if (Intercept("WriteNV", {}, &r)) return r;
  Lock lock(S().mu);
  return Valid(impl_, item) ? Write(item, -1, value) : 1;
}

int CLns::WriteNVF(CNVItem* item, int index, VARIANT* value) {
  int r;
  if (Intercept("WriteNVF", {index}, &r)) return r;
  Lock lock(S().mu);
  return ValidField(impl_, item, index) ? Write(item, index, value) : 1;
}

int CLns::TestNodeByHandle(int32_t hNode, int ioOpt) {
  int r;
  if (Intercept("TestNodeByHandle", {hNode, ioOpt}, &r)) return r;
  Lock lock(S().mu);
  if (!impl_->net) return 1;
  for (const lonsim::Device& d : impl_->net->devices) {
    if (d.handle == hNode) return d.attached ? 0 : 1;
  }
  SetError("no device has the handle " + std::to_string(hNode));
  return 1;
}

int CLns::AddListener(CNVItem* item, uint32_t gateId) {
  int r;
  if (Intercept("AddListener", {gateId}, &r)) return r;
  Lock lock(S().mu);
  return Valid(impl_, item) ? AddGate(&item->gates, gateId) : 1;
}

int CLns::AddListener(CNVItem* item, int index, uint32_t gateId) {
  int r;
  if (Intercept("AddListener", {index, gateId}, &r)) return r;
  Lock lock(S().mu);
  FieldReg* f = ValidField(impl_, item, index);
  return f ? AddGate(&f->gates, gateId) : 1;
}

int CLns::RemoveListener(CNVItem* item, uint32_t gateId) {
  int r;
  if (Intercept("RemoveListener", {gateId}, &r)) return r;
  Lock lock(S().mu);
  return Valid(impl_, item) ? RemoveGate(&item->gates, gateId) : 1;
}

int CLns::RemoveListener(CNVItem* item, int index, uint32_t gateId) {
  int r;
  if (Intercept("RemoveListener", {index, gateId}, &r)) return r;
  Lock lock(S().mu);
  FieldReg* f = ValidField(impl_, item, index);
  return f ? RemoveGate(&f->gates, gateId) : 1;
}

int CLns::IsListener(CNVItem* item, uint32_t gateId) {
  int r;
  if (Intercept("IsListener", {gateId}, &r)) return r;
  Lock lock(S().mu);
  return Valid(impl_, item) ? HasGate(item->gates, gateId) : 1;
}

int CLns::IsListener(CNVItem* item, int index, uint32_t gateId) {
  int r;
  if (Intercept("IsListener", {index, gateId}, &r)) return r;
  Lock lock(S().mu);
  FieldReg* f = ValidField(impl_, item, index);
  return f ? HasGate(f->gates, gateId) : 1;
}

int CLns::GetListenersCount(CNVItem* item) {
  int r;
  if (Intercept("GetListenersCount", {}, &r)) return r;
  Lock lock(S().mu);
  return Valid(impl_, item) ? static_cast<int>(item->gates.size()) : 0;
}

int CLns::GetListenersCount(CNVItem* item, int index) {
  int r;
  if (Intercept("GetListenersCount", {index}, &r)) return r;
  Lock lock(S().mu);
  FieldReg* f = ValidField(impl_, item, index);
  return f ? static_cast<int>(f->gates.size()) : 0;
}

int CLns::MonitorNV(CNVItem* item, int on) {
  int r;
  if (Intercept("MonitorNV", {on}, &r)) return r;
  Lock lock(S().mu);
  if (!Valid(impl_, item)) return 1;
  lonsim::MonitorSwitched(item, -1, on != 0);
  return 0;
}

int CLns::MonitorNVF(CNVItem* item, int index, int on) {
  int r;
  if (Intercept("MonitorNVF", {index, on}, &r)) return r;
  Lock lock(S().mu);
  if (!ValidField(impl_, item, index)) return 1;
  lonsim::MonitorSwitched(item, index, on != 0);
  return 0;
}

int CLns::SetNVPollingRate(CNVItem* item, int rate) {
  int r;
  if (Intercept("SetNVPollingRate", {rate}, &r)) return r;
  Lock lock(S().mu);
  return Valid(impl_, item) ? SetPoll(item, -1, rate) : 1;
}

int CLns::SetNVFPollingRate(CNVItem* item, int index, int rate) {
  int r;
  if (Intercept("SetNVFPollingRate", {index, rate}, &r)) return r;
  Lock lock(S().mu);
  return ValidField(impl_, item, index) ? SetPoll(item, index, rate) : 1;
}

CLnsArchive::CLnsArchive(const char*, LnsTreeControl* tree, int depth, int messageFilter)
    : tree_(tree), depth_(depth), messageFilter_(messageFilter) {}

CLnsArchive::~CLnsArchive() = default;

int CLnsArchive::Serialize() {
  int r;
  if (Intercept("Serialize", {depth_, messageFilter_}, &r)) return r;
  if (!tree_) return 1;
  std::shared_ptr<lonsim::Network> net;
  std::string recorded;
  {
    Lock lock(S().mu);
    if (!S().open.empty()) {
      net = S().open.back()->net;
    } else {
      if (!lonsim::ReadRecord(&recorded)) {
        SetError("no network is open and none was recorded");
        return 1;
      }
      if (recorded.empty()) {
        SetError("no network: the driver's network did not open");
        return 1;
      }
    }
  }
  if (!net) {
    std::string error;
    std::unique_ptr<lonsim::Network> loaded = lonsim::LoadNetwork(recorded, &error);
    if (!loaded) {
      Lock lock(S().mu);
      SetError(error);
      return 1;
    }
    net = std::move(loaded);
  }
  return lonsim::FillTree(net, tree_);
}
