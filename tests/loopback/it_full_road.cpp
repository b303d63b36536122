// The road of one typical exchange, whole: the program with its real widgets, sockets and event loop,
// driven as a user drives it, against an OV server scripted here on a loopback listener. The peer checks
// every byte that reaches it; the test checks what the user sees.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <string>
#include <vector>

#include "app/qt/main_window.h"
#include "app/qt/start_server_dialog.h"
#include "consoles/qt/console_window.h"
#include "protocol/qt/login_dialog.h"
#include "tests/loopback/it_ui.h"

namespace ov::it {
namespace {

const std::string kSep(1, '\x80');

// The shared key as both ends store it; each byte is taken plus 128. Written out here again, so that a
// wrong key in the client shows as an illegible login.
constexpr unsigned char kStoredKey[16] = {0x3A, 0xC5, 0x17, 0x6E, 0x92, 0x0B, 0xF4, 0x58,
                                          0x21, 0xAD, 0x7C, 0x03, 0xE9, 0x46, 0xB8, 0x5F};

std::string Encipher(const std::string& plain) {
  std::string out = "\x07\x05";
  for (size_t i = 0; i < plain.size(); ++i)
    out += char((uint8_t(plain[i]) ^ uint8_t(kStoredKey[i % 16] + 128)) + 128);
  return out;
}

std::string Decipher(const std::string& sent) {
  if (sent.size() < 2 || sent.compare(0, 2, "\x07\x05") != 0) return "(no cipher marker) " + sent;
  std::string out;
  for (size_t i = 2; i < sent.size(); ++i)
    out += char(uint8_t(uint8_t(sent[i]) - 128) ^ uint8_t(kStoredKey[(i - 2) % 16] + 128));
  return out;
}

// An OV server that says what the test tells it to and writes down every frame it receives, as
// "code payload", account payloads deciphered.
class ScriptedPeer {
 public:
  ScriptedPeer() {
    EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      QTcpSocket* next = server_.nextPendingConnection();
      if (connection_) {
        ADD_FAILURE() << "a second connection";
        next->abort();
        return;
      }
      connection_ = next;
      QObject::connect(next, &QTcpSocket::readyRead, [this] { Read(); });
    });
  }
  int Port() const { return server_.serverPort(); }
  bool Connected() const { return connection_ != nullptr; }

  void Send(const std::string& code, const std::string& payload) {
    // The frame ends at its first end byte and the client's read at a zero byte: the script must not
    // send what no OV server can.
    EXPECT_EQ(payload.find_first_of(std::string("\xFE\0", 2)), std::string::npos) << code;
    const std::string frame = "\xFD" + code + payload + "\xFE";
    connection_->write(frame.data(), qint64(frame.size()));
    connection_->flush();
  }
  void Close() { connection_->disconnectFromHost(); }

  // Waits for the frame after the ones seen so far and hands it over.
  std::string Next() {
    if (!PumpUntil("the client's next frame", [this] { return frames.size() > taken_; }))
      return "(nothing came)";
    return frames[taken_++];
  }
  size_t Taken() const { return taken_; }

  std::vector<std::string> frames;

 private:
  void Read() {
    const QByteArray bytes = connection_->readAll();
    in_.append(bytes.constData(), size_t(bytes.size()));
    for (;;) {
      const size_t start = in_.find('\xFD');
      if (start == std::string::npos || in_.size() < start + 5) return;
      const std::string code = in_.substr(start + 1, 4);
      // Account payloads are enciphered and may hold any byte, the end byte too: they go by width.
      size_t end;
      if (code == "1905" || code == "1906") {
        end = start + 5 + 26;
      } else if (code == "1907") {
        end = start + 5 + 42;
      } else {
        end = in_.find('\xFE', start + 5);
        if (end == std::string::npos) return;
      }
      if (in_.size() <= end) return;
      EXPECT_EQ(in_[end], '\xFE') << "frame " << code << " does not end where it should";
      std::string payload = in_.substr(start + 5, end - start - 5);
      if (code[0] == '1' && code.compare(1, 1, "9") == 0) payload = Decipher(payload);
      frames.push_back(code + " " + payload);
      in_.erase(0, end + 1);
    }
  }

  QTcpServer server_;
  QTcpSocket* connection_ = nullptr;
  std::string in_;
  size_t taken_ = 0;
};

