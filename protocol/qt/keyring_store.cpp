#include "protocol/qt/keyring_store.h"

#include <qt6keychain/keychain.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>
#include <memory>

#include "core/qt/latin1_text.h"

namespace ov {

namespace {

constexpr const char* kService = "Orvane Client";

// The keyring shows an entry's service as its label: each names its login and OV server
// ("Orvane Client: alice@127.0.0.1:4044"). Earlier runs kept every password under kService alone.
QString ServiceOf(const std::string& key) { return QString(kService) + ": " + ToQt(key); }
// The keyrings QtKeychain talks to: the Secret Service, or KDE's wallet where it prefers that.
const QStringList kKeyringNames{"org.freedesktop.secrets", "org.kde.kwalletd5", "org.kde.kwalletd6"};

using Kind = KeyringAnswer::Kind;

KeyringAnswer Unavailable(const QString& why) { return {Kind::Unavailable, {}, why.toStdString()}; }

// The address named when there is no session bus: one no D-Bus library can reach, nor start.
constexpr const char* kNoSessionBus = "disabled:";

// Where the session bus would be: its address, or the user's socket that systemd puts in the runtime
// folder, which the D-Bus libraries take only when it is a socket of the user's own.
// The named address without its "autolaunch:" entries, which start a bus when no other answers.
QByteArray AddressThatStartsNoBus() {
  QByteArrayList kept;
  for (const QByteArray& entry : qgetenv("DBUS_SESSION_BUS_ADDRESS").split(';'))
    if (!entry.trimmed().isEmpty() && !entry.trimmed().startsWith("autolaunch:")) kept << entry;
  return kept.join(';');
}

bool SessionBusNamed() {
  const QByteArray address = AddressThatStartsNoBus();
  if (!address.isEmpty()) return address != kNoSessionBus;
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  struct stat st {};
  return !runtime.isEmpty() && ::stat((runtime + "/bus").constData(), &st) == 0 && S_ISSOCK(st.st_mode) &&
         st.st_uid == ::getuid();
}

KeyringAnswer AnswerOf(const QKeychain::Job& job) {
  const QString error = job.errorString().left(200);
  switch (job.error()) {
    case QKeychain::NoError:
      return {Kind::Done, {}, {}};
    case QKeychain::EntryNotFound:
      return {Kind::NotFound, {}, {}};
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
      return Unavailable("No keyring answers: " + error);
    case QKeychain::AccessDeniedByUser:
    case QKeychain::AccessDenied:
      return {Kind::Failed, {}, ("the keyring refused: " + error).toStdString()};
    default:
      return {Kind::Failed, {}, error.toStdString()};
  }
}

}  // namespace

void NeverStartASessionBus() {
  const QByteArray address = AddressThatStartsNoBus();
  address.isEmpty() ? qunsetenv("DBUS_SESSION_BUS_ADDRESS") : qputenv("DBUS_SESSION_BUS_ADDRESS", address);
  if (!SessionBusNamed()) qputenv("DBUS_SESSION_BUS_ADDRESS", kNoSessionBus);
}

KeyringStore::KeyringStore(QObject* parent) : QObject(parent) {}

void KeyringStore::Later(Handler done, KeyringAnswer answer) {
  QTimer::singleShot(0, this, [done = std::move(done), answer = std::move(answer)] { done(answer); });
}

void KeyringStore::Probe(Handler done) {
  // Without a session bus nothing is asked.
  if (!SessionBusNamed()) {
    Later(std::move(done), Unavailable("No D-Bus session bus: the desktop's keyring cannot be reached"));
    return;
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    Later(std::move(done),
          Unavailable("The D-Bus session bus does not answer: " + bus.lastError().message()));
    return;
  }
  // Running, or started when first asked for: either way a keyring answers. Two questions, one answer.
  struct Asked {
    Handler done;
    int pending = 2;
    bool found = false;
    bool answered = false;
  };
  auto asked = std::make_shared<Asked>();
  asked->done = std::move(done);
  auto finish = [asked](const KeyringAnswer& answer) {
    if (asked->answered) return;
    asked->answered = true;
    asked->done(answer);
  };
  for (const char* method : {"ListNames", "ListActivatableNames"}) {
    const QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                             "org.freedesktop.DBus", method);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kAnswerMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [asked, finish](QDBusPendingCallWatcher* w) {
      w->deleteLater();
      const QDBusPendingReply<QStringList> reply = *w;
      if (reply.isValid()) {
        for (const QString& name : reply.value()) asked->found = asked->found || kKeyringNames.contains(name);
      }
      if (asked->found) {
        finish({Kind::Done, {}, {}});
      } else if (--asked->pending == 0) {
        finish(reply.isError() && reply.error().type() == QDBusError::NoReply
                   ? Unavailable("The D-Bus session bus did not answer in time")
                   : Unavailable("No keyring on the D-Bus session bus (no Secret Service)"));
      }
    });
  }
}

