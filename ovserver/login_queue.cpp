#include "ovserver/login_queue.h"

#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cctype>

namespace ovs {

LoginQueue::LoginQueue(const ServerConfig& config, AccountStore& accounts)
    : config_(config),
      accounts_(accounts),
      guard_(std::chrono::milliseconds(config.guessDelayMs),
             std::chrono::seconds(config.guessDelayMaxSeconds)) {
  workers_.setMaxThreadCount(kCheckThreads);
  workers_.setThreadPriority(QThread::LowPriority);  // the event loop comes first
}

LoginQueue::~LoginQueue() {
  workers_.clear();
  workers_.waitForDone();
}

std::string LoginQueue::Lower(const std::string& name) {
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower;
}

bool LoginQueue::TakePlace(const std::string& group, std::string& why) {
  int& fromHere = waitingFrom_[group];
  if (onWorkers_ >= config_.maxWaitingChecks || fromHere >= config_.maxWaitingChecksPerAddress) {
    why = std::to_string(onWorkers_) + " password checks run, " + std::to_string(fromHere) + " wait from " +
          group;
    if (fromHere == 0) waitingFrom_.erase(group);
    return false;
  }
  ++fromHere;
  return true;
}

void LoginQueue::Release(const std::string& group) {
  if (--waitingFrom_[group] <= 0) waitingFrom_.erase(group);
}

LoginQueue::Expected LoginQueue::Queue(Check check, Done done) {
  const std::string name = Lower(check.name);
  Waiting waiting;
  waiting.known = known_.Knows(name, check.group);
  // An address that logged in to the name before has a budget of its own; all others share the name's.
  waiting.key = waiting.known ? name + "\n" + check.group : name;
  waiting.check = std::move(check);
  waiting.done = std::move(done);
  Turn& turn = turns_[name];
  const std::string& group = waiting.check.group;
  // An address with nothing waiting joins the rotation behind every address that has.
  if (!waiting.known && std::none_of(turn.waiting.begin(), turn.waiting.end(), [&](const Waiting& queued) {
        return !queued.known && queued.check.group == group;
      }))
    turn.servedAt[group] = ++turn.rounds;
  turn.waiting.push_back(waiting);
  const auto now = Clock::now();
  const size_t before = ChecksBefore(turn, turn.waiting.back()) + (turn.busyKey == waiting.key ? 1 : 0);
  const Expected expected{
      std::chrono::ceil<std::chrono::milliseconds>(guard_.NextCheckAfter(waiting.key, before, now) - now),
      before};
  NextTurn(name);
  return expected;
}

size_t LoginQueue::ChecksBefore(const Turn& turn, const Waiting& check) const {
  // Known addresses: those of the same address that came before. The rest: by the rotation, each other
  // address gets one check per round, those whose turn came longer ago first.
  std::map<std::string, size_t> counts;
  size_t mine = 0;
  for (const Waiting& queued : turn.waiting) {
    if (&queued == &check) break;
    if (queued.known != check.known) continue;
    if (queued.check.group == check.check.group)
      ++mine;
    else if (!check.known)
      ++counts[queued.check.group];
  }
  size_t before = mine;
  const auto servedAt = [&](const std::string& group) {
    const auto found = turn.servedAt.find(group);
    return found == turn.servedAt.end() ? uint64_t(0) : found->second;
  };
  for (const auto& [group, count] : counts)
    before += std::min(count, mine + (servedAt(group) < servedAt(check.check.group) ? 1 : 0));
  return before;
}

void LoginQueue::DropClosed() {
  for (auto turn = turns_.begin(); turn != turns_.end();) {
    auto& waiting = turn->second.waiting;
    for (auto it = waiting.begin(); it != waiting.end();) {
      if (Open(it->check.connection)) {
        ++it;
        continue;
      }
      Release(it->check.group);
      it = waiting.erase(it);
    }
    turn = waiting.empty() && turn->second.busyKey.empty() ? turns_.erase(turn) : std::next(turn);
  }
}

std::deque<LoginQueue::Waiting>::iterator LoginQueue::Pick(Turn& turn, Clock::time_point now,
                                                           Clock::time_point& due) {
  due = Clock::time_point::max();
  // The oldest check from an address known to the name whose budget allows it now.
  for (auto it = turn.waiting.begin(); it != turn.waiting.end(); ++it) {
    if (!it->known) continue;
    const auto next = guard_.NextCheck(it->key);
    if (next <= now) return it;
    due = std::min(due, next);
  }
  // Else the oldest check of the address whose turn came longest ago, when the shared budget allows.
  auto pick = turn.waiting.end();
  for (auto it = turn.waiting.begin(); it != turn.waiting.end(); ++it)
    if (!it->known &&
        (pick == turn.waiting.end() || turn.servedAt[it->check.group] < turn.servedAt[pick->check.group]))
      pick = it;
  if (pick == turn.waiting.end()) return pick;
  const auto next = guard_.NextCheck(pick->key);
  if (next <= now) return pick;
  due = std::min(due, next);
  return turn.waiting.end();
}

void LoginQueue::NextTurn(const std::string& name) {
  // Nobody waits for the answer of a connection that has gone: it is not checked. A name with nothing
  // waiting and nothing running is forgotten.
  DropClosed();
  const auto found = turns_.find(name);
  if (found == turns_.end()) return;
  Turn& turn = found->second;
  if (!turn.busyKey.empty()) return;
  const auto now = Clock::now();
  Clock::time_point due;
  const auto next = Pick(turn, now, due);
  if (next == turn.waiting.end()) {
    if (turn.timerAt != Clock::time_point() && turn.timerAt <= due) return;
    turn.timerAt = due;
    QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(due - now), Qt::PreciseTimer, this,
                       [this, name, due] {
                         const auto again = turns_.find(name);
                         if (again == turns_.end() || again->second.timerAt != due) return;
                         again->second.timerAt = Clock::time_point();
                         NextTurn(name);
                       });
    return;
  }
  Waiting check = std::move(*next);
  turn.waiting.erase(next);
  if (!check.known) {
    turn.servedAt[check.check.group] = ++turn.rounds;
    // Addresses with nothing left waiting leave the rotation (and join it again at its end).
    for (auto it = turn.servedAt.begin(); it != turn.servedAt.end();) {
      const bool waits = std::any_of(turn.waiting.begin(), turn.waiting.end(), [&](const Waiting& queued) {
        return !queued.known && queued.check.group == it->first;
      });
      it = waits ? std::next(it) : turn.servedAt.erase(it);
    }
  }
  Run(name, turn, std::move(check));
}

