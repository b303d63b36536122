// The main window, the console windows and the dialogs on the offscreen platform: the real widgets over
// a faked socket library.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusTipEvent>
#include <QTextBlock>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "registry/servers_window.h"
#include "tests/fakes.h"
#include "ui/connect_dialog.h"
#include "ui/console_window.h"
#include "ui/main_window.h"
#include "ui/qt_platform.h"
#include "ui/start_dialog.h"

// Readable failures.
static void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace ov {
namespace {

const std::string kSep(1, '\x80');

// The program's widgets around a client whose sockets and event loop are faked.
struct Program {
  QtFrontEnd ui;
  test::FakeEventLoop loop;
  test::FakeSocketApi sockets{loop};
  Client client{ui.PlatformWith(sockets, loop)};
  bool started = false;

  explicit Program(const std::string& commandLine = "/usr/bin/orvane-client", bool show = true) {
    QApplication::setApplicationDisplayName("Orvane Client");
    started = ui.Start(client, commandLine);
    if (show) Show();
  }
  ~Program() { ui.DestroyWidgets(); }  // the widgets hold references into the client
  void Show() {
    ui.fMain->show();
    QApplication::processEvents();
  }
  TfMain& main() { return *ui.fMain; }
  int Connect(const std::string& name = "") {
    sockets.autoConnectError = 0;
    client.connections.ConnectToServer("127.0.0.1", 4044, 10);
    sockets.autoConnectError = -1;
    const int slot = client.tables.FindBySocket(sockets.lastSocket);
    if (!name.empty()) Receive(Socket(slot), test::FrameOf("1021", "i" + kSep + name));
    return slot;
  }
  int Socket(int slot) const { return client.tables.OVServers[slot].Socket; }
  void Receive(int socket, const std::string& bytes) {
    sockets.Deliver(socket, bytes);
    loop.RunPending();
  }
  std::vector<std::string> Sent(int socket) {
    std::vector<std::string> out;
    FrameAssembler assembler;
    for (const Frame& f : assembler.Feed(sockets.sockets.at(socket).sent).frames)
      out.push_back(f.code + " " + f.payload);
    return out;
  }
  void ClearSent(int socket) { sockets.sockets.at(socket).sent.clear(); }
  TfCustServ* ViewOf(ConsoleWindow* window) { return dynamic_cast<TfCustServ*>(window->view); }
};

// Runs act on the modal window once it is up, from inside its own loop.
void WhenModal(std::function<void(QWidget*)> act) {
  QTimer::singleShot(0, [act] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      act(modal);
    } else {
      WhenModal(act);
    }
  });
}

// Lets timers run until done() holds or two seconds pass.
bool ProcessUntil(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 2000) QApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

void Key(QWidget* target, int key, const QString& text = QString()) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &release);
}

void Type(QWidget* target, const QString& text) {
  for (QChar c : text) Key(target, 0, QString(c));
}

QStringList TabChain(QWidget* first, int count) {
  QStringList names;
  QWidget* w = first;
  for (int i = 0; i < count; ++i) {
    names << w->objectName();
    do {
      w = w->nextInFocusChain();
    } while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(first->window()) ||
             w->objectName().isEmpty());
  }
  return names;
}

// ---- The main window

