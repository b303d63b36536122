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

namespace {

bool PumpUntil(const std::function<bool()>& done, int patienceMs = 60000) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < patienceMs)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  return done();
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
  int port = 0;
  static const QRegularExpression listening("listening on [^ ]*:(\\d+)");
  PumpUntil([&] {
    const auto m = listening.match(QString::fromStdString(log));
    if (m.hasMatch()) port = m.captured(1).toInt();
    return port > 0 || server.state() == QProcess::NotRunning;
  });
  if (port == 0) {
    std::fprintf(stderr, "the OV server did not start:\n%s", log.c_str());
    return 1;
  }
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
