// How late a logged-in client's requests are answered while strangers try to log in: runs the OV server
// program given on the command line on loopback, logs one client in, and has it type `who` every 20 ms
// while 250 strangers each send one login with a made-up name. Prints one RESULT line with the round
// trips of `who` (median, p99, max) and how the strangers were answered.
//   ov-login-lag OVSERVER [--strangers N] [--lifted]
// --lifted raises the limits per address, as if every stranger came from an address of its own.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "wire/cipher.h"
#include "wire/frames.h"
#include "wire/payload.h"

int Fair(const QString& program, const QString& scenario, int seconds);

namespace {

bool PumpUntil(const std::function<bool()>& done, int patienceMs = 60000) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < patienceMs)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  return done();
}

// The port the OV server says it listens on, once it has said so; 0, with its log, when it did not start.
int ListeningPort(const QProcess& server, const std::string& log) {
  int port = 0;
  static const QRegularExpression listening("listening on [^ ]*:(\\d+)");
  PumpUntil([&] {
    const auto m = listening.match(QString::fromStdString(log));
    if (m.hasMatch()) port = m.captured(1).toInt();
    return port > 0 || server.state() == QProcess::NotRunning;
  });
  if (port == 0) std::fprintf(stderr, "the OV server did not start:\n%s", log.c_str());
  return port;
}

struct Peer {
  QTcpSocket socket;
  ov::FrameAssembler assembler;
  std::vector<ov::Frame> frames;
  explicit Peer(quint16 port) {
    QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
      const QByteArray data = socket.readAll();
      auto result = assembler.Feed(std::string_view(data.constData(), size_t(data.size())));
      for (auto& frame : result.frames) frames.push_back(std::move(frame));
    });
    socket.connectToHost(QHostAddress::LocalHost, port);
  }
  void Send(const std::string& bytes) { socket.write(bytes.data(), qint64(bytes.size())); }
  bool Has(const std::string& code) const {
    return std::any_of(frames.begin(), frames.end(), [&](const ov::Frame& f) { return f.code == code; });
  }
};

