#pragma once
// Bounds the rate of password guesses per login name: each failure makes the next check of that name
// wait longer, doubling up to a most, whatever address the guesses come from. The right password is
// never refused for it: it is only checked later.
#include <chrono>
#include <cstdint>
#include <map>
#include <string>

class QHostAddress;

namespace ovs {

// The address that limits count by: one host can use any address of 127.0.0.0/8 and usually a whole
// IPv6 /64, so each of those counts as one address.
std::string AddressGroup(const QHostAddress& address);

class LoginGuard {
 public:
  using Clock = std::chrono::steady_clock;

  // After the first failure the next check waits first, after each further one twice as long as after
  // the one before, never more than most. Failures are forgotten after ten times most without one.
  LoginGuard(std::chrono::milliseconds first, std::chrono::milliseconds most) : first_(first), most_(most) {}

  // The earliest moment the next check of key may start.
  Clock::time_point NextCheck(const std::string& key) const;
  // The earliest moment a check of key may start after the ahead checks before it, should all of them fail.
  Clock::time_point NextCheckAfter(const std::string& key, size_t ahead, Clock::time_point now) const;
  // Counts a failure; the wait it imposes on the next check.
  std::chrono::milliseconds Failed(const std::string& key, Clock::time_point now);
  void Succeeded(const std::string& key) { entries_.erase(key); }
  int Failures(const std::string& key) const;

 private:
  struct Entry {
    int failures = 0;
    Clock::time_point last;
    Clock::time_point next;
  };
  void Prune(Clock::time_point now);

  std::chrono::milliseconds first_;
  std::chrono::milliseconds most_;
  std::map<std::string, Entry> entries_;
};

// The addresses (groups) that logged in to a name before: the most recent ones, a bounded number.
class KnownAddresses {
 public:
  explicit KnownAddresses(size_t most) : most_(most) {}
  void Remember(const std::string& name, const std::string& group);
  bool Knows(const std::string& name, const std::string& group) const;
  size_t Size() const { return used_.size(); }

 private:
  using Key = std::pair<std::string, std::string>;
  size_t most_;
  uint64_t clock_ = 0;
  std::map<Key, uint64_t> used_;    // when each last logged in
  std::map<uint64_t, Key> byTime_;  // the same, the least recent first
};

}  // namespace ovs
