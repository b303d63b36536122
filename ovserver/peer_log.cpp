#include "ovserver/peer_log.h"

#include <algorithm>

#include "ovserver/log.h"

namespace ovs {

bool LogBudget::Spend(Clock::time_point now, double perSecond, double burst) {
  if (lines < 0) {
    lines = burst;
    last = now;
  }
  lines = std::min(burst, lines + perSecond * std::chrono::duration<double>(now - last).count());
  last = now;
  if (lines < 1) return false;
  lines -= 1;
  return true;
}

bool CountedLine::Due(Clock::time_point now, size_t& count) {
  ++count_;
  if (started_ && now - last_ < interval_) return false;
  started_ = true;
  last_ = now;
  count = count_;
  count_ = 0;
  return true;
}

void PeerLog::Line(LogBudget* own, const std::string& line, bool countHeld) {
  const Clock::time_point at = now();
  if (own && !own->Spend(at, perMinute_ / 60.0, perMinute_)) {
    ++own->held;
    return;
  }
  if (!server_.Spend(at, perSecond_, 5 * perSecond_)) {
    ++server_.held;
    return;
  }
  if (own && own->held > 0 && countHeld) {
    Log(line + " (" + std::to_string(own->held) + " earlier log lines of this connection held back)");
    own->held = 0;
    return;
  }
  Log(line);
}

std::string PeerLog::TakeHeldSummary() {
  if (server_.held == 0) return "";
  const size_t held = server_.held;
  server_.held = 0;
  return std::to_string(held) + " log line" + (held == 1 ? "" : "s") +
         " caused by clients held back since the last such line (log-lines-per-second " +
         std::to_string(int(perSecond_)) + ")";
}

}  // namespace ovs