TEST(MainWindow, StartsWithTheServersWindowAndTheServerCommandsDisabled) {
  Program p("/usr/bin/orvane-client", false);
  ASSERT_TRUE(p.started);
  TfMain& m = p.main();
  // Until the first showing the commands keep their designed state; the showing maps the empty selection.
  EXPECT_TRUE(m.mnuWnd->isEnabled());
  p.Show();
  EXPECT_EQ(m.windowTitle(), "Orvane Client");
  for (QObject* o : std::initializer_list<QObject*>{m.mnuWnd, m.mnuDis, m.tbWnd, m.tbDis, m.mnuKill,
                                                    m.mnuEKill, m.tbKill}) {
    EXPECT_FALSE(o->property("enabled").toBool()) << o->objectName().toStdString();
  }
  EXPECT_TRUE(m.mnuCon->isEnabled() && m.mnuStart->isEnabled() && m.tbConnect->isEnabled());
  EXPECT_FALSE(m.mnuKill->isVisible() || m.mnuEKill->isVisible() || m.tbKill->isVisibleTo(&m));
  EXPECT_TRUE(m.tbWnd->isVisibleTo(&m));

  // The servers window is a child of the frame, so the arrange items are on; Clean up always is.
  const QList<QMdiSubWindow*> children = m.MdiArea()->subWindowList();
  ASSERT_EQ(children.size(), 1);
  EXPECT_EQ(children[0], p.ui.fSvrs);
  EXPECT_TRUE(p.ui.fSvrs->isVisible());
  for (QAction* a :
       {m.WindowCascadeItem, m.WindowTileItem, m.WindowArrangeItem, m.WindowMinimizeItem, m.Cleanup1}) {
    EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
  }
  EXPECT_FALSE(m.Memo1->isVisibleTo(&m));

  // Selecting an OV server turns its commands on.
  const int slot = p.Connect("alpha");
  p.client.tree.SelectedNode();
  p.ui.fSvrs->trSvrs->setCurrentItem(p.ui.fSvrs->trSvrs->topLevelItem(0));
  EXPECT_EQ(p.client.selection.Selected().ovIndex, slot);
  EXPECT_TRUE(m.mnuWnd->isEnabled() && m.mnuDis->isEnabled() && m.tbWnd->isEnabled() && m.tbDis->isEnabled());
  EXPECT_FALSE(m.mnuEKill->isEnabled());
}

TEST(MainWindow, AFailedSocketStartEndsTheProgramAfterItsBox) {
  QtFrontEnd ui;
  test::FakeEventLoop loop;
  test::FakeSocketApi sockets{loop};
  sockets.startupError = 10091;
  Client client{ui.PlatformWith(sockets, loop)};
  QString text;
  WhenModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    text = box->text();
    box->button(QMessageBox::Ok)->click();
  });
  EXPECT_FALSE(ui.Start(client, "orvane-client"));
  EXPECT_EQ(text, "Winsock init error 10091 - OV client terminating");
  EXPECT_FALSE(sockets.cleanedUp);  // the library never started
  ui.DestroyWidgets();
}

TEST(MainWindow, DebugSwitchInAnyCaseAnywhereShowsThePane) {
  for (const char* line :
       {"/usr/bin/orvane-client -debug", "orvane-client x -DeBuG y", "/opt/-DEBUG/orvane-client"}) {
    Program p(line);
    EXPECT_EQ(p.client.DebugMode, 1) << line;
    EXPECT_TRUE(p.main().Memo1->isVisible()) << line;
    EXPECT_EQ(p.main().Memo1->document()->firstBlock().text(), "[Debug]") << line;
  }
  for (const char* line : {"orvane-client", "orvane-client -DEBU G", "orvane-client DEBUG"}) {
    Program p(line);
    EXPECT_EQ(p.client.DebugMode, 0) << line;
    EXPECT_FALSE(p.main().Memo1->isVisible()) << line;
  }
}

TEST(MainWindow, DebugPaneShowsTheLogsLinesInOrder) {
  Program p("orvane-client -debug");
  QPlainTextEdit* pane = p.main().Memo1;
  p.client.LogLine("first");
  p.client.LogLine("second");
  ASSERT_TRUE(ProcessUntil([&] { return pane->blockCount() == 3; }));
  p.client.LogLine("third");
  p.main().FlushDebugPane();
  EXPECT_EQ(pane->toPlainText(), "[Debug]\nfirst\nsecond\nthird");

  // More lines than the log keeps arriving between two redraws: the pane shows what the log holds.
  for (size_t i = 0; i < DebugLog::kMaxLines + 5; ++i) p.client.LogLine("n" + std::to_string(i));
  p.main().FlushDebugPane();
  EXPECT_EQ(pane->document()->firstBlock().text(), "[Debug]");
  EXPECT_EQ(pane->document()->findBlockByNumber(1).text(), "n5");
  EXPECT_EQ(pane->document()->lastBlock().text(), QString("n%1").arg(DebugLog::kMaxLines + 4));
}

