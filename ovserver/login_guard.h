#pragma once
// Counts failed logins per client address and login name and locks that pair out after several.
#include <chrono>
#include <map>
#include <string>

class QHostAddress;

namespace ovs {

// The address that limits and lock-outs count by: one host can use any address of 127.0.0.0/8 and
// usually a whole IPv6 /64, so each of those counts as one address.
std::string AddressGroup(const QHostAddress& address);

class LoginGuard {
 public:
  using Clock = std::chrono::steady_clock;

  LoginGuard(int lockoutAfter, std::chrono::seconds lockout)
      : lockoutAfter_(lockoutAfter), lockout_(lockout) {}

  bool Locked(const std::string& key, Clock::time_point now) const;
  // Counts a failure; true when it locks the key out. Failures older than the lock-out time are forgotten.
  bool Failed(const std::string& key, Clock::time_point now);
  void Succeeded(const std::string& key) { entries_.erase(key); }
  size_t Tracked() const { return entries_.size(); }

 private:
  struct Entry {
    int failures = 0;
    Clock::time_point last;
    Clock::time_point lockedUntil;
  };
  void Prune(Clock::time_point now);

  int lockoutAfter_;
  std::chrono::seconds lockout_;
  std::map<std::string, Entry> entries_;
};

}  // namespace ovs
