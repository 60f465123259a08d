// telmar-browser-shot <file.png>: opens the browser dialog against the simulated demo network as
// a running driver would offer it, selects an NV with the options "Implicit" and "Real", and
// saves a picture of the window. Runs without a display (Qt's offscreen platform) unless
// QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QPixmap>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "browser/browser_resources.h"
#include "browser/qt_dialog_hook.h"
#include "config/share_data.h"
#include "core/driver_instance.h"
#include "core/host_api.h"
#include "core/vpi_main.h"
#include "lon/lns.h"
#include "netsim/lonsim_control.h"

namespace {

QTreeWidgetItem* FindPath(QTreeWidget* tree, const QStringList& parts) {
  QTreeWidgetItem* item = tree->topLevelItem(0);
  for (const QString& part : parts) {
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; item && i < item->childCount() && !next; ++i) {
      if (item->child(i)->text(0) == part) next = item->child(i);
    }
    item = next;
  }
  return item;
}

void ChooseEntry(QComboBox* combo, int index) {
  for (int i = 0; i <= index; ++i) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(combo, &press);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <file.png>\n", argv[0]);
    return 2;
  }
  const std::filesystem::path output = std::filesystem::absolute(argv[1]);
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);

  // The driver's side: its option file in a directory of our own, its shared block, the network.
  const std::filesystem::path previous = std::filesystem::current_path();
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("telmar-shot-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  std::ofstream("TELMAR01.int") << "[Lns]\nNetwork=Demo\n[Macros]\n";
  lonsim::SetNetworkRecordFile((dir / "lonsim.network").string());

  alignas(std::max_align_t) static unsigned char block[sizeof(DriverInstance)];
  VpiRequest driver{};
  driver.instance = reinterpret_cast<DriverInstance*>(block);
  driver.instanceNumber = 1;
  InstanceSetup(&driver);
  int rc = 1;
  CLns* lns = nullptr;
  uint8_t client = 0;
  if (CreateShareData(&driver) == 0 && KestMkClient("TelMAR", 1, 0, &client) == 0) {
    driver.instance->shareView->delimiter = '.';
    driver.instance->shareView->clientId = client;
    lns = CLns::GetLnsObject(0, 0, 1, '.', "", "", "");
    if (lns && lns->Init(nullptr, 1) == 0 && lns->Open("Demo", "", "", "") == 0) {
      bool saved = false;
      SetQtDialogShownHook([&](QDialog* window) {
        auto* tree = window->findChild<QTreeWidget*>(QStringLiteral("control%1").arg(IDC_TREE));
        if (QTreeWidgetItem* nv =
                FindPath(tree, {"Building", "Floor1", "Room101", "nvoSpaceTemp"})) {
          tree->setCurrentItem(nv);
        }
        ChooseEntry(window->findChild<QComboBox*>(QStringLiteral("control%1").arg(IDC_BINDING)), 1);
        ChooseEntry(window->findChild<QComboBox*>(QStringLiteral("control%1").arg(IDC_TYPES)), 1);
        saved = window->grab().save(QString::fromStdString(output.string()));
        window->reject();
      });
      char address[kBrowseAddressCapacity];
      BrowseParams params{address};
      VpiRequest browse{};
      browse.command = kBrowseAddress;
      browse.instanceNumber = 1;
      browse.params = &params;
      VpiMain(&browse);
      SetQtDialogShownHook(nullptr);
      if (saved) {
        std::printf("%s\n", output.string().c_str());
        rc = 0;
      } else {
        std::fprintf(stderr, "telmar-browser-shot: the dialog could not be shown or saved\n");
      }
    }
  }
  if (lns) lns->Release();
  InstanceTeardown(driver.instance);
  std::filesystem::current_path(previous);
  std::filesystem::remove_all(dir);
  return rc;
}