TEST(MainWindow, ConnectDialogOffersDefaultsOnceAndKeepsWhatTheUserLeft) {
  Program p;
  TConnDlg* dlg = p.ui.ConnDlg;
  EXPECT_EQ(dlg->windowTitle(), "Connect to OV Server");
  EXPECT_EQ(TabChain(dlg->OKBtn, 5), (QStringList{"OKBtn", "CancelBtn", "edIP", "edPort", "edTimeOut"}));
  EXPECT_TRUE(dlg->OKBtn->isDefault());
  EXPECT_EQ(dlg->Label1->buddy(), dlg->edIP);

  QString seenPort, seenTimeOut, seenIP, focused;
  WhenModal([&](QWidget* modal) {
    seenPort = dlg->edPort->text();
    seenTimeOut = dlg->edTimeOut->text();
    seenIP = dlg->edIP->text();
    focused = dlg->focusWidget() ? dlg->focusWidget()->objectName() : QString();
    dlg->edPort->setText("5000");
    dlg->edTimeOut->setText("3");
    EXPECT_EQ(modal, dlg);
    dlg->CancelBtn->click();
  });
  p.main().mnuConClick();
  EXPECT_EQ(seenPort, "4044");
  EXPECT_EQ(seenTimeOut, "10");
  EXPECT_EQ(seenIP, "");
  EXPECT_EQ(focused, "OKBtn");
  EXPECT_EQ(p.sockets.lastSocket, 0);  // cancelled: no attempt

  // The tool-bar button runs the same command; the changed values are still there. Letters in the
  // time-out mean 10 units (8.64 seconds); the attempt waits that long for an answer that never comes.
  WhenModal([&](QWidget*) {
    seenPort = dlg->edPort->text();
    seenTimeOut = dlg->edTimeOut->text();
    dlg->edIP->setText("127.0.0.1");
    dlg->edPort->setText("4045");
    dlg->edTimeOut->setText("ten");
    Key(dlg, Qt::Key_Return);  // Connect is the default button
  });
  const Clock::time_point before = p.loop.Now();
  p.main().tbConnect->click();
  EXPECT_EQ(seenPort, "5000");
  EXPECT_EQ(seenTimeOut, "3");
  ASSERT_NE(p.sockets.lastSocket, 0);
  EXPECT_EQ(p.sockets.sockets.at(p.sockets.lastSocket).port, Htons(4045));
  EXPECT_EQ(p.sockets.sockets.at(p.sockets.lastSocket).address, InetAddr("127.0.0.1"));
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(p.loop.Now() - before).count();
  EXPECT_NEAR(static_cast<double>(waited), 8640.0, 2.0);

  // An empty port field passes port 0; a port out of range reaches the connection layer's check.
  WhenModal([&](QWidget*) {
    dlg->edPort->clear();
    dlg->OKBtn->click();
  });
  p.main().mnuConClick();
  EXPECT_EQ(p.sockets.sockets.at(p.sockets.lastSocket).port, 0);
  WhenModal([&](QWidget*) {
    dlg->edPort->setText("65536");
    dlg->OKBtn->click();
  });
  p.main().mnuConClick();
  EXPECT_EQ(p.main().StatusText->text(), "Can't connect - Invalid Port number");
}

