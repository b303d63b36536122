// The login dialog on screen: keys, steps and what reaches the OV server.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "app/qt/qt_platform.h"
#include "protocol/qt/login_dialog.h"
#include "tests/common/controls.h"
#include "tests/common/fakes.h"

namespace ov {
namespace {

// A client whose login dialog is the real one; everything else is fake.
struct Harness {
  test::FakeEventLoop loop;
  test::FakeSocketApi sockets{loop};
  test::RecordingDesktop desktop;
  test::FakeTree tree;
  test::FakeWindowSystem windows;
  LoginDialog dlg;
  Client client{Platform{sockets, loop, desktop, tree, windows, dlg}};
  // Its controls, found by their names.
  QLineEdit* edPW1 = test::Find<QLineEdit>(dlg, "edPW1");
  QLineEdit* edPW2 = test::Find<QLineEdit>(dlg, "edPW2");
  QPushButton* OKBtn = test::Find<QPushButton>(dlg, "OKBtn");
  QPushButton* CancelBtn = test::Find<QPushButton>(dlg, "CancelBtn");
  QLabel* lPW1 = test::Find<QLabel>(dlg, "lPW1");
  QLabel* lPW2 = test::Find<QLabel>(dlg, "lPW2");
  QLabel* lServer = test::Find<QLabel>(dlg, "lServer");

  Harness() {
    ConnectLoginDialog(dlg, client.Controller(), dlg);
    client.InitClient("orvane-client");
  }
  int Connect() {
    sockets.autoConnectError = 0;
    client.Connections().ConnectToServer("127.0.0.1", 4044, 10);
    return sockets.lastSocket;
  }
  std::vector<Frame> Sent(int socket) {
    FrameAssembler assembler;
    std::vector<Frame> frames = assembler.Feed(sockets.sockets.at(socket).sent).frames;
    for (Frame& f : frames) f.payload = client.Cipher().DecryptMsg(f.payload);
    return frames;
  }
};

void Key(QWidget* target, int key, const QString& text = QString()) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &release);
}

void Type(QLineEdit* field, const QString& text) {
  for (QChar c : text) Key(field, c.toUpper().unicode(), QString(c));
}

TEST(LoginDialog, DesignTabOrderAndDefaults) {
  LoginDialog dlg;
  EXPECT_EQ(dlg.objectName(), "PWDlg");
  EXPECT_FALSE(dlg.isModal());
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(dlg.size(), QSize(231, 127 + 18));  // the designed size and the line naming the server
  auto* field1 = test::Find<QLineEdit>(dlg, "edPW1");
  auto* field2 = test::Find<QLineEdit>(dlg, "edPW2");
  auto* ok = test::Find<QPushButton>(dlg, "OKBtn");
  auto* cancel = test::Find<QPushButton>(dlg, "CancelBtn");
  EXPECT_TRUE(ok->isDefault());
  EXPECT_FALSE(cancel->isDefault());
  EXPECT_EQ(field1->nextInFocusChain(), field2);
  EXPECT_EQ(field2->nextInFocusChain(), ok);
  EXPECT_EQ(ok->nextInFocusChain(), cancel);
  for (QWidget* w : std::initializer_list<QWidget*>{field1, field2, ok, cancel}) {
    EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
  }
}

TEST(LoginDialog, EnterInEitherFieldAnswersOK) {
  for (const bool inSecond : {false, true}) {
    Harness h;
    const int socket = h.Connect();
    h.loop.After(1, [&] {
      ASSERT_TRUE(h.dlg.isVisible());
      EXPECT_EQ(h.dlg.windowTitle(), "Arena");
      EXPECT_EQ(h.lPW1->text(), "Login:");
      EXPECT_EQ(h.lPW2->text(), "Password:");
      EXPECT_EQ(h.dlg.focusWidget(), h.edPW1);
      EXPECT_EQ(h.client.Prompts().PWResult(), 0);
      Type(h.edPW1, "alice");
      Type(h.edPW2, "pw");
      EXPECT_EQ(h.edPW1->displayText(), "alice");
      EXPECT_EQ(h.edPW2->displayText(), "**");
      Key(inSecond ? h.edPW2 : h.edPW1, Qt::Key_Return);
    });
    h.client.Prompts().AccountPrompt(socket, "login", "Arena");

    EXPECT_FALSE(h.dlg.isVisible());
    EXPECT_EQ(h.client.Prompts().PWResult(), 1);
    const auto sent = h.Sent(socket);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].code, "1905");
    EXPECT_EQ(sent[0].payload, "alice   pw              ");
  }
}

// Dismisses the next box the dialog raises, from inside its loop, and tells its text.
void DismissBox(QString* text) {
  QTimer::singleShot(0, [text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return DismissBox(text);
    *text = box->text();
    box->button(QMessageBox::Ok)->click();
  });
}

