#include "net/qt/posix_socket_api.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "net/winsock_errors.h"

namespace ov {

namespace {

constexpr int kWsaeNotSock = 10038;

// The error a broken connection is closed with: reset, network down, or aborted for any other cause.
uint16_t CloseError(int err) {
  if (err == ECONNRESET) return 10054;
  if (err == ENETDOWN) return 10050;
  return 10053;
}

bool WouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == EINTR; }

}  // namespace

PosixSocketApi::~PosixSocketApi() {
  for (auto& [handle, entry] : sockets_) Close(entry, true);
  sockets_.clear();
}

int PosixSocketApi::Startup(uint16_t) { return 0; }

void PosixSocketApi::Cleanup() {
  for (auto& [handle, entry] : sockets_) Close(entry, false);
  sockets_.clear();
}

PosixSocketApi::Entry* PosixSocketApi::Find(int socket) {
  auto it = sockets_.find(socket);
  return it == sockets_.end() ? nullptr : &it->second;
}

int PosixSocketApi::Fail(int error) {
  lastError_ = error;
  return -1;
}

int PosixSocketApi::Socket(int family, int type, int protocol) {
  if (family != kAfInet) return Fail(10047);
  if (type != kSockStream) return Fail(10044);
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
  if (fd < 0) return Fail(WinsockFromErrno(errno));

  const int handle = nextHandle_++;
  Entry& entry = sockets_[handle];
  entry.fd = fd;
  Watch(handle, entry);
  return handle;
}

void PosixSocketApi::Watch(int socket, Entry& entry) {
  entry.readNotifier = new QSocketNotifier(entry.fd, QSocketNotifier::Read);
  entry.readNotifier->setEnabled(false);
  QObject::connect(entry.readNotifier, &QSocketNotifier::activated, &context_,
                   [this, socket] { OnReadable(socket); });
  entry.writeNotifier = new QSocketNotifier(entry.fd, QSocketNotifier::Write);
  entry.writeNotifier->setEnabled(false);
  QObject::connect(entry.writeNotifier, &QSocketNotifier::activated, &context_,
                   [this, socket] { OnWritable(socket); });
}

int PosixSocketApi::AsyncSelect(int socket, long events) {
  Entry* entry = Find(socket);
  if (entry == nullptr) return Fail(kWsaeNotSock);
  entry->events = events;
  ArmRead(*entry);
  return 0;
}

int PosixSocketApi::Connect(int socket, uint32_t address, uint16_t port) {
  Entry* entry = Find(socket);
  if (entry == nullptr) return Fail(kWsaeNotSock);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = port;
  target.sin_addr.s_addr = address;
  return ConnectFd(*entry, reinterpret_cast<const sockaddr*>(&target), sizeof target);
}

int PosixSocketApi::ConnectTo(int socket, const SocketAddress& address, uint16_t port) {
  Entry* entry = Find(socket);
  if (entry == nullptr) return Fail(kWsaeNotSock);
  // Each address of a name is tried on a fresh socket of its family, under the same handle.
  const int fd = ::socket(address.v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail(WinsockFromErrno(errno));
  Close(*entry, false);
  entry->fd = fd;
  entry->connecting = entry->connected = entry->waitingForRoom = entry->closeReported = false;
  Watch(socket, *entry);
  ArmRead(*entry);
  sockaddr_storage target{};
  if (address.v6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&target);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = port;
    std::memcpy(&in6->sin6_addr, address.bytes.data(), 16);
    in6->sin6_scope_id = address.scopeId;
    return ConnectFd(*entry, reinterpret_cast<const sockaddr*>(&target), sizeof(sockaddr_in6));
  }
  auto* in4 = reinterpret_cast<sockaddr_in*>(&target);
  in4->sin_family = AF_INET;
  in4->sin_port = port;
  std::memcpy(&in4->sin_addr, address.bytes.data(), 4);
  return ConnectFd(*entry, reinterpret_cast<const sockaddr*>(&target), sizeof(sockaddr_in));
}

