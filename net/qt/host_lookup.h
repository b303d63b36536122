#pragma once
// Host names looked up with getaddrinfo away from the window, on a small pool of threads: a slow or silent
// name service holds at most kWorkers threads however many look-ups are asked for, and the look-ups
// waiting for one are bounded too. Answers come back through the Qt event loop; a cancelled look-up's
// answer, and any that comes once this object is gone, is dropped.
#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "net/socket_api.h"

namespace ov {

class HostLookups {
 public:
  static constexpr int kWorkers = 4;
  static constexpr size_t kMaxWaiting = 64;  // beyond it, a look-up is refused (Start gives -1)
  using Resolver = std::function<std::vector<SocketAddress>(const std::string& host, bool numericOnly)>;

  // resolver: what runs on the pool's threads; getaddrinfo (Lookup) but in tests.
  explicit HostLookups(Resolver resolver = &HostLookups::Lookup);
  ~HostLookups();
  HostLookups(const HostLookups&) = delete;
  HostLookups& operator=(const HostLookups&) = delete;

  int Start(const std::string& host, bool numericOnly, SocketApi::LookupDone done);
  void Cancel(int id);
  int Threads() const;  // the pool's threads now: at most kWorkers

  // getaddrinfo's answer as the connection layer takes it: IPv6 and IPv4 stream addresses, in its order.
  static std::vector<SocketAddress> Lookup(const std::string& host, bool numericOnly);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;  // outlives this object while a thread still looks up
  QObject context_;                 // answers are delivered to it; none once it is gone
  std::unordered_map<int, SocketApi::LookupDone> dones_;  // the look-ups still wanted
  int nextId_ = 1;
};

}  // namespace ov
