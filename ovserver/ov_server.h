#pragma once
// The OV server: accepts clients, logs them in, and serves their requests on one thread. Its parts:
// the listener hands each new socket to the connection manager, which admits it and gives it fair turns
// at reading; the request handler takes each whole request, queues logins for their name's turn at the
// login queue and leaves game servers' business to the relay; every line a peer causes goes through the
// peer log's bounds.
#include <QObject>
#include <string>

#include "ovserver/accounts.h"
#include "ovserver/connection_manager.h"
#include "ovserver/game_relay.h"
#include "ovserver/game_servers.h"
#include "ovserver/listener.h"
#include "ovserver/login_queue.h"
#include "ovserver/peer_log.h"
#include "ovserver/request_handler.h"
#include "ovserver/scheduler.h"
#include "ovserver/server_config.h"
#include "wire/cipher.h"

class QTcpSocket;
class QHostAddress;

namespace ovs {

class OvServer : public QObject {
  Q_OBJECT
 public:
  OvServer(ServerConfig config, AccountStore& accounts);
  ~OvServer() override;

  // Listens on one more address; port 0 takes the port of the first address, or one the system picks.
  bool Listen(const QHostAddress& address, quint16 port, std::string& error) {
    return listener_.Listen(address, port, error);
  }
  quint16 Port() const { return listener_.Port(); }
  // Serves a connected socket as a client's connection (and owns it from then on). The listener hands
  // it each new connection; a harness can hand it one end of a socket pair without a listener.
  void Serve(QTcpSocket* socket);
  size_t SessionCount() const { return connections_.Count(); }
  GameServers& Games() { return games_; }
  Scheduler& Schedules() { return schedules_; }

 private:
  ServerConfig config_;
  ov::MessageCipher cipher_;
  PeerLog log_;
  GameServers games_;
  ConnectionManager connections_;
  LoginQueue logins_;
  GameRelay relay_;
  Scheduler schedules_;
  RequestHandler handler_;
  Listener listener_;
};

// The positions (from 0) of the caption's characters that the login request cannot carry: their
// enciphered byte would end the frame, so the clients see "?" there.
std::vector<size_t> CaptionHoles(const ov::MessageCipher& cipher, const std::string& caption);

}  // namespace ovs
