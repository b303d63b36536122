#pragma once
// The addresses the server listens on, all on one port; it hands each new connection on.
#include <QObject>
#include <functional>
#include <string>
#include <vector>

class QHostAddress;
class QTcpServer;
class QTcpSocket;

namespace ovs {

class Listener : public QObject {
  Q_OBJECT
 public:
  explicit Listener(int backlog) : backlog_(backlog) {}
  // Listens on one more address; port 0 takes the port of the first address, or one the system picks.
  bool Listen(const QHostAddress& address, quint16 port, std::string& error);
  quint16 Port() const;  // the port listened on, 0 before Listen

  std::function<void(QTcpSocket*)> onConnection;

 private:
  int backlog_;
  std::vector<QTcpServer*> servers_;  // one per address
};

}  // namespace ovs