int PosixSocketApi::OpenDatagram(bool v6, Readable readable) {
  const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail(WinsockFromErrno(errno));
  const int handle = nextHandle_++;
  Entry& entry = sockets_[handle];
  entry.fd = fd;
  entry.readable = std::move(readable);
  Watch(handle, entry);
  ArmRead(entry);
  return handle;
}

namespace {

socklen_t ToSockaddr(const SocketAddress& address, uint16_t port, sockaddr_storage& out) {
  out = {};
  if (address.v6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&out);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = port;
    std::memcpy(&in6->sin6_addr, address.bytes.data(), 16);
    in6->sin6_scope_id = address.scopeId;
    return sizeof(sockaddr_in6);
  }
  auto* in4 = reinterpret_cast<sockaddr_in*>(&out);
  in4->sin_family = AF_INET;
  in4->sin_port = port;
  std::memcpy(&in4->sin_addr, address.bytes.data(), 4);
  return sizeof(sockaddr_in);
}

}  // namespace

int PosixSocketApi::SendTo(int socket, const char* data, int length, const SocketAddress& to, uint16_t port) {
  Entry* entry = Find(socket);
  if (entry == nullptr || !entry->readable) return Fail(kWsaeNotSock);
  sockaddr_storage target;
  const socklen_t size = ToSockaddr(to, port, target);
  const ssize_t n = ::sendto(entry->fd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&target), size);
  if (n < 0) return Fail(WouldBlock(errno) ? kWsaeWouldBlock : WinsockFromErrno(errno));
  return static_cast<int>(n);
}

int PosixSocketApi::RecvFrom(int socket, char* buffer, int length, SocketAddress& from, uint16_t& port) {
  Entry* entry = Find(socket);
  if (entry == nullptr || !entry->readable) return Fail(kWsaeNotSock);
  sockaddr_storage peer{};
  socklen_t size = sizeof peer;
  // MSG_TRUNC: the datagram's whole length, so that one longer than the buffer is known for one.
  const ssize_t n = ::recvfrom(entry->fd, buffer, length, MSG_DONTWAIT | MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&peer), &size);
  const int err = errno;
  ArmRead(*entry);
  if (n < 0) return Fail(WouldBlock(err) ? kWsaeWouldBlock : WinsockFromErrno(err));
  from = {};
  if (peer.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&peer);
    from.v6 = true;
    std::memcpy(from.bytes.data(), &in6->sin6_addr, 16);
    from.scopeId = in6->sin6_scope_id;
    port = in6->sin6_port;
  } else {
    const auto* in4 = reinterpret_cast<const sockaddr_in*>(&peer);
    std::memcpy(from.bytes.data(), &in4->sin_addr, 4);
    port = in4->sin_port;
  }
  return static_cast<int>(std::min<ssize_t>(n, INT_MAX));
}

int PosixSocketApi::ConnectFd(Entry& entry, const sockaddr* target, unsigned length) {
  const int result = ::connect(entry.fd, target, length);
  const int err = errno;
  if (result != 0 && err != EINPROGRESS) return Fail(WinsockFromErrno(err));
  // Connected at once or under way: either way the connect event follows, once the socket is writable.
  entry.connecting = true;
  entry.writeNotifier->setEnabled(true);
  return result == 0 ? 0 : Fail(kWsaeWouldBlock);
}

