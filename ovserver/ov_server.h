#pragma once
// The OV server: accepts clients, logs them in, and serves their requests on one thread.
#include <QObject>
#include <QThreadPool>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "ovserver/accounts.h"
#include "ovserver/game_servers.h"
#include "ovserver/login_guard.h"
#include "ovserver/request_reader.h"
#include "ovserver/server_config.h"
#include "wire/cipher.h"
#include "wire/frames.h"

class QTcpServer;
class QTcpSocket;
class QHostAddress;

namespace ovs {

constexpr qint64 kMaxQueuedOutput = 4 << 20;  // console text beyond this waits in no queue: it is dropped
constexpr qint64 kMaxUnreadOutput = 4 * kMaxQueuedOutput;  // a peer this far behind is not reading at all
constexpr int kMaxFramesBeforeLogin = 8;
constexpr int kCloseWaitMs = 5000;
constexpr int kMalformedLogIntervalMs = 1000;  // one summary line per connection at most this often
constexpr int kCheckThreads = 2;               // password checks run here, never on the event loop
// A connection's fair share of the loop: what one turn reads and handles before the others get theirs.
constexpr qint64 kReadChunk = 16 * 1024;
constexpr int kFramesPerTurn = 64;
// Answers a peer leaves unread beyond this (on top of the console text, which has a bound of its own)
// stop its requests being read until it catches up.
constexpr qint64 kMaxQueuedAnswers = 256 * 1024;
constexpr qint64 kPauseAbove = kMaxQueuedOutput + kMaxQueuedAnswers;

class OvServer : public QObject {
  Q_OBJECT
 public:
  OvServer(ServerConfig config, AccountStore& accounts);
  ~OvServer() override;

  // Listens on one more address; port 0 takes the port of the first address, or one the system picks.
  bool Listen(const QHostAddress& address, quint16 port, std::string& error);
  quint16 Port() const;  // the port listened on, 0 before Listen
  // Serves a connected socket as a client's session (and owns it from then on). Accept hands it each
  // new connection; a harness can hand it one end of a socket pair and feed requests without a listener.
  void Serve(QTcpSocket* socket);
  size_t SessionCount() const { return sessions_.size(); }
  GameServers& Games() { return games_; }

 private:
  enum class State { LoggingIn, Checking, Refused, LoggedIn };
  using Clock = std::chrono::steady_clock;
  // A share of the log's rate bound: lines it may still write now, and those it held back.
  struct LogBudget {
    double lines = -1;  // not started
    Clock::time_point last;
    size_t held = 0;
  };
  // A login or password change waiting for its name's turn to have the password checked.
  struct Check {
    bool change = false;
    int number = 0;
    std::string group;
    std::string name;
    std::string password;
    std::string newPassword;
    Clock::time_point since;
  };
  // The checks of one name: one at a time, each after the name's wait. Address groups take turns (each
  // group's own in the order they came), so that a guesser's queue from one address does not put the
  // owner from another behind every one of its guesses.
  struct Turn {
    bool busy = false;
    bool timer = false;
    std::deque<Check> waiting;
    uint64_t rounds = 0;
    std::map<std::string, uint64_t> servedAt;  // per group with checks waiting: when it last had its turn
  };
  struct Session {
    int number = 0;
    QTcpSocket* socket = nullptr;
    std::string peer;     // address:port, for the log
    std::string address;  // for the log
    std::string group;    // what limits and lock-outs count by (AddressGroup)
    bool heard = false;   // it has sent a whole frame (or a malformed one)
    Clock::time_point since = Clock::now();
    RequestReader reader;
    std::deque<ov::Frame> pending;  // read, not handled yet
    bool turnQueued = false;        // another turn of reading is due
    bool paused = false;            // its answers wait unread: nothing more is read until they drain
    LogBudget log;
    State state = State::LoggingIn;
    bool closed = false;
    std::string user;
    int framesBeforeLogin = 0;
    std::set<int> known;     // game servers announced with 27
    std::set<int> awaiting;  // announced, their 25 waiting for the 24
    std::set<int> watching;  // console relayed (42 until 41)
    bool newUserAsked = false;
    bool chpwdAsked = false;
    size_t droppedLines = 0;
    size_t malformed = 0;  // in this read, not yet in the log
    std::string firstProblem;
    size_t unreported = 0;  // held back by the log's rate limit
    Clock::time_point lastReport;
  };

  void Accept(QTcpServer* listener);
  void Read(int number);
  void ScheduleTurn(Session& session);
  void Closed(int number);
  Session* Find(int number);

