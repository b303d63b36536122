#include "ovserver/login_guard.h"

#include <QHostAddress>

namespace ovs {
namespace {
constexpr size_t kPruneAbove = 10000;  // a peer cycling through names cannot grow the table without end
}

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

bool LoginGuard::Locked(const std::string& key, Clock::time_point now) const {
  const auto found = entries_.find(key);
  return found != entries_.end() && now < found->second.lockedUntil;
}

bool LoginGuard::Failed(const std::string& key, Clock::time_point now) {
  if (entries_.size() > kPruneAbove) Prune(now);
  Entry& entry = entries_[key];
  if (entry.failures > 0 && now - entry.last > lockout_ && now >= entry.lockedUntil) entry.failures = 0;
  entry.last = now;
  if (++entry.failures < lockoutAfter_) return false;
  entry.failures = 0;
  entry.lockedUntil = now + lockout_;
  return true;
}

void LoginGuard::Prune(Clock::time_point now) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (now - it->second.last > lockout_ && now >= it->second.lockedUntil)
      it = entries_.erase(it);
    else
      ++it;
  }
}

}  // namespace ovs
