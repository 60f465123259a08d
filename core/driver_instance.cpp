// Instance setup and teardown of the record that the host allocates and the driver fills.
#include "core/driver_instance.h"

#include <new>

#include "address/nv_binding.h"
#include "config/share_data.h"

std::atomic<DriverInstance*> GlobalInst{nullptr};

namespace {

constexpr const char* kDriverName = "TelMAR";
constexpr uint16_t kDriverVersion = 0x0241;

// Gives a text's memory back (clear() alone keeps it).
void FreeText(std::string& text) {
  std::string().swap(text);
}

}  // namespace

int InstanceSetup(VpiRequest* request) {
  // The block is raw host memory: construct the record in place. Every text starts empty, both
  // maps and the macro table empty, no connection, no listener, no shared block.
  DriverInstance* inst = new (request->instance) DriverInstance();
  GlobalInst.store(inst);
  inst->instanceNumber = static_cast<uint8_t>(request->instanceNumber);
  inst->fullInstanceNumber = static_cast<uint32_t>(request->instanceNumber);
  inst->name = kDriverName;
  inst->clientName = inst->name;
  inst->version = kDriverVersion;
  inst->samplerActive = 1;
  inst->samplerChecked = 0;
  inst->initialised = 1;
  return 0;
}

void InstanceTeardown(DriverInstance* inst) {
  // The driver's block ends with it: browse commands can no longer open it. A macro still pending
  // there goes to the option file first.
  EndShareData(inst);
  inst->macros.RemoveAll();
  inst->bindingMap.ForEach([](uint32_t, GateBinding*& binding) {
    delete binding;
    binding = nullptr;
  });
  inst->bindingMap.RemoveAll();
  {
    std::lock_guard<std::mutex> held(inst->nodeMapLock);
    inst->nodeMap.RemoveAll();
  }
  inst->knownItems.clear();
  inst->itemFormats.clear();
  if (!inst->initialised) return;

  // The host frees the block without running a destructor: nothing may stay on the heap.
  FreeText(inst->name);
  FreeText(inst->clientName);
  FreeText(inst->network);
  FreeText(inst->networkInterface);
  FreeText(inst->hostInterface);
  FreeText(inst->typesDirectory);
  FreeText(inst->standardTypeFile);
  FreeText(inst->unvtTypeFile);
  inst->lns = nullptr;
  inst->listener = nullptr;
  inst->bindingMap.Free();
  {
    std::lock_guard<std::mutex> held(inst->nodeMapLock);
    inst->nodeMap.Free();
  }
  inst->macros.RemoveAll();
  decltype(inst->knownItems)().swap(inst->knownItems);
  decltype(inst->itemFormats)().swap(inst->itemFormats);
  inst->initialised = 0;
  // The record is gone for the driver; nothing may follow GlobalInst into it any more.
  DriverInstance* self = inst;
  GlobalInst.compare_exchange_strong(self, nullptr);
}
