#pragma once
// The player counts a game server answered over the last 24 hours, a minute to a slot: at most 1,440
// slots however long it is watched or however often it answers, made only once a first count comes.
#include <cstdint>
#include <memory>
#include <optional>

#include "net/event_loop.h"

namespace ov {

class PlayerHistory {
 public:
  static constexpr int kMinutes = 24 * 60;

  struct Minute {
    uint16_t peak = 0;
    uint16_t samples = 0;  // 0: nothing was heard in that minute
    uint32_t sum = 0;
  };
  struct Figures {
    int peak = 0;
    double average = 0;  // over the counts heard, not over the silent minutes
    int samples = 0;
  };

  void Record(Clock::time_point when, size_t players);
  // The minute `ago` minutes before the one `now` falls in (0: that one); empty when nothing was heard.
  Minute At(Clock::time_point now, int ago) const;
  Figures Over24Hours(Clock::time_point now) const;
  bool Empty() const { return !slots_; }

 private:
  static int64_t MinuteOf(Clock::time_point when);
  struct Slot {
    int64_t minute = -1;  // which minute the slot holds; an older one is stale
    Minute counts;
  };
  std::unique_ptr<Slot[]> slots_;
};

}  // namespace ov
