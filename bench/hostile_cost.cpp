// What a hostile OV server costs the real client: for each way a server can make the client keep state
// or redo work, the same attack at growing sizes, with the client's CPU per byte it received, the
// longest time its event loop was held, and how much resident memory the attack left behind.
//
//   ov-bench-hostile [--quick] [--attack NAME] [--budget SECONDS] [--verbose]
//
// Attacks (NAME): console, console-colours (long console lines, with View > Colour Codes off and on),
// title (control 25 with long titles), name (a first 21 with a long name), churn (27, 25, one console
// line, 28 per step), repeat21, repeat25 (the same 21, or the same server's 25, again and again) and
// reconnect (Reconnect pressed again and again on a dead window of a server that sends 21 and closes).
//
// Each size runs against a fresh client: this program starts itself as the client (composed as the
// program composes it, on the offscreen platform, with a configuration directory of its own) and plays
// the OV servers on loopback. The client makes two connections: a probe, whose 901 every 20 ms the
// client answers with 20 (the round trip is how long the event loop was held), and the attacker. CPU
// and memory are read from outside the client (its process CPU clock, /proc/PID/status). The attacker
// sends in batches, each followed by a 901, with at most two unanswered, so an attack can be stopped at
// its time budget; a size that does not finish within it ends the series.
//
// Prints a "RESULT hostile ..." line per size and a "SUMMARY hostile ..." line per attack for
// scripts/bench.sh. Nothing here judges the figures.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMdiArea>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/client.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_platform.h"
#include "app/qt/settings.h"
#include "bench/real_client.h"
#include "consoles/qt/console_window.h"
#include "wire/frames.h"
#include "wire/payload.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

std::string Control(int n, std::string_view payload) { return ov::MakeFrame(1000 + n, payload); }

std::string Fields(std::initializer_list<std::string_view> fields) {
  std::string out;
  for (std::string_view f : fields) {
    if (!out.empty()) out += ov::kFieldSeparator;
    out += f;
  }
  return out;
}

// ---------------------------------------------------------------- the client, in the child process

template <typename Done>
bool RunUntil(Done done, int timeoutMs) {
  QElapsedTimer since;
  since.start();
  while (!done()) {
    if (since.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  }
  return true;
}

ov::ConsoleWindow* ViewOf(const ov::Console& c) { return dynamic_cast<ov::ConsoleWindow*>(c.view); }

// The client connects to the probe and then to the attacker, looks at the attacker's window once it
// opens (as a user would), and given presses, presses Reconnect that many times on the first dead window.
int ClientMain(int port, bool colours, int presses) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);  // a benchmark stopped midway leaves no client behind
  int argc = 1;
  char name[] = "orvane-client";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  QApplication::setApplicationName("Orvane Client");
  ov::Settings(ov::UserSettings()).SetColourCodes(colours);  // into this run's own configuration directory
  auto real = std::make_unique<RealClient>(1280, 900);
  ov::Client& client = real->client;
  const ov::Endpoint where{"127.0.0.1", port, 10};
  real->ui.ConnectTo(client, where);
  RunUntil([&] { return !client.Consoles().Windows().empty(); }, 20000);
  real->ui.ConnectTo(client, where);
  std::printf("READY\n");
  std::fflush(stdout);

  // The attacker's window, the second OV server's, is the one looked at.
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    int ovWindows = 0;
    for (const auto& w : client.Consoles().Windows()) {
      if (w->kind != ov::ConsoleKind::OVServer || ++ovWindows < 2) continue;
      if (ov::ConsoleWindow* v = ViewOf(*w)) real->ui.Main().MdiArea()->setActiveSubWindow(v);
      look.stop();
      return;
    }
  });
  look.start(50);

  // A message box is read and closed, as a user would with Return; the parent counts them.
  QTimer boxes;
  QObject::connect(&boxes, &QTimer::timeout, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      std::printf("BOX %s\n", box->text().simplified().left(200).toLocal8Bit().constData());
      std::fflush(stdout);
      box->accept();
    }
  });
  boxes.start(100);

  if (presses > 0) {
    ov::ConsoleWindow* dead = nullptr;
    RunUntil(
        [&] {
          for (const auto& w : client.Consoles().Windows())
            if (ov::ConsoleWindow* v = ViewOf(*w); v && v->CanReconnect()) dead = v;
          return dead != nullptr;
        },
        60000);
    if (dead == nullptr) {
      std::printf("NODEAD\n");
      std::fflush(stdout);
    } else {
      // Ctrl+R held on the dead window: the frame's Reconnect, on the active window, press after press.
      real->ui.Main().MdiArea()->setActiveSubWindow(dead);
      QCoreApplication::processEvents();
      QAction* reconnect = real->ui.Main().menuBar()->findChild<QAction*>("mnuReconnect");
      for (int i = 0; i < presses; ++i) {
        reconnect->trigger();
        QCoreApplication::processEvents();
      }
      std::printf("PRESSED %d\n", presses);
      std::fflush(stdout);
    }
  }
  return app.exec();
}

