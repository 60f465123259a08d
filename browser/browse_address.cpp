#include "browser/browse_address.h"

#include <cstring>

#include "browser/browser_dlg.h"
#include "config/macros.h"
#include "config/share_data.h"
#include "core/host_api.h"
#include "core/host_records.h"

uint32_t BrowseAddress(VpiRequest* request) {
  uint32_t result = 53;
  auto* params = static_cast<BrowseParams*>(request->params);
  if (!params || !params->addressBuffer) {
    err(kLogError, "telMar: BrowseAddress() without an address buffer");
    return result;
  }
  char* buffer = params->addressBuffer;

  auto* macros = new MacroTable;
  SharedMemory* handle = nullptr;
  ShareData* view = nullptr;
  if (OpenShareData(request, &handle, &view) != 0) {
    delete macros;
    CloseShareData(handle, view);
    return result;
  }
  if (LoadMacros(request, macros) != 0) {
    delete macros;
    CloseShareData(handle, view);
    return result;
  }

  // A macro that an earlier browse handed over and no parse has taken yet is named as the
  // file's are: the same path gets it again, and a new macro does not take its name.
  const uint32_t number = static_cast<uint32_t>(request->instanceNumber);
  std::string pendingName;
  std::string pendingValue;
  if (PeekPendingMacro(number, view, &pendingName, &pendingValue) &&
      !macros->Contains(pendingName)) {
    macros->Set(pendingName, pendingValue);
  } else {
    pendingName.clear();
  }

  auto* dialog = new CBrowserDlg(request, view, macros);
  int ended = dialog->DoModal();
  // Nothing here ever empties the pending macro: it is another browse's until a parse takes it
  // over or the driver's end writes it to the option file.
  if (dialog->m_noNetwork) {
    // No address can come from an empty tree; an older network's must not be offered either.
    err(kLogError,
        "telMar: BrowseAddress() has no network to show: the network of driver instance %u is "
        "not open (did its ColdStart fail?)",
        static_cast<unsigned>(number));
    buffer[0] = '\0';
  } else if (ended != IDOK) {
    buffer[0] = '\0';
  } else if (!dialog->m_address.empty()) {
    std::string address = dialog->m_address;
    const std::string& name = dialog->m_macroName;
    bool usable = address.size() < kBrowseAddressCapacity;
    if (usable && !name.empty() && address.compare(0, name.size(), name) == 0 &&
        (name == pendingName || !macros->Contains(name))) {
      // A macro the file does not define goes to the driver running now (which may have been
      // restarted while the dialog was open); it takes it over at its next parse. The name is
      // settled there, against what other browses handed over meanwhile. An address whose
      // macro no driver will learn is no address.
      std::string settled;
      usable = HandOverMacro(number, name, dialog->m_macroValue, &settled);
      if (usable && settled != name) {
        err(kLogTrace, "telMar: BrowseAddress() names the macro of '%s' '%s', not '%s'",
            dialog->m_macroValue.c_str(), settled.c_str(), name.c_str());
        address = settled + address.substr(name.size());
      }
    }
    if (address.size() >= kBrowseAddressCapacity) {
      // The host's buffer cannot take it: the host gets no address rather than a cut one.
      err(kLogError, "telMar: BrowseAddress() address of %zu characters exceeds the buffer: '%s'",
          address.size(), address.c_str());
      usable = false;
    }
    if (!usable) {
      buffer[0] = '\0';
    } else {
      if (!dialog->m_longPath.empty()) {
        err(kLogTrace,
            "telMar: BrowseAddress() '%s' cannot be shortened to 31 characters (%s): '%s' is "
            "returned",
            dialog->m_longPath.c_str(), dialog->m_longWhy, address.c_str());
      }
      std::memcpy(buffer, address.c_str(), address.size() + 1);
      result = 0;
    }
  }

  macros->RemoveAll();
  delete macros;
  CloseShareData(handle, view);
  delete dialog;
  return result;
}
