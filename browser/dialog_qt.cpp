// The Qt backend: a real modal window built from the dialog's template. The in-memory controls
// stay the truth: every change of them is mirrored into the widgets, and the user's actions on
// the widgets go back through CDialog's User* calls.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "browser/dialog_backend.h"
#include "browser/dialog_layer.h"
#include "browser/qt_dialog_hook.h"
#include "platform/display.h"

namespace {

std::mutex hookLock;
std::function<void(QDialog*)> shownHook;  // guarded by hookLock

// Dialog units to pixels as the original platform converts them: a quarter of the font's
// average character width horizontally, an eighth of its height vertically, rounded.
struct DialogUnits {
  int baseX, baseY;
  int X(int units) const { return (units * baseX + 2) / 4; }
  int Y(int units) const { return (units * baseY + 4) / 8; }
};

DialogUnits UnitsOf(const QFont& font) {
  QFontMetrics metrics(font);
  // The average width over the 52 letters, rounded to a whole pixel.
  int width = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return DialogUnits{(width / 26 + 1) / 2, metrics.height()};
}

class BrowserWindow final : public QDialog {
 public:
  explicit BrowserWindow(CDialog& dialog) : dialog_(dialog) {}
  // Escape and the close box come here: the dialog decides, as for its Cancel button.
  void reject() override { dialog_.UserClick(kCloseBoxId); }
  void accept() override { dialog_.UserClick(IDOK); }

 private:
  CDialog& dialog_;
};

class QtDialog {
 public:
  explicit QtDialog(CDialog& dialog) : dialog_(dialog), window_(dialog) {}
  ~QtDialog() {
    dialog_.SetObserver(nullptr);
    while (waitCursor_ > 0) {
      QApplication::restoreOverrideCursor();
      --waitCursor_;
    }
  }

  void Build();
  void OnChange(int id, DialogChange change, uintptr_t item);
  int Run();

 private:
  QTreeWidgetItem* TreeItem(HTREEITEM item) const {
    return item && item <= treeItems_.size() ? treeItems_[item - 1] : nullptr;
  }
  void AddTreeItem(const ControlState& tree, HTREEITEM item);
  void SetIcons(const ControlState& tree);

  CDialog& dialog_;
  BrowserWindow window_;
  std::map<int, QWidget*> widgets_;  // by control id
  QTreeWidget* tree_ = nullptr;
  int treeId_ = 0;
  std::vector<QTreeWidgetItem*> treeItems_;  // by handle - 1
  std::vector<QIcon> icons_;
  int waitCursor_ = 0;
};

void QtDialog::Build() {
  const DialogTemplate& tpl = *dialog_.Template();
  QFont font(QString::fromUtf8(tpl.fontName), tpl.pointSize);
  font.setStyleHint(QFont::SansSerif);
  window_.setFont(font);
  const DialogUnits du = UnitsOf(font);
  window_.setWindowTitle(QString::fromUtf8(tpl.title));
  window_.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint);
  window_.setFixedSize(du.X(tpl.cx), du.Y(tpl.cy));
  window_.setModal(true);