// ---------------------------------------------------------------- the servers, in the parent

struct Options {
  bool quick = false;
  std::string attack;  // empty: all
  double budget = 0;   // seconds per size; 0: 30, or 10 with --quick
  bool verbose = false;
};

int Listen(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 1024) != 0) {
    std::perror("listen");
    std::exit(1);
  }
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port = ntohs(addr.sin_port);
  return fd;
}

int Accept(int listener, int timeoutMs) {
  pollfd p{listener, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) <= 0) return -1;
  return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

// One connection's incoming frames, counted by code.
struct Peer {
  int fd = -1;
  ov::FrameAssembler frames;
  int pongs = 0;    // 20s received
  int windows = 0;  // 22s received
  bool closed = false;

  // Reads what is there without waiting; false once the client closed.
  bool Read() {
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) {
        for (const ov::Frame& f : frames.Feed(std::string_view(buffer, static_cast<size_t>(n))).frames) {
          if (f.code == "1020") ++pongs;
          if (f.code == "1022") ++windows;
        }
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
      closed = true;
      return false;
    }
  }
  // Sends all of bytes (reading meanwhile) unless the deadline passes first.
  bool SendAll(std::string_view bytes, Clock::time_point deadline) {
    while (!bytes.empty()) {
      if (Clock::now() > deadline || closed) return false;
      pollfd p{fd, POLLIN | POLLOUT, 0};
      ::poll(&p, 1, 50);
      if (p.revents & (POLLIN | POLLHUP | POLLERR)) Read();
      if (p.revents & POLLOUT) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) bytes.remove_prefix(static_cast<size_t>(n));
      }
    }
    return true;
  }
  template <typename Done>
  bool WaitFor(Done done, Clock::time_point deadline) {
    while (!done()) {
      if (Clock::now() > deadline || closed) return false;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 50) > 0) Read();
    }
    return true;
  }
};

// 901 on the probe connection every 20 ms, one at a time: the longest round trip is the longest the
// client's event loop was held (an answer still awaited at the end counts for as long as it waited).
class Probe {
 public:
  explicit Probe(Peer& peer) : peer_(peer) {}
  void Start() {
    stop_ = false;
    longest_ = 0;
    thread_ = std::thread([this] { Run(); });
  }
  double Stop() {
    stop_ = true;
    thread_.join();
    return longest_;
  }
  double LastRoundTrip() const { return last_; }

 private:
  void Run() {
    while (!stop_) {
      const int want = peer_.pongs + 1;
      const auto sent = Clock::now();
      if (!peer_.SendAll(Control(901, ""), sent + std::chrono::hours(1))) return;
      while (!stop_ && peer_.pongs < want && !peer_.closed) {
        pollfd p{peer_.fd, POLLIN, 0};
        if (::poll(&p, 1, 20) > 0) peer_.Read();
        longest_ = std::max<double>(longest_, Since(sent) * 1e3);
      }
      last_ = Since(sent) * 1e3;
      longest_ = std::max<double>(longest_, last_);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  Peer& peer_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<double> longest_{0};
  std::atomic<double> last_{0};
};

struct ClientProcess {
  pid_t pid = -1;
  int out = -1;  // the child's standard output
  std::string lines;

  // Reads the child's output; true once a line starting with prefix has come.
  bool Said(const std::string& prefix) {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(out, buffer, sizeof buffer)) > 0) lines.append(buffer, static_cast<size_t>(n));
    return lines.find(prefix) != std::string::npos;
  }
  // The message boxes the client showed, and the first one's text.
  int Boxes(std::string& first) {
    Said("");
    int count = 0;
    for (size_t at = lines.find("BOX "); at != std::string::npos; at = lines.find("\nBOX ", at + 1)) {
      if (lines[at] == '\n') ++at;
      if (count++ == 0) first = lines.substr(at + 4, lines.find('\n', at) - at - 4);
    }
    return count;
  }
  double CpuSeconds() const {
    clockid_t id;
    timespec t{};
    if (clock_getcpuclockid(pid, &id) != 0 || clock_gettime(id, &t) != 0) return 0;
    return t.tv_sec + t.tv_nsec / 1e9;
  }
  double StatusMb(const char* key) const {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line))
      if (line.rfind(prefix, 0) == 0) return std::atof(line.c_str() + prefix.size()) / 1024.0;
    return 0;
  }
  void Kill() {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ::close(out);
    pid = -1;
  }
};

