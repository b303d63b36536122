// The flood driver: plays a number of OV servers on one loopback port, each running Quake servers whose
// console windows the client opens, and floods every console with text, as fast as the client takes it
// or at a fixed rate of lines per second per console.
//
//   ov-flood-driver [--ov 20] [--quake 1] [--lines 10000] [--size 80] [--rate 0] [--no-wait]
//                   [--close-when-done] [--timeout 600]
//
// Prints "PORT n" once listening. Each accepted connection is OV server k (1, 2, ...): it sends its
// information (21), announces its Quake servers (27) and describes them with console mode 1 (25). The
// flood starts once every OV server has been accepted and, unless --no-wait, the client has opened every
// window (22 for the OV server's console, 42 for each Quake server). At the end it prints one line of
// figures and exits when every connection has closed.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "bench/flood_stream.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int ovCount = 20;
  int quakePerOv = 1;
  uint64_t lines = 10000;
  size_t size = 80;
  double rate = 0;  // lines per second per console; 0 = as fast as taken
  bool wait = true;
  bool closeWhenDone = false;
  int timeoutSeconds = 600;
};

struct Connection {
  int fd = -1;
  int ov = 0;
  std::string in;
  std::string out;
  size_t outHead = 0;
  bool ovWindow = false;
  std::set<int> quakeWindows;
  bool ready = false;
  bool done = false;
  bool closed = false;
  std::vector<uint64_t> sent;  // lines sent per console
};

constexpr size_t kFill = 256 * 1024;  // bytes kept ready for the socket

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "%s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--ov") {
      o.ovCount = std::atoi(next());
    } else if (a == "--quake") {
      o.quakePerOv = std::atoi(next());
    } else if (a == "--lines") {
      o.lines = std::strtoull(next(), nullptr, 10);
    } else if (a == "--size") {
      o.size = std::strtoull(next(), nullptr, 10);
    } else if (a == "--rate") {
      o.rate = std::atof(next());
    } else if (a == "--no-wait") {
      o.wait = false;
    } else if (a == "--close-when-done") {
      o.closeWhenDone = true;
    } else if (a == "--timeout") {
      o.timeoutSeconds = std::atoi(next());
    } else {
      std::fprintf(stderr, "unknown option %s\n", a.c_str());
      std::exit(2);
    }
  }
  return o;
}

void Greet(Connection& c, const Options& o) {
  using namespace ov::flood;
  AppendFrame(c.out, 1021, std::string("flood") + kSeparator + "Flood OV " + std::to_string(c.ov));
  for (int q = 1; q <= o.quakePerOv; ++q) AppendFrame(c.out, 1027, std::to_string(ServerIdOf(q)));
  for (int q = 1; q <= o.quakePerOv; ++q) {
    const std::string id = std::to_string(ServerIdOf(q));
    AppendFrame(c.out, 1025,
                id + kSeparator + "info" + kSeparator + "Flood " + std::to_string(c.ov) + "." + id +
                    kSeparator + "info4" + kSeparator + "1" + kSeparator + "1");
  }
}

// Reads the client's answers: 22 once the OV server's window is open, 42 with each Quake window's id.
void TakeAnswers(Connection& c, const Options& o) {
  for (;;) {
    const size_t start = c.in.find(ov::flood::kStart);
    if (start == std::string::npos) {
      c.in.clear();
      break;
    }
    const size_t end = c.in.find(ov::flood::kEnd, start);
    if (end == std::string::npos) {
      c.in.erase(0, start);
      break;
    }
    const std::string code = c.in.substr(start + 1, 4);
    const std::string payload = end > start + 5 ? c.in.substr(start + 5, end - start - 5) : std::string();
    if (code == "1022") c.ovWindow = true;
    if (code == "1042") c.quakeWindows.insert(std::atoi(payload.c_str()));
    c.in.erase(0, end + 1);
  }
  if (!c.ready && c.ovWindow && static_cast<int>(c.quakeWindows.size()) >= o.quakePerOv) c.ready = true;
}

// Appends the frames that are due, console by console in small turns so the consoles interleave.
void Fill(Connection& c, const Options& o, double elapsed) {
  const uint64_t due =
      o.rate > 0 ? std::min<uint64_t>(o.lines, static_cast<uint64_t>(o.rate * elapsed)) : o.lines;
  bool more = true;
  while (more && c.out.size() - c.outHead < kFill) {
    more = false;
    for (size_t k = 0; k < c.sent.size(); ++k) {
      for (int turn = 0; turn < 16 && c.sent[k] < due; ++turn) {
        c.out += ov::flood::kStart;
        c.out += ov::flood::Code(ov::flood::ServerIdOf(static_cast<int>(k)));
        ov::flood::WriteLine(c.out, c.ov, static_cast<int>(k), c.sent[k], o.size);
        c.out += ov::flood::kEnd;
        ++c.sent[k];
      }
      if (c.sent[k] < due) more = true;
    }
  }
}

