// Twenty whole sessions of the program against the reference OV server over loopback, in one process:
// connect, log in through the login dialog, open the console windows of the OV server and of two game
// servers, type into one, disconnect, close the dead windows. Every session must give back what it took:
// no Qt object, socket or OV server session stays behind, and in the sanitizer build a session leaves
// hardly any heap and LeakSanitizer finds nothing unreachable.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPixmapCache>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "app/client.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_platform.h"
#include "app/qt/settings.h"
#include "consoles/qt/console_window.h"
#include "net/qt/posix_socket_api.h"
#include "net/qt/qt_event_loop.h"
#include "ovserver/accounts.h"
#include "ovserver/log.h"
#include "ovserver/ov_server.h"
#include "protocol/qt/login_dialog.h"
#include "tests/common/controls.h"
#include "tests/common/qt_wait.h"

#if defined(__SANITIZE_ADDRESS__)
#define OV_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OV_ASAN 1
#endif
#endif

#ifdef OV_ASAN
#include <sanitizer/lsan_interface.h>
// The sanitizer's own count of the heap in use (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace ov {
namespace {

constexpr int kSessions = 20;

size_t HeapInUse() {
#ifdef OV_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

using test::PumpQt;

class LeakSessions : public ::testing::Test {
 protected:
  void SetUp() override {
    ovs::SetLogSink([](const std::string&) {});
    accounts = std::make_unique<ovs::AccountStore>(dir.filePath("accounts").toStdString(), 1);
    std::string error;
    ASSERT_EQ(accounts->Add("admin", "secret", true, error), ovs::AccountStore::Outcome::Done) << error;
    ovs::ServerConfig config;
    config.types.push_back({"standin", STANDIN_SERVER, {"--interval", "3600"}});
    config.hashIterations = 1;
    config.backlogLines = 4;  // full from the first session on: the kept lines do not grow afterwards
    server = std::make_unique<ovs::OvServer>(config, *accounts);
    ASSERT_TRUE(server->Listen(QHostAddress::LocalHost, 0, error)) << error;
    // Two game servers run throughout: every session opens their windows.
    for (const char* title : {"Duel", "FFA"}) {
      const int id = server->Games().Start(config.types[0], title, "", {}, error);
      ASSERT_GT(id, 0) << error;
      games.push_back(id);
    }
    ASSERT_TRUE(PumpQt("both game servers to run", [&] {
      for (int id : games)
        if (!server->Games().Find(id) || !server->Games().Find(id)->running) return false;
      return true;
    }));

    program = std::make_unique<Program>(sockets, loop);
    ASSERT_TRUE(program->session.Started());
    program->ui.Main().show();
    // The user at the login dialog: answers whenever it shows.
    QObject::connect(&answer, &QTimer::timeout, [this] {
      auto* login = test::Find<LoginDialog>(program->ui.Main(), "PWDlg");
      if (!login->isVisible()) return;
      test::Find<QLineEdit>(*login, "edPW1")->setText("admin");
      test::Find<QLineEdit>(*login, "edPW2")->setText("secret");
      test::Find<QPushButton>(*login, "OKBtn")->click();
      ++logins;
    });
    answer.start(5);
  }

  void TearDown() override {
    answer.stop();
    program.reset();
    server.reset();
    ovs::SetLogSink(nullptr);
  }

  // The OV server's window and both game servers' windows of the slot, once all are open.
  std::vector<Console*> OpenWindows(int slot) {
    std::vector<Console*> open;
    if (Console* w = program->client.Sessions().WindowOf(slot, 0)) open.push_back(w);
    for (const GameServerView& q : program->client.Sessions().Games())
      if (q.ovSlot == slot && q.window != nullptr) open.push_back(q.window);
    return open;
  }

  void Session(int round) {
    SCOPED_TRACE("session " + std::to_string(round));
    program->client.Connections().ConnectToServer("127.0.0.1", server->Port(), 10);
    const int slot = ConnectedSlot();
    ASSERT_NE(slot, -1) << "not connected";
    ASSERT_TRUE(
        PumpQt("the session's three windows", [&] { return OpenWindows(slot).size() == 1 + games.size(); }));

    // A console line typed into a game server's window comes back as its answer.
    Console* game = OpenWindows(slot).back();
    auto* view = dynamic_cast<ConsoleWindow*>(game->view);
    ASSERT_NE(view, nullptr);
    view->Input()->setText("say round " + QString::number(round));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(view->Input(), &enter);
    const std::string echo = "Server: round " + std::to_string(round);
    ASSERT_TRUE(PumpQt("the echo of the typed line",
                       [&] { return game->log.Text().find(echo) != std::string::npos; }));

    program->client.Connections().Disconnect(slot, 1);
    program->client.Selection().CleanupDeadWindows();
    ASSERT_TRUE(
        PumpQt("the dead windows to go", [&] { return program->client.Consoles().Windows().empty(); }));
    ASSERT_TRUE(PumpQt("the OV server to end the session", [&] { return server->SessionCount() == 0; }));
  }

  // The heap in use apart from the debug log, which keeps its latest lines (several per frame) and so
  // grows by design until it is full.
  size_t HeapApartFromDebugLog() const {
    size_t log = 0;
    for (const std::string& line : program->client.Debug().Lines())
      log += sizeof(std::string) + (line.capacity() > 15 ? line.capacity() + 1 : 0);
    QPixmapCache::clear();  // a cache of drawn pixmaps, bounded by its own limit
    return HeapInUse() - log;
  }

  // Every Qt object alive: the program's windows with all their children, and the OV server's.
  size_t ObjectCount() const {
    size_t count = server->findChildren<QObject*>().size();
    for (QWidget* top : QApplication::topLevelWidgets()) count += 1 + top->findChildren<QObject*>().size();
    return count;
  }

  int ConnectedSlot() const {
    for (int slot = 1; slot < kSlotCount; ++slot)
      if (program->client.Sessions().AtSlot(slot) != nullptr &&
          program->client.Sessions().AtSlot(slot)->connected)
        return slot;
    return -1;
  }

  QTemporaryDir dir;
  std::unique_ptr<ovs::AccountStore> accounts;
  std::unique_ptr<ovs::OvServer> server;
  std::vector<int> games;
  PosixSocketApi sockets;
  QtEventLoop loop;
  // The program as its entry composes it: each part is built on those before it and destroyed before them.
  struct Program {
    Program(SocketApi& sockets, EventLoop& loop)
        : client(ui.PlatformWith(sockets, loop)), session(ui, client, "orvane-client") {}
    Settings settings;
    QtFrontEnd ui{settings};
    Client client;
    QtSession session;
  };
  std::unique_ptr<Program> program;
  QTimer answer;
  int logins = 0;
  // A test that gave up drops the connections, so that no wait of the client outlives it.
  test::RescueOnGiveUp rescue{[this] {
    if (!program) return;
    for (int slot = 1; slot < kSlotCount; ++slot)
      if (program->client.Sessions().AtSlot(slot) != nullptr)
        program->client.Connections().Disconnect(slot, 1);
  }};
};

TEST_F(LeakSessions, TwentySessionsGiveBackWhatTheyTook) {
  // The first session warms what lives for the whole run (fonts, styles, the socket layer).
  Session(1);
  ASSERT_FALSE(HasFatalFailure());
  const size_t objectsAfterFirst = ObjectCount();
  std::vector<long long> heap{static_cast<long long>(HeapApartFromDebugLog())};
  for (int round = 2; round <= kSessions; ++round) {
    Session(round);
    ASSERT_FALSE(HasFatalFailure());
    heap.push_back(static_cast<long long>(HeapApartFromDebugLog()));
  }
  EXPECT_EQ(logins, kSessions);
  EXPECT_EQ(sockets.OpenSockets(), 0);
  EXPECT_EQ(ObjectCount(), objectsAfterFirst) << "Qt objects left behind by the sessions";

  // What a session leaves behind shows in every session's growth; a table or a buffer that grows its
  // room once, at whatever session its peak comes, shows in one. So the typical session counts.
  std::vector<long long> growth;
  for (size_t i = 1; i < heap.size(); ++i) growth.push_back(heap[i] - heap[i - 1]);
  std::sort(growth.begin(), growth.end());
  const long long typical = growth[growth.size() / 2];
  std::printf(
      "heap in use, debug log apart: %lld bytes after session 1, %lld after 10, %lld after %d; "
      "a session leaves %+lld typically (%+lld to %+lld); %zu Qt objects throughout\n",
      heap[0], heap[9], heap.back(), kSessions, typical, growth.front(), growth.back(), objectsAfterFirst);
#ifdef OV_ASAN
  // The sanitizer counts exactly what is in use; glibc's count also holds the chunks its per-thread
  // caches keep, some kilobytes that come and go, so the plain build only prints its figures.
  // About a kilobyte stays (the OV server's login timers, which end after their minute, and Qt's icon
  // keys); the three windows of a session left open would be over 300 KB.
  EXPECT_LT(typical, 4 * 1024) << "memory grows with every session";
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "LeakSanitizer found unreachable memory";
#endif
}

}  // namespace
}  // namespace ov
