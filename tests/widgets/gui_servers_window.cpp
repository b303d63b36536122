// The servers window on the offscreen platform: its frame, the tree's nodes and selection, what a double
// click opens, and closing it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMdiArea>
#include <QMouseEvent>
#include <QTreeWidget>

#include "app/qt/qt_platform.h"
#include "registry/qt/servers_window.h"
#include "tests/common/fakes.h"

namespace ov {
namespace {

using test::FrameOf;

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
  ServersWindow* fSvrs = new ServersWindow;
  Client client{Platform{sockets, loop, desktop, *fSvrs, windows, login}};

  Harness() {
    frame.setCentralWidget(area);
    frame.resize(800, 600);
    area->addSubWindow(fSvrs);
    ConnectServersWindow(*fSvrs, client.Controller(), *fSvrs);
    frame.show();
    fSvrs->show();
    client.InitClient("orvane-client");
    QApplication::processEvents();
  }
  int Connect() {
    sockets.autoConnectError = 0;
    client.Connections().ConnectToServer("127.0.0.1", 4044, 10);
    return client.Sessions().Find(sockets.lastSocket)->Slot();
  }
  // Announces and describes a Quake server; payload: its 25's.
  void Quake(int socket, const std::string& payload) {
    client.Registry().OnNewServer(socket, msg::NewServer::Decode(payload.substr(0, payload.find('\x80'))));
    client.Registry().OnServerInfo(socket, msg::ServerInfo::Decode(payload));
  }
  void DoubleClick(QTreeWidgetItem* item) {
    QWidget* viewport = fSvrs->Tree()->viewport();
    const QPointF at = fSvrs->Tree()->visualItemRect(item).center();
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
  EXPECT_EQ(h.frame.findChild<QTreeWidget*>("trSvrs"), h.fSvrs->Tree());
  EXPECT_EQ(h.fSvrs->widget()->size(), QSize(235, 156));
  // The frame fits around the client area as the frame's style draws it.
  EXPECT_TRUE(h.fSvrs->contentsRect().contains(h.fSvrs->widget()->geometry()));
  EXPECT_EQ(h.fSvrs->Tree()->geometry(), QRect(0, 4, 233, 149));
  EXPECT_EQ(h.fSvrs->Tree()->indentation(), 19);
  EXPECT_EQ(h.fSvrs->Tree()->editTriggers(), QAbstractItemView::NoEditTriggers);
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
  const int socket = h.client.Sessions().AtSlot(slot)->Socket();
  h.client.Registry().OnOVInfo(socket, msg::OvInfo{"i", "Caf\xE9"});
  h.Quake(socket, "5" + kSep + kSep + "Game5");
  h.Quake(socket, "6" + kSep + kSep + "Game6");
  QTreeWidget* tree = h.fSvrs->Tree();
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  EXPECT_EQ(tree->topLevelItem(0)->text(0), QString::fromUtf8("[OV]Caf\u00E9"));  // one byte, one character
  EXPECT_EQ(tree->topLevelItem(0)->child(1)->text(0), "[G]Game6");

  tree->setCurrentItem(tree->topLevelItem(0)->child(0));
  EXPECT_EQ(h.client.Selection().Selected().serverId, 5);

  // The selected server goes: the selection moves to its sibling and is reported at once.
  h.client.Registry().RemoveQServer(socket, msg::ServerRemoved{5});
  EXPECT_EQ(h.client.Selection().Selected().serverId, 6);
  EXPECT_EQ(tree->selectedItems().value(0), tree->topLevelItem(0)->child(0));

  // With its parent going, the selection moves on to nothing: every command off.
  h.client.Connections().Disconnect(slot, 1);
  EXPECT_EQ(tree->topLevelItemCount(), 0);
  EXPECT_EQ(h.client.Selection().Kind(), SelectionKind::None);
  EXPECT_FALSE(h.desktop.commands[Command::OpenWindow]);
}

TEST(ServersWindow, DeletingTheCurrentButUnselectedNodeKeepsTreeAndSelectionAgreed) {
  Harness h;
  const int a = h.Connect();
  const int b = h.Connect();
  const int c = h.Connect();
  for (const int slot : {a, b, c}) {
    const int socket = h.client.Sessions().AtSlot(slot)->Socket();
    h.client.Registry().OnOVInfo(socket, msg::OvInfo{"i", "OV" + std::to_string(slot)});
  }
  QTreeWidget* tree = h.fSvrs->Tree();
  auto node = [&](int slot) { return tree->topLevelItem(slot - a); };
  auto makeCurrentOnly = [&](QTreeWidgetItem* item) {
    // What a Ctrl+click on the selected node, or focus entering the tree, leaves: current, not selected.
    tree->selectionModel()->setCurrentIndex(tree->indexFromItem(item), QItemSelectionModel::NoUpdate);
    ASSERT_EQ(tree->currentItem(), item);
  };
  // What the tree highlights and what the commands act on must be the same server, or none.
  auto agreed = [&](const char* when) {
    const QList<QTreeWidgetItem*> shown = tree->selectedItems();
    if (shown.isEmpty()) {
      EXPECT_EQ(h.client.Selection().Kind(), SelectionKind::None) << when;
      EXPECT_FALSE(h.desktop.commands[Command::Disconnect]) << when;
    } else {
      ASSERT_EQ(h.client.Selection().Kind(), SelectionKind::OVServer) << when;
      const int slot = h.client.Selection().Selected().ovIndex;
      EXPECT_EQ(shown.front()->text(0), QString("[OV]OV%1").arg(slot)) << when;
      EXPECT_TRUE(h.desktop.commands[Command::Disconnect]) << when;
    }
  };

  // Nothing selected; the current node goes: nothing becomes selected.
  makeCurrentOnly(node(a));
  h.client.Connections().Disconnect(a, 1);
  EXPECT_TRUE(tree->selectedItems().isEmpty());
  agreed("current node deleted, none selected");

  // b selected, c current but not selected; c goes: b stays the selection, in the tree and the commands.
  tree->setCurrentItem(tree->topLevelItem(0));
  ASSERT_EQ(h.client.Selection().Selected().ovIndex, b);
  makeCurrentOnly(tree->topLevelItem(1));
  h.client.Connections().Disconnect(c, 1);
  ASSERT_EQ(tree->selectedItems().size(), 1);
  EXPECT_EQ(tree->selectedItems().front()->text(0), QString("[OV]OV%1").arg(b));
  agreed("current node deleted, another selected");

  // The last node, current but unselected, goes: an empty tree and no selection.
  tree->clearSelection();
  agreed("selection cleared");
  makeCurrentOnly(tree->topLevelItem(0));
  h.client.Connections().Disconnect(b, 1);
  EXPECT_EQ(tree->topLevelItemCount(), 0);
  agreed("last node deleted");
}

TEST(ServersWindow, DoubleClickOpensTheWindowOfTheSelectedServerOnly) {
  Harness h;
  const int slot = h.Connect();
  const int socket = h.client.Sessions().AtSlot(slot)->Socket();
  h.client.Registry().OnOVInfo(socket, msg::OvInfo{"i", "Old"});
  h.client.Registry().OnOVInfo(socket, msg::OvInfo{"i", "New"});  // renames the node it has
  ASSERT_EQ(h.fSvrs->Tree()->topLevelItemCount(), 1);
  EXPECT_EQ(h.fSvrs->Tree()->topLevelItem(0)->text(0), "[OV]New");
  h.fSvrs->AddNode(0, "[OV]stray");
  QTreeWidgetItem* orphan = h.fSvrs->Tree()->topLevelItem(1);
  h.Quake(socket, "7" + kSep + kSep + "Duel");
  auto duel = [&] { return h.client.Sessions().WindowOf(slot, 7); };
  std::string& sent = h.sockets.sockets.at(socket).sent;
  h.fSvrs->Tree()->expandAll();  // as the user would, to reach the Quake server

  // Closed by the user, opened again by a double click on its node.
  h.client.Consoles().CloseWindow(*duel());
  sent.clear();
  h.DoubleClick(h.fSvrs->Tree()->topLevelItem(0)->child(0));
  ASSERT_NE(duel(), nullptr);
  EXPECT_EQ(sent, FrameOf("1042", "7"));

  // Enter on the node does the same, from the keyboard.
  h.client.Consoles().CloseWindow(*duel());
  sent.clear();
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(h.fSvrs->Tree(), &enter);
  ASSERT_NE(duel(), nullptr);
  EXPECT_EQ(sent, FrameOf("1042", "7"));
  // The node tells where its OV server's connection goes.
  EXPECT_EQ(h.fSvrs->Tree()->topLevelItem(0)->toolTip(0), "127.0.0.1:4044");

  // A node of no server opens nothing, though a server was selected just before.
  h.client.Consoles().CloseWindow(*duel());
  sent.clear();
  h.DoubleClick(orphan);
  EXPECT_EQ(h.client.Selection().Kind(), SelectionKind::None);
  EXPECT_EQ(duel(), nullptr);
  EXPECT_TRUE(sent.empty());
}

}  // namespace
}  // namespace ov