TEST(LoginDialog, CharactersBeyondLatin1AreRefusedAndStayInTheirField) {
  // "пароль" and "абвгде" would both have gone out as "??????" and passed as the same password.
  const QString typed = QString::fromUtf8("\u043f\u0430\u0440\u043e\u043b\u044c");
  const QString other = QString::fromUtf8("\u0430\u0431\u0432\u0433\u0434\u0435");
  Harness h;
  const int socket = h.Connect();
  QStringList boxes;
  h.loop.After(1, [&] {
    Type(h.edPW1, "newbie");
    Type(h.edPW2, typed);
    QString box;
    DismissBox(&box);
    Key(h.edPW2, Qt::Key_Return);
    boxes << box;
    // Still asking, with what was typed as it was.
    EXPECT_TRUE(h.dlg.isVisible());
    EXPECT_EQ(h.client.Prompts().PWResult(), 0);
    EXPECT_EQ(h.edPW2->text(), typed);
    EXPECT_EQ(h.dlg.focusWidget(), h.edPW2);
    h.edPW2->setText("secret");
    Key(h.edPW2, Qt::Key_Return);
  });
  h.loop.After(2, [&] {
    ASSERT_EQ(h.lPW1->text(), "Confirm new user Password:");
    Type(h.edPW1, other);
    QString box;
    DismissBox(&box);
    h.OKBtn->click();
    boxes << box;
    EXPECT_EQ(h.edPW1->text(), other);
    EXPECT_TRUE(h.Sent(socket).empty());
    h.edPW1->setText("secret");
    h.OKBtn->click();
  });
  h.client.Prompts().AccountPrompt(socket, "newuser", "");

  ASSERT_EQ(boxes.size(), 2);
  for (const QString& box : boxes) EXPECT_TRUE(box.contains("Latin-1")) << box.toStdString();
  EXPECT_TRUE(boxes[0].contains("New user Password:")) << boxes[0].toStdString();
  const auto sent = h.Sent(socket);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].code, "1906");
  EXPECT_EQ(sent[0].payload, "newbie  secret          ");
  // Latin-1 beyond ASCII is carried as typed, one byte per character.
  h.loop.After(1, [&] {
    h.edPW1->setText(QString::fromLatin1("J\xFCrgen"));
    h.edPW2->setText(QString::fromLatin1("\xE9t\xE9"));
    h.OKBtn->click();
  });
  h.client.Prompts().AccountPrompt(socket, "login", "Arena");
  ASSERT_EQ(h.Sent(socket).size(), 2u);
  EXPECT_EQ(h.Sent(socket)[1].payload, "J\xFCrgen  " + std::string("\xE9t\xE9") + std::string(13, ' '));
}

TEST(LoginDialog, EscapeAndTheCloseBoxCancelTheLogin) {
  for (const bool closeBox : {false, true}) {
    Harness h;
    const int socket = h.Connect();
    h.loop.After(1, [&] {
      Type(h.edPW1, "alice");
      if (closeBox) {
        h.dlg.close();
      } else {
        Key(h.edPW1, Qt::Key_Escape);
      }
    });
    h.client.Prompts().AccountPrompt(socket, "login", "Arena");

    EXPECT_FALSE(h.dlg.isVisible());
    EXPECT_EQ(h.client.Prompts().PWResult(), 2);
    EXPECT_TRUE(h.Sent(socket).empty());
    EXPECT_EQ(h.sockets.closed, std::vector<int>{socket});
    EXPECT_EQ(h.client.Sessions().Find(socket), nullptr);
  }
}

TEST(LoginDialog, EachStepSetsLabelsVisibilityAndEchoModes) {
  Harness h;
  const int socket = h.Connect();

  h.loop.After(1, [&] {
    EXPECT_EQ(h.dlg.windowTitle(), "New User");
    EXPECT_EQ(h.lPW1->text(), "New user login name:");
    EXPECT_EQ(h.lPW2->text(), "New user Password:");
    EXPECT_EQ(h.edPW1->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(h.edPW2->echoMode(), QLineEdit::Password);
    Type(h.edPW1, "newbie");
    Type(h.edPW2, "secret");
    h.OKBtn->click();
  });
  h.loop.After(2, [&] {
    ASSERT_TRUE(h.dlg.isVisible());
    EXPECT_EQ(h.dlg.windowTitle(), "New User");
    EXPECT_EQ(h.lPW1->text(), "Confirm new user Password:");
    EXPECT_TRUE(h.edPW2->isHidden());
    EXPECT_TRUE(h.lPW2->isHidden());
    EXPECT_EQ(h.edPW1->text(), "");
    EXPECT_EQ(h.edPW1->echoMode(), QLineEdit::Password);
    Type(h.edPW1, "secret");
    EXPECT_EQ(h.edPW1->displayText(), "******");
    Key(h.edPW1, Qt::Key_Enter);
  });
  h.client.Prompts().AccountPrompt(socket, "newuser", "");
  auto sent = h.Sent(socket);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].code, "1906");
  EXPECT_EQ(sent[0].payload, "newbie  secret          ");

  // The next prompt brings the lower field back; the change of password hides both passwords.
  h.loop.After(1, [&] {
    EXPECT_EQ(h.dlg.windowTitle(), "Change Password");
    EXPECT_FALSE(h.edPW2->isHidden());
    EXPECT_FALSE(h.lPW2->isHidden());
    EXPECT_EQ(h.lPW2->text(), "Old password:");
    EXPECT_EQ(h.edPW1->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(h.edPW1->text(), "");
    Type(h.edPW1, "newbie");
    Type(h.edPW2, "secret");
    h.OKBtn->click();
  });
  h.loop.After(2, [&] {
    EXPECT_EQ(h.lPW1->text(), "New password:");
    EXPECT_EQ(h.lPW2->text(), "Confirm new password:");
    EXPECT_EQ(h.edPW1->echoMode(), QLineEdit::Password);
    EXPECT_EQ(h.edPW2->echoMode(), QLineEdit::Password);
    EXPECT_EQ(h.edPW2->text(), "");
    // The user gives up at the second step: nothing goes out.
    h.CancelBtn->click();
  });
  h.client.Prompts().AccountPrompt(socket, "chpwd", "");
  EXPECT_EQ(h.Sent(socket).size(), 1u);
  EXPECT_NE(h.client.Sessions().Find(socket), nullptr);
  EXPECT_FALSE(h.dlg.isVisible());
}

