#pragma once
// The passwords the login dialog remembers, in the desktop's keyring (the Secret Service on the D-Bus
// session bus) through QtKeychain. Its jobs run asynchronously; each answer comes within its bound or is
// given up, so that a keyring that never answers holds nothing up.
#include <QObject>
#include <QString>

#include "protocol/password_store.h"

namespace QKeychain {
class Job;
}

namespace ov {

// With no session bus named (no DBUS_SESSION_BUS_ADDRESS, no bus socket in the runtime folder), the
// D-Bus libraries start a bus of their own when first asked for one, which outlives the program: Qt's
// accessibility and desktop integration ask at start-up. Called before the application object is made,
// this names an address that cannot be reached instead, so nothing is started; the keyring then reads
// as unavailable. An address's "autolaunch:" entries, which would start one too, are dropped. Programs
// the client starts inherit it.
void NeverStartASessionBus();

class KeyringStore : public QObject, public PasswordStore {
  Q_OBJECT

 public:
  static constexpr int kAnswerMs = 5000;  // the bus's answer: is a keyring there
  // A password's: the keyring may first ask the user to unlock it.
  static constexpr int kUnlockWaitMs = 60000;
  explicit KeyringStore(QObject* parent = nullptr);

  void Probe(Handler done) override;
  void Read(const std::string& key, Handler done) override;
  void Write(const std::string& key, const std::string& password, Handler done) override;
  void Remove(const std::string& key, Handler done) override;

 private:
  void Run(QKeychain::Job* job, Handler done);
  void ReadFrom(const QString& service, const std::string& key, Handler done);
  void RemoveFrom(const QString& service, const std::string& key, Handler done);
  void Later(Handler done, KeyringAnswer answer);
};

}  // namespace ov
