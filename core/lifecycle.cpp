// The commands that bring the driver up and down, the information command and the commands that
// do nothing.
#include "core/lifecycle.h"

#include <string>

#include "config/macros.h"
#include "config/option_file.h"
#include "config/share_data.h"
#include "core/driver_instance.h"
#include "core/host_api.h"
#include "core/test_point.h"
#include "lon/lns.h"
#include "lon/lns_connection.h"

namespace {

// What GetVpiInfo hands out; constant, never written.
constexpr char kDescription[] = "LonWorks LCA";
constexpr char kBanner[] =
    "\n"
    "/////////////////////////////////////////////////////////////\n"
    " / -=-=-=-=-=-=-=-=-=-=- T E L M A R -=-=-=-=-=-=-=-=-=-=-   /\n"
    " /             LonWorks LCA, Driver installed.               /\n"
    " /             LonWorks using LCA Object Server.             /\n"
    " /             POSIX build, simulated network library.       /\n"
    " /////////////////////////////////////////////////////////////\n";
// A line feed, the 61 slashes and five framed lines of 62 characters, each ended by a line feed.
static_assert(sizeof(kBanner) - 1 == 1 + 62 + 5 * 63);

constexpr uint32_t kInfoTag = 77;
constexpr uint32_t kInfoKind = 2;
constexpr uint32_t kInfoTail = 44;

constexpr char kDefaultName[] = "TelMAR";

// Ends the network connection and the host registration of the instance (the first part of
// EndVpi), leaving the rest to teardown. The connection goes first: once Release has returned no
// listener callback runs, so no update still in flight finds the host client already gone.
void ReleaseConnections(DriverInstance* inst) {
  if (inst->initialised) {
    if (inst->lns) inst->lns->Release();
    inst->lns = nullptr;
    delete inst->listener;
    inst->listener = nullptr;
  }
  TestPoint("EndVpi:between connection and client");
  uint8_t client = inst->clientId.load();
  if (client != 0) {
    KestRqNetMsg(client, 2);
    KestRmClient(client);
    inst->clientId.store(0);
  }
}

}  // namespace

uint32_t ColdStart(VpiRequest* request) {
  // A ColdStart for the running instance without EndVpi first: give back what it holds (host
  // client, connection, shared block, maps), or the new setup would leak it.
  DriverInstance* running = GlobalInst.load();
  if (running && running->initialised) {
    err(kLogError, "%s: ColdStart(), releasing the running instance first", running->name.c_str());
    ReleaseConnections(running);
    InstanceTeardown(running);
  }

  InstanceSetup(request);
  DriverInstance* inst = request->instance;
  inst->startFailed = 1;  // until the start below has gone through
  const char* name = inst->name.c_str();
  err(kLogError, "%s: ColdStart() entered, Version: %02x.%02x", name, inst->version >> 8,
      inst->version & 0xFF);
  err(kLogError, "%s: %s", name, "version compiled on " __DATE__ " at time " __TIME__);

  if (ReadIntFile(request) != 0) {
    err(kLogError, "%s: ColdStart(), error on ReadIntFile", name);
    return 2;
  }
  if (CreateShareData(request) != 0) {
    err(kLogError, "%s: ReadIntFile() fail on CreateShareData", name);
    return 2;
  }
  // The section header that a file lacks is added only once the start has succeeded: a failed
  // ColdStart leaves the option file as it found it.
  bool headerMissing = false;
  if (LoadMacros(request, &inst->macros, &headerMissing, true) != 0) {
    err(kLogError, "%s: ReadIntFile() fail on LoadMacros", name);
    return 2;
  }
  err(kLogError, "%s: number of macros: %d", name, static_cast<int>(inst->macros.Count()));

  auto* params = static_cast<const ColdStartParams*>(request->params);
  if (params && params->connectNetwork != 0 && InitLns(request) != 0) {
    err(kLogError, "%s: ColdStart(), error on InitLns()", name);
    return 2;
  }

  uint8_t client = 0;
  uint16_t rc = KestMkClient(inst->clientName.c_str(), 1, 0, &client);
  if (rc != 0) {
    err(kLogError, "%s: Error while registering as a DedeRir client, rc = %hu", name, rc);
    return 2;
  }
  inst->clientId.store(client);
  if (inst->shareView) {
    inst->shareView->clientId = client;
    inst->shareView->delimiter = inst->delimiter;
  }
  rc = KestRqGateMsg(client, 0, 0, 96);
  if (rc != 0) {
    err(kLogError, "%s: Error while registering on DedeRir message, rc = %hu", name, rc);
    return 2;
  }
  KestRqNetMsg(client, 1);
  if (headerMissing) AppendMacrosHeader(request);
  inst->startFailed = 0;
  err(kLogError, "%s: driver loaded", name);
  return 0;
}

uint32_t EndVpi(VpiRequest*) {
  // The running instance is the one of the latest ColdStart, the same block the host passes.
  DriverInstance* inst = GlobalInst.load();
  const char* name = inst ? inst->name.c_str() : kDefaultName;
  err(kLogError, "%s: unload driver ...", name);
  if (inst) ReleaseConnections(inst);
  err(kLogError, "%s: driver unloaded", name);
  if (inst) InstanceTeardown(inst);
  return 0;
}

uint32_t GetVpiInfo(VpiRequest* request) {
  auto* info = static_cast<VpiInfo*>(request->params);
  if (!info) {
    err(kLogError, "telMAR: GetVpiInfo() ERROR: no VpiInfo record");
    return 2;
  }
  info->infoTag = kInfoTag;
  info->description = kDescription;
  info->banner = kBanner;
  info->instanceSize = sizeof(DriverInstance);
  info->infoKind = kInfoKind;
  info->infoTail = kInfoTail;
  return 0;
}

uint32_t WarmStart(VpiRequest*) {
  return 0;
}
uint32_t CloseCom(VpiRequest*) {
  return 0;
}
uint32_t ReOpenCom(VpiRequest*) {
  return 0;
}
uint32_t ChangeVpiParams(VpiRequest*) {
  return 0;
}