  QWidget* previousTab = nullptr;
  for (size_t i = 0; i < tpl.controlCount; ++i) {
    const ControlTemplate& t = tpl.controls[i];
    const ControlState* state = dialog_.Control(t.id);
    const QString text = QString::fromUtf8(state ? state->text.c_str() : t.text);
    QWidget* widget = nullptr;
    int height = du.Y(t.cy);
    switch (t.kind) {
      case ControlKind::kEdit: {
        auto* edit = new QLineEdit(text, &window_);
        edit->setReadOnly(t.style & ES_READONLY);
        edit->setFrame(t.style & WS_BORDER);
        widget = edit;
        break;
      }
      case ControlKind::kTreeView: {
        tree_ = new QTreeWidget(&window_);
        tree_->setHeaderHidden(true);
        tree_->setColumnCount(1);
        tree_->setRootIsDecorated(t.style & TVS_LINESATROOT);
        tree_->setItemsExpandable(t.style & TVS_HASBUTTONS);
        tree_->setIconSize(QSize(16, 13));
        treeId_ = t.id;
        QObject::connect(
            tree_, &QTreeWidget::currentItemChanged,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
              if (current) {
                dialog_.UserSelectTreeItem(current->data(0, Qt::UserRole).value<qulonglong>());
              }
            });
        widget = tree_;
        break;
      }
      case ControlKind::kPushButton: {
        auto* button = new QPushButton(text, &window_);
        button->setDefault(t.style & BS_DEFPUSHBUTTON);
        int id = t.id;
        QObject::connect(button, &QPushButton::clicked, [this, id] { dialog_.UserClick(id); });
        widget = button;
        break;
      }
      case ControlKind::kStatic: {
        auto* label = new QLabel(text, &window_);
        label->setAlignment(Qt::AlignLeft |
                            ((t.style & SS_CENTERIMAGE) ? Qt::AlignVCenter : Qt::AlignTop));
        widget = label;
        break;
      }
      case ControlKind::kComboBox: {
        auto* combo = new QComboBox(&window_);
        if (state) {
          for (const std::string& entry : state->entries) {
            combo->addItem(QString::fromUtf8(entry.c_str()));
          }
          combo->setCurrentIndex(state->curSel);
        }
        // The template's height is that of the opened list; the closed box is one line high.
        height = combo->sizeHint().height();
        combo->setMaxVisibleItems((t.cy - 14) * du.baseY / 8 / combo->fontMetrics().height() + 1);
        int id = t.id;
        QObject::connect(combo, &QComboBox::activated,
                         [this, id](int index) { dialog_.UserSelectCombo(id, index); });
        widget = combo;
        break;
      }
      case ControlKind::kGroupBox:
        widget = new QGroupBox(text, &window_);
        break;
    }
    widget->setGeometry(du.X(t.x), du.Y(t.y), du.X(t.cx), height);
    widget->setObjectName(QStringLiteral("control%1").arg(t.id));
    widget->setProperty("controlId", t.id);
    if (state) {
      widget->setEnabled(state->enabled);
      widgets_[t.id] = widget;
    }
    // Static controls and group boxes hold no focus; the others are visited in template order.
    if (t.style & WS_TABSTOP) {
      widget->setFocusPolicy(Qt::StrongFocus);
      if (previousTab) QWidget::setTabOrder(previousTab, widget);
      previousTab = widget;
    } else if (t.kind != ControlKind::kTreeView) {
      widget->setFocusPolicy(t.kind == ControlKind::kStatic || t.kind == ControlKind::kGroupBox
                                 ? Qt::NoFocus
                                 : Qt::ClickFocus);
    }
    widget->lower();  // the first controls of the template lie on top
  }
  dialog_.SetObserver(
      [this](int id, DialogChange change, uintptr_t item) { OnChange(id, change, item); });
}

void QtDialog::AddTreeItem(const ControlState& tree, HTREEITEM item) {
  const ::TreeItem& source = tree.items[item - 1];
  QTreeWidgetItem* parent = TreeItem(source.parent);
  auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
  node->setText(0, QString::fromUtf8(source.text.c_str()));
  node->setData(0, Qt::UserRole, QVariant::fromValue<qulonglong>(item));
  if (source.image >= 0 && source.image < static_cast<int>(icons_.size())) {
    node->setIcon(0, icons_[source.image]);
  }
  if (treeItems_.size() < item) treeItems_.resize(item, nullptr);
  treeItems_[item - 1] = node;
}

void QtDialog::SetIcons(const ControlState& tree) {
  icons_.clear();
  if (const CImageList* list = tree.images) {
    std::vector<uint32_t> pixels;
    for (int i = 0; list->GetImagePixels(i, &pixels); ++i) {
      QImage image(list->Width(), list->Height(), QImage::Format_ARGB32);
      for (int y = 0; y < list->Height(); ++y) {
        for (int x = 0; x < list->Width(); ++x) image.setPixel(x, y, pixels[y * list->Width() + x]);
      }
      icons_.emplace_back(QPixmap::fromImage(image));
    }
  }
  for (size_t h = 1; h <= treeItems_.size(); ++h) {
    int image = tree.items[h - 1].image;
    bool known = image >= 0 && image < static_cast<int>(icons_.size());
    treeItems_[h - 1]->setIcon(0, known ? icons_[image] : QIcon());
  }
}

