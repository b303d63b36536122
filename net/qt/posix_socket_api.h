#pragma once
// The socket API over POSIX non-blocking sockets. Qt socket notifiers watch each socket, and every
// notification is posted to the event loop, as the socket library's window message would be, so it
// reaches the handler from whatever loop (nested ones included) is running.
#include <QObject>
#include <unordered_map>

#include "net/qt/host_lookup.h"
#include "net/socket_api.h"

class QSocketNotifier;
struct sockaddr;

namespace ov {

class PosixSocketApi : public SocketApi {
 public:
  PosixSocketApi() = default;
  ~PosixSocketApi() override;
  PosixSocketApi(const PosixSocketApi&) = delete;
  PosixSocketApi& operator=(const PosixSocketApi&) = delete;

  int Startup(uint16_t version) override;
  void Cleanup() override;
  int Socket(int family, int type, int protocol) override;
  int AsyncSelect(int socket, long events) override;
  int Connect(int socket, uint32_t address, uint16_t port) override;
  int Send(int socket, const char* data, int length) override;
  int Recv(int socket, char* buffer, int length) override;
  int CloseSocket(int socket) override;
  int LastError() const override { return lastError_; }
  void SetEventHandler(EventHandler handler) override { handler_ = std::move(handler); }
  int AsyncGetHostByName(const std::string& host, bool numericOnly, LookupDone done) override {
    return lookups_.Start(host, numericOnly, std::move(done));
  }
  void CancelLookup(int id) override { lookups_.Cancel(id); }
  int ConnectTo(int socket, const SocketAddress& address, uint16_t port) override;
  int OpenDatagram(bool v6, Readable readable) override;
  int SendTo(int socket, const char* data, int length, const SocketAddress& to, uint16_t port) override;
  int RecvFrom(int socket, char* buffer, int length, SocketAddress& from, uint16_t& port) override;

  int OpenSockets() const { return static_cast<int>(sockets_.size()); }

 private:
  struct Entry {
    int fd = -1;
    long events = 0;
    QSocketNotifier* readNotifier = nullptr;
    QSocketNotifier* writeNotifier = nullptr;
    bool connecting = false;  // connect under way: the write notifier tells its outcome
    bool connected = false;
    bool waitingForRoom = false;  // a send would have blocked: the write notifier tells of room
    bool closeReported = false;
    Readable readable;  // a datagram socket's: told of every datagram waiting, once until read
  };

  Entry* Find(int socket);
  void Watch(int socket, Entry& entry);  // the entry's notifiers, disabled until wanted
  int ConnectFd(Entry& entry, const sockaddr* target, unsigned length);
  int Fail(int error);
  void ArmRead(Entry& entry);
  void OnReadable(int socket);
  void OnWritable(int socket);
  void Post(const Entry& entry, int socket, uint16_t event, uint16_t error = 0);
  void Close(Entry& entry, bool deleteNow);

  QObject context_;  // owns the posted notifications: none runs once this API is gone
  std::unordered_map<int, Entry> sockets_;
  int nextHandle_ = 1;  // handles are never reused, so a closed one never names a newer socket
  int lastError_ = 0;
  EventHandler handler_;
  HostLookups lookups_;
};

}  // namespace ov
