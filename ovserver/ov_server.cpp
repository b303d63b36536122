#include "ovserver/ov_server.h"

#include <QTcpSocket>
#include <QTimer>

#include "ovserver/log.h"
#include "ovserver/login_guard.h"

namespace ovs {

std::vector<size_t> CaptionHoles(const ov::MessageCipher& cipher, const std::string& caption) {
  const std::string shown = cipher.DecryptMsg(EncipherForFrame(cipher, caption));
  std::vector<size_t> holes;
  for (size_t i = 0; i < caption.size() && i < shown.size(); ++i)
    if (shown[i] != caption[i]) holes.push_back(i);
  return holes;
}

namespace {
ov::MessageCipher MessageCipher() {
  ov::MessageCipher cipher;
  cipher.BuildMessageKey();
  return cipher;
}
}  // namespace

OvServer::OvServer(ServerConfig config, AccountStore& accounts)
    : config_(std::move(config)),
      cipher_(MessageCipher()),
      log_(config_.logLinesPerSecond, config_.logLinesPerConnection),
      games_(size_t(config_.backlogLines), config_.maxServers, config_.gamePorts),
      connections_(config_, cipher_, log_),
      logins_(config_, accounts),
      relay_(config_, accounts, games_, connections_),
      schedules_(config_.schedulesPath, accounts, games_, relay_, connections_),
      handler_(config_, accounts, cipher_, connections_, logins_, relay_, schedules_),
      listener_(config_.maxConnections) {
  connections_.onFrame = [this](Connection& connection, const ov::Frame& frame) {
    handler_.HandleFrame(connection, frame);
  };
  connections_.onClosed = [this](Connection&) { logins_.DropClosed(); };
  listener_.onConnection = [this](QTcpSocket* socket) { Serve(socket); };
  // What the log's rate bound held back is counted once a second at most.
  auto* held = new QTimer(this);
  connect(held, &QTimer::timeout, this, [this] {
    if (const std::string summary = log_.TakeHeldSummary(); !summary.empty()) Log(summary);
  });
  held->start(1000);
  const std::vector<size_t> holes = CaptionHoles(cipher_, config_.caption);
  if (!holes.empty()) {
    std::string where;
    for (size_t hole : holes) where += (where.empty() ? "" : ", ") + std::to_string(hole + 1);
    Log("warning: the clients show the caption \"" +
        Printable(cipher_.DecryptMsg(EncipherForFrame(cipher_, config_.caption))) + "\": character " + where +
        " cannot travel in the login request (its enciphered byte would end the frame) " +
        "and becomes \"?\"; change the caption there");
  }
}

OvServer::~OvServer() {
  games_.ClearHandlers();
  games_.StopAll();
}

void OvServer::Serve(QTcpSocket* socket) { connections_.Serve(socket, AddressGroup(socket->peerAddress())); }

}  // namespace ovs