bool AllSent(const Connection& c, const Options& o) {
  for (uint64_t n : c.sent)
    if (n < o.lines) return false;
  return c.outHead == c.out.size();
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener, 64) != 0) {
    std::perror("listen");
    return 1;
  }
  socklen_t len = sizeof addr;
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  std::printf("PORT %d\n", ntohs(addr.sin_port));
  std::fflush(stdout);

  std::vector<Connection> conns;
  conns.reserve(o.ovCount);
  const Clock::time_point begin = Clock::now();
  Clock::time_point floodStart{}, floodEnd{};
  bool started = false, finished = false;
  double cpuAtStart = 0;
  uint64_t bytesSent = 0;
  std::vector<char> buffer(65536);

  for (;;) {
    if (Seconds(Clock::now() - begin) > o.timeoutSeconds) {
      std::fprintf(stderr, "flood driver: timed out\n");
      break;
    }
    if (!started && static_cast<int>(conns.size()) == o.ovCount) {
      bool all = true;
      for (const Connection& c : conns) all = all && c.ready;
      if (all) {
        started = true;
        floodStart = Clock::now();
        cpuAtStart = CpuSeconds();
      }
    }
    if (started && !finished) {
      const double elapsed = Seconds(Clock::now() - floodStart);
      bool allDone = true;
      for (Connection& c : conns) {
        if (c.closed) continue;
        Fill(c, o, elapsed);
        if (!c.done && AllSent(c, o)) {
          c.done = true;
          if (o.closeWhenDone) ::shutdown(c.fd, SHUT_WR);
        }
        allDone = allDone && c.done;
      }
      if (allDone) {
        finished = true;
        floodEnd = Clock::now();
        const double secs = Seconds(floodEnd - floodStart);
        std::printf("DRIVER seconds=%.4f cpu_s=%.4f bytes=%llu lines=%llu\n", secs, CpuSeconds() - cpuAtStart,
                    static_cast<unsigned long long>(bytesSent),
                    static_cast<unsigned long long>(o.lines * o.ovCount * (o.quakePerOv + 1)));
        std::fflush(stdout);
      }
    }

    std::vector<pollfd> fds;
    fds.push_back({listener, static_cast<short>(static_cast<int>(conns.size()) < o.ovCount ? POLLIN : 0), 0});
    for (const Connection& c : conns) {
      short events = c.closed ? 0 : POLLIN;
      if (!c.closed && c.outHead < c.out.size()) events |= POLLOUT;
      fds.push_back({c.closed ? -1 : c.fd, events, 0});
    }
    bool open = false;
    for (const Connection& c : conns) open = open || !c.closed;
    // Every OV server's connection has closed: the client is gone, whether or not it took everything.
    if (static_cast<int>(conns.size()) == o.ovCount && !open) break;
    // At a fixed rate the frames fall due with time; otherwise the sockets' room paces the flood.
    const int wait = started && !finished && o.rate > 0 ? 1 : 200;
    if (::poll(fds.data(), fds.size(), wait) < 0) continue;

    if (fds[0].revents & POLLIN) {
      const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd >= 0) {
        Connection c;
        c.fd = fd;
        c.ov = static_cast<int>(conns.size()) + 1;
        c.sent.assign(o.quakePerOv + 1, 0);
        c.ready = !o.wait;
        Greet(c, o);
        conns.push_back(std::move(c));
      }
    }
    for (size_t i = 0; i < conns.size() && i + 1 < fds.size(); ++i) {
      Connection& c = conns[i];
      const short re = fds[i + 1].revents;
      if (c.closed || re == 0) continue;
      if (re & (POLLIN | POLLHUP | POLLERR)) {
        const ssize_t n = ::recv(c.fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n > 0) {
          if (!c.ready) {
            c.in.append(buffer.data(), static_cast<size_t>(n));
            TakeAnswers(c, o);
          }
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
          ::close(c.fd);
          c.closed = true;
          continue;
        }
      }
      if ((re & POLLOUT) && c.outHead < c.out.size()) {
        const ssize_t n = ::send(c.fd, c.out.data() + c.outHead, c.out.size() - c.outHead, MSG_NOSIGNAL);
        if (n > 0) {
          c.outHead += static_cast<size_t>(n);
          bytesSent += static_cast<uint64_t>(n);
          if (c.outHead == c.out.size()) {
            c.out.clear();
            c.outHead = 0;
          } else if (c.outHead > kFill) {
            c.out.erase(0, c.outHead);
            c.outHead = 0;
          }
        }
      }
    }
  }
  ::close(listener);
  return finished ? 0 : 1;
}
