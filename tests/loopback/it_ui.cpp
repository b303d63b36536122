#include "tests/loopback/it_ui.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

#include "app/qt/connect_dialog.h"
#include "app/qt/main_window.h"
#include "app/qt/start_server_dialog.h"
#include "consoles/qt/console_window.h"
#include "consoles/qt/log_view.h"
#include "protocol/qt/login_dialog.h"
#include "registry/qt/servers_window.h"

namespace ov::it {

bool PumpUntil(const std::string& what, const std::function<bool()>& done, int patienceMs) {
  return test::PumpQt(what, done, patienceMs);
}

void Key(QWidget* target, int key, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &release);
}

void Type(QWidget* target, const QString& text) {
  for (QChar c : text) {
    if (c == '\n') {
      Key(target, Qt::Key_Return, "\r");
    } else {
      Key(target, 0, QString(c));
    }
  }
}

LiveProgram::LiveProgram(const std::string& commandLine) : session(ui, client, commandLine) {
  started = session.Started();
  if (started) {
    Main().show();
    QApplication::processEvents();
  }
}

LiveProgram::~LiveProgram() {
  for (QObject* timer : scope_.children()) delete timer;
  Main().close();  // as the user closes it: every connection goes
}

void LiveProgram::When(const std::string& what, std::function<bool()> ready, std::function<void()> act,
                       int patienceMs) {
  ++pending_;
  auto* timer = new QTimer(&scope_);
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, &scope_, [=, this] {
    const bool now = ready();
    if (!now && clock->elapsed() <= patienceMs && !test::GaveUp()) return;
    timer->stop();
    timer->deleteLater();
    --pending_;
    if (now) {
      act();
    } else {
      test::GiveUp("gave up waiting for " + what + " (after " + std::to_string(patienceMs) + " ms)");
    }
  });
  timer->start();
}

void LiveProgram::GiveUpWaits() {
  if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->reject();
  auto* login = Control<LoginDialog>("PWDlg");
  if (login->isVisible()) login->reject();
  for (int slot = 1; slot < kSlotCount; ++slot)
    if (client.Sessions().AtSlot(slot) != nullptr) client.Connections().Disconnect(slot, 1);
}

void LiveProgram::Connect(const QString& address, int port, const QString& timeoutCount) {
  auto* dialog = Control<ConnectDialog>("ConnDlg");
  When(
      "the connect dialog", [dialog] { return QApplication::activeModalWidget() == dialog; },
      [dialog, address, port, timeoutCount] {
        for (auto [name, text] : {std::pair{"edIP", address}, std::pair{"edPort", QString::number(port)},
                                  std::pair{"edTimeOut", timeoutCount}}) {
          auto* field = test::Find<QLineEdit>(*dialog, name);
          field->clear();
          Type(field, text);
        }
        test::Find<QPushButton>(*dialog, "OKBtn")->click();
      });
  Button("tbConnect")->click();
}

void LiveProgram::AnswerPrompt(const QString& label1, const QString& field1, const QString& field2) {
  auto* dialog = Control<LoginDialog>("PWDlg");
  auto* label = test::Find<QLabel>(*dialog, "lPW1");
  auto* first = test::Find<QLineEdit>(*dialog, "edPW1");
  auto* second = test::Find<QLineEdit>(*dialog, "edPW2");
  When(
      "the login dialog asking for " + label1.toStdString(),
      [dialog, label, label1] { return dialog->isVisible() && label->text() == label1; },
      [first, second, field1, field2] {
        Type(first, field1);
        QWidget* last = first;
        if (second->isVisible()) {
          Type(second, field2);
          last = second;
        }
        Key(last, Qt::Key_Return, "\r");  // Enter answers OK
      });
}

