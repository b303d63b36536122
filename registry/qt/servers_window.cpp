#include "registry/qt/servers_window.h"

#include <QCloseEvent>
#include <QCursor>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMdiArea>
#include <QPalette>
#include <QSignalBlocker>
#include <QTextDocument>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "consoles/colour_codes.h"
#include "core/qt/latin1_text.h"

namespace ov {

namespace {

constexpr int kNodeRole = Qt::UserRole;
constexpr int kExactTextRole = Qt::UserRole + 1;  // the node's text as the logic gave it
constexpr int kTipRole = Qt::UserRole + 2;        // the node's tip as the logic gave it
constexpr int kFiguresRole = Qt::UserRole + 3;    // what its Quake server costs

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

ServersWindow::ServersWindow(QWidget* parent) : QMdiSubWindow(parent) {
  setObjectName("fSvrs");
  setWindowTitle("Servers");
  // A fixed border with the system menu and the minimise box; the close box only minimises.
  setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setAttribute(Qt::WA_DeleteOnClose, false);

  body_ = new QWidget(this);
  body_->setFixedSize(kClientWidth, kClientHeight);
  tree_ = new QTreeWidget(body_);
  tree_->setObjectName("trSvrs");
  tree_->setAccessibleName("Servers");
  auto* column = new QVBoxLayout(body_);
  column->setContentsMargins(0, 4, 2, 3);
  column->addWidget(tree_);
  // The header is not shown, but assistive technology reads its one column's name.
  tree_->setHeaderLabel("Servers");
  tree_->setHeaderHidden(true);
  tree_->setColumnCount(1);
  tree_->setIndentation(19);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree_->setExpandsOnDoubleClick(false);  // a double click opens the server's window instead
  // Told once that the current node is none, the view no longer makes the first node current when it
  // gains the focus: a node drawn as chosen is then always the one selected, and nothing is before the
  // user chooses.
  tree_->setCurrentIndex(QModelIndex());
  // The selection stays visible while another window has the focus.
  QPalette palette = tree_->palette();
  for (auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  }
  tree_->setPalette(palette);

  setWidget(body_);
  FitToClientArea();
  connect(tree_, &QTreeWidget::itemSelectionChanged, this, &ServersWindow::NodeChosen);
  connect(tree_, &QTreeWidget::itemClicked, this, &ServersWindow::NodeClicked);
  connect(tree_, &QTreeWidget::itemDoubleClicked, this, &ServersWindow::OpenChosen);
  // Enter on a node does what a double click does, for those who move through the tree by keyboard.
  tree_->installEventFilter(this);
  tree_->viewport()->installEventFilter(this);  // its tooltips
}

bool ServersWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tree_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && tree_->currentItem() != nullptr) {
      OpenChosen();
      return true;
    }
  }
  // Filtered from construction on, before the tree is made.
  if (tree_ != nullptr && watched == tree_->viewport() && event->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(event);
    QTreeWidgetItem* item = tree_->itemAt(help->pos());
    if (item == nullptr) return false;
    tipNode_ = NodeOf(item);
    tipAt_ = help->globalPos();
    emit tipAboutToShow(tipNode_);
    return ShowTip(item);
  }
  return QMdiSubWindow::eventFilter(watched, event);
}

// A tip may carry a game server's text: shown as plain text, never as markup.
bool ServersWindow::ShowTip(QTreeWidgetItem* item) {
  QString tip = item->data(0, kTipRole).toString();
  const QString figures = item->data(0, kFiguresRole).toString();
  if (!figures.isEmpty()) tip += (tip.isEmpty() ? "" : "\n") + figures;
  if (tip.isEmpty()) {
    QToolTip::hideText();
    return false;
  }
  if (Qt::mightBeRichText(tip)) tip = Qt::convertFromPlainText(tip, Qt::WhiteSpaceNoWrap);
  QToolTip::showText(tipAt_, tip, tree_->viewport(), tree_->visualItemRect(item));
  return true;
}

void ServersWindow::SetNodeFigures(int node, const std::string& figures) {
  const auto found = items_.find(node);
  if (found == items_.end()) return;
  found->second->setData(0, kFiguresRole, ToQt(figures));
  if (node == TipNode()) ShowTip(found->second);
}

