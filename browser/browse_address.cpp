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

  const uint32_t number = static_cast<uint32_t>(request->instanceNumber);
  const PendingSnapshot seen = SnapshotPending(number, view);
  auto* dialog = new CBrowserDlg(request, view, macros);
  int ended = dialog->DoModal();
  bool handedOver = false;
  if (dialog->m_noNetwork) {
    // No address can come from an empty tree; an older network's must not be offered either.
    err(kLogError,
        "telMar: BrowseAddress() has no network to show: the network of driver instance %u is "
        "not open (did its ColdStart fail?)",
        static_cast<unsigned>(number));
    buffer[0] = '\0';
  } else if (ended == IDOK && !dialog->m_address.empty()) {
    const std::string& address = dialog->m_address;
    if (address.size() >= kBrowseAddressCapacity) {
      // The host's buffer cannot take it: the host gets no address rather than a cut one.
      err(kLogError, "telMar: BrowseAddress() address of %zu characters exceeds the buffer: '%s'",
          address.size(), address.c_str());
      buffer[0] = '\0';
    } else if (address[0] == '#' && !macros->Contains(dialog->m_macroName)) {
      // The new macro goes to the driver running now (which may have been restarted while the
      // dialog was open); it takes it over at its next parse. An address whose macro no driver
      // will learn is no address.
      handedOver = HandOverMacro(number, dialog->m_macroName, dialog->m_macroValue);
      if (handedOver) {
        std::memcpy(buffer, address.c_str(), address.size() + 1);
        result = 0;
      } else {
        buffer[0] = '\0';
      }
    } else {
      std::memcpy(buffer, address.c_str(), address.size() + 1);
      result = 0;
    }
  }
  if (!handedOver) {
    if (ended != IDOK) buffer[0] = '\0';
    WithdrawPendingMacro(number, seen);
  }

  macros->RemoveAll();
  delete macros;
  CloseShareData(handle, view);
  delete dialog;
  return result;
}