int PosixSocketApi::Send(int socket, const char* data, int length) {
  Entry* entry = Find(socket);
  if (entry == nullptr) return Fail(kWsaeNotSock);
  // MSG_NOSIGNAL: a peer that has gone gives an error, never SIGPIPE.
  const ssize_t n = ::send(entry->fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
  const int err = errno;
  if (n < 0 || n < length) {
    if (n >= 0 || WouldBlock(err)) {
      entry->waitingForRoom = true;
      entry->writeNotifier->setEnabled(true);
    }
    if (n < 0) return Fail(WouldBlock(err) ? kWsaeWouldBlock : WinsockFromErrno(err));
  }
  return static_cast<int>(n);
}

int PosixSocketApi::Recv(int socket, char* buffer, int length) {
  Entry* entry = Find(socket);
  if (entry == nullptr) return Fail(kWsaeNotSock);
  const ssize_t n = ::recv(entry->fd, buffer, length, MSG_DONTWAIT);
  const int err = errno;
  // Whatever is left, and the end of the stream, are told by a notification of their own.
  ArmRead(*entry);
  if (n < 0) return Fail(WouldBlock(err) ? kWsaeWouldBlock : WinsockFromErrno(err));
  return static_cast<int>(n);
}

int PosixSocketApi::CloseSocket(int socket) {
  auto it = sockets_.find(socket);
  if (it == sockets_.end()) return Fail(kWsaeNotSock);
  Close(it->second, false);
  sockets_.erase(it);
  return 0;
}

void PosixSocketApi::Close(Entry& entry, bool deleteNow) {
  for (QSocketNotifier* notifier : {entry.readNotifier, entry.writeNotifier}) {
    notifier->setEnabled(false);
    // The close may come from inside this notifier's own activation.
    if (deleteNow) {
      delete notifier;
    } else {
      notifier->deleteLater();
    }
  }
  ::close(entry.fd);
}

void PosixSocketApi::ArmRead(Entry& entry) {
  const bool wanted =
      entry.readable || entry.connected && !entry.closeReported && (entry.events & (kFdRead | kFdClose)) != 0;
  entry.readNotifier->setEnabled(wanted);
}

void PosixSocketApi::OnReadable(int socket) {
  Entry* entry = Find(socket);
  if (entry == nullptr) return;
  // Quiet until the handler reads: one notification per read, as the socket library gives them.
  entry->readNotifier->setEnabled(false);
  if (entry->readable) {
    QMetaObject::invokeMethod(
        &context_,
        [this, socket] {
          // A copy: the handler may close the socket, and its entry with it.
          if (Entry* still = Find(socket)) Readable(still->readable)();
        },
        Qt::QueuedConnection);
    return;
  }
  char byte;
  const ssize_t n = ::recv(entry->fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  const int err = errno;
  if (n > 0) {
    Post(*entry, socket, kFdRead);
    return;
  }
  if (n < 0 && WouldBlock(err)) {
    ArmRead(*entry);
    return;
  }
  entry->closeReported = true;
  Post(*entry, socket, kFdClose, n == 0 ? 0 : CloseError(err));
}

void PosixSocketApi::OnWritable(int socket) {
  Entry* entry = Find(socket);
  if (entry == nullptr) return;
  entry->writeNotifier->setEnabled(false);
  if (entry->connecting) {
    entry->connecting = false;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(entry->fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
    if (error != 0) {
      Post(*entry, socket, kFdConnect, static_cast<uint16_t>(WinsockFromErrno(error)));
      return;
    }
    entry->connected = true;
    entry->waitingForRoom = false;
    ArmRead(*entry);
    Post(*entry, socket, kFdConnect);
    Post(*entry, socket, kFdWrite);  // a new connection can be written to
    return;
  }
  if (entry->waitingForRoom) {
    entry->waitingForRoom = false;
    Post(*entry, socket, kFdWrite);
  }
}

void PosixSocketApi::Post(const Entry& entry, int socket, uint16_t event, uint16_t error) {
  if ((entry.events & event) == 0) return;
  QMetaObject::invokeMethod(
      &context_,
      [this, socket, event, error] {
        // A socket closed since is no longer told anything.
        if (Find(socket) == nullptr || !handler_) return;
        handler_(kSocketMessage, socket, MakeEventWord(event, error));
      },
      Qt::QueuedConnection);
}

}  // namespace ov
