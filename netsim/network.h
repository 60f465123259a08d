// The model of one simulated LonWorks network: its object tree (network, subsystems, devices,
// functional blocks, network variables), the devices' state and the NVs' values, loaded from a
// network file or built from the demo description.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "netsim/nv_types.h"

namespace lonsim {

namespace standard {
struct ProfileRow;
}

enum ObjectKind : int {
  kObjNetwork = 1,
  kObjSubsystem = 2,
  kObjDevice = 4,
  kObjBlock = 6,
  kObjNV = 8,
};

struct Object {
  std::string path;  // names joined by "."; empty for the network itself
  std::string text;  // the last name
  int kind = 0;
  int parent = -1;
  std::vector<int> children;
  int ref = -1;      // index into devices or nvs
  int profile = -1;  // a functional block's profile number, -1 when it has none
};

struct Device {
  int object = -1;
  int32_t handle = 0;
  std::string neuronId;   // 12 hex digits
  std::string programId;  // 16 hex digits
  bool attached = true;
  int nvs = 0;  // NV indices taken so far: the next NV declared takes this one
};

struct Nv {
  int object = -1;
  int device = -1;
  bool output = false;
  const TypeDef* type = nullptr;
  std::vector<uint8_t> raw;  // the value the device holds, as on the wire
  bool propagates = true;    // the device sends every update; false: seen only by polling
  int follows = -1;          // an input NV whose writes this output takes over
  int index = -1;            // the NV's index on its device
  int block = -1;            // object index of the functional block it belongs to, -1 for none
  bool config = false;       // implements a configuration property
  bool fromXif = false;      // declared by the device's interface file
};

struct StringHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

struct Network {
  std::string name;      // as opened: "Demo" or the absolute path of the file
  std::string rootText;  // text of the network's tree item
  bool demo = false;
  std::vector<Object> objects;  // objects[0] is the network
  std::unordered_map<std::string, int, StringHash, std::equal_to<>> byPath;
  std::vector<Device> devices;
  std::vector<Nv> nvs;
  std::vector<std::unique_ptr<TypeDef>> userTypes;
  std::vector<std::shared_ptr<const void>> held;  // the interface files whose types NVs use
  int64_t nextBehaviour = 0;  // simulation time of the demo's next behaviour step

  int Find(std::string_view path) const {
    auto it = byPath.find(path);
    return it == byPath.end() ? -1 : it->second;
  }
  Device* DeviceOf(const Nv& nv) { return &devices[nv.device]; }
};

// Parses a network description; `source` names it in error messages ("file:line: what").
std::unique_ptr<Network> ParseNetwork(std::string_view text, const std::string& source,
                                      std::string* error);
// "Demo" or a network file's path; null with *error when unknown or unreadable.
std::unique_ptr<Network> LoadNetwork(const std::string& name, std::string* error);
// The key under which a network is known: "Demo", or the file's absolute path.
std::string NetworkKey(const std::string& name);
// Adds the objects of `fresh` that `net` lacks (a re-browse), keeping every existing value.
void MergeNetwork(Network* net, std::unique_ptr<Network> fresh);
const char* DemoNetworkText();
// The standard profile of a functional block's profile number; null for any other number.
const standard::ProfileRow* FindProfileByKey(int key);

}  // namespace lonsim
