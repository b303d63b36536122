#pragma once
// Password checks, one name at a time: each waits for its name's turn (the wait that failed guesses at
// the name impose), then runs on a worker thread, never on the event loop. Addresses that logged in to a
// name before go first and keep a budget of failures each; all other addresses share one per name, so
// that guessers from many addresses slow one another, not the name's owner.
#include <QObject>
#include <QThreadPool>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <string>

#include "ovserver/accounts.h"
#include "ovserver/connection.h"
#include "ovserver/login_guard.h"
#include "ovserver/server_config.h"

namespace ovs {

constexpr int kCheckThreads = 2;          // password checks run here, never on the event loop
constexpr size_t kKnownAddresses = 4096;  // name and address pairs remembered as having logged in

// A login or password change waiting for its name's turn to have the password checked.
struct Check {
  bool change = false;
  ConnectionHandle connection;
  std::string group;
  std::string name;
  std::string password;
  std::string newPassword;
  Clock::time_point since;
};

struct CheckResult {
  bool ok = false;
  AccountStore::Entry entry;          // the new password's, for a change
  PasswordCheck verified;             // what the old password was checked against
  std::chrono::milliseconds wait{0};  // the wait its failure imposes on the name's next check
};

class LoginQueue : public QObject {
  Q_OBJECT
 public:
  using Done = std::function<void(const Check&, const CheckResult&)>;

  LoginQueue(const ServerConfig& config, AccountStore& accounts);
  ~LoginQueue() override;

  // Takes a place for a check from group, unless the workers or group's places are all taken: false
  // then, with why for the log.
  bool TakePlace(const std::string& group, std::string& why);
  // What a check can expect: the checks of its name that run before it, and its wait should all of
  // them fail.
  struct Expected {
    std::chrono::milliseconds wait;
    size_t before;
  };
  // Queues a check that holds a place; done comes on this thread, once it has run.
  Expected Queue(Check check, Done done);
  // Hashes a new password on a worker; false when the workers are all busy.
  bool Hash(std::string password, std::function<void(const AccountStore::Entry&)> done);
  // Checks whose connection has closed leave the queues, and free their places.
  void DropClosed();

 private:
  struct Waiting {
    Check check;
    Done done;
    std::string key;  // its budget in the guard
    bool known = false;
  };
  // The checks of one name: one at a time. Known addresses first; the others take turns by address
  // (each address's own in the order they came).
  struct Turn {
    std::string busyKey;  // the budget of the check running, if one runs
    Clock::time_point timerAt{};
    std::deque<Waiting> waiting;
    uint64_t rounds = 0;
    std::map<std::string, uint64_t> servedAt;  // per address with checks waiting: when it last had its turn
  };

  static std::string Lower(const std::string& name);
  size_t ChecksBefore(const Turn& turn, const Waiting& check) const;
  void NextTurn(const std::string& name);
  // The next check that may run now, or waiting.end(); due says when one may.
  std::deque<Waiting>::iterator Pick(Turn& turn, Clock::time_point now, Clock::time_point& due);
  void Run(const std::string& name, Turn& turn, Waiting check);
  void Finished(const std::string& name, const Waiting& check, CheckResult result);
  void Release(const std::string& group);

  const ServerConfig& config_;
  AccountStore& accounts_;
  LoginGuard guard_;
  KnownAddresses known_{kKnownAddresses};
  std::map<std::string, Turn> turns_;  // per name, lower-cased
  // Password checks and hashes on the workers (at most one per name): what max-waiting-checks bounds. A
  // check waiting for its name's turn costs nothing and holds a place of its address only.
  int onWorkers_ = 0;
  std::map<std::string, int> waitingFrom_;  // per address group
  QThreadPool workers_;                     // last: its threads end before anything they report to goes
};

}  // namespace ovs
