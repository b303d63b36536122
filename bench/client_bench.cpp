// Figures of the real client, composed as the program composes it (its widgets, its sockets, its event
// loop) on Qt's offscreen platform:
//
//   ov-bench-client flood [--rate R] [--lines N] [--size S] [--ov 20] [--quake 1] [--grid] [--colours]
//                         [--keep-logs]
//       the client connects to the flood driver's OV servers, opens their consoles and takes the flood:
//       lines/s and MB/s taken, how late a 10 ms timer fires meanwhile, CPU time, peak memory, and
//       whether every window (its log and the text box on screen) ends with what trimming leaves
//   ov-bench-client plain [same options]    a receiver that only reads and discards the same streams
//   ov-bench-client idle [--seconds 10]     CPU used by the client at rest
//   ov-bench-client wait                    CPU used during a connect wait of count 10 that times out
//   ov-bench-client startup [--runs 5]      launch to the main window drawn, and memory at rest
//
// Each prints one "RESULT <mode> key=value ..." line for scripts/bench.sh. Nothing here judges speed.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QMdiArea>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/client.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_platform.h"
#include "bench/flood_stream.h"
#include "bench/real_client.h"
#include "consoles/qt/console_window.h"
#include "consoles/qt/log_view.h"
#include "net/qt/posix_socket_api.h"
#include "net/qt/qt_event_loop.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string mode;
  double rate = 0;
  uint64_t lines = 10000;
  size_t size = 80;
  int ovCount = 20;
  int quakePerOv = 1;
  int seconds = 10;
  bool grid = false;
  bool colours = false;   // the logs draw colour codes
  bool keepLogs = false;  // View > Keep Logs, into a folder of the run's own
  int runs = 5;
};

Options Parse(int argc, char** argv) {
  Options o;
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s flood|plain|idle|wait|startup [options]\n", argv[0]);
    std::exit(2);
  }
  o.mode = argv[1];
  for (int i = 2; i < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--grid" || a == "--colours" || a == "--keep-logs") {
      (a == "--grid" ? o.grid : a == "--colours" ? o.colours : o.keepLogs) = true;
      --i;
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "%s needs a value\n", a.c_str());
      std::exit(2);
    }
    const char* v = argv[i + 1];
    if (a == "--rate") {
      o.rate = std::atof(v);
    } else if (a == "--lines") {
      o.lines = std::strtoull(v, nullptr, 10);
    } else if (a == "--size") {
      o.size = std::max<size_t>(2, std::strtoull(v, nullptr, 10));
    } else if (a == "--ov") {
      o.ovCount = std::atoi(v);
    } else if (a == "--quake") {
      o.quakePerOv = std::atoi(v);
    } else if (a == "--seconds") {
      o.seconds = std::atoi(v);
    } else if (a == "--runs") {
      o.runs = std::atoi(v);
    } else {
      std::fprintf(stderr, "unknown option %s\n", a.c_str());
      std::exit(2);
    }
  }
  return o;
}

double CpuSeconds(const rusage& u) {
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

rusage Usage() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A line of /proc/self/status in kB ("VmRSS", "VmHWM").
long StatusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
  }
  return -1;
}

int64_t MonotonicNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

// ---- The flood driver, run beside us

struct Driver {
  pid_t pid = -1;
  FILE* out = nullptr;
  int port = 0;
};

