#pragma once
// The event loop of the Qt application: nested waits handle every event while they sleep.
#include "net/event_loop.h"

namespace ov {

class QtEventLoop : public EventLoop {
 public:
  Clock::time_point Now() override { return Clock::now(); }
  void WaitForEvents(Clock::time_point deadline) override;
  void Post(std::function<void()> run) override;
  void After(int ms, std::function<void()> run) override;
};

}  // namespace ov
