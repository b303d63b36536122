#pragma once
// Host names looked up with getaddrinfo on a thread of their own, one per look-up, so that a slow
// name service never holds up the window. Answers come back through the Qt event loop; a cancelled
// look-up's answer, and any that comes once this object is gone, is dropped.
#include <QObject>
#include <memory>
#include <set>
#include <string>

#include "net/socket_api.h"

namespace ov {

class HostLookups {
 public:
  HostLookups();
  ~HostLookups();
  HostLookups(const HostLookups&) = delete;
  HostLookups& operator=(const HostLookups&) = delete;

  int Start(const std::string& host, bool numericOnly, SocketApi::LookupDone done);
  void Cancel(int id) { pending_.erase(id); }

  // getaddrinfo's answer as the connection layer takes it: IPv6 and IPv4 stream addresses, in its order.
  static std::vector<SocketAddress> Lookup(const std::string& host, bool numericOnly);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;  // outlives this object while a thread still looks up
  QObject context_;                 // answers are delivered to it; none once it is gone
  std::set<int> pending_;
  int nextId_ = 1;
};

}  // namespace ov