TEST(LoginDialog, NamesTheServerThatAsksAndShowsTheWholeCaption) {
  struct Case {
    std::string caption;
    QString title;  // as the window shows it
    bool wider;     // than designed, so that the title bar holds it
  };
  const std::string longest(200, 'x');
  const Case cases[] = {
      {"Arena", "Arena", false},
      {"Arena login (spoofed by another server, see the end)",
       "Arena login (spoofed by another server, see the end)", true},
      {"A\r\nB\tC\x01", "A  B C ", false},
      {longest, QString(79, 'x') + QChar(0x2026), true},
  };
  Harness h;
  const int socket = h.Connect();
  int plain = 0;  // the width for a short caption
  for (const Case& c : cases) {
    h.loop.After(1, [&] {
      EXPECT_EQ(h.dlg.windowTitle(), c.title);
      EXPECT_EQ(h.lServer->text(), "OV server 127.0.0.1:4044");
      if (plain == 0) plain = h.dlg.width();
      EXPECT_EQ(h.dlg.width() > plain, c.wider) << h.dlg.width();
      EXPECT_LE(h.dlg.width(), 800);
      // The controls follow the width: nothing lies beyond the dialog's edge.
      for (QWidget* w : h.dlg.findChildren<QWidget*>())
        EXPECT_TRUE(h.dlg.rect().contains(w->geometry())) << w->objectName().toStdString();
      h.OKBtn->click();
    });
    h.client.Prompts().AccountPrompt(socket, "login", c.caption);
  }
  EXPECT_EQ(h.Sent(socket).size(), std::size(cases));
}

TEST(LoginDialog, NoPasswordCharacterReachesAssistiveTechnology) {
  // The accessibility bridge passes on a text event only for an object that offers a text interface
  // (the event carries the characters themselves), and answers for text through that interface: a field
  // hiding its characters offers none.
  // What a screen reader may ask of a field: nothing of what it hides, all of what it shows.
  auto expectTold = [](QLineEdit* field, const QString& typed) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(field);
    ASSERT_NE(iface, nullptr);
    const std::string what = field->objectName().toStdString();
    EXPECT_FALSE(iface->text(QAccessible::Name).isEmpty()) << what;
    if (field->echoMode() == QLineEdit::Normal) {
      ASSERT_NE(iface->textInterface(), nullptr) << what;
      EXPECT_EQ(iface->textInterface()->text(0, int(typed.size())), typed) << what;
      EXPECT_EQ(iface->text(QAccessible::Value), typed) << what;
    } else {
      EXPECT_EQ(iface->textInterface(), nullptr) << what;
      EXPECT_TRUE(iface->state().passwordEdit) << what;
      EXPECT_EQ(iface->text(QAccessible::Value), "") << what;
      EXPECT_EQ(iface->text(QAccessible::Name), field->accessibleName()) << what;
    }
  };
  Harness h;
  const int socket = h.Connect();
  h.loop.After(1, [&] {
    Type(h.edPW1, "bob");
    Type(h.edPW2, "Qj7");
    expectTold(h.edPW1, "bob");
    expectTold(h.edPW2, "Qj7");
    h.OKBtn->click();
  });
  h.loop.After(2, [&] {
    Type(h.edPW1, "Qj7");
    expectTold(h.edPW1, "Qj7");
    h.OKBtn->click();
  });
  h.client.Prompts().AccountPrompt(socket, "newuser", "");
  ASSERT_EQ(h.Sent(socket).size(), 1u);
}

}  // namespace
}  // namespace ov