long StatusKb(qint64 pid, const char* key) {
  QFile status(QString("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith(key)) return line.mid(int(qstrlen(key)) + 1).trimmed().split(' ')[0].toLong();
  return -1;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: ov-login-lag OVSERVER [--strangers N] [--lifted]\n");
    return 2;
  }
  if (args.contains("--fair"))
    return Fair(args[1], args[args.indexOf("--fair") + 1],
                args.contains("--seconds") ? args[args.indexOf("--seconds") + 1].toInt() : 10);
  const int strangers = args.contains("--strangers") ? args[args.indexOf("--strangers") + 1].toInt() : 250;
  const bool lifted = args.contains("--lifted");
  QTemporaryDir dir;
  QFile config(dir.filePath("conf"));
  config.open(QIODevice::WriteOnly);
  config.write("name Bench\nmax-connections 1000\n");
  if (lifted)
    config.write(
        "max-logins-per-address 1000\nmax-waiting-checks 1000\nmax-waiting-checks-per-address 1000\n");
  config.close();
  QProcess add;
  add.start(args[1],
            {"--config", config.fileName(), "--accounts", dir.filePath("accounts"), "--add-user", "admin"});
  add.write("secret\n");
  add.closeWriteChannel();
  add.waitForFinished();
  QProcess server;
  std::string log;
  QObject::connect(&server, &QProcess::readyReadStandardError,
                   [&] { log += server.readAllStandardError().toStdString(); });
  // An older server may not know the settings above: it is run without them then.
  server.start(args[1],
               {"--config", config.fileName(), "--accounts", dir.filePath("accounts"), "--port", "0"});
  const int port = ListeningPort(server, log);
  if (port == 0) return 1;
  ov::MessageCipher cipher;
  cipher.BuildMessageKey();
  const auto login = [&](const std::string& name, const std::string& password) {
    return ov::MakeFrame(1905, cipher.EncryptMsg(ov::PadTo8(name) + ov::PadTo16(password)));
  };

  Peer member{quint16(port)};
  PumpUntil([&] { return member.Has("1900"); });
  member.Send(login("admin", "secret"));
  PumpUntil([&] { return member.Has("1031"); });

  // The member's `who` round trips, one at a time, until the strangers are all answered.
  std::vector<double> trips;
  QElapsedTimer trip;
  size_t answered = 0;
  bool waiting = false;
  const auto countAnswers = [&] {
    size_t n = 0;
    for (const auto& f : member.frames)
      n += f.code == "0000" && f.payload.find("connected:") != std::string::npos;
    return n;
  };
  QTimer ask;
  QObject::connect(&ask, &QTimer::timeout, [&] {
    if (waiting) return;
    waiting = true;
    trip.start();
    member.Send(ov::MakeFrame(0, "who"));
  });
  QObject::connect(&member.socket, &QTcpSocket::readyRead, [&] {
    const size_t now = countAnswers();
    if (waiting && now > answered) {
      trips.push_back(double(trip.nsecsElapsed()) / 1e6);
      waiting = false;
    }
    answered = now;
  });
  ask.start(20);
  PumpUntil([&] { return trips.size() >= 10; });  // the floor, before the strangers come
  const size_t before = trips.size();

  std::vector<std::unique_ptr<Peer>> crowd;
  for (int i = 0; i < strangers; ++i) crowd.push_back(std::make_unique<Peer>(quint16(port)));
  for (int i = 0; i < strangers; ++i) crowd[size_t(i)]->Send(login("x" + std::to_string(i), "guess"));
  QElapsedTimer all;
  all.start();
  const auto done = [&](const Peer& p) {
    return p.Has("1003") || p.Has("1001") || p.socket.state() == QAbstractSocket::UnconnectedState;
  };
  PumpUntil([&] { return std::all_of(crowd.begin(), crowd.end(), [&](const auto& p) { return done(*p); }); },
            120000);
  const double allMs = double(all.elapsed());
  ask.stop();
  size_t busy = 0, wrong = 0;
  for (const auto& p : crowd)
    for (const auto& f : p->frames) {
      busy += f.payload.find("busy") != std::string::npos ||
              f.payload.find("Too many connections") != std::string::npos;
      wrong += f.payload.find("wrong login name") != std::string::npos;
    }
  const std::vector<double> floor(trips.begin(), trips.begin() + long(before));
  const std::vector<double> under(trips.begin() + long(before), trips.end());
  std::printf(
      "RESULT login_lag strangers=%d lifted=%d floor_med_ms=%.1f lag_med_ms=%.1f lag_p99_ms=%.1f "
      "lag_max_ms=%.1f "
      "samples=%zu all_answered_ms=%.0f refused_busy=%zu refused_wrong=%zu\n",
      strangers, lifted ? 1 : 0, Percentile(floor, 0.5), Percentile(under, 0.5), Percentile(under, 0.99),
      Percentile(under, 1.0), under.size(), allMs, busy, wrong);
  server.terminate();
  server.waitForFinished();
  return 0;
}

namespace {

// A client speaking the protocol: counts what it receives, keeps the frames when asked to.
struct Client {
  QTcpSocket socket;
  ov::FrameAssembler assembler;
  std::vector<ov::Frame> frames;
  size_t received = 0;
  bool keep = true;
  Client(quint16 port, const QString& from = {}) {
    if (!from.isEmpty()) socket.bind(QHostAddress(from));
    QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
      const QByteArray data = socket.readAll();
      received += size_t(data.size());
      if (!keep) return;
      auto result = assembler.Feed(std::string_view(data.constData(), size_t(data.size())));
      for (auto& frame : result.frames) frames.push_back(std::move(frame));
    });
    socket.connectToHost(QHostAddress::LocalHost, port);
  }
  void Send(const std::string& bytes) { socket.write(bytes.data(), qint64(bytes.size())); }
  size_t Count(const std::string& code, const std::string& text = "") const {
    return size_t(std::count_if(frames.begin(), frames.end(), [&](const ov::Frame& f) {
      return f.code == code && f.payload.find(text) != std::string::npos;
    }));
  }
};

}  // namespace

