// The reference OV server's request handling: a client's byte stream, cut into writes, reaches a session
// of a fresh server through one end of a socket pair; the server's answers are read at the other end and
// must be well-formed frames. No game server is ever started (max-servers is 0), so every start request
// is parsed and checked, then refused for want of room.
//
// Input: byte 0 the write size (0: the whole stream at once), byte 1 bit 0 a correct login sent first;
// then the stream.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "ovserver/accounts.h"
#include "ovserver/log.h"
#include "ovserver/ov_server.h"
#include "wire/cipher.h"
#include "wire/frames.h"
#include "wire/payload.h"

namespace {

struct World {
  QTemporaryDir dir;
  std::unique_ptr<ovs::AccountStore> accounts;
  ovs::ServerConfig config;
  std::string login;  // the 905 frame of the account below
};

World* world = nullptr;  // made once, by LLVMFuzzerInitialize

void Drain(int fd, std::string& out) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return;
    out.append(buffer, size_t(n));
  }
}

// False when the server has closed the connection: the rest of the stream has nobody to go to.
bool WriteAll(int fd, std::string_view bytes, std::string& out) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(size_t(n));
    } else if (errno != EAGAIN) {
      return false;
    } else {
      // The pair is full: let the server read, and read what it answered meanwhile.
      QCoreApplication::processEvents();
      Drain(fd, out);
    }
  }
  return true;
}

// Everything the server sends is whole frames of known codes, with no byte outside them.
void CheckAnswers(const std::string& out) {
  ov::FrameAssembler assembler;
  const ov::FrameAssembler::Result result = assembler.Feed(out);
  if (assembler.Pending() != 0 || result.overflowed) abort();
  for (const ov::Frame& frame : result.frames) {
    if (frame.outside || ov::ClassifyCode(frame.code).kind == ov::CodeKind::Unknown) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static QCoreApplication app(*argc, *argv);
  std::signal(SIGPIPE, SIG_IGN);  // a write to a connection the server closed fails instead
  ovs::SetLogSink([](const std::string&) {});
  static World made;
  world = &made;
  world->accounts = std::make_unique<ovs::AccountStore>(world->dir.filePath("accounts").toStdString(), 1);
  std::string error;
  if (world->accounts->Add("admin", "secret", true, error) != ovs::AccountStore::Outcome::Done) abort();
  world->config.name = "Fuzz box";
  world->config.types.push_back({"standin", "/nonexistent/standin-server", {"--interval", "3600"}});
  world->config.maxServers = 0;
  world->config.loginDelayMs = 0;
  world->config.hashIterations = 1;
  ov::MessageCipher cipher;
  cipher.BuildMessageKey();
  world->login = ov::MakeFrame(1905, cipher.EncryptMsg(ov::PadTo8("admin") + ov::PadTo16("secret")));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t writeSize = data[0] == 0 ? size : data[0];
  std::string stream = (data[1] & 1) ? world->login : std::string();
  stream.append(reinterpret_cast<const char*>(data) + 2, size - 2);

  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) abort();
  fcntl(pair[1], F_SETFL, O_NONBLOCK);
  // Accounts that the requests create or change stay with this input.
  ovs::AccountStore accounts = *world->accounts;
  std::string out;
  {
    ovs::OvServer server(world->config, accounts);
    auto* socket = new QTcpSocket;
    if (!socket->setSocketDescriptor(pair[0])) abort();
    server.Serve(socket);
    for (size_t at = 0; at < stream.size(); at += writeSize) {
      const bool open = WriteAll(pair[1], std::string_view(stream).substr(at, writeSize), out);
      QCoreApplication::processEvents();
      Drain(pair[1], out);
      if (!open) break;
    }
    // The client goes: the session ends and is forgotten.
    shutdown(pair[1], SHUT_WR);
    for (int round = 0; round < 100 && server.SessionCount() != 0; ++round) {
      QCoreApplication::processEvents();
      Drain(pair[1], out);
    }
    if (server.SessionCount() != 0) abort();
  }
  close(pair[1]);
  CheckAnswers(out);
  return 0;
}
