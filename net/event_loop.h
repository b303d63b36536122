#pragma once
// The event loop as the logic sees it: nested waits that keep every other event flowing.
#include <chrono>
#include <functional>

namespace ov {

using Clock = std::chrono::steady_clock;

class EventLoop {
 public:
  virtual ~EventLoop() = default;
  virtual Clock::time_point Now() = 0;
  // Handles every pending event; when none is pending, sleeps until one arrives or the deadline passes.
  virtual void WaitForEvents(Clock::time_point deadline) = 0;
  // Runs the function at a later turn of the loop, after the events already waiting.
  virtual void Post(std::function<void()> run) = 0;
  // Runs the function once, ms milliseconds from now (a timer that cannot be stopped: what it runs
  // checks that it is still wanted).
  virtual void After(int ms, std::function<void()> run) = 0;

  // Keeps handling events until done() holds.
  void WaitUntil(const std::function<bool()>& done) {
    while (!done()) WaitForEvents(Clock::time_point::max());
  }
};

}  // namespace ov
