// The browse command in a real Qt window (offscreen platform), driven through its widgets.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <cstdlib>
#include <vector>

#include "browser/browser_resources.h"
#include "browser/qt_dialog_hook.h"
#include "core/vpi_main.h"
#include "tests/browser/browse_fixture.h"

namespace browsetest {
namespace {

template <typename W>
W* Control(QDialog* window, int id) {
  return window->findChild<W*>(QStringLiteral("control%1").arg(id));
}

QTreeWidgetItem* FindPath(QTreeWidget* tree, const QStringList& parts) {
  QTreeWidgetItem* item = tree->topLevelItem(0);  // the network; not part of paths
  for (const QString& part : parts) {
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; item && i < item->childCount() && !next; ++i) {
      if (item->child(i)->text(0) == part) next = item->child(i);
    }
    item = next;
  }
  return item;
}

// What a user's arrow key on a closed drop-down list does: the next entry, chosen.
void ArrowDown(QComboBox* combo, int times) {
  for (int i = 0; i < times; ++i) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(combo, &press);
  }
}

class QtWindowTest : public BrowseFixture {
 protected:
  void SetUp() override {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  void TearDown() override {
    SetQtDialogShownHook(nullptr);
    BrowseFixture::TearDown();
  }
  uint32_t BrowseThroughVpiMain() {
    std::memset(buffer_, 'Z', sizeof buffer_);
    BrowseParams params{buffer_};
    VpiRequest request{};
    request.command = kBrowseAddress;
    request.instanceNumber = 1;
    request.params = &params;
    return VpiMain(&request);
  }
};

TEST_F(QtWindowTest, ChooseNvImplicitRealAndOk) {
  StartDriver();
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  bool hookRan = false;
  SetQtDialogShownHook([&](QDialog* window) {
    hookRan = true;
    EXPECT_EQ(window->windowTitle(), "LonWorks browser");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);  // the wait cursor is gone
    auto* tree = Control<QTreeWidget>(window, IDC_TREE);
    auto* binding = Control<QComboBox>(window, IDC_BINDING);
    auto* types = Control<QComboBox>(window, IDC_TYPES);
    auto* address = Control<QLineEdit>(window, IDC_ADDRESS);
    auto* macro = Control<QLineEdit>(window, IDC_MACRO);
    auto* ok = Control<QPushButton>(window, IDOK);
    ASSERT_TRUE(tree && binding && types && address && macro && ok);
    EXPECT_FALSE(binding->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(window, IDC_POLLING)->isEnabled());
    EXPECT_EQ(binding->count(), 4);
    EXPECT_EQ(types->itemText(4), "Binary");
    EXPECT_TRUE(tree->topLevelItem(0)->isExpanded());

    QTreeWidgetItem* nv = FindPath(tree, {"Building", "Floor1", "Room101", "nvoSpaceTemp"});
    ASSERT_NE(nv, nullptr);
    EXPECT_FALSE(nv->icon(0).isNull());
    tree->setCurrentItem(nv);
    EXPECT_TRUE(binding->isEnabled());
    EXPECT_EQ(address->text(), "#001.nvoSpaceTemp");
    EXPECT_EQ(macro->text(), QString::fromStdString(kRoom));
    ArrowDown(binding, 2);  // "Bounded", then "Implicit"
    ArrowDown(types, 2);    // "Integer", then "Real"
    EXPECT_EQ(binding->currentText(), "Implicit");
    EXPECT_EQ(address->text(), "#001.nvoSpaceTemp/M:i/F:r");
    ok->click();
  });
  EXPECT_EQ(BrowseThroughVpiMain(), 0u);
  EXPECT_TRUE(hookRan);
  EXPECT_EQ(Buffer(), "#001.nvoSpaceTemp/M:i/F:r");
  EXPECT_EQ(PendingName(), "#001");
  EXPECT_EQ(PendingValue(), kRoom);
  // The application object lived for the dialog's life only.
  EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

TEST_F(QtWindowTest, TemplateGeometryAndTabOrder) {
  StartDriver();
  SetQtDialogShownHook([&](QDialog* window) {
    const QSize size = window->size();
    // Every control scales from dialog units by the same factors as the dialog (368 x 202).
    struct Box {
      int id, x, y, w;
    };
    for (Box b : {Box{IDC_TREE, 11, 43, 279}, Box{IDC_MACRO, 57, 7, 232}, Box{IDOK, 38, 181, 50},
                  Box{IDC_REFRESH, 142, 181, 50}, Box{IDC_TYPES, 301, 89, 51}}) {
      SCOPED_TRACE(b.id);
      QWidget* w = Control<QWidget>(window, b.id);
      ASSERT_NE(w, nullptr);
      EXPECT_NEAR(w->x(), b.x * size.width() / 368.0, 1.5);
      EXPECT_NEAR(w->y(), b.y * size.height() / 202.0, 1.5);
      EXPECT_NEAR(w->width(), b.w * size.width() / 368.0, 1.5);
      EXPECT_TRUE(window->rect().contains(w->geometry()));
    }
    QWidget* tree = Control<QWidget>(window, IDC_TREE);
    EXPECT_NEAR(tree->height(), 134 * size.height() / 202.0, 1.5);

    // Tab visits the controls that take it, in template order.
    const std::vector<int> order = {IDC_MACRO,         IDC_ADDRESS, IDC_TREE, IDC_POLLING,
                                    IDC_CLEAR_OPTIONS, IDC_BINDING, IDOK,     IDCANCEL,
                                    IDC_REFRESH,       IDC_TYPES};
    for (size_t i = 0; i + 1 < order.size(); ++i) {
      QWidget* from = Control<QWidget>(window, order[i]);
      QWidget* next = from->nextInFocusChain();
      while (!(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
      EXPECT_EQ(next->property("controlId").toInt(), order[i + 1]) << "after " << order[i];
    }
    window->reject();  // Escape, or the close box
  });
  EXPECT_EQ(BrowseThroughVpiMain(), 53u);
  EXPECT_EQ(Buffer(), "");
}

TEST_F(QtWindowTest, UsesTheHostsApplicationObject) {
  StartDriver();
  int argc = 1;
  char name[] = "host";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  QDialog* seen = nullptr;
  SetQtDialogShownHook([&](QDialog* window) {
    seen = window;
    Control<QPushButton>(window, IDCANCEL)->click();
  });
  EXPECT_EQ(BrowseThroughVpiMain(), 53u);
  EXPECT_NE(seen, nullptr);
  EXPECT_EQ(QCoreApplication::instance(), &app);
}

}  // namespace
}  // namespace browsetest
