#include "consoles/player_history.h"

#include <algorithm>

namespace ov {

int64_t PlayerHistory::MinuteOf(Clock::time_point when) {
  return std::chrono::duration_cast<std::chrono::minutes>(when.time_since_epoch()).count();
}

void PlayerHistory::Record(Clock::time_point when, size_t players) {
  if (!slots_) slots_ = std::make_unique<Slot[]>(kMinutes);
  const int64_t minute = MinuteOf(when);
  Slot& slot = slots_[static_cast<size_t>(((minute % kMinutes) + kMinutes) % kMinutes)];
  if (slot.minute != minute) slot = Slot{minute, {}};
  const auto count = static_cast<uint16_t>(std::min<size_t>(players, UINT16_MAX));
  slot.counts.peak = std::max(slot.counts.peak, count);
  if (slot.counts.samples < UINT16_MAX) {
    ++slot.counts.samples;
    slot.counts.sum += count;
  }
}

PlayerHistory::Minute PlayerHistory::At(Clock::time_point now, int ago) const {
  if (!slots_ || ago < 0 || ago >= kMinutes) return {};
  const int64_t minute = MinuteOf(now) - ago;
  const Slot& slot = slots_[static_cast<size_t>(((minute % kMinutes) + kMinutes) % kMinutes)];
  return slot.minute == minute ? slot.counts : Minute{};
}

PlayerHistory::Figures PlayerHistory::Over24Hours(Clock::time_point now) const {
  Figures figures;
  uint64_t sum = 0;
  for (int ago = 0; ago < kMinutes && slots_; ++ago) {
    const Minute m = At(now, ago);
    if (m.samples == 0) continue;
    figures.peak = std::max<int>(figures.peak, m.peak);
    figures.samples += m.samples;
    sum += m.sum;
  }
  if (figures.samples > 0) figures.average = double(sum) / figures.samples;
  return figures;
}

}  // namespace ov