  void HandleFrame(Session& session, const ov::Frame& frame);
  void HandleControl(Session& session, int n, const std::string& payload);
  void HandleLogin(Session& session, const std::string& payload);
  // Answers a refused login with a message box and closes, the login delay after the request.
  void Refuse(Session& session, const std::string& reason, Clock::time_point since = Clock::now());
  void Queue(Check check);
  void NextTurn(const std::string& key);
  void Release(const Check& check);
  void Finished(const Check& check, bool ok, const AccountStore::Entry& entry, const PasswordCheck& verified);
  void Checked(const Check& check, bool ok, std::chrono::milliseconds wait);
  void ChangeChecked(const Check& check, bool ok, const AccountStore::Entry& entry,
                     const PasswordCheck& verified);
  // Answers a password change the login delay after its request, whatever the outcome.
  void AnswerChange(const Check& check, AccountStore::Outcome outcome, const std::string& error);
  // Tries a change of the accounts file until it gets the file's lock or the patience runs out; never
  // waits on the lock itself.
  void WriteAccounts(std::function<AccountStore::Outcome(std::string&)> attempt,
                     std::function<void(AccountStore::Outcome, const std::string&)> done,
                     Clock::time_point deadline);
  // A log line a peer caused: within its connection's share (when it has one) and the server's.
  void PeerLog(Session* session, const std::string& line);
  bool Spend(LogBudget& budget, double perSecond, double burst);
  void Malformed(Session& session, const std::string& problem, size_t count = 1);
  void ReportMalformed(Session& session, bool closing = false);
  // The lock-out keys of a name: from this address group, and from everywhere.
  static std::string GuardKey(const std::string& name);
  size_t LoggingInFrom(const std::string& group) const;
  // Closes the connection from group that has been idle longest (no login within the silent time-out),
  // if any, to make room for a new one.
  bool MakeRoom(const std::string& group);
  bool MayType(const Session& session, int id) const;
  // Another connection from the same address has waited longer to log in.
  bool WaitsBehind(const Session& session) const;
  void CloseGently(Session& session);
  void Welcome(Session& session);
  void Announce(Session& session, int id);
  void SendServerInfo(Session& session, int id);
  void HandleStart(Session& session, const std::string& payload);
  void RefuseStart(Session& session, const std::string& why);
  void HandleWatch(Session& session, ov::ControlMessage message, const std::string& payload);
  void HandleNewUser(Session& session, const std::string& payload);
  void HandleChangePassword(Session& session, const std::string& payload);
  void HandleConsole(Session& session, int id, const std::string& text);
  void RunCommand(Session& session, const std::string& line);

  void OnGameStarted(int id);
  void OnGameFailed(int id, const std::string& error);
  void OnGameLine(int id, const std::string& line);
  void OnGameExited(int id, const std::string& how);

  void SendFrame(Session& session, int code, std::string_view payload);
  void SendControl(Session& session, ov::ControlMessage message, std::string_view payload);
  void SendNote(Session& session, const std::string& text);
  void SendConsoleLine(Session& session, int id, const std::string& line);
  void Say(Session& session, const std::string& line) { SendConsoleLine(session, 0, line); }
  void SayToAll(const std::string& line);
  std::string Who(const Session& session) const;

  ServerConfig config_;
  AccountStore& accounts_;
  ov::MessageCipher cipher_;
  LoginGuard guard_;                   // the wait before each name's next check
  std::map<std::string, Turn> turns_;  // per name, lower-cased
  LogBudget log_;                      // the log's share for all peers together
  GameServers games_;
  std::vector<QTcpServer*> listeners_;  // one per address
  int lastSession_ = 0;
  std::map<int, std::unique_ptr<Session>> sessions_;
  std::map<int, int> startedBy_;       // game server id -> the session that asked for it, until it runs
  std::map<int, std::string> owners_;  // game server id -> the user who started it
  // Password checks and hashes on the workers (at most one per name): what max-waiting-checks bounds. A
  // check waiting for its name's turn costs nothing and holds a place of its address only, so guesses
  // queued for one name from a few addresses cannot get every other login refused as too busy.
  int checksOnWorkers_ = 0;
  size_t unloggedRefusals_ = 0;  // refused connections not in the log yet (its rate limit)
  Clock::time_point lastRefusalLog_;
  size_t quietCloses_ = 0;  // connections closed without a word, not in the log yet
  Clock::time_point lastQuietLog_;
  std::map<std::string, int> waitingChecksFrom_;  // per address group
  QThreadPool checks_;                            // last: its threads end before anything they report to goes
};

// Enciphers an account-range payload so that the frame can carry it: a character whose enciphered byte
// would be 0xFE (end of frame) or 0x00 is replaced by "?" first.
std::string EncipherForFrame(const ov::MessageCipher& cipher, std::string plain);

}  // namespace ovs
