#include "ovserver/login_guard.h"

#include <QHostAddress>
#include <algorithm>
#include <vector>

namespace ovs {
namespace {
constexpr size_t kPruneAbove = 10000;  // a peer cycling through names cannot grow the table without end
constexpr int kForgetAfter = 10;       // times the longest wait without a failure
}  // namespace

std::string AddressGroup(const QHostAddress& address) {
  bool mapped = false;
  const quint32 v4 = address.toIPv4Address(&mapped);
  if (mapped) {
    if ((v4 >> 24) == 127) return "127.0.0.0/8";
    return QHostAddress(v4).toString().toStdString();
  }
  if (address.protocol() == QAbstractSocket::IPv6Protocol) {
    Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int i = 8; i < 16; ++i) bytes[i] = 0;
    return QHostAddress(bytes).toString().toStdString() + "/64";
  }
  return address.toString().toStdString();
}

LoginGuard::Clock::time_point LoginGuard::NextCheck(const std::string& key) const {
  const auto found = entries_.find(key);
  return found == entries_.end() ? Clock::time_point() : found->second.next;
}

LoginGuard::Clock::time_point LoginGuard::NextCheckAfter(const std::string& key, size_t ahead,
                                                         Clock::time_point now) const {
  Clock::time_point at = std::max(now, NextCheck(key));
  int failures = Failures(key);
  for (size_t i = 0; i < ahead; ++i) {
    std::chrono::milliseconds wait = first_;
    for (int j = 0; j < failures && wait < most_; ++j) wait *= 2;
    at += std::min(wait, most_);
    ++failures;
  }
  return at;
}

int LoginGuard::Failures(const std::string& key) const {
  const auto found = entries_.find(key);
  return found == entries_.end() ? 0 : found->second.failures;
}

std::chrono::milliseconds LoginGuard::Failed(const std::string& key, Clock::time_point now) {
  if (entries_.size() >= kPruneAbove && !entries_.count(key)) Prune(now);
  Entry& entry = entries_[key];
  if (entry.failures > 0 && now - entry.last > kForgetAfter * most_) entry.failures = 0;
  entry.last = now;
  ++entry.failures;
  std::chrono::milliseconds wait = first_;
  for (int i = 1; i < entry.failures && wait < most_; ++i) wait *= 2;
  wait = std::min(wait, most_);
  entry.next = now + wait;
  return wait;
}

void LoginGuard::Prune(Clock::time_point now) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (now - it->second.last > kForgetAfter * most_)
      it = entries_.erase(it);
    else
      ++it;
  }
  // Still full: the tenth that failed longest ago goes, so the table stays bounded.
  if (entries_.size() < kPruneAbove) return;
  std::vector<Clock::time_point> times;
  for (const auto& [key, entry] : entries_) times.push_back(entry.last);
  auto cut = times.begin() + long(times.size() / 10);
  std::nth_element(times.begin(), cut, times.end());
  const Clock::time_point before = *cut;
  for (auto it = entries_.begin(); it != entries_.end();)
    it = it->second.last <= before ? entries_.erase(it) : std::next(it);
}

void KnownAddresses::Remember(const std::string& name, const std::string& group) {
  const Key key{name, group};
  if (const auto found = used_.find(key); found != used_.end()) byTime_.erase(found->second);
  used_[key] = ++clock_;
  byTime_[clock_] = key;
  while (used_.size() > most_) {
    used_.erase(byTime_.begin()->second);
    byTime_.erase(byTime_.begin());
  }
}

bool KnownAddresses::Knows(const std::string& name, const std::string& group) const {
  return used_.count(Key{name, group}) != 0;
}

}  // namespace ovs