TEST(MainWindow, HintsReachTheBarThroughTheStatusLine) {
  Program p;
  QLabel* bar = p.main().StatusText;
  p.client.ShowStatus("remembered", -1, 0);
  p.client.ShowStatus("timed", 60000, 0);
  EXPECT_EQ(bar->text(), "timed");
  // A menu item being highlighted tells the window through Qt's status tip.
  p.main().mnuCon->showStatusText(p.main().menuBar());
  EXPECT_EQ(bar->text(), "Connect to a OV server");
  QStatusTipEvent none{QString()};
  QApplication::sendEvent(&p.main(), &none);
  EXPECT_EQ(bar->text(), "remembered");  // the remembered text, not the timed one
  EXPECT_TRUE(p.client.status.StatusTimerOn());
  p.client.ShowStatus("at once", 0, 0);
  EXPECT_EQ(bar->text(), "at once");
  EXPECT_FALSE(p.client.status.StatusTimerOn());

  // A timed message returns to the remembered text when its time is up.
  p.client.ShowStatus("brief", 20, 0);
  EXPECT_EQ(bar->text(), "brief");
  EXPECT_TRUE(ProcessUntil([&] { return bar->text() == "at once"; }));
}

TEST(MainWindow, KillAndAboutShowTheirBoxes) {
  Program p;
  QString text, title;
  WhenModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    text = box->text();
    title = box->windowTitle();
    box->button(QMessageBox::Ok)->click();
  });
  p.main().mnuKillClick();
  EXPECT_EQ(text, "not yet implemented - use QUIT in server consoles");
  EXPECT_EQ(title, "Orvane Client");

  WhenModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    text = box->text();
    title = box->windowTitle();
    box->button(QMessageBox::Ok)->click();
  });
  p.main().HelpAboutItem->trigger();
  EXPECT_TRUE(text.startsWith("OV Client, v0.95 BETA\n")) << text.toStdString();
  EXPECT_EQ(title, "Information");
}

// An OV server "alpha" with its window, running Quake servers 7 "Duel" and 8 "Arena" with theirs.
struct Served : Program {
  int slot = 0, socket = 0;
  explicit Served(const std::string& commandLine = "orvane-client") : Program(commandLine) {
    slot = Connect("alpha");
    socket = Socket(slot);
    for (const char* q : {"7", "8"}) {
      Receive(socket, test::FrameOf("1027", q));
      const std::string title = std::string(q) == "7" ? "Duel" : "Arena";
      Receive(socket, test::FrameOf("1025", q + kSep + kSep + title + kSep + kSep + "1" + kSep + "1"));
    }
    ClearSent(socket);
    QApplication::processEvents();
  }
  ConsoleWindow* ovWindow() { return client.tables.OVServers[slot].Window; }
  ConsoleWindow* quakeWindow(int id) {
    const int q = client.tables.FindQServer(slot, id);
    return q == -1 ? nullptr : client.tables.QServers[q].Window;
  }
};

TEST(MainWindow, WindowCommandsTileMinimiseArrangeAndList) {
  Served p;
  QMdiArea* area = p.main().MdiArea();
  const QList<QMdiSubWindow*> children = area->subWindowList(QMdiArea::CreationOrder);
  ASSERT_EQ(children.size(), 4);

  p.main().WindowTileItem->trigger();
  int top = 0;
  for (QMdiSubWindow* w : children) {
    EXPECT_EQ(w->x(), 0);
    EXPECT_EQ(w->y(), top) << w->windowTitle().toStdString();
    if (w != p.ui.fSvrs) {
      EXPECT_EQ(w->width(), area->viewport()->width());  // the servers window has a fixed size
    }
    top += area->viewport()->height() / 4;
  }

  p.main().WindowMinimizeItem->trigger();
  for (QMdiSubWindow* w : children) EXPECT_TRUE(w->isMinimized()) << w->windowTitle().toStdString();
  p.main().WindowArrangeItem->trigger();
  int x = 0;
  for (QMdiSubWindow* w : children) {
    EXPECT_EQ(w->geometry().bottom() + 1, area->viewport()->height());
    EXPECT_EQ(w->x(), x);
    x += w->width();
  }

  // The Window menu lists the children in order; choosing one restores it and makes it active.
  emit p.main().mnuWindow->aboutToShow();
  QStringList listed;
  QAction* duelItem = nullptr;
  for (QAction* a : p.main().mnuWindow->actions()) {
    if (a->isSeparator() || a->objectName().size() > 0) continue;
    listed << a->text();
    if (a->text().endsWith("Duel")) duelItem = a;
  }
  EXPECT_EQ(listed, (QStringList{"&1 Servers", "&2 OV Server on alpha", "&3 Duel", "&4 Arena"}));
  ASSERT_NE(duelItem, nullptr);
  duelItem->trigger();
  EXPECT_FALSE(p.ViewOf(p.quakeWindow(7))->isMinimized());
  EXPECT_EQ(area->activeSubWindow(), p.ViewOf(p.quakeWindow(7)));
}

