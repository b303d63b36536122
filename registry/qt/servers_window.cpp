#include "registry/qt/servers_window.h"

#include <QCloseEvent>
#include <QMdiArea>
#include <QPalette>
#include <QSignalBlocker>
#include <QTreeWidget>

#include "ui/qt/latin1_text.h"

namespace ov {

namespace {

constexpr int kNodeRole = Qt::UserRole;

bool Contains(const QTreeWidgetItem* ancestor, const QTreeWidgetItem* item) {
  for (; item != nullptr; item = item->parent()) {
    if (item == ancestor) return true;
  }
  return false;
}

// Where the selection goes when its node is deleted: the next sibling, else the previous one, else
// the parent, as a native tree control moves it.
QTreeWidgetItem* Successor(QTreeWidget* tree, QTreeWidgetItem* item) {
  QTreeWidgetItem* parent = item->parent();
  const int index = parent != nullptr ? parent->indexOfChild(item) : tree->indexOfTopLevelItem(item);
  const int count = parent != nullptr ? parent->childCount() : tree->topLevelItemCount();
  auto at = [&](int i) { return parent != nullptr ? parent->child(i) : tree->topLevelItem(i); };
  if (index + 1 < count) return at(index + 1);
  if (index > 0) return at(index - 1);
  return parent;
}

}  // namespace

TfSvrs::TfSvrs(QWidget* parent) : QMdiSubWindow(parent) {
  setObjectName("fSvrs");
  setWindowTitle("Servers");
  // A fixed border with the system menu and the minimise box; the close box only minimises.
  setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setAttribute(Qt::WA_DeleteOnClose, false);

  body_ = new QWidget(this);
  body_->setFixedSize(kClientWidth, kClientHeight);
  trSvrs = new QTreeWidget(body_);
  trSvrs->setObjectName("trSvrs");
  trSvrs->setAccessibleName("Servers");
  trSvrs->setGeometry(0, 4, 233, 149);
  trSvrs->setHeaderHidden(true);
  trSvrs->setColumnCount(1);
  trSvrs->setIndentation(19);
  trSvrs->setSelectionMode(QAbstractItemView::SingleSelection);
  trSvrs->setEditTriggers(QAbstractItemView::NoEditTriggers);
  trSvrs->setExpandsOnDoubleClick(false);  // a double click opens the server's window instead
  // The selection stays visible while another window has the focus.
  QPalette palette = trSvrs->palette();
  for (auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  }
  trSvrs->setPalette(palette);

  setWidget(body_);
  FitToClientArea();
  connect(trSvrs, &QTreeWidget::itemSelectionChanged, this, &TfSvrs::trSvrsChange);
  connect(trSvrs, &QTreeWidget::itemClicked, this, &TfSvrs::trSvrsClick);
  connect(trSvrs, &QTreeWidget::itemDoubleClicked, this, &TfSvrs::trSvrsDblClick);
}

void TfSvrs::FitToClientArea() { setFixedSize(sizeHint()); }

void TfSvrs::ShowServers() {
  showNormal();
  raise();
  if (QMdiArea* area = mdiArea()) area->setActiveSubWindow(this);
}

void TfSvrs::trSvrsChange() { emit selectionChanged(); }

void TfSvrs::trSvrsClick() { emit selectionChanged(); }

void TfSvrs::trSvrsDblClick() { emit openRequested(); }

int TfSvrs::AddNode(int parent, const std::string& text) {
  const int node = nextNode_++;
  auto* item = new QTreeWidgetItem(QStringList(ToQt(text)));
  item->setData(0, kNodeRole, node);
  const auto found = items_.find(parent);
  if (parent != 0 && found != items_.end()) {
    found->second->addChild(item);
  } else {
    trSvrs->addTopLevelItem(item);
  }
  items_[node] = item;
  return node;
}

void TfSvrs::DeleteNode(int node) {
  const auto found = items_.find(node);
  if (found == items_.end()) return;
  QTreeWidgetItem* item = found->second;
  const QList<QTreeWidgetItem*> selected = trSvrs->selectedItems();
  const bool selectionGoes = !selected.isEmpty() && Contains(item, selected.front());
  QTreeWidgetItem* successor = selectionGoes ? Successor(trSvrs, item) : nullptr;

  Forget(item);
  {
    // The tree's own reports during the removal would come in a half-done state (or not at all when
    // a parent of the selection goes); the change is reported once, below, when the tree is whole.
    const QSignalBlocker blocker(trSvrs);
    delete item;
    if (selectionGoes) {
      if (successor != nullptr) {
        trSvrs->setCurrentItem(successor);
      } else {
        trSvrs->clearSelection();
        trSvrs->setCurrentItem(nullptr);
      }
    } else if (trSvrs->selectedItems() != selected) {
      // When the deleted node was current but not selected, the view moves the current index to a
      // neighbour and selects it: the selection stays what the user left.
      trSvrs->clearSelection();
      if (!selected.isEmpty()) selected.front()->setSelected(true);
    }
  }
  if (selectionGoes) trSvrsChange();
}

int TfSvrs::SelectedNode() const {
  const QList<QTreeWidgetItem*> selected = trSvrs->selectedItems();
  return selected.isEmpty() ? 0 : NodeOf(selected.front());
}

int TfSvrs::NodeOf(const QTreeWidgetItem* item) const { return item->data(0, kNodeRole).toInt(); }

void TfSvrs::Forget(QTreeWidgetItem* item) {
  items_.erase(NodeOf(item));
  for (int i = 0; i < item->childCount(); ++i) Forget(item->child(i));
}

void TfSvrs::closeEvent(QCloseEvent* event) {
  event->ignore();
  showMinimized();
}

bool TfSvrs::event(QEvent* event) {
  const bool handled = QMdiSubWindow::event(event);
  // The frame around the fixed client area is known only inside the frame window, and follows the
  // style and its font.
  switch (event->type()) {
    case QEvent::ParentChange:
    case QEvent::StyleChange:
    case QEvent::FontChange:
    case QEvent::Show:
      if (!isMinimized() && body_ != nullptr) FitToClientArea();
      break;
    default:
      break;
  }
  return handled;
}

}  // namespace ov