Driver StartDriver(const Options& o, bool plain) {
  std::vector<std::string> args = {FLOOD_DRIVER,
                                   "--ov",
                                   std::to_string(o.ovCount),
                                   "--quake",
                                   std::to_string(o.quakePerOv),
                                   "--lines",
                                   std::to_string(o.lines),
                                   "--size",
                                   std::to_string(o.size),
                                   "--rate",
                                   std::to_string(o.rate)};
  if (plain) {
    args.push_back("--no-wait");
    args.push_back("--close-when-done");
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) std::abort();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  Driver d;
  if (posix_spawn(&d.pid, FLOOD_DRIVER, &actions, nullptr, argv.data(), environ) != 0) {
    std::perror("flood driver");
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  d.out = fdopen(pipeFds[0], "r");
  char line[256];
  while (fgets(line, sizeof line, d.out)) {
    if (std::sscanf(line, "PORT %d", &d.port) == 1) break;
  }
  if (d.port == 0) {
    std::fprintf(stderr, "the flood driver did not start\n");
    std::exit(1);
  }
  return d;
}

// Waits for the driver to end and gives its figures line.
std::string FinishDriver(Driver& d) {
  std::string figures;
  char line[512];
  while (fgets(line, sizeof line, d.out)) {
    if (std::strncmp(line, "DRIVER ", 7) == 0) figures = std::string(line + 7, strcspn(line + 7, "\n"));
  }
  fclose(d.out);
  int status = 0;
  waitpid(d.pid, &status, 0);
  return figures;
}

std::string DriverValue(const std::string& figures, const std::string& key) {
  const size_t at = figures.find(key + "=");
  if (at == std::string::npos) return "0";
  const size_t from = at + key.size() + 1;
  return figures.substr(from, figures.find(' ', from) - from);
}

struct Lag {
  double median = 0, p99 = 0, max = 0;
  size_t samples = 0;
};

Lag Summarise(std::vector<double> ms) {
  Lag l;
  l.samples = ms.size();
  if (ms.empty()) return l;
  std::sort(ms.begin(), ms.end());
  l.median = ms[ms.size() / 2];
  l.p99 = ms[static_cast<size_t>(0.99 * static_cast<double>(ms.size() - 1))];
  l.max = ms.back();
  return l;
}

// How late a 10 ms one-shot timer fires, armed again at every firing, while the loop does other work.
class LagProbe {
 public:
  LagProbe() {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const auto now = Clock::now();
      lags_.push_back(std::chrono::duration<double, std::milli>(now - armed_).count() - 10.0);
      Arm();
    });
  }
  void Start() {
    lags_.clear();
    Arm();
  }
  Lag Stop() {
    timer_.stop();
    return Summarise(lags_);
  }

 private:
  void Arm() {
    armed_ = Clock::now();
    timer_.start(10);
  }
  QTimer timer_;
  Clock::time_point armed_;
  std::vector<double> lags_;
};

// Runs the event loop until done() holds or the time runs out; false on time-out.
template <typename Done>
bool RunUntil(Done done, int timeoutMs, int pollMs = 10) {
  QEventLoop loop;
  QTimer check;
  QElapsedTimer since;
  since.start();
  bool ok = false;
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (done()) {
      ok = true;
      loop.quit();
    } else if (since.elapsed() > timeoutMs) {
      loop.quit();
    }
  });
  check.start(pollMs);
  if (done()) return true;
  loop.exec();
  return ok;
}

int AppArgc = 1;
char AppName[] = "orvane-client";
char* AppArgv[] = {AppName, nullptr};

void MakeApplicationNames() { QApplication::setApplicationName("Orvane Client"); }

void Settle(int ms) {
  RunUntil([] { return false; }, ms, ms);
}

// ---- flood