ClientProcess SpawnClient(const char* self, int port, bool colours, int presses, const std::string& home,
                          bool verbose) {
  std::vector<std::string> args = {self, "client", std::to_string(port), colours ? "1" : "0",
                                   std::to_string(presses)};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) std::abort();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  if (!verbose) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  // A configuration directory of its own: the colour setting is written there, and nothing the user
  // keeps is read or changed.
  std::vector<std::string> env = {"XDG_CONFIG_HOME=" + home, "QT_QPA_PLATFORM=offscreen"};
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "XDG_CONFIG_HOME=", 16) != 0 && std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0)
      env.push_back(*e);
  }
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  ClientProcess c;
  if (posix_spawn(&c.pid, self, &actions, nullptr, argv.data(), envp.data()) != 0) {
    std::perror("spawn");
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  c.out = fds[0];
  fcntl(c.out, F_SETFL, O_NONBLOCK);
  return c;
}

// An attack at one size: the greeting the attacker sends before the figures start (empty: none), and
// its frames one at a time; a batch ends after batchBytes or batchFrames, and a 901 follows it.
struct Attack {
  std::string greeting;
  std::function<bool(std::string&)> next;  // appends the next frame; false when there is none
  size_t batchBytes = 256 * 1024;
  size_t batchFrames = 100000;
  int presses = 0;  // reconnect: presses instead of frames
  uint64_t messages = 0;
};

struct Figures {
  bool finished = false;
  bool started = false;
  double seconds = 0, cpu = 0, blockMs = 0, rssBefore = 0, rssAfter = 0, rssClosed = 0, peak = 0;
  uint64_t bytes = 0;
  int connections = 0;
  int boxes = 0;
  std::string firstBox;
};

const char* kText = "^1the quick brown fox ^2jumps over the lazy dog ^7and keeps on running^3 down the road ";

// Bytes of printable text with a colour code every few words.
std::string Text(size_t size) {
  std::string out;
  out.reserve(size);
  const size_t n = std::strlen(kText);
  while (out.size() < size) out.append(kText, std::min(n, size - out.size()));
  return out;
}

