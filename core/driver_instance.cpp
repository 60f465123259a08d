// PLACEHOLDER: replaced by the real instance setup.
#include "core/driver_instance.h"
#include <new>
std::atomic<DriverInstance*> GlobalInst{nullptr};
int InstanceSetup(VpiRequest* request) {
  DriverInstance* inst = new (request->instance) DriverInstance();
  inst->name = "TelMAR";
  inst->clientName = inst->name;
  inst->instanceNumber = static_cast<uint8_t>(request->instanceNumber);
  inst->version = 0x0241;
  inst->samplerActive = 1;
  inst->initialised = 1;
  GlobalInst = inst;
  return 0;
}
void InstanceTeardown(DriverInstance* instance) { instance->initialised = 0; }