void KeyringStore::Run(QKeychain::Job* job, Handler done) {
  // Never the insecure fallback: a password goes to the keyring or nowhere, never to a settings file.
  job->setInsecureFallback(false);
  job->setAutoDelete(true);
  auto handler = std::make_shared<Handler>(std::move(done));
  auto* timer = new QTimer(job);
  timer->setSingleShot(true);
  connect(timer, &QTimer::timeout, this, [handler] {
    if (Handler h = std::exchange(*handler, nullptr))
      h(Unavailable(
          QString("The desktop's keyring did not answer within %1 seconds").arg(kUnlockWaitMs / 1000)));
  });
  connect(job, &QKeychain::Job::finished, this, [handler](QKeychain::Job* finished) {
    Handler h = std::exchange(*handler, nullptr);
    if (!h) return;  // given up on already
    KeyringAnswer answer = AnswerOf(*finished);
    if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(finished); read && answer.kind == Kind::Done)
      answer.password = FromQt(read->textData());
    h(answer);
  });
  timer->start(kUnlockWaitMs);
  job->start();
}

void KeyringStore::ReadFrom(const QString& service, const std::string& key, Handler done) {
  auto* job = new QKeychain::ReadPasswordJob(service, this);
  job->setKey(ToQt(key));
  Run(job, std::move(done));
}

void KeyringStore::RemoveFrom(const QString& service, const std::string& key, Handler done) {
  auto* job = new QKeychain::DeletePasswordJob(service, this);
  job->setKey(ToQt(key));
  Run(job, [done = std::move(done)](const KeyringAnswer& answer) {
    done(answer.kind == Kind::NotFound ? KeyringAnswer{Kind::Done, {}, {}} : answer);
  });
}

void KeyringStore::Read(const std::string& key, Handler done) {
  // A password an earlier run kept is found where it was kept.
  ReadFrom(ServiceOf(key), key, [this, key, done = std::move(done)](const KeyringAnswer& answer) {
    if (answer.kind == Kind::NotFound) {
      ReadFrom(kService, key, done);
    } else {
      done(answer);
    }
  });
}

void KeyringStore::Write(const std::string& key, const std::string& password, Handler done) {
  auto* job = new QKeychain::WritePasswordJob(ServiceOf(key), this);
  job->setKey(ToQt(key));
  job->setTextData(ToQt(password));
  Run(job, [this, key, done = std::move(done)](const KeyringAnswer& answer) {
    // Kept under its own label now: an earlier run's entry for the same key goes.
    if (answer.kind == Kind::Done) RemoveFrom(kService, key, [](const KeyringAnswer&) {});
    done(answer);
  });
}

void KeyringStore::Remove(const std::string& key, Handler done) {
  RemoveFrom(ServiceOf(key), key, [this, key, done = std::move(done)](const KeyringAnswer& answer) {
    if (answer.kind == Kind::Done) {
      RemoveFrom(kService, key, done);
    } else {
      done(answer);
    }
  });
}

}  // namespace ov
