// A peer on real loopback sockets written with plain blocking POSIX calls, for tests that put the
// client's (or the OV server's) sockets against something they do not control.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "net/event_loop.h"
#include "tests/common/qt_wait.h"

namespace ov::test {

// Set on a peer's own thread: its blocking calls end early once the peer is told to stop, so that a
// test that gave up is not held by a peer still waiting for what will not come.
inline thread_local const std::atomic<bool>* peerStopped = nullptr;

// Waits until the descriptor is ready for events; false, with a failure that names what was awaited,
// when the patience runs out; false at once when the peer is stopped or the test gave up already.
inline bool Ready(int fd, short events, const char* what) {
  const auto giveUp = WaitClock::now() + std::chrono::milliseconds(kPatienceMs);
  for (;;) {
    // A stopped peer still takes what is there already; it only waits no more.
    const bool stop = (peerStopped && *peerStopped) || GaveUp();
    pollfd p{fd, events, 0};
    if (::poll(&p, 1, stop ? 0 : 50) == 1) return true;
    if (stop) return false;
    if (WaitClock::now() > giveUp) {
      GiveUp(std::string("gave up waiting for ") + what + " (after " + std::to_string(kPatienceMs) + " ms)");
      return false;
    }
  }
}

// Owns one descriptor; closes it when it goes.
struct Fd {
  int fd = -1;
  explicit Fd(int f = -1) : fd(f) {}
  Fd(Fd&& o) noexcept : fd(o.fd) { o.fd = -1; }
  Fd& operator=(Fd&& o) noexcept {
    std::swap(fd, o.fd);
    return *this;
  }
  ~Fd() { Close(); }
  void Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  // Ends the connection with a reset instead of an orderly close.
  void Reset() {
    if (fd < 0) return;
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    Close();
  }
};

// A socket bound to a free loopback port, not listening: connecting to it is refused.
inline Fd Bound(uint16_t* port) {
  Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::bind(s.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  ::getsockname(s.fd, reinterpret_cast<sockaddr*>(&a), &len);
  *port = ntohs(a.sin_port);
  return s;
}

inline Fd Listener(uint16_t* port, int backlog = 64) {
  Fd s = Bound(port);
  EXPECT_EQ(::listen(s.fd, backlog), 0);
  return s;
}

// The next connection; an empty Fd (and a failure) when none comes.
inline Fd Accept(const Fd& listener) {
  if (!Ready(listener.fd, POLLIN, "a connection to the peer")) return Fd();
  return Fd(::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC));
}

// Waits for room as often as it takes; false when the connection ends or room never comes.
inline bool SendAll(const Fd& peer, std::string_view bytes) {
  while (!bytes.empty()) {
    if (!Ready(peer.fd, POLLOUT, "room to send to the other end")) return false;
    const ssize_t n = ::send(peer.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(size_t(n));
  }
  return true;
}

// Reads until n bytes have come, the connection ends or patience runs out (a failure then).
inline std::string Receive(const Fd& peer, size_t n) {
  std::string in;
  char buffer[65536];
  while (in.size() < n) {
    if (!Ready(peer.fd, POLLIN, "bytes from the other end")) break;
    const ssize_t got = ::recv(peer.fd, buffer, std::min(sizeof buffer, n - in.size()), 0);
    if (got <= 0) break;
    in.append(buffer, size_t(got));
  }
  return in;
}

// Whatever the peer can read without waiting.
inline std::string ReadAvailable(const Fd& peer, size_t most = 1 << 20) {
  std::string out(most, '\0');
  const ssize_t n = ::recv(peer.fd, out.data(), most, MSG_DONTWAIT);
  out.resize(n > 0 ? size_t(n) : 0);
  return out;
}

// Runs the event loop until done() holds; false, with a failure that says what it waited for, when it
// never does. A long flood passes progress (a count that grows while work is being done): the patience
// then runs from the last time it grew, so only a wait that goes nowhere ends the test.
inline bool PumpUntil(EventLoop& loop, const std::string& what, const std::function<bool()>& done,
                      const std::function<uint64_t()>& progress = nullptr, int patienceMs = kPatienceMs) {
  return WaitForWatched(
      what, done, [&](WaitClock::time_point until) { loop.WaitForEvents(until); }, patienceMs, progress);
}

}  // namespace ov::test