int Flood(const Options& o) {
  QApplication app(AppArgc, AppArgv);
  MakeApplicationNames();
  Driver driver = StartDriver(o, false);
  // Kept logs and the setting that keeps them go to a folder of the run's own.
  QTemporaryDir keptIn;
  if (o.keepLogs) {
    qputenv("XDG_DATA_HOME", keptIn.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", keptIn.path().toLocal8Bit());
  }
  auto real = std::make_unique<RealClient>();
  ov::Client& client = real->client;
  if (o.keepLogs) real->ui.Main().findChild<QAction*>("mnuKeepLogs")->setChecked(true);
  Settle(50);

  for (int i = 0; i < o.ovCount; ++i) client.Connections().ConnectToServer("127.0.0.1", driver.port, 10);
  const size_t windows = static_cast<size_t>(o.ovCount) * (o.quakePerOv + 1);
  if (!RunUntil([&] { return client.Consoles().Windows().size() >= windows; }, 30000)) {
    std::fprintf(stderr, "only %zu of %zu windows opened\n", client.Consoles().Windows().size(), windows);
    return 1;
  }
  const long rssBefore = StatusKb("VmRSS");
  // As opened, the frame stacks the windows and most are covered. In a grid, on a frame made big
  // enough for all of them at their designed size, every log is on screen and redraws.
  if (o.grid) {
    const int columns = 8;
    const int rows = static_cast<int>((windows + columns - 1) / columns);
    QMdiArea* area = real->ui.Main().MdiArea();
    const QSize frame = real->ui.Main().size() - area->size();
    real->ui.Main().resize(frame.width() + columns * 330, frame.height() + rows * 238);
    Settle(50);
    int i = 0;
    for (const auto& w : client.Consoles().Windows()) {
      if (auto* v = dynamic_cast<ov::ConsoleWindow*>(w->view)) {
        v->move((i % columns) * 330, (i / columns) * 238);
        v->raise();
        ++i;
      }
    }
  }
  if (o.colours) {
    for (const auto& w : client.Consoles().Windows())
      if (auto* v = dynamic_cast<ov::ConsoleWindow*>(w->view)) v->Log()->SetColours(true);
  }
  Settle(100);
  int seen = 0;
  for (const auto& w : client.Consoles().Windows()) {
    if (auto* v = dynamic_cast<ov::ConsoleWindow*>(w->view))
      seen += !v->Log()->viewport()->visibleRegion().isEmpty();
  }

  // Every line ends in one line feed, which the log keeps as CR LF.
  const uint64_t perWindow = o.lines * (o.size + 1);
  auto taken = [&] {
    uint64_t sum = 0;
    for (const auto& w : client.Consoles().Windows()) sum += std::min(w->log.Appended(), perWindow);
    return sum;
  };
  LagProbe lag;
  const rusage u0 = Usage();
  const auto t0 = Clock::now();
  lag.Start();
  uint64_t lastTaken = 0;
  auto lastProgress = Clock::now();
  bool stalled = false;
  RunUntil(
      [&] {
        const uint64_t now = taken();
        if (now == perWindow * windows) return true;
        if (now != lastTaken) {
          lastTaken = now;
          lastProgress = Clock::now();
        } else if (Seconds(Clock::now() - lastProgress) > 20) {
          stalled = true;
          return true;
        }
        return false;
      },
      24 * 3600 * 1000, 20);
  const auto t1 = Clock::now();
  const Lag l = lag.Stop();
  const rusage u1 = Usage();
  const long peak = StatusKb("VmHWM");

  // Nothing lost: the log, and the text box once redrawn, end with what trimming leaves of the stream.
  int badLogs = 0, badViews = 0;
  for (const auto& w : client.Consoles().Windows()) {
    const std::string& name = w->connection.Lock()->Name();
    const int ov = std::atoi(name.c_str() + std::strlen("Flood OV "));
    const std::string expected = ov::flood::ExpectedText(ov, w->ServerId, o.lines, o.size);
    if (w->log.Text() != expected) ++badLogs;
    if (auto* view = dynamic_cast<ov::ConsoleWindow*>(w->view)) {
      view->RedrawNow();
      QString shown = ov::ToQt(expected);
      shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
      if (view->Log()->Text() != shown) ++badViews;
    } else {
      ++badViews;
    }
  }

  real.reset();  // closes the connections: the driver ends
  const std::string d = FinishDriver(driver);
  const double secs = Seconds(t1 - t0);
  const double lines = static_cast<double>(o.lines) * static_cast<double>(windows);
  const double cpu = CpuSeconds(u1) - CpuSeconds(u0);
  std::printf(
      "RESULT flood rate=%.0f windows=%zu seen=%d grid=%d colours=%d lines=%.0f size=%zu seconds=%.3f "
      "lines_per_s=%.0f "
      "window_lines_per_s=%.0f mb_per_s=%.2f cpu_s=%.3f cpu_us_per_line=%.3f lag_med_ms=%.2f "
      "lag_p99_ms=%.2f lag_max_ms=%.2f lag_samples=%zu rss_before_mb=%.1f peak_mb=%.1f bad_logs=%d "
      "bad_views=%d stalled=%d driver_cpu_s=%s vcsw=%ld keep_logs=%d\n",
      o.rate, windows, seen, o.grid ? 1 : 0, o.colours ? 1 : 0, lines, o.size, secs, lines / secs,
      lines / secs / windows, lines * (o.size + 6) / secs / 1e6, cpu, cpu * 1e6 / lines, l.median, l.p99,
      l.max, l.samples, rssBefore / 1024.0, peak / 1024.0, badLogs, badViews, stalled ? 1 : 0,
      DriverValue(d, "cpu_s").c_str(), u1.ru_nvcsw - u0.ru_nvcsw, o.keepLogs ? 1 : 0);
  return badLogs + badViews + (stalled ? 1 : 0) == 0 ? 0 : 1;
}

// ---- plain receiver

int Plain(const Options& o) {
  Driver driver = StartDriver(o, true);
  std::vector<int> fds;
  for (int i = 0; i < o.ovCount; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(driver.port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      std::perror("connect");
      return 1;
    }
    fcntl(fd, F_SETFL, O_NONBLOCK);
    fds.push_back(fd);
  }
  const rusage u0 = Usage();
  const auto t0 = Clock::now();
  std::vector<char> buffer(ov::kReceiveBufferSize);
  uint64_t bytes = 0;
  size_t open = fds.size();
  std::vector<pollfd> polls;
  for (int fd : fds) polls.push_back({fd, POLLIN, 0});
  while (open > 0) {
    if (::poll(polls.data(), polls.size(), 1000) <= 0) continue;
    for (pollfd& p : polls) {
      if (p.fd < 0 || p.revents == 0) continue;
      for (;;) {
        const ssize_t n = ::recv(p.fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n > 0) {
          bytes += static_cast<uint64_t>(n);
          continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
        ::close(p.fd);
        p.fd = -1;
        --open;
        break;
      }
    }
  }
  const auto t1 = Clock::now();
  const rusage u1 = Usage();
  const std::string d = FinishDriver(driver);
  const double secs = Seconds(t1 - t0);
  const size_t windows = static_cast<size_t>(o.ovCount) * (o.quakePerOv + 1);
  const double lines = static_cast<double>(o.lines) * static_cast<double>(windows);
  const double cpu = CpuSeconds(u1) - CpuSeconds(u0);
  std::printf(
      "RESULT plain rate=%.0f windows=%zu lines=%.0f size=%zu seconds=%.3f lines_per_s=%.0f "
      "window_lines_per_s=%.0f mb_per_s=%.2f cpu_s=%.3f cpu_us_per_line=%.3f bytes=%llu driver_cpu_s=%s\n",
      o.rate, windows, lines, o.size, secs, lines / secs, lines / secs / windows, bytes / secs / 1e6, cpu,
      cpu * 1e6 / lines, static_cast<unsigned long long>(bytes), DriverValue(d, "cpu_s").c_str());
  return 0;
}

// ---- idle and the connect wait

int Idle(const Options& o) {
  QApplication app(AppArgc, AppArgv);
  MakeApplicationNames();
  RealClient real;
  Settle(2000);
  const rusage u0 = Usage();
  const auto t0 = Clock::now();
  Settle(o.seconds * 1000);
  const rusage u1 = Usage();
  const double secs = Seconds(Clock::now() - t0);
  const double cpu = CpuSeconds(u1) - CpuSeconds(u0);
  // Then the lag probe alone: how late the 10 ms timer is on this machine with nothing else to do, the
  // floor under the lag figures of the flood. (It wakes the client, so it runs after the CPU figure.)
  LagProbe probe;
  probe.Start();
  Settle(std::max(2, o.seconds / 2) * 1000);
  const Lag l = probe.Stop();
  std::printf(
      "RESULT idle seconds=%.2f cpu_ms=%.2f cpu_pct=%.4f wakeups_per_s=%.2f floor_lag_med_ms=%.2f "
      "floor_lag_p99_ms=%.2f floor_lag_max_ms=%.2f\n",
      secs, cpu * 1e3, cpu * 100 / secs, (u1.ru_nvcsw - u0.ru_nvcsw) / secs, l.median, l.p99, l.max);
  return 0;
}

// A loopback port whose accept queue is full: a new connection's handshake is never answered, so a
// connect to it waits out its whole time-out.
int Blackhole(std::vector<int>& keep) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::listen(listener, 0);
  socklen_t len = sizeof addr;
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  keep.push_back(listener);
  for (int i = 0; i < 8; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    keep.push_back(fd);
    ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 300) == 0) break;  // not answered: the queue is full
  }
  return ntohs(addr.sin_port);
}