// ---- Console windows

TEST(ConsoleWindow, HasTheDesignedPartsAndFollowsItsCaption) {
  Served p;
  TfCustServ* duel = p.ViewOf(p.quakeWindow(7));
  ASSERT_NE(duel, nullptr);
  EXPECT_EQ(duel->windowTitle(), "Duel");
  EXPECT_EQ(duel->pView->tabText(0), "Console");
  EXPECT_TRUE(duel->ConTxt->font().fixedPitch() || QFontInfo(duel->ConTxt->font()).fixedPitch());
  // The designed client area gives the designed page control.
  EXPECT_EQ(duel->pView->geometry(), QRect(3, 1, 309, 205));
  EXPECT_EQ(duel->ConCed->geometry(), QRect(0, 156, 301, 21));
  EXPECT_LE(duel->ConCed->geometry().bottom(), duel->tsCon->height());

  p.Receive(p.socket, test::FrameOf("1028", "7"));
  EXPECT_EQ(duel->windowTitle(), "Duel[Dead]");
  EXPECT_EQ(p.ViewOf(p.ovWindow())->windowTitle(), "OV Server on alpha");
}

TEST(ConsoleWindow, InputLineSendsOnEnterAndWalksItsHistory) {
  Served p;
  TfCustServ* ov = p.ViewOf(p.ovWindow());
  QLineEdit* line = ov->ConCed;
  Type(line, "status");
  Key(line, Qt::Key_Return);
  EXPECT_EQ(line->text(), "");
  Key(line, Qt::Key_Enter);  // the keypad's Enter too, on an empty line
  const QString accented = QString::fromLatin1("say \xE9t\xE9");
  Type(line, accented);  // Latin-1 characters go out as single bytes
  Key(line, Qt::Key_Return);
  EXPECT_EQ(p.Sent(p.socket), (std::vector<std::string>{"0000 status", "0000 ", "0000 say \xE9t\xE9"}));
  EXPECT_EQ(p.ovWindow()->log.Text(), "");  // typed lines are not copied into the log

  Type(line, "draft");
  Key(line, Qt::Key_Up);
  EXPECT_EQ(line->text(), accented);
  Key(line, Qt::Key_Up);
  EXPECT_EQ(line->text(), "status");
  Key(line, Qt::Key_Up);  // the oldest stays
  EXPECT_EQ(line->text(), "status");
  Key(line, Qt::Key_Down);
  Key(line, Qt::Key_Down);
  EXPECT_EQ(line->text(), "draft");
  Key(line, Qt::Key_Down);
  EXPECT_EQ(line->text(), "draft");

  // A dead window empties the line and sends nothing.
  TfCustServ* duel = p.ViewOf(p.quakeWindow(7));
  p.Receive(p.socket, test::FrameOf("1028", "7"));
  p.ClearSent(p.socket);
  Type(duel->ConCed, "anyone?");
  Key(duel->ConCed, Qt::Key_Return);
  EXPECT_EQ(duel->ConCed->text(), "");
  EXPECT_TRUE(p.Sent(p.socket).empty());
}

QString Shown(const ConsoleLog& log) {
  QString text = ToQt(log.Text());
  text.replace("\r\n", "\n");
  return text;
}