int Fair(const QString& program, const QString& scenario, int seconds) {
  QTemporaryDir dir;
  const auto write = [&](const QString& name, const QByteArray& text) {
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write(text);
    return file.fileName();
  };
  const QString cheap = write("cheap.conf", "hash-iterations 1000\n");
  // Drippers are idle once they have sent no login for the silent time-out: five seconds here,
  // so that some are by the time the administrator logs in again.
  const QString conf = write("conf", scenario == "chpwd"  ? "hash-iterations 1000000\n"
                                     : scenario == "drip" ? "silent-timeout-seconds 5\n"
                                                          : "");
  const QString accounts = dir.filePath("accounts");
  for (const auto& [name, admin] : {std::pair<QString, bool>{"admin", true}, {"user", false}}) {
    QProcess add;
    QStringList arguments = {"--config", cheap, "--accounts", accounts, "--add-user", name};
    if (admin) arguments << "--admin";
    add.start(program, arguments);
    add.write("secret\n");
    add.closeWriteChannel();
    add.waitForFinished();
  }
  QProcess server;
  qint64 logBytes = 0;
  std::string log;
  QObject::connect(&server, &QProcess::readyReadStandardError, [&] {
    const QByteArray data = server.readAllStandardError();
    logBytes += data.size();
    if (log.size() < 100000) log += data.toStdString();
  });
  server.start(program, {"--config", conf, "--accounts", accounts, "--port", "0"});
  const int port = ListeningPort(server, log);
  if (port == 0) return 1;
  ov::MessageCipher cipher;
  cipher.BuildMessageKey();
  const auto seal = [&](int n, const std::string& plain) {
    return ov::MakeFrame(1000 + n, cipher.EncryptMsg(plain));
  };
  const auto login = [&](Client& client, const std::string& name, const std::string& password) {
    if (!PumpUntil([&] { return client.Count("1900") > 0 || client.Count("1003") > 0; }) ||
        client.Count("1003"))
      return false;
    client.Send(seal(905, ov::PadTo8(name) + ov::PadTo16(password)));
    return PumpUntil([&] { return client.Count("1031") > 0 || client.Count("1003") > 0; }) &&
           client.Count("1031");
  };
  Client admin{quint16(port)};
  QElapsedTimer loginClock;
  loginClock.start();
  if (!login(admin, "admin", "secret")) {
    std::fprintf(stderr, "the administrator could not log in\n");
    return 1;
  }
  const double firstLoginMs = double(loginClock.elapsed());

  // The load.
  std::unique_ptr<Client> user;
  std::vector<std::unique_ptr<Client>> drippers;
  QTimer load;
  size_t flooded = 0, changes = 0;  // requests of the load; password changes done
  std::string password = "secret", next = "other";
  bool prompted = false;
  if (scenario == "flood" || scenario == "chpwd") {
    user = std::make_unique<Client>(quint16(port));
    if (!login(*user, "user", "secret")) return 1;
  }
  if (scenario == "flood") {
    user->keep = false;  // read and dropped
    std::string burst;
    for (int i = 0; i < 100; ++i) {
      burst += ov::MakeFrame(1041, "77") + ov::MakeFrame(0, "newuser") + ov::MakeFrame(77, "say x");
      burst += ov::MakeFrame(1026, "nosuch" + std::string(400, 'x') + "\x80");
    }
    QObject::connect(&load, &QTimer::timeout, [&] {
      while (user->socket.bytesToWrite() < (1 << 20)) {
        user->Send(burst);
        flooded += 400;
      }
    });
    load.start(0);
  } else if (scenario == "chpwd") {
    // Asks for the prompt, answers it, waits for the outcome, and again.
    QObject::connect(&load, &QTimer::timeout, [&] {
      if (!prompted) {
        user->frames.clear();
        user->Send(ov::MakeFrame(0, "chpwd"));
        prompted = true;
      } else if (user->Count("1902") == 1 && user->Count("1907-sent") == 0) {
        user->Send(seal(907, ov::PadTo8("user") + ov::PadTo16(password) + ov::PadTo16(next)));
        user->frames.push_back({"1907-sent", ""});
      } else if (user->Count("1001") > 0) {
        if (user->Count("1001", "Password changed") > 0) {
          std::swap(password, next);
          ++changes;
        }
        ++flooded;
        prompted = false;
      }
    });
    load.start(10);
  } else if (scenario == "drip") {
    for (int i = 0; i < 8; ++i)
      drippers.push_back(std::make_unique<Client>(quint16(port), QString("127.0.0.%1").arg(10 + i)));
    QObject::connect(&load, &QTimer::timeout, [&] {
      for (auto& dripper : drippers) {
        if (dripper->socket.state() == QAbstractSocket::UnconnectedState)
          dripper = std::make_unique<Client>(quint16(port), "127.0.0.9");  // back at once
        dripper->Send("\xFD");
        ++flooded;
      }
    });
    load.start(100);
  } else {
    std::fprintf(stderr, "unknown scenario %s\n", qPrintable(scenario));
    return 2;
  }

  // The administrator's `who`, one at a time, every 20 ms.
  std::vector<double> trips;
  QElapsedTimer trip;
  bool waiting = false;
  size_t answered = admin.Count("0000", "connected:");
  QTimer ask;
  QObject::connect(&ask, &QTimer::timeout, [&] {
    if (waiting) return;
    waiting = true;
    trip.start();
    admin.Send(ov::MakeFrame(0, "who"));
  });
  QObject::connect(&admin.socket, &QTcpSocket::readyRead, [&] {
    const size_t now = admin.Count("0000", "connected:");
    if (waiting && now > answered) {
      trips.push_back(double(trip.nsecsElapsed()) / 1e6);
      waiting = false;
    }
    answered = now;
  });
  const qint64 logBefore = logBytes;
  QElapsedTimer run;
  run.start();
  ask.start(20);
  PumpUntil([&] { return run.elapsed() >= seconds * 1000; }, seconds * 1000 + 1000);
  ask.stop();
  const double logRate = double(logBytes - logBefore) / (double(run.elapsed()) / 1000.0);

  // Among the drippers, and while a stranger guesses its password, the administrator still logs in.
  double dripLoginMs = -1, guessedLoginMs = -1;
  size_t guesses = 0;
  if (scenario == "drip") {
    Client late{quint16(port)};
    loginClock.start();
    if (login(late, "admin", "secret")) dripLoginMs = double(loginClock.elapsed());
    // The drippers leave: a guesser from the same address group takes their place.
    load.stop();
    drippers.clear();
    std::unique_ptr<Client> stranger;
    QTimer guess;
    QObject::connect(&guess, &QTimer::timeout, [&] {
      if (stranger && stranger->socket.state() == QAbstractSocket::ConnectedState) return;
      stranger = std::make_unique<Client>(quint16(port), "127.0.0.2");
      stranger->Send(seal(905, ov::PadTo8("admin") + ov::PadTo16("guess" + std::to_string(++guesses))));
    });
    guess.start(5);
    PumpUntil([&] { return guesses >= 5; });
    Client owner{quint16(port)};
    loginClock.start();
    if (login(owner, "admin", "secret")) guessedLoginMs = double(loginClock.elapsed());
    guess.stop();
  }
  load.stop();
  const long peakKb = StatusKb(server.processId(), "VmHWM:");
  std::printf(
      "RESULT fair scenario=%s seconds=%d who_med_ms=%.1f who_p99_ms=%.1f who_max_ms=%.1f samples=%zu "
      "server_peak_mb=%.1f log_bytes_per_s=%.0f load=%zu admin_login_ms=%.0f drip_login_ms=%.0f "
      "guessed_login_ms=%.0f guesses=%zu changes=%zu\n",
      qPrintable(scenario), seconds, Percentile(trips, 0.5), Percentile(trips, 0.99), Percentile(trips, 1.0),
      trips.size(), double(peakKb) / 1024.0, logRate, flooded, firstLoginMs, dripLoginMs, guessedLoginMs,
      guesses, changes);
  server.terminate();
  server.waitForFinished();
  return 0;
}