int Wait(const Options&) {
  std::vector<int> keep;
  const int port = Blackhole(keep);
  QApplication app(AppArgc, AppArgv);
  MakeApplicationNames();
  RealClient real;
  Settle(1000);
  const rusage u0 = Usage();
  const auto t0 = Clock::now();
  real.client.Connections().ConnectToServer("127.0.0.1", port, 10);
  const rusage u1 = Usage();
  const double secs = Seconds(Clock::now() - t0);
  const double cpu = CpuSeconds(u1) - CpuSeconds(u0);
  const bool timedOut =
      real.ui.Main().findChild<QLabel*>("StatusText")->text() == "Connection failed - Timed out";
  std::printf("RESULT wait seconds=%.2f cpu_ms=%.2f cpu_pct=%.4f wakeups_per_s=%.2f timed_out=%d\n", secs,
              cpu * 1e3, cpu * 100 / secs, (u1.ru_nvcsw - u0.ru_nvcsw) / secs, timedOut ? 1 : 0);
  for (int fd : keep) close(fd);
  return timedOut ? 0 : 1;
}

// ---- start-up

// Notes the moment the main window is first drawn.
class FirstPaint : public QObject {
 public:
  int64_t at = 0;
  double cpu = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (at == 0 && event->type() == QEvent::Paint) {
      at = MonotonicNs();
      cpu = CpuSeconds(Usage());
    }
    return QObject::eventFilter(watched, event);
  }
};