TEST(ConsoleWindow, LogFollowsTheTextAndWaitsWhileMinimised) {
  Served p;
  ConsoleWindow* duel = p.quakeWindow(7);
  TfCustServ* view = p.ViewOf(duel);
  QPlainTextEdit* log = view->ConTxt;
  p.Receive(p.socket, test::FrameOf("0007", "one\ntwo\r") + test::FrameOf("0007", "three"));
  ASSERT_TRUE(ProcessUntil([&] { return log->toPlainText() == "one\ntwo\nthree"; }))
      << log->toPlainText().toStdString();

  // Past the trimming point, many frames at once: the text box ends equal to the log.
  std::string burst;
  for (int i = 0; i < 3000; ++i) burst += test::FrameOf("0007", "line " + std::to_string(i) + "\n");
  p.Receive(p.socket, burst);
  view->RedrawNow();
  EXPECT_EQ(log->toPlainText(), Shown(duel->log));
  QScrollBar* bar = log->verticalScrollBar();
  EXPECT_EQ(bar->value(), bar->maximum());  // kept at the end
  // Narrower, long lines wrap into more lines: the view stays at the end.
  for (int i = 0; i < 20; ++i)
    p.Receive(p.socket, test::FrameOf("0007", std::string(150, 'w') + " " + std::to_string(i) + "\n"));
  view->RedrawNow();
  view->resize(view->width() - 120, view->height());
  QApplication::processEvents();
  EXPECT_EQ(bar->value(), bar->maximum());

  // Scrolled up by the user: new text does not pull the view down.
  bar->setValue(0);
  p.Receive(p.socket, test::FrameOf("0007", "more\n"));
  view->RedrawNow();
  EXPECT_EQ(bar->value(), 0);

  // Minimised, the text box is left alone; restored, it catches up.
  view->showMinimized();
  const QString before = log->toPlainText();
  p.Receive(p.socket, test::FrameOf("0007", "while minimised\n"));
  QElapsedTimer wait;
  wait.start();
  while (wait.elapsed() < 3 * TfCustServ::kRedrawMs) QApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_EQ(log->toPlainText(), before);
  view->showNormal();
  EXPECT_TRUE(ProcessUntil([&] { return log->toPlainText() == Shown(duel->log); }));

  // A window in console mode 2 shows only the latest text.
  duel->ConsoleMode = 2;
  p.Receive(p.socket, test::FrameOf("0007", "score 1") + test::FrameOf("0007", "score 2"));
  view->RedrawNow();
  EXPECT_EQ(log->toPlainText(), "score 2");
}

TEST(ConsoleWindow, ClosingSends41ButTheProgramsEndSendsNothing) {
  Served p;
  QPointer<TfCustServ> duel = p.ViewOf(p.quakeWindow(7));
  duel->close();
  EXPECT_EQ(p.Sent(p.socket), std::vector<std::string>{"1041 7"});
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(duel.isNull());
  EXPECT_EQ(p.quakeWindow(7), nullptr);
  EXPECT_EQ(p.client.consoles.Windows().size(), 2u);

  // Clean up closes the dead windows only, after the current event.
  p.Receive(p.socket, test::FrameOf("1028", "8"));
  QPointer<TfCustServ> ov = p.ViewOf(p.ovWindow());
  p.ClearSent(p.socket);
  p.main().Cleanup1->trigger();
  EXPECT_TRUE(ProcessUntil([&] { return p.client.consoles.Windows().size() == 1; }));
  EXPECT_FALSE(ov.isNull());
  EXPECT_TRUE(p.Sent(p.socket).empty());

  // Reopened, then the main window closes: every socket closes, no close notice goes out.
  p.client.selection.OpenServerWindow(p.slot, 7);
  ASSERT_NE(p.quakeWindow(7), nullptr);
  p.ClearSent(p.socket);
  p.main().mnuExit->trigger();
  EXPECT_TRUE(p.Sent(p.socket).empty());
  EXPECT_FALSE(p.sockets.sockets.at(p.socket).open);
  EXPECT_TRUE(p.sockets.cleanedUp);
}