void LoginQueue::Run(const std::string& name, Turn& turn, Waiting check) {
  turn.busyKey = check.key;
  ++onWorkers_;
  // The check runs on a worker; its answer comes back to this thread. A change hashes its new password
  // there too, for an unknown name as well: every name costs the same.
  const PasswordCheck verified = accounts_.CheckFor(check.check.name);
  const AccountStore* accounts = &accounts_;
  workers_.start([this, name, check = std::move(check), verified, accounts] {
    CheckResult result;
    result.ok = verified.Run(check.check.password);
    result.verified = verified;
    if (check.check.change) result.entry = accounts->NewEntry(check.check.newPassword, false);
    QMetaObject::invokeMethod(
        this, [this, name, check, result] { Finished(name, check, result); }, Qt::QueuedConnection);
  });
}

void LoginQueue::Finished(const std::string& name, const Waiting& check, CheckResult result) {
  --onWorkers_;
  Release(check.check.group);
  if (result.ok) {
    // The failures of the strangers' shared budget are forgotten only with time: one success among
    // them must not give every guesser a fresh start.
    if (check.known) guard_.Succeeded(check.key);
    known_.Remember(name, check.check.group);
  } else {
    result.wait = guard_.Failed(check.key, Clock::now());
  }
  if (auto found = turns_.find(name); found != turns_.end()) found->second.busyKey.clear();
  check.done(check.check, result);
  NextTurn(name);
}

bool LoginQueue::Hash(std::string password, std::function<void(const AccountStore::Entry&)> done) {
  if (onWorkers_ >= config_.maxWaitingChecks) return false;
  ++onWorkers_;
  const AccountStore* accounts = &accounts_;
  workers_.start([this, password = std::move(password), done = std::move(done), accounts] {
    const AccountStore::Entry entry = accounts->NewEntry(password, false);
    QMetaObject::invokeMethod(
        this,
        [this, entry, done] {
          --onWorkers_;
          done(entry);
        },
        Qt::QueuedConnection);
  });
  return true;
}

}  // namespace ovs