int StartupChild() {
  QApplication app(AppArgc, AppArgv);
  MakeApplicationNames();
  FirstPaint paint;
  RealClient real;
  real.ui.Main().installEventFilter(&paint);
  RunUntil([&] { return paint.at != 0; }, 10000, 1);
  std::printf("SHOWN %lld %.4f\n", static_cast<long long>(paint.at), paint.cpu);
  std::fflush(stdout);
  Settle(1000);
  std::printf("MEM %ld %ld\n", StatusKb("VmRSS"), StatusKb("VmHWM"));
  return 0;
}

int Startup(const Options& o, const char* self) {
  std::vector<double> shown, cpu, rss, hwm;
  for (int run = 0; run < o.runs; ++run) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return 1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    char mode[] = "startup-child";
    char* argv[] = {const_cast<char*>(self), mode, nullptr};
    pid_t pid;
    const int64_t launched = MonotonicNs();
    if (posix_spawn(&pid, self, &actions, nullptr, argv, environ) != 0) return 1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    FILE* in = fdopen(pipeFds[0], "r");
    char line[256];
    long long at = 0;
    double c = 0;
    long r = 0, h = 0;
    while (fgets(line, sizeof line, in)) {
      std::sscanf(line, "SHOWN %lld %lf", &at, &c);
      std::sscanf(line, "MEM %ld %ld", &r, &h);
    }
    fclose(in);
    int status = 0;
    waitpid(pid, &status, 0);
    shown.push_back((at - launched) / 1e6);
    cpu.push_back(c * 1e3);
    rss.push_back(r / 1024.0);
    hwm.push_back(h / 1024.0);
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::printf(
      "RESULT startup runs=%d shown_ms_median=%.1f shown_ms_min=%.1f cpu_ms_median=%.1f rss_mb=%.1f "
      "peak_mb=%.1f\n",
      o.runs, median(shown), *std::min_element(shown.begin(), shown.end()), median(cpu), median(rss),
      median(hwm));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const Options o = Parse(argc, argv);
  if (o.mode == "flood") return Flood(o);
  if (o.mode == "plain") return Plain(o);
  if (o.mode == "idle") return Idle(o);
  if (o.mode == "wait") return Wait(o);
  if (o.mode == "startup") return Startup(o, argv[0]);
  if (o.mode == "startup-child") return StartupChild();
  std::fprintf(stderr, "unknown mode %s\n", o.mode.c_str());
  return 2;
}
