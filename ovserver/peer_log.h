#pragma once
// The lines a peer can cause in the server's log, each within two rate bounds: a share per connection
// (lines a minute, all of them at once) and one for all peers together (lines a second, five seconds'
// worth at once). What a bound holds back is counted, never lost without a word.
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace ovs {

using Clock = std::chrono::steady_clock;

// A share of the log's rate bound: lines it may still write now, and those it held back.
struct LogBudget {
  double lines = -1;  // not started: full
  Clock::time_point last;
  size_t held = 0;
  // Takes one line's worth when there is one, refilling at perSecond up to burst.
  bool Spend(Clock::time_point now, double perSecond, double burst);
};

// A line for events that may come thousands of times a second (refused connections, connections closed
// without a word): written at most once an interval, counting the others.
class CountedLine {
 public:
  explicit CountedLine(std::chrono::milliseconds interval) : interval_(interval) {}
  // Counts one event; true when its line is due now, with the events since the last line in count.
  bool Due(Clock::time_point now, size_t& count);

 private:
  std::chrono::milliseconds interval_;
  size_t count_ = 0;
  Clock::time_point last_;
  bool started_ = false;
};

class PeerLog {
 public:
  PeerLog(int linesPerSecond, int linesPerConnectionPerMinute)
      : perSecond_(linesPerSecond), perMinute_(linesPerConnectionPerMinute) {}

  // A line a peer caused: within its connection's share (own, when it has one) and the server's. While
  // the connection is open, what its share held back is counted on its next line written.
  void Line(LogBudget* own, const std::string& line, bool countHeld = true);
  // The line that counts what the server's share held back since the last such line, if it held any.
  std::string TakeHeldSummary();

  std::function<Clock::time_point()> now = [] { return Clock::now(); };  // tests set the time

 private:
  double perSecond_;
  double perMinute_;
  LogBudget server_;
};

}  // namespace ovs
