// The one way a test waits for a condition: it ends as soon as the condition holds, and otherwise gives
// up within seconds with a failure that says what it waited for, never at the runner's time-out.
//
// A wait that starts inside another (from a handler the outer wait runs, or in a nested loop of the
// code under test) keeps to the outer wait's deadline as well: nested waits never add up. Once a wait
// of a test has given up, the later waits of the same test give up at once, so that a test whose peer
// went silent fails after one patience, not after one per wait. Header only: every test binary uses it,
// whatever it links.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace ov::test {

// How long a wait goes without its condition (or, for a flood, without progress) before the test fails.
inline constexpr int kPatienceMs = 5000;

using WaitClock = std::chrono::steady_clock;

namespace wait_detail {

struct State {
  std::vector<WaitClock::time_point> deadlines;  // of the waits under way, outermost first
  std::vector<std::function<void()>*> rescues;
  const ::testing::TestInfo* rescuedIn = nullptr;
};

// Each thread has its own waits and rescues (a peer's thread has its own waits, the test's thread its
// loops); that the test gave up holds for all its threads.
inline State& Current() {
  static thread_local State state;
  return state;
}

inline std::atomic<const ::testing::TestInfo*>& GaveUpIn() {
  static std::atomic<const ::testing::TestInfo*> test{nullptr};
  return test;
}

inline const ::testing::TestInfo* ThisTest() {
  return ::testing::UnitTest::GetInstance()->current_test_info();
}

}  // namespace wait_detail

// Frees what the code under test waits for in loops of its own (drops the connections, cancels the
// dialogs) when the test gives up, so that those loops end. Holds for its scope, on its thread.
class RescueOnGiveUp {
 public:
  explicit RescueOnGiveUp(std::function<void()> rescue) : rescue_(std::move(rescue)) {
    wait_detail::Current().rescues.push_back(&rescue_);
  }
  ~RescueOnGiveUp() {
    auto& rescues = wait_detail::Current().rescues;
    rescues.erase(std::remove(rescues.begin(), rescues.end(), &rescue_), rescues.end());
  }
  RescueOnGiveUp(const RescueOnGiveUp&) = delete;
  RescueOnGiveUp& operator=(const RescueOnGiveUp&) = delete;

 private:
  std::function<void()> rescue_;
};

// Whether a wait of the running test, on any of its threads, has given up.
inline bool GaveUp() {
  const ::testing::TestInfo* test = wait_detail::GaveUpIn().load();
  return test != nullptr && test == wait_detail::ThisTest();
}

// Runs the rescues of this thread, once per test that gave up.
inline void Rescue() {
  auto& state = wait_detail::Current();
  if (!GaveUp() || state.rescuedIn == wait_detail::ThisTest()) return;
  state.rescuedIn = wait_detail::ThisTest();
  const std::vector<std::function<void()>*> rescues = state.rescues;
  for (auto* rescue : rescues) (*rescue)();
}

// Fails the running test with the message (later waits only add theirs) and frees the loops of the
// code under test.
inline void GiveUp(const std::string& message) {
  const bool first = wait_detail::GaveUpIn().exchange(wait_detail::ThisTest()) != wait_detail::ThisTest();
  if (first) {
    ADD_FAILURE() << message;
  } else {
    ADD_FAILURE() << message << " (not waited for: an earlier wait of the test gave up)";
  }
  Rescue();
}

// The deadline of the innermost wait under way; max() when none is.
inline WaitClock::time_point CurrentDeadline() {
  const auto& deadlines = wait_detail::Current().deadlines;
  return deadlines.empty() ? WaitClock::time_point::max() : deadlines.back();
}

// Runs turn(until) until done() holds; each turn handles what is due and returns by `until` at the
// latest. On giving up, the test fails with "gave up waiting for <what> (after N ms)" and false is
// returned. A flood passes progress (a count that grows while work is being done): its patience then
// runs from the last time the count grew.
inline bool WaitFor(const std::string& what, const std::function<bool()>& done,
                    const std::function<void(WaitClock::time_point until)>& turn,
                    int patienceMs = kPatienceMs, const std::function<uint64_t()>& progress = nullptr) {
  const auto start = WaitClock::now();
  const auto message = [&] {
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(WaitClock::now() - start).count();
    return "gave up waiting for " + what + " (after " + std::to_string(took) + " ms)";
  };
  if (GaveUp()) {
    if (done()) return true;
    GiveUp(message());
    return false;
  }
  auto& state = wait_detail::Current();
  const auto patience = std::chrono::milliseconds(patienceMs);
  const auto outer = state.deadlines.empty() ? WaitClock::time_point::max() : state.deadlines.back();
  state.deadlines.push_back(std::min(outer, start + patience));
  struct Pop {
    ~Pop() { wait_detail::Current().deadlines.pop_back(); }
  } pop;
  uint64_t seen = progress ? progress() : 0;
  auto moved = start;  // when the wait began, or its work last went on
  while (!done()) {
    if (GaveUp()) {  // a nested wait, a watchdog or a peer gave up meanwhile, and said why
      Rescue();
      return false;
    }
    const auto now = WaitClock::now();
    if (progress && progress() != seen) {
      seen = progress();
      moved = now;
      // Work goes on: the patience starts again, within the outer wait's deadline.
      const size_t me = state.deadlines.size() - 1;
      const auto enclosing = me == 0 ? WaitClock::time_point::max() : state.deadlines[me - 1];
      state.deadlines[me] = std::min(enclosing, now + patience);
    }
    if (now >= state.deadlines.back()) {
      GiveUp(message());
      return false;
    }
    turn(std::min(state.deadlines.back(), now + std::chrono::milliseconds(20)));
  }
  const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(WaitClock::now() - moved).count();
  if (2 * idle > patienceMs)  // a hint before a slow machine turns it into a failure
    std::fprintf(stderr, "[ slow wait ] %lld of %d ms for %s\n", static_cast<long long>(idle), patienceMs,
                 what.c_str());
  return true;
}

}  // namespace ov::test