void LiveProgram::StartServer(const QString& host, const QString& type, const QString& title,
                              const QString& command) {
  auto* dialog = Control<StartServerDialog>("fStart");
  When(
      "the start-server dialog", [dialog] { return QApplication::activeModalWidget() == dialog; },
      [dialog, host, type, title, command] {
        auto* hosts = test::Find<QComboBox>(*dialog, "cbHosts");
        const int hostLine = hosts->findText(host);
        EXPECT_GE(hostLine, 0) << "no host " << host.toStdString();
        hosts->setCurrentIndex(hostLine);
        auto* types = test::Find<QComboBox>(*dialog, "cbType");
        const int typeLine = types->findText(type);
        EXPECT_GE(typeLine, 0) << "no server type " << type.toStdString();
        types->setCurrentIndex(typeLine);
        auto* commandLine = test::Find<QPlainTextEdit>(*dialog, "mCmd");
        commandLine->clear();
        Type(commandLine, command);
        auto* titleField = test::Find<QLineEdit>(*dialog, "eTitle");
        titleField->clear();
        Type(titleField, title);
        test::Find<QPushButton>(*dialog, "bGo")->click();
      });
  Button("tbStart")->click();
}

MainWindow& LiveProgram::Main() const { return main_; }

QAction* LiveProgram::Action(const char* name) const { return test::Find<QAction>(*Main().menuBar(), name); }

QPushButton* LiveProgram::Button(const char* name) const { return Control<QPushButton>(name); }

// The whole line, as assistive technology reads it: the bar itself may show it cut to its width.
std::string LiveProgram::StatusText() const {
  return FromQt(Control<QLabel>("StatusText")->accessibleName());
}

std::string LiveProgram::DebugPane() const {
  Main().FlushDebugPane();
  return FromQt(Control<QPlainTextEdit>("Memo1")->toPlainText());
}

std::vector<std::string> LiveProgram::Tree() const {
  std::vector<std::string> lines;
  const QTreeWidget* tree = Control<QTreeWidget>("trSvrs");
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* top = tree->topLevelItem(i);
    lines.push_back(FromQt(top->text(0)));
    for (int j = 0; j < top->childCount(); ++j) lines.push_back("  " + FromQt(top->child(j)->text(0)));
  }
  return lines;
}

void LiveProgram::SelectNode(const QString& text) {
  QTreeWidget* tree = Control<QTreeWidget>("trSvrs");
  const QList<QTreeWidgetItem*> found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
  ASSERT_EQ(found.size(), 1) << "node " << text.toStdString();
  tree->scrollToItem(found[0]);
  const QPointF at = tree->visualItemRect(found[0]).center();
  const QPointF global = tree->viewport()->mapToGlobal(at);
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent click(type, at, global, Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(tree->viewport(), &click);
  }
}

std::vector<std::string> LiveProgram::Captions() const {
  std::vector<std::string> captions;
  for (const QMdiSubWindow* w : Main().MdiArea()->subWindowList(QMdiArea::CreationOrder))
    captions.push_back(FromQt(w->windowTitle()));
  return captions;
}

ConsoleWindow* LiveProgram::Window(const QString& caption) const {
  for (QMdiSubWindow* w : Main().MdiArea()->subWindowList()) {
    auto* console = qobject_cast<ConsoleWindow*>(w);
    if (console && console->windowTitle() == caption) return console;
  }
  return nullptr;
}

std::string LiveProgram::Log(ConsoleWindow* window) { return FromQt(window->Log()->Text()); }

void LiveProgram::Enter(ConsoleWindow* window, const QString& line) {
  Type(window->Input(), line);
  Key(window->Input(), Qt::Key_Return, "\r");
}

bool LiveProgram::LogShows(const QString& caption, const QString& text, int patienceMs) {
  const bool shown = PumpUntil(
      "the window \"" + caption.toStdString() + "\" to show \"" + text.toStdString() + "\"",
      [&] {
        ConsoleWindow* w = Window(caption);
        return w && w->Log()->Text().contains(text);
      },
      patienceMs);
  if (!shown) {
    ConsoleWindow* w = Window(caption);
    ADD_FAILURE() << "the window \"" << caption.toStdString() << "\" shows:\n"
                  << (w ? Log(w) : "(no such window)");
  }
  return shown;
}

}  // namespace ov::it
