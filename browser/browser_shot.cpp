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
#include <string>

#include "browser/browser_resources.h"
#include "browser/browser_shot_scene.h"
#include "browser/qt_dialog_hook.h"

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

  int rc = WithBrowseScene([&] {
    bool saved = false;
    SetQtDialogShownHook([&](QDialog* window) {
      auto* tree = window->findChild<QTreeWidget*>(QStringLiteral("control%1").arg(IDC_TREE));
      if (QTreeWidgetItem* nv = FindPath(tree, {"Building", "Floor1", "Room101", "nvoSpaceTemp"})) {
        tree->setCurrentItem(nv);
      }
      ChooseEntry(window->findChild<QComboBox*>(QStringLiteral("control%1").arg(IDC_BINDING)), 1);
      ChooseEntry(window->findChild<QComboBox*>(QStringLiteral("control%1").arg(IDC_TYPES)), 1);
      saved = window->grab().save(QString::fromStdString(output.string()));
      window->reject();
    });
    SendBrowse();
    SetQtDialogShownHook(nullptr);
    if (!saved) {
      std::fprintf(stderr, "telmar-browser-shot: the dialog could not be shown or saved\n");
      return 1;
    }
    std::printf("%s\n", output.string().c_str());
    return 0;
  });
  return rc < 0 ? 1 : rc;
}