void QtDialog::OnChange(int id, DialogChange change, uintptr_t item) {
  if (change == DialogChange::kEnded) {
    window_.done(static_cast<int>(item));
    return;
  }
  if (change == DialogChange::kWaitCursor) {
    if (item) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
      ++waitCursor_;
    } else if (waitCursor_ > 0) {
      QApplication::restoreOverrideCursor();
      --waitCursor_;
    }
    return;
  }
  auto it = widgets_.find(id);
  const ControlState* state = dialog_.Control(id);
  if (it == widgets_.end() || !state) return;
  QWidget* widget = it->second;
  // The widgets' own signals would report these changes back as the user's: block them.
  QSignalBlocker block(widget);
  switch (change) {
    case DialogChange::kText:
      if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(QString::fromUtf8(state->text.c_str()));
        edit->setCursorPosition(0);
      } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        button->setText(QString::fromUtf8(state->text.c_str()));
      }
      break;
    case DialogChange::kEnabled:
      widget->setEnabled(state->enabled);
      break;
    case DialogChange::kSelection:
      if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->setCurrentIndex(state->curSel);
      } else if (id == treeId_) {
        tree_->setCurrentItem(TreeItem(state->selected));
      }
      break;
    case DialogChange::kItemAdded:
      if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->addItem(QString::fromUtf8(state->entries[item].c_str()));
      } else if (id == treeId_) {
        AddTreeItem(*state, item);
      }
      break;
    case DialogChange::kItemsCleared:
      if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->clear();
      } else if (id == treeId_) {
        tree_->clear();
        treeItems_.clear();
      }
      break;
    case DialogChange::kExpanded:
      if (QTreeWidgetItem* node = TreeItem(item))
        node->setExpanded(state->items[item - 1].expanded);
      break;
    case DialogChange::kImageList:
      if (id == treeId_) SetIcons(*state);
      break;
    default:
      break;
  }
}

int QtDialog::Run() {
  dialog_.OnInitDialog();
  // The first control that takes the tab key gets the focus, as the platform does.
  for (size_t i = 0; i < dialog_.Template()->controlCount; ++i) {
    const ControlTemplate& t = dialog_.Template()->controls[i];
    auto it = widgets_.find(t.id);
    if ((t.style & WS_TABSTOP) && it != widgets_.end() && it->second->isEnabled()) {
      it->second->setFocus();
      break;
    }
  }
  if (dialog_.Ended()) return dialog_.Result();
  std::function<void(QDialog*)> hook;
  {
    std::lock_guard<std::mutex> lock(hookLock);
    hook = shownHook;
  }
  if (hook) {
    QTimer::singleShot(0, &window_, [this, hook] { hook(&window_); });
  }
  window_.exec();
  // Closed by other means than the dialog's own (the application quitting): as Cancel.
  if (!dialog_.Ended()) dialog_.EndDialog(IDCANCEL);
  return dialog_.Result();
}

}  // namespace

void SetQtDialogShownHook(std::function<void(QDialog*)> hook) {
  std::lock_guard<std::mutex> lock(hookLock);
  shownHook = std::move(hook);
}

int RunWindowDialog(CDialog& dialog, std::string* whyNot) {
  // One window at a time: the toolkit has one application object and one GUI thread.
  OneDialogWindow one;
  if (!one.Taken()) {
    *whyNot = OneDialogWindow::WhyNotText();
    return -1;
  }
  QCoreApplication* running = QCoreApplication::instance();
  std::unique_ptr<QApplication> ownApp;
  if (running) {
    if (!qobject_cast<QApplication*>(running)) {
      *whyNot = "the process runs a Qt application without widgets";
      return -1;
    }
    if (running->thread() != QThread::currentThread()) {
      *whyNot = "called on another thread than the process's GUI thread";
      return -1;
    }
  } else {
    if (!GuiDisplayAvailable(whyNot)) return -1;
    // The process has no application object: one lives for the dialog's life.
    static int argc = 1;
    static char name[] = "telmar";
    static char* argv[] = {name, nullptr};
    ownApp = std::make_unique<QApplication>(argc, argv);
  }
  int result;
  {
    dialog.SetObserver(nullptr);
    dialog.CreateControls();
    QtDialog window(dialog);
    window.Build();
    result = window.Run();
  }
  return result;
}
