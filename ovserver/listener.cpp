#include "ovserver/listener.h"

#include <QHostAddress>
#include <QTcpServer>

#include "ovserver/log.h"

namespace ovs {

bool Listener::Listen(const QHostAddress& address, quint16 port, std::string& error) {
  auto* server = new QTcpServer(this);
  // As many as may be served may also wait to be accepted: a burst of clients is not left to retry.
  server->setListenBacklogSize(backlog_);
  if (!server->listen(address, port != 0 ? port : Port())) {
    error = server->errorString().toStdString();
    delete server;
    return false;
  }
  connect(server, &QTcpServer::newConnection, this, [this, server] {
    while (QTcpSocket* socket = server->nextPendingConnection()) onConnection(socket);
  });
  servers_.push_back(server);
  const std::string host = address.toString().toStdString();
  Log("listening on " + (address.protocol() == QAbstractSocket::IPv6Protocol ? "[" + host + "]" : host) +
      ":" + std::to_string(Port()));
  return true;
}

quint16 Listener::Port() const { return servers_.empty() ? 0 : servers_.front()->serverPort(); }

}  // namespace ovs
