// The servers window on the offscreen platform: its frame, the tree's nodes and selection, what a double
// click opens, and closing it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMouseEvent>
#include <QTreeWidget>

#include "registry/servers_window.h"
#include "tests/fakes.h"

namespace ov {
namespace {

const std::string kSep(1, '\x80');

// A client whose tree is the real servers window inside a frame; everything else is faked.
struct Harness {
  test::FakeEventLoop loop;
  test::FakeSocketApi sockets{loop};
  test::RecordingDesktop desktop;
  test::FakeWindowSystem windows;
  test::FakeLoginDialog login;
  QMainWindow frame;
  QMdiArea* area = new QMdiArea;
  TfSvrs* fSvrs = new TfSvrs;
  Client client{Platform{sockets, loop, desktop, *fSvrs, windows, login}};

  Harness() {
    frame.setCentralWidget(area);
    frame.resize(800, 600);
    area->addSubWindow(fSvrs);
    fSvrs->Attach(client);
    frame.show();
    fSvrs->show();
    client.InitClient("orvane-client");
    QApplication::processEvents();
  }
  int Connect() {
    sockets.autoConnectError = 0;
    client.connections.ConnectToServer("127.0.0.1", 4044, 10);
    return client.tables.FindBySocket(sockets.lastSocket);
  }
  QTreeWidgetItem* Item(int node) const {
    for (QTreeWidgetItemIterator it(fSvrs->trSvrs); *it; ++it) {
      if ((*it)->data(0, Qt::UserRole).toInt() == node) return *it;
    }
    return nullptr;
  }
  void DoubleClick(QTreeWidgetItem* item) {
    QWidget* viewport = fSvrs->trSvrs->viewport();
    const QPointF at = fSvrs->trSvrs->visualItemRect(item).center();
    const QPointF global = viewport->mapToGlobal(at);
    for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                      QEvent::MouseButtonRelease}) {
      QMouseEvent event(type, at, global, Qt::LeftButton,
                        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(viewport, &event);
    }
  }
};

TEST(ServersWindow, FixedFrameAroundTheTreeAndClosingOnlyMinimises) {
  Harness h;
  EXPECT_EQ(h.fSvrs->objectName(), "fSvrs");
  EXPECT_EQ(h.fSvrs->windowTitle(), "Servers");
  EXPECT_EQ(h.frame.findChild<QTreeWidget*>("trSvrs"), h.fSvrs->trSvrs);
  EXPECT_EQ(h.fSvrs->widget()->size(), QSize(235, 156));
  // The frame fits around the client area as the frame's style draws it.
  EXPECT_TRUE(h.fSvrs->contentsRect().contains(h.fSvrs->widget()->geometry()))
      << h.fSvrs->widget()->geometry().x() << "," << h.fSvrs->widget()->geometry().y() << " in "
      << h.fSvrs->width() << "x" << h.fSvrs->height();
  EXPECT_EQ(h.fSvrs->trSvrs->geometry(), QRect(0, 4, 233, 149));
  EXPECT_EQ(h.fSvrs->trSvrs->indentation(), 19);
  EXPECT_EQ(h.fSvrs->trSvrs->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_FALSE(h.fSvrs->windowFlags() & Qt::WindowMaximizeButtonHint);

  const QSize size = h.fSvrs->size();
  h.fSvrs->resize(500, 400);
  EXPECT_EQ(h.fSvrs->size(), size);

  EXPECT_FALSE(h.fSvrs->close());
  QApplication::processEvents();
  EXPECT_TRUE(h.fSvrs->isMinimized());
  EXPECT_TRUE(h.area->subWindowList().contains(h.fSvrs));
  h.fSvrs->ShowServers();
  QApplication::processEvents();
  EXPECT_FALSE(h.fSvrs->isMinimized());
  EXPECT_EQ(h.fSvrs->size(), size);
  EXPECT_EQ(h.area->activeSubWindow(), h.fSvrs);
}

TEST(ServersWindow, NodesSelectionAndDeletionReachTheSelection) {
  Harness h;
  const int slot = h.Connect();
  const int socket = h.client.tables.OVServers[slot].Socket;
  h.client.registry.OnOVInfo(socket, "i" + kSep + "Caf\xE9");
  for (const char* id : {"5", "6"}) {
    h.client.registry.OnNewServer(socket, id);
    h.client.registry.OnServerInfo(socket, std::string(id) + kSep + kSep + "Game" + id);
  }
  QTreeWidget* tree = h.fSvrs->trSvrs;
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  QTreeWidgetItem* ovItem = tree->topLevelItem(0);
  EXPECT_EQ(ovItem->text(0), QString::fromUtf8("[OV]Caf\u00E9"));  // one byte, one character
  ASSERT_EQ(ovItem->childCount(), 2);
  EXPECT_EQ(ovItem->child(1)->text(0), "[G]Game6");

  // Selecting in the tree reaches UpdateSelection.
  const int q5 = h.client.tables.FindQServer(slot, 5);
  tree->setCurrentItem(h.Item(h.client.tables.QServers[q5].TreeNode));
  EXPECT_EQ(h.fSvrs->SelectedNode(), h.client.tables.QServers[q5].TreeNode);
  EXPECT_EQ(h.client.selection.Selected().serverId, 5);
  EXPECT_TRUE(h.desktop.commands[Command::mnuEKill]);

  // Removing the selected server moves the selection to its sibling and updates at once.
  h.client.registry.RemoveQServer(socket, "5");
  EXPECT_EQ(h.client.selection.Selected().serverId, 6);
  EXPECT_EQ(tree->selectedItems().size(), 1);
  EXPECT_EQ(tree->selectedItems().front()->text(0), "[G]Game6");

  // With its parent going, the selection moves on to nothing: every command off.
  h.client.connections.Disconnect(slot, 1);
  EXPECT_EQ(tree->topLevelItemCount(), 0);
  EXPECT_EQ(h.fSvrs->SelectedNode(), 0);
  EXPECT_EQ(h.client.selection.Kind(), SelectionKind::None);
  EXPECT_FALSE(h.desktop.commands[Command::mnuWnd]);
  h.fSvrs->DeleteNode(12345);  // unknown nodes are ignored
}

TEST(ServersWindow, DoubleClickOpensTheWindowOfTheSelectedServerOnly) {
  Harness h;
  const int slot = h.Connect();
  const int socket = h.client.tables.OVServers[slot].Socket;
  h.client.registry.OnOVInfo(socket, "i" + kSep + "Old");
  const int orphan = h.client.tables.OVServers[slot].TreeNode;
  h.client.registry.OnOVInfo(socket, "i" + kSep + "New");
  h.client.registry.OnNewServer(socket, "7");
  h.client.registry.OnServerInfo(socket, "7" + kSep + kSep + "Duel");
  const QSIrec& duel = h.client.tables.QServers[h.client.tables.FindQServer(slot, 7)];
  auto sent = [&] {
    std::vector<std::string> out;
    FrameAssembler assembler;
    for (const Frame& f : assembler.Feed(h.sockets.sockets.at(socket).sent).frames)
      out.push_back(f.code + " " + f.payload);
    h.sockets.sockets.at(socket).sent.clear();
    return out;
  };
  h.client.consoles.FormClose(*duel.Window);  // the user closed it
  sent();
  h.fSvrs->trSvrs->expandAll();  // as the user would, to reach the Quake server

  h.DoubleClick(h.Item(duel.TreeNode));
  ASSERT_NE(duel.Window, nullptr);
  EXPECT_EQ(duel.Window->caption, "Duel");
  EXPECT_EQ(sent(), std::vector<std::string>{"1042 7"});

  // A node of no server opens nothing, though a server was selected just before.
  h.client.consoles.FormClose(*duel.Window);
  sent();
  const size_t windows = h.client.consoles.Windows().size();
  h.DoubleClick(h.Item(orphan));
  EXPECT_EQ(h.client.selection.Kind(), SelectionKind::None);
  EXPECT_EQ(h.client.consoles.Windows().size(), windows);
  EXPECT_TRUE(sent().empty());
}

}  // namespace
}  // namespace ov
