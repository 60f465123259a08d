// A driver instance set up once per fuzz process, in a private working directory, on the
// built-in demo network, as ColdStart leaves it, without the worker thread.
#pragma once

#include <cstddef>
#include <string>

#include "core/driver_instance.h"
#include "core/host_records.h"

struct FuzzDriver {
  VpiRequest request{};
  DriverInstance* instance = nullptr;
};

// Creates a private working directory with an option file holding `optionFile`, and a set-up
// instance (instance number 1). With connect, the demo network is opened into instance->lns.
FuzzDriver& FuzzSetUp(const std::string& optionFile, bool connect);
// Drops what the host stand-in recorded, so that a long run does not grow without bound.
void FuzzForgetHostRecords();