// The pointer still rests on the node whose tip was asked for: its first figures come after the tip
// showed without them.
int ServersWindow::TipNode() const {
  if (tipNode_ == 0 || !isVisible()) return 0;
  const QTreeWidgetItem* item = tree_->itemAt(tree_->viewport()->mapFromGlobal(QCursor::pos()));
  return item != nullptr && NodeOf(item) == tipNode_ ? tipNode_ : 0;
}

void ServersWindow::FitToClientArea() { setFixedSize(sizeHint()); }

void ServersWindow::ShowServers() {
  showNormal();
  raise();
  if (QMdiArea* area = mdiArea()) area->setActiveSubWindow(this);
}

void ServersWindow::NodeChosen() { emit selectionChanged(); }

void ServersWindow::NodeClicked() { emit selectionChanged(); }

void ServersWindow::OpenChosen() { emit openRequested(); }

int ServersWindow::AddNode(int parent, const std::string& text) {
  const int node = nextNode_++;
  auto* item = new QTreeWidgetItem(QStringList(ToQt(hideColourCodes_ ? StripColourCodes(text) : text)));
  item->setData(0, kNodeRole, node);
  item->setData(0, kExactTextRole, ToQt(text));
  const auto found = items_.find(parent);
  if (parent != 0 && found != items_.end()) {
    found->second->addChild(item);
  } else {
    tree_->addTopLevelItem(item);
  }
  items_[node] = item;
  return node;
}

void ServersWindow::SetColourCodes(bool hidden) {
  if (hidden == hideColourCodes_) return;
  hideColourCodes_ = hidden;
  for (const auto& [node, item] : items_) {
    const std::string exact = FromQt(item->data(0, kExactTextRole).toString());
    item->setText(0, ToQt(hidden ? StripColourCodes(exact) : exact));
  }
}

void ServersWindow::DeleteNode(int node) {
  const auto found = items_.find(node);
  if (found == items_.end()) return;
  QTreeWidgetItem* item = found->second;
  const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
  const bool selectionGoes = !selected.isEmpty() && Contains(item, selected.front());
  QTreeWidgetItem* successor = selectionGoes ? Successor(tree_, item) : nullptr;

  Forget(item);
  {
    // The tree's own reports during the removal would come in a half-done state (or not at all when
    // a parent of the selection goes); the change is reported once, below, when the tree is whole.
    const QSignalBlocker blocker(tree_);
    delete item;
    if (selectionGoes) {
      if (successor != nullptr) {
        tree_->setCurrentItem(successor);
      } else {
        tree_->clearSelection();
        tree_->setCurrentItem(nullptr);
      }
    } else if (tree_->selectedItems() != selected) {
      // When the deleted node was current but not selected, the view moves the current index to a
      // neighbour and selects it: the selection stays what the user left.
      tree_->clearSelection();
      if (!selected.isEmpty()) selected.front()->setSelected(true);
    }
  }
  if (selectionGoes) NodeChosen();
}

int ServersWindow::SelectedNode() const {
  const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
  return selected.isEmpty() ? 0 : NodeOf(selected.front());
}

void ServersWindow::SetNodeTip(int node, const std::string& tip) {
  QString shown = ToQt(tip);
  const auto found = items_.find(node);
  if (found == items_.end()) return;
  found->second->setData(0, kTipRole, shown);
  if (Qt::mightBeRichText(shown)) shown = Qt::convertFromPlainText(shown, Qt::WhiteSpaceNoWrap);
  found->second->setToolTip(0, shown);
}

void ServersWindow::SetNodeText(int node, const std::string& text) {
  const auto found = items_.find(node);
  if (found == items_.end()) return;
  found->second->setData(0, kExactTextRole, ToQt(text));
  found->second->setText(0, ToQt(hideColourCodes_ ? StripColourCodes(text) : text));
}

int ServersWindow::NodeOf(const QTreeWidgetItem* item) const { return item->data(0, kNodeRole).toInt(); }

void ServersWindow::Forget(QTreeWidgetItem* item) {
  items_.erase(NodeOf(item));
  for (int i = 0; i < item->childCount(); ++i) Forget(item->child(i));
}

void ServersWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
  showMinimized();
}

bool ServersWindow::event(QEvent* event) {
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
