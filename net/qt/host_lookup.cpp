#include "net/qt/host_lookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QMetaObject>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

namespace ov {

struct HostLookups::Shared {
  std::mutex mutex;
  QObject* context = nullptr;  // cleared when the owner goes: a late thread then posts nothing
};

HostLookups::HostLookups() : shared_(std::make_shared<Shared>()) { shared_->context = &context_; }

HostLookups::~HostLookups() {
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->context = nullptr;
}

std::vector<SocketAddress> HostLookups::Lookup(const std::string& host, bool numericOnly) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG | (numericOnly ? AI_NUMERICHOST : 0);
  addrinfo* list = nullptr;
  int error = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
  if (error != 0 && error != EAI_AGAIN) {
    // AI_ADDRCONFIG counts no loopback address: on a machine whose only addresses are the loopback
    // ones it finds neither localhost nor ::1. Asked again without it, they are found as given.
    hints.ai_flags &= ~AI_ADDRCONFIG;
    error = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
  }
  std::vector<SocketAddress> found;
  if (error != 0) return found;
  for (const addrinfo* a = list; a != nullptr && found.size() < 16; a = a->ai_next) {
    SocketAddress address;
    if (a->ai_family == AF_INET6 && a->ai_addrlen >= sizeof(sockaddr_in6)) {
      const auto* in6 = reinterpret_cast<const sockaddr_in6*>(a->ai_addr);
      address.v6 = true;
      std::memcpy(address.bytes.data(), &in6->sin6_addr, 16);
      address.scopeId = in6->sin6_scope_id;
    } else if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
      const auto* in4 = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
      std::memcpy(address.bytes.data(), &in4->sin_addr, 4);
    } else {
      continue;
    }
    if (std::find(found.begin(), found.end(), address) == found.end()) found.push_back(address);
  }
  ::freeaddrinfo(list);
  return found;
}

int HostLookups::Start(const std::string& host, bool numericOnly, SocketApi::LookupDone done) {
  const int id = nextId_++;
  pending_.insert(id);
  // The answer is handed over on the UI thread, and only while the look-up is still wanted.
  auto deliver = [this, id, done = std::move(done)](std::vector<SocketAddress> found) {
    if (pending_.erase(id) == 0) return;
    done(std::move(found));
  };
  std::thread([shared = shared_, host, numericOnly, deliver = std::move(deliver)]() mutable {
    std::vector<SocketAddress> found = Lookup(host, numericOnly);
    const std::lock_guard<std::mutex> lock(shared->mutex);
    if (shared->context == nullptr) return;
    QMetaObject::invokeMethod(
        shared->context,
        [deliver = std::move(deliver), found = std::move(found)]() mutable { deliver(std::move(found)); },
        Qt::QueuedConnection);
  }).detach();
  return id;
}

}  // namespace ov
