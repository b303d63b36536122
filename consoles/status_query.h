#pragma once
// The game servers' status query as a service beside the console models: each players panel gets one
// StatusQuery, which asks its target every kRefreshMs while started, over a UDP socket of the socket
// seam, with a fresh random challenge each time, and takes only the answer that comes from where the
// query went and echoes that challenge. Stopped, it holds no socket, no look-up and no timer.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "consoles/player_history.h"
#include "consoles/server_status.h"
#include "net/event_loop.h"
#include "net/socket_api.h"

namespace ov {

class StatusQuery {
 public:
  static constexpr int kRefreshMs = 3000;  // a query unanswered by the next one is "no answer"
  static constexpr int kReadsAtOnce = 64;  // datagrams read in one turn; a flood waits for the next
  enum class Shown { Nothing, Answer, NoAnswer };
  using Random = std::function<uint64_t()>;

  StatusQuery(SocketApi& sockets, EventLoop& loop, Random random);
  ~StatusQuery();
  StatusQuery(const StatusQuery&) = delete;
  StatusQuery& operator=(const StatusQuery&) = delete;

  void SetChangedHandler(std::function<void()> changed) { changed_ = std::move(changed); }
  void SetTarget(const StatusTarget& target);  // asked from the next start; at once when started
  const StatusTarget& Target() const { return target_; }
  void Start();  // asks now and every kRefreshMs
  void Stop();   // forgets what was shown; the counts heard stay
  void End();    // the server is gone: stopped for good
  bool Started() const { return started_; }

  Shown State() const { return shown_; }
  const ServerStatus& Status() const { return status_; }  // the last answer taken, while State() is Answer
  const PlayerHistory& History() const { return history_; }
  Clock::time_point Now() const { return loop_.Now(); }

 private:
  void Resolve();
  void Resolved(const std::vector<SocketAddress>& found);
  void Schedule();  // the next tick, kRefreshMs from now
  void Tick(uint64_t round);
  void Ask();
  void Read();
  void Show(Shown shown);

  SocketApi& sockets_;
  EventLoop& loop_;
  Random random_;
  std::function<void()> changed_;
  StatusTarget target_;
  bool started_ = false;
  bool ended_ = false;
  int socket_ = -1;
  int lookup_ = -1;
  std::optional<SocketAddress> address_;
  uint16_t port_ = 0;      // network byte order
  std::string challenge_;  // of the query not yet answered; empty once answered
  uint64_t round_ = 0;     // a tick of an older start finds another round and does nothing
  Shown shown_ = Shown::Nothing;
  ServerStatus status_;
  PlayerHistory history_;
  std::shared_ptr<StatusQuery*> alive_;  // what posted ticks hold: cleared when this query goes
};

// Makes the queries, and the challenges they send.
class StatusQueries {
 public:
  StatusQueries(SocketApi& sockets, EventLoop& loop, StatusQuery::Random random = {});
  std::unique_ptr<StatusQuery> Open();

 private:
  SocketApi& sockets_;
  EventLoop& loop_;
  StatusQuery::Random random_;
};

}  // namespace ov