// ---- The start-server dialog

TEST(StartDialog, ListsHostsAndTypesSendsTheRequestAndKeepsItsFields) {
  Program p;
  const int first = p.Connect("alpha");
  const int second = p.Connect("beta");
  p.Receive(p.Socket(second), test::FrameOf("1031", "dm" + kSep + kSep + "ctf"));
  p.ClearSent(p.Socket(first));
  p.ClearSent(p.Socket(second));
  TfStart* dlg = p.ui.fStart;
  EXPECT_EQ(dlg->windowTitle(), "Start Server");
  EXPECT_FALSE(dlg->bGo->isDefault() || dlg->bGo->autoDefault() || dlg->bCancel->isDefault());
  EXPECT_EQ(TabChain(dlg->cbHosts, 6),
            (QStringList{"cbHosts", "cbType", "mCmd", "bGo", "bCancel", "eTitle"}));

  QStringList hosts, types;
  int hostIndex = 0;
  WhenModal([&](QWidget*) {
    for (int i = 0; i < dlg->cbHosts->count(); ++i) hosts << dlg->cbHosts->itemText(i);
    hostIndex = dlg->cbHosts->currentIndex();
    dlg->cbHosts->setCurrentIndex(1);
    for (int i = 0; i < dlg->cbType->count(); ++i) types << dlg->cbType->itemText(i);
    dlg->mCmd->setPlainText("+map e1m1\n+skill 2");
    dlg->eTitle->setText("Duel");
    dlg->bGo->click();
  });
  EXPECT_EQ(dlg->ShowStartDialog(), 1);
  EXPECT_EQ(hosts, (QStringList{"alpha", "beta"}));
  EXPECT_EQ(hostIndex, -1);
  EXPECT_EQ(types, (QStringList{"dm", "ctf"}));
  EXPECT_EQ(p.Sent(p.Socket(second)),
            std::vector<std::string>{"1026 dm" + kSep + "Duel" + kSep + "+map e1m1\r\n+skill 2"});
  EXPECT_TRUE(p.Sent(p.Socket(first)).empty());

  // Reopened: no host chosen, the rest as it was. Escape cancels; the close box gives 2.
  QString cmd, title;
  int typeCount = 0;
  WhenModal([&](QWidget*) {
    hostIndex = dlg->cbHosts->currentIndex();
    typeCount = dlg->cbType->count();
    cmd = dlg->mCmd->toPlainText();
    title = dlg->eTitle->text();
    Key(dlg, Qt::Key_Escape);
  });
  EXPECT_EQ(dlg->ShowStartDialog(), -1);
  EXPECT_EQ(hostIndex, -1);
  EXPECT_EQ(typeCount, 2);
  EXPECT_EQ(cmd, "+map e1m1\n+skill 2");
  EXPECT_EQ(title, "Duel");
  WhenModal([&](QWidget*) { dlg->close(); });
  EXPECT_EQ(dlg->ShowStartDialog(), 2);

  // Start with no host chosen is refused on the status line and closes the dialog.
  WhenModal([&](QWidget*) { dlg->bGo->click(); });
  EXPECT_EQ(dlg->ShowStartDialog(), -1);
  EXPECT_EQ(p.main().StatusText->text(), "START ERROR: Host or Type not selected");
  // Enter in the command line makes a new line rather than starting anything.
  WhenModal([&](QWidget*) {
    dlg->cbHosts->setCurrentIndex(1);
    dlg->mCmd->setFocus();
    Key(dlg->mCmd, Qt::Key_Return);
    cmd = dlg->mCmd->toPlainText();
    dlg->bCancel->click();
  });
  EXPECT_EQ(dlg->ShowStartDialog(), -1);
  EXPECT_EQ(cmd.count('\n'), 2);
}

}  // namespace
}  // namespace ov
