// The console windows' redraws in turns of the shared pacer, on the offscreen platform over a faked
// socket library: a covered log waits and catches up once uncovered, yet is heard by assistive technology
// at once, a new window leaves the focus where it was, and a window that goes while it waits for its turn
// leaves the turn to the others.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QTreeWidget>
#include <functional>
#include <vector>

#include "app/qt/main_window.h"
#include "app/qt/qt_platform.h"
#include "app/qt/settings.h"
#include "consoles/qt/console_window.h"
#include "consoles/qt/log_view.h"
#include "consoles/qt/show_pacer.h"
#include "registry/qt/servers_window.h"
#include "tests/common/controls.h"
#include "tests/common/fakes.h"
#include "tests/common/shown_windows.h"

namespace ov {
namespace {

const std::string kSep(1, '\x80');

// The program's widgets around a client on fakes: OV server "alpha" with Quake servers 7 and 8, all
// three windows open.
struct Program {
  Settings settings;
  QtFrontEnd ui{settings};
  test::FakeEventLoop loop;
  test::FakeSocketApi sockets{loop};
  Client client{ui.PlatformWith(sockets, loop)};
  QtSession session{ui, client, "orvane-client"};
  int slot = 0, socket = 0;

  Program() {
    ui.Main().show();
    sockets.autoConnectError = 0;
    client.Connections().ConnectToServer("127.0.0.1", 4044, 10);
    slot = client.Sessions().Find(sockets.lastSocket)->Slot();
    socket = client.Sessions().AtSlot(slot)->Socket();
    std::string hello = test::FrameOf("1021", "i" + kSep + "alpha");
    for (const std::string q : {"7", "8"}) {
      hello += test::FrameOf("1027", q) +
               test::FrameOf("1025", q + kSep + kSep + "Q" + q + kSep + kSep + "1" + kSep + "1");
    }
    Receive(hello);
  }
  void Receive(const std::string& bytes) {
    sockets.Deliver(socket, bytes);
    loop.RunPending();
    test::ShowOpened(ui.Main());
  }
  Console* window(int id) {
    return id == 0 ? client.Sessions().WindowOf(slot, 0) : client.Sessions().WindowOf(slot, id);
  }
  ConsoleWindow* view(int id) { return dynamic_cast<ConsoleWindow*>(window(id)->view); }
  QString Shown(int id) { return view(id)->Log()->Text(); }
};

// Runs the event loop for the given time, or until done holds (at most two seconds then).
bool Process(const std::function<bool()>& done, int ms = 2000) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    if (done && done()) return true;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return done && done();
}

TEST(ConsolePacing, ACoveredLogWaitsAndCatchesUpWhenUncovered) {
  Program p;
  ConsoleWindow* alpha = p.view(0);
  ConsoleWindow* cover = p.view(7);
  p.Receive(test::FrameOf("0000", "first\n"));
  ASSERT_TRUE(Process([&] { return p.Shown(0) == "first\n"; }));

  cover->setGeometry(alpha->geometry().adjusted(-4, -4, 4, 4));
  cover->raise();
  Process(nullptr, 50);
  ASSERT_TRUE(alpha->Log()->viewport()->visibleRegion().isEmpty());
  QObject::connect(alpha->Log(), &LogView::announced,
                   [](const QString& t) { fprintf(stderr, "ANN %s\n", qPrintable(t)); });
  p.Receive(test::FrameOf("0000", "while covered\n"));
  Process(nullptr, 4 * ConsoleWindow::kRedrawMs);
  EXPECT_EQ(p.Shown(0), "first\n");              // nobody sees it: nothing laid out
  p.Receive(test::FrameOf("0007", "on top\n"));  // the covering window itself is seen
  EXPECT_TRUE(Process([&] { return p.Shown(7) == "on top\n"; }));

  cover->move(cover->x() + cover->width() + 10, cover->y());  // uncovered: painted, then redrawn
  EXPECT_TRUE(Process([&] { return p.Shown(0) == "first\nwhile covered\n"; }));

  // Covered again, then brought to the front by the program: shown as it is now.
  cover->setGeometry(alpha->geometry().adjusted(-4, -4, 4, 4));
  cover->raise();
  Process(nullptr, 50);
  p.Receive(test::FrameOf("0000", "later\n"));
  Process(nullptr, 2 * ConsoleWindow::kRedrawMs);
  alpha->BringToFront();
  EXPECT_TRUE(Process([&] { return p.Shown(0) == "first\nwhile covered\nlater\n"; }));
}

// What is told to assistive technology goes out with LogView::announced (Qt drops the accessibility
// event itself on a platform with no accessibility bridge, as offscreen is).
TEST(ConsolePacing, ACoveredUnfocusedLogIsHeardAtOnce) {
  Program p;
  ConsoleWindow* alpha = p.view(0);
  ConsoleWindow* cover = p.view(7);
  cover->setGeometry(alpha->geometry().adjusted(-4, -4, 4, 4));
  cover->raise();
  cover->TakeFocus();
  Process(nullptr, 50);
  ASSERT_TRUE(alpha->Log()->viewport()->visibleRegion().isEmpty());
  std::vector<QString> heard;
  QObject::connect(alpha->Log(), &LogView::announced, [&](const QString& text) { heard.push_back(text); });
  p.Receive(test::FrameOf("0000", "while covered\n"));
  ASSERT_TRUE(Process([&] { return !heard.empty(); })) << "the covered log's text was never announced";
  EXPECT_EQ(heard.front(), "while covered\n");
  EXPECT_FALSE(alpha->Input()->hasFocus());
  EXPECT_EQ(p.Shown(0), "");  // heard, yet still not laid out
}

// A window the server opens never takes the focus, not even for a moment.
TEST(ConsolePacing, ANewWindowLeavesTheFocusWhereItWas) {
  Program p;
  p.view(0)->TakeFocus();
  ASSERT_TRUE(Process([&] { return p.view(0)->Input()->hasFocus(); })) << "alpha's input never had the focus";
  std::vector<QWidget*> focused;
  const QObject listening;  // the connection ends with the test, before focused does
  QObject::connect(qApp, &QApplication::focusChanged, &listening,
                   [&](QWidget*, QWidget* now) { focused.push_back(now); });
  p.Receive(test::FrameOf("1027", "9") +
            test::FrameOf("1025", "9" + kSep + kSep + "Q9" + kSep + kSep + "1" + kSep + "1"));
  Process(nullptr, 50);
  EXPECT_TRUE(focused.empty()) << focused.size() << " focus changes, the first to "
                               << (focused.empty() || !focused[0] ? ""
                                                                  : focused[0]->objectName().toStdString());
  EXPECT_TRUE(p.view(0)->Input()->hasFocus());
}

// Ten windows opened at once come into the frame at most kPerTurn a turn, the first opened first; the
// one the user opens meanwhile comes at once, active with the focus, and keeps both.
TEST(ConsolePacing, NewWindowsShowAFewATurnButOneTheUserOpensAtOnce) {
  Program p;
  for (int id = 10; id < 20; ++id) {
    const std::string q = std::to_string(id);
    p.sockets.Deliver(p.socket,
                      test::FrameOf("1027", q) +
                          test::FrameOf("1025", q + kSep + kSep + "Q" + q + kSep + kSep + "1" + kSep + "1"));
  }
  p.loop.RunPending();
  auto shown = [&] {
    std::vector<int> ids;
    for (int id = 10; id < 20; ++id)
      if (p.view(id)->isVisible()) ids.push_back(id);
    return ids;
  };
  QTreeWidget* tree = test::Find<ServersWindow>(p.ui.Main(), "fSvrs")->Tree();
  tree->setCurrentItem(tree->findItems("Q19", Qt::MatchEndsWith | Qt::MatchRecursive).value(0));
  test::Find<QPushButton>(p.ui.Main(), "tbWnd")->click();
  EXPECT_EQ(shown(), std::vector<int>{19});
  std::vector<int> perTurn;
  test::WaitFor(
      "the other nine windows to show", [&] { return shown().size() == 10; },
      [&](auto) {
        const size_t before = shown().size();
        QApplication::processEvents();
        perTurn.push_back(int(shown().size() - before));
        if (before == 1 && shown().size() > 1) EXPECT_EQ(shown().front(), 10) << "not the first opened first";
      });
  EXPECT_LE(*std::max_element(perTurn.begin(), perTurn.end()), ShowPacer::kPerTurn);
  EXPECT_EQ(p.ui.Main().MdiArea()->activeSubWindow(), p.view(19));
  EXPECT_TRUE(p.view(19)->Input()->hasFocus());
}

TEST(ConsolePacing, AWindowThatGoesWhileWaitingLeavesTheTurnToTheOthers) {
  Program p;
  p.Receive(test::FrameOf("0000", "a\n") + test::FrameOf("0007", "b\n") + test::FrameOf("0008", "c\n"));
  // Window 7 is waiting for its turn when it is closed and destroyed.
  p.view(7)->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_EQ(p.window(7), nullptr);
  EXPECT_TRUE(Process([&] { return p.Shown(0) == "a\n" && p.Shown(8) == "c\n"; }));

  // A redraw forced while waiting takes the window out of the turn; later text still comes.
  p.Receive(test::FrameOf("0008", "d\n"));
  p.view(8)->RedrawNow();
  EXPECT_EQ(p.Shown(8), "c\nd\n");
  p.Receive(test::FrameOf("0008", "e\n"));
  EXPECT_TRUE(Process([&] { return p.Shown(8) == "c\nd\ne\n"; }));
}

}  // namespace
}  // namespace ov