Figures Run(const char* self, const Options& o, bool colours, Attack& attack) {
  Figures f;
  int port = 0;
  const int listener = Listen(port);
  char home[] = "/tmp/ov-bench-hostile-XXXXXX";
  if (!mkdtemp(home)) std::abort();
  ClientProcess client = SpawnClient(self, port, colours, attack.presses, home, o.verbose);
  const auto setupDeadline = Clock::now() + std::chrono::seconds(60);
  Peer probe, attacker;
  probe.fd = Accept(listener, 30000);
  if (probe.fd >= 0 &&
      probe.SendAll(Control(21, Fields({"probe", "Probe"})) + Control(901, ""), setupDeadline)) {
    attacker.fd = Accept(listener, 30000);
  }
  bool ready = attacker.fd >= 0 && probe.WaitFor([&] { return probe.pongs >= 1; }, setupDeadline);
  if (ready && !attack.greeting.empty()) {
    ready = attacker.SendAll(attack.greeting + Control(901, ""), setupDeadline) &&
            attacker.WaitFor([&] { return attacker.pongs >= 1 && attacker.windows >= 1; }, setupDeadline);
  }
  ready = ready && probe.WaitFor([&] { return client.Said("READY"); }, setupDeadline);
  if (!ready) {
    std::fprintf(stderr, "the client did not start or connect\n");
    client.Kill();
    ::close(listener);
    return f;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // drawn, and the attacker's window looked at
  f.started = true;
  f.rssBefore = client.StatusMb("VmRSS");
  const double cpu0 = client.CpuSeconds();
  const auto t0 = Clock::now();
  const auto deadline = t0 + std::chrono::milliseconds(static_cast<int>(o.budget * 1000));
  Probe lag(probe);
  lag.Start();

  if (attack.presses > 0) {
    // The attacker's connection ends: its window is dead, and Reconnect is pressed on it. Each
    // reconnection meets a server that sends its 21 and closes.
    ::close(attacker.fd);
    attacker.fd = -1;
    std::vector<int> held;
    auto lastAccept = Clock::now();
    bool pressed = false;
    while (Clock::now() < deadline) {
      if (!pressed && (client.Said("PRESSED") || client.Said("NODEAD"))) pressed = true;
      if (pressed && Since(lastAccept) > 1.0) break;
      const int fd = Accept(listener, 20);
      if (fd < 0) continue;
      ++f.connections;
      lastAccept = Clock::now();
      const std::string hello = Control(21, Fields({"again", "Again"}));
      if (::send(fd, hello.data(), hello.size(), MSG_NOSIGNAL) > 0) f.bytes += hello.size();
      ::shutdown(fd, SHUT_WR);
      held.push_back(fd);
    }
    f.finished = pressed && Clock::now() < deadline;
    for (int fd : held) ::close(fd);
  } else {
    const int base = attacker.pongs;
    int pings = 0;
    bool more = true;
    std::string batch;
    while (more) {
      batch.clear();
      size_t frames = 0;
      while (batch.size() < attack.batchBytes && frames < attack.batchFrames && (more = attack.next(batch)))
        ++frames;
      if (batch.empty()) break;
      batch += Control(901, "");
      // At most two batches unanswered: a stop at the deadline leaves little in flight.
      if (!attacker.WaitFor([&] { return attacker.pongs - base >= pings - 1; }, deadline)) break;
      if (!attacker.SendAll(batch, deadline)) break;
      f.bytes += batch.size();
      ++pings;
    }
    f.finished = attacker.WaitFor([&] { return attacker.pongs - base >= pings; }, deadline) && !more;
  }
  // What the client does after the last message (drawing, above all) counts too: the figures end
  // once the probe has come back quickly a few times in a row, or at the deadline.
  if (f.finished) {
    const auto quietFrom = Clock::now();
    int quick = 0;
    while (Clock::now() < deadline && (quick < 10 || Since(quietFrom) < 0.5)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
      quick = lag.LastRoundTrip() < 50 ? quick + 1 : 0;
    }
    f.finished = Clock::now() < deadline;
  }
  f.blockMs = lag.Stop();
  f.seconds = Since(t0);
  f.cpu = client.CpuSeconds() - cpu0;
  f.rssAfter = client.StatusMb("VmRSS");
  f.peak = client.StatusMb("VmHWM");
  // Then the attacker hangs up, as a Disconnect would end it: what the client still holds a second later.
  if (attacker.fd >= 0) {
    ::close(attacker.fd);
    attacker.fd = -1;
    probe.SendAll(Control(901, ""), Clock::now() + std::chrono::seconds(5));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    f.rssClosed = client.StatusMb("VmRSS");
  }
  f.boxes = client.Boxes(f.firstBox);
  client.Kill();
  if (probe.fd >= 0) ::close(probe.fd);
  if (attacker.fd >= 0) ::close(attacker.fd);
  ::close(listener);
  std::system(("rm -rf " + std::string(home)).c_str());
  return f;
}

// ---------------------------------------------------------------- the attacks

// Console text on the attacker's own console (server id 0): lines of `size` bytes, the last a line
// feed, in frames of at most a million bytes, repeated up to `volume` bytes in all and at least four
// times (a log must not keep what it was sent before).
Attack ConsoleLines(size_t size, size_t volume) {
  Attack a;
  a.greeting = Control(21, Fields({"hostile", "Hostile"}));
  const size_t lines = std::max<size_t>(4, volume / size);
  a.messages = lines;
  auto text = std::make_shared<std::string>(Text(std::min<size_t>(size, 1000000)));
  auto line = std::make_shared<size_t>(0);
  auto at = std::make_shared<size_t>(0);
  a.next = [=](std::string& out) {
    if (*line == lines) return false;
    const size_t n = std::min<size_t>(size - *at, 1000000);
    *at += n;
    std::string payload = text->substr(0, n);
    if (*at == size) {
      payload.back() = '\n';
      *at = 0;
      ++*line;
    }
    out += ov::MakeFrame(0, payload);
    return true;
  };
  return a;
}

Attack Titles(size_t size, size_t volume) {
  Attack a;
  a.greeting = Control(21, Fields({"hostile", "Hostile"})) + Control(27, "1");
  const size_t count = std::max<size_t>(1, volume / size);
  a.messages = count;
  auto payload = std::make_shared<std::string>(Fields({"1", "info", Text(size), "info4", "1", "1"}));
  auto sent = std::make_shared<size_t>(0);
  a.next = [=](std::string& out) {
    if (*sent == count) return false;
    ++*sent;
    out += Control(25, *payload);
    return true;
  };
  return a;
}

Attack Name(size_t size) {
  Attack a;  // no greeting: the long name comes in the first 21
  a.messages = 1;
  auto sent = std::make_shared<bool>(false);
  a.next = [=](std::string& out) {
    if (*sent) return false;
    *sent = true;
    out += Control(21, Fields({"hostile", Text(size)}));
    return true;
  };
  return a;
}

// Step i announces a server, describes it (its window opens), writes a line to it and removes it. Ids
// go round 1..999: codes from 1000 on are control messages, not console text.
Attack Churn(size_t steps) {
  Attack a;
  a.greeting = Control(21, Fields({"hostile", "Hostile"}));
  a.messages = steps;
  a.batchFrames = 100;
  auto step = std::make_shared<size_t>(0);
  a.next = [=](std::string& out) {
    if (*step == steps) return false;
    const std::string id = std::to_string(*step % 999 + 1);
    out += Control(27, id);
    out += Control(25, Fields({id, "info", "Churn " + id, "info4", "1", "1"}));
    out += ov::MakeFrame(std::atoi(id.c_str()), "churn line " + std::to_string(*step) + "\n");
    out += Control(28, id);
    ++*step;
    return true;
  };
  return a;
}

Attack Repeat(int n, size_t count) {
  Attack a;
  a.greeting = Control(21, Fields({"hostile", "Hostile"})) + Control(27, "1");
  a.messages = count;
  a.batchFrames = 200;
  const std::string frame = n == 21 ? Control(21, Fields({"hostile", "Hostile"}))
                                    : Control(25, Fields({"1", "info", "Repeated", "info4", "1", "1"}));
  auto sent = std::make_shared<size_t>(0);
  a.next = [=](std::string& out) {
    if (*sent == count) return false;
    ++*sent;
    out += frame;
    return true;
  };
  return a;
}

Attack Reconnect(int presses) {
  Attack a;
  a.greeting = Control(21, Fields({"hostile", "Hostile"}));
  a.presses = presses;
  a.messages = static_cast<uint64_t>(presses);
  a.next = [](std::string&) { return false; };
  return a;
}

std::vector<size_t> Sizes(size_t from, size_t to, size_t factor) {
  std::vector<size_t> out;
  for (size_t s = from; s <= to; s *= factor) out.push_back(s);
  return out;
}

struct Series {
  std::string name;
  bool colours = false;
  std::vector<size_t> sizes;
  std::function<Attack(size_t)> make;
  const char* unit;  // what a size counts
};

int Bench(const char* self, const Options& o) {
  const size_t volume = o.quick ? 1000000 : 4000000;
  const size_t titleVolume = 256000;
  std::vector<Series> all = {
      {"console", false, Sizes(1000, o.quick ? 1024000 : 65536000, 4),
       [&](size_t s) { return ConsoleLines(s, volume); }, "line_bytes"},
      {"console-colours", true, Sizes(1000, o.quick ? 1024000 : 65536000, 4),
       [&](size_t s) { return ConsoleLines(s, volume); }, "line_bytes"},
      {"title", false, Sizes(1000, o.quick ? 256000 : 1024000, 4),
       [&](size_t s) { return Titles(s, titleVolume); }, "title_bytes"},
      {"name", false, Sizes(1000, o.quick ? 256000 : 1024000, 4), [](size_t s) { return Name(s); },
       "name_bytes"},
      {"churn", false, o.quick ? std::vector<size_t>{100, 300} : std::vector<size_t>{100, 300, 1000, 3000},
       [](size_t s) { return Churn(s); }, "steps"},
      {"repeat21", false, Sizes(1000, o.quick ? 4000 : 256000, 4), [](size_t s) { return Repeat(21, s); },
       "count"},
      {"repeat25", false, Sizes(1000, o.quick ? 4000 : 256000, 4), [](size_t s) { return Repeat(25, s); },
       "count"},
      {"reconnect", false, Sizes(10, o.quick ? 40 : 640, 4),
       [](size_t s) { return Reconnect(static_cast<int>(s)); }, "presses"},
  };
  bool any = false;
  for (Series& series : all) {
    if (!o.attack.empty() && o.attack != series.name) continue;
    any = true;
    double firstPerByte = 0, lastPerByte = 0, worstBlock = 0, worstRss = 0;
    bool lastFinished = true;
    size_t lastSize = 0;
    for (size_t size : series.sizes) {
      Attack attack = series.make(size);
      const Figures f = Run(self, o, series.colours, attack);
      if (!f.started) {
        std::printf("RESULT hostile attack=%s %s=%zu started=0\n", series.name.c_str(), series.unit, size);
        lastFinished = false;
        break;
      }
      char closed[32] = "-";  // not measured when the attacker had hung up already
      if (f.rssClosed > 0) std::snprintf(closed, sizeof closed, "%.1f", f.rssClosed);
      // Reconnect presses bring no bytes worth the name: their cost is per press.
      const double per = attack.presses > 0 ? f.cpu * 1e6 / attack.presses : f.cpu * 1e9 / f.bytes;
      std::printf(
          "RESULT hostile attack=%s %s=%zu messages=%llu bytes=%llu finished=%d seconds=%.2f cpu_s=%.3f "
          "%s=%.2f block_ms=%.1f rss_before_mb=%.1f rss_after_mb=%.1f rss_delta_mb=%.1f rss_closed_mb=%s "
          "peak_mb=%.1f connections=%d boxes=%d\n",
          series.name.c_str(), series.unit, size, static_cast<unsigned long long>(attack.messages),
          static_cast<unsigned long long>(f.bytes), f.finished ? 1 : 0, f.seconds, f.cpu,
          attack.presses > 0 ? "cpu_us_per_press" : "cpu_ns_per_byte", per, f.blockMs, f.rssBefore,
          f.rssAfter, f.rssAfter - f.rssBefore, closed, f.peak, f.connections, f.boxes);
      if (f.boxes > 0)
        std::printf("NOTE hostile attack=%s: %d message boxes, closed as they came; the first: %s\n",
                    series.name.c_str(), f.boxes, f.firstBox.c_str());
      std::fflush(stdout);
      if (firstPerByte == 0) firstPerByte = per;
      lastPerByte = per;
      lastSize = size;
      worstBlock = std::max(worstBlock, f.blockMs);
      worstRss = std::max(worstRss, f.rssAfter - f.rssBefore);
      lastFinished = f.finished;
      if (!f.finished) {
        std::printf("NOTE hostile attack=%s: %s=%zu did not finish within %.0f s; larger sizes skipped\n",
                    series.name.c_str(), series.unit, size, o.budget);
        break;
      }
    }
    // An unfinished largest size gives a lower bound: its bytes were counted as sent, not as taken.
    std::printf(
        "SUMMARY hostile attack=%s smallest=%zu largest=%zu largest_finished=%d cost_ratio=%s%.2f "
        "block_ms_max=%.1f rss_delta_mb_max=%.1f\n",
        series.name.c_str(), series.sizes.front(), lastSize, lastFinished ? 1 : 0, lastFinished ? "" : ">",
        firstPerByte > 0 ? lastPerByte / firstPerByte : 0, worstBlock, worstRss);
    std::fflush(stdout);
  }
  if (!any) {
    std::fprintf(stderr, "unknown attack %s\n", o.attack.c_str());
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "client") == 0)
    return ClientMain(std::atoi(argv[2]), std::atoi(argv[3]) != 0, std::atoi(argv[4]));
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--quick") {
      o.quick = true;
    } else if (a == "--verbose") {
      o.verbose = true;
    } else if ((a == "--attack" || a == "--budget") && i + 1 < argc) {
      if (a == "--attack") {
        o.attack = argv[++i];
      } else {
        o.budget = std::atof(argv[++i]);
      }
    } else {
      std::fprintf(stderr,
                   "usage: %s [--quick] [--attack console|console-colours|title|name|churn|repeat21|"
                   "repeat25|reconnect] [--budget SECONDS] [--verbose]\n",
                   argv[0]);
      return 2;
    }
  }
  if (o.budget <= 0) o.budget = o.quick ? 10 : 30;
  signal(SIGPIPE, SIG_IGN);
  // Started again as the client: by this very file, wherever it was found.
  static char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = '\0';
  return Bench(self, o);
}