TEST(FullRoad, ConnectLoginRegistryConsolesStartAndCloseOverLoopback) {
  LiveProgram p;
  ASSERT_TRUE(p.started);
  ScriptedPeer peer;
  MainWindow& m = p.Main();

  // 1-2. Connect, as the user fills the dialog; the attempt waits for the connection.
  p.Connect("127.0.0.1", peer.Port());
  EXPECT_EQ(p.StatusText(), "Connected to server");
  ASSERT_TRUE(PumpUntil("the client to connect to the peer", [&] { return peer.Connected(); }));
  EXPECT_TRUE(p.Action("mnuCon")->isEnabled());

  // 4. The login request opens the login dialog with the peer's caption; the answer goes back enciphered,
  // the name cut to 8 and the password padded to 16.
  std::string caption, label1, label2;
  bool masked = false;
  auto* login = p.Control<LoginDialog>("PWDlg");
  p.When(
      "the login dialog", [&] { return login->isVisible(); },
      [&] {
        caption = FromQt(login->windowTitle());
        label1 = FromQt(test::Find<QLabel>(*login, "lPW1")->text());
        label2 = FromQt(test::Find<QLabel>(*login, "lPW2")->text());
        masked = test::Find<QLineEdit>(*login, "edPW2")->echoMode() == QLineEdit::Password;
      });
  p.AnswerPrompt("Login:", "administrator", "s3cret");
  peer.Send("1900", Encipher("Log in to the scripted OV server"));
  EXPECT_EQ(peer.Next(), "1905 administ" + std::string("s3cret") + std::string(10, ' '));
  EXPECT_EQ(caption, "Log in to the scripted OV server");
  EXPECT_EQ(label1, "Login:");
  EXPECT_EQ(label2, "Password:");
  EXPECT_TRUE(masked);
  EXPECT_FALSE(login->isVisible());

  // 5. The OV server's information and types: its node and console window, then 29 and 22.
  peer.Send("1021", "OVS 1.0" + kSep + "Scripted");
  peer.Send("1031", "standin" + kSep + kSep + "quake");
  EXPECT_EQ(peer.Next(), "1029 ");
  EXPECT_EQ(peer.Next(), "1022 ");
  // A new server is answered with its id as sent; its information opens its window, announced with 42.
  peer.Send("1027", "07");
  EXPECT_EQ(peer.Next(), "1024 07");
  peer.Send("1025", "7" + kSep + "standin" + kSep + "Duel" + kSep + "+map e1m1" + kSep + "1" + kSep + "1");
  EXPECT_EQ(peer.Next(), "1042 7");
  EXPECT_EQ(p.Tree(), std::vector<std::string>({"[OV]Scripted", "  [G]Duel"}));
  EXPECT_EQ(p.Captions(), std::vector<std::string>({"Servers", "OV Server on Scripted", "Duel"}));

  // 6. Console text both ways.
  peer.Send("0000", "Welcome to the scripted OV server\r\n");
  peer.Send("0007", "Duel: map e1m1\r\n");
  ASSERT_TRUE(p.LogShows("OV Server on Scripted", "Welcome to the scripted OV server"));
  ASSERT_TRUE(p.LogShows("Duel", "Duel: map e1m1"));
  EXPECT_EQ(p.Log(p.Window("OV Server on Scripted")).find("Duel: map"), std::string::npos);
  LiveProgram::Enter(p.Window("Duel"), "status");
  EXPECT_EQ(peer.Next(), "0007 status");
  EXPECT_TRUE(p.Window("Duel")->Input()->text().isEmpty());
  LiveProgram::Enter(p.Window("OV Server on Scripted"), "help");
  EXPECT_EQ(peer.Next(), "0000 help");
  // Closing a game server's window tells the OV server to stop sending its console.
  p.Window("Duel")->close();
  EXPECT_EQ(peer.Next(), "1041 7");
  ASSERT_TRUE(PumpUntil("the Duel window to close", [&] { return p.Window("Duel") == nullptr; }));

  // 7. The start-server dialog offers the types that were sent (the empty one leaves no gap).
  std::vector<std::string> offered;
  p.When(
      "the type list",
      [&] {
        return p.Control<QWidget>("fStart")->isVisible() && p.Control<QComboBox>("cbHosts")->count() > 0;
      },
      [&] {
        p.Control<QComboBox>("cbHosts")->setCurrentIndex(0);
        auto* types = p.Control<QComboBox>("cbType");
        for (int i = 0; i < types->count(); ++i) offered.push_back(FromQt(types->itemText(i)));
      });
  p.StartServer("Scripted", "quake", "Arena", "+map dm4\n+set fraglimit 20");
  EXPECT_EQ(offered, std::vector<std::string>({"standin", "quake"}));
  EXPECT_EQ(peer.Next(), "1026 quake" + kSep + "Arena" + kSep + "+map dm4\r\n+set fraglimit 20");

  // Reopening the closed window from the tree announces it again; the selection decides the commands.
  p.SelectNode("[G]Duel");
  EXPECT_TRUE(p.Button("tbWnd")->isEnabled());
  EXPECT_FALSE(p.Button("tbDis")->isEnabled());
  p.Button("tbWnd")->click();
  EXPECT_EQ(peer.Next(), "1042 7");
  ASSERT_NE(p.Window("Duel"), nullptr);
  p.SelectNode("[OV]Scripted");
  EXPECT_TRUE(p.Button("tbDis")->isEnabled());

  // 8. The peer closes: the servers leave the tree, their windows stay, dead, and say nothing more.
  peer.Close();
  ASSERT_TRUE(PumpUntil("the tree to empty", [&] { return p.Tree().empty(); }));
  EXPECT_EQ(p.StatusText(), "Server closed connection");
  EXPECT_EQ(p.Captions(), std::vector<std::string>({"Servers", "OV Server on Scripted[Dead]", "Duel[Dead]"}));
  EXPECT_FALSE(p.Button("tbWnd")->isEnabled() || p.Button("tbDis")->isEnabled() ||
               p.Action("mnuDis")->isEnabled());
  LiveProgram::Enter(p.Window("Duel[Dead]"), "status");
  EXPECT_TRUE(p.Window("Duel[Dead]")->Input()->text().isEmpty());
  p.Action("Cleanup1")->trigger();
  ASSERT_TRUE(PumpUntil("every console window to close",
                        [&] { return p.Captions() == std::vector<std::string>({"Servers"}); }));
  EXPECT_TRUE(p.AllActed());
  // Nothing reached the peer beyond the frames above: no repeated announcement, no stray console text.
  EXPECT_EQ(peer.frames.size(), peer.Taken()) << peer.frames.back();
}

}  // namespace
}  // namespace ov::it
