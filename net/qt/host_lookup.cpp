#include "net/qt/host_lookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QMetaObject>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace ov {

struct HostLookups::Shared {
  struct Job {
    int id;
    std::string host;
    bool numericOnly;
  };
  Resolver resolver;
  std::mutex mutex;
  std::condition_variable wake;
  QObject* context = nullptr;  // cleared when the owner goes: the threads then post nothing and end
  std::deque<Job> waiting;
  int threads = 0;
  int idle = 0;
  std::function<void(int, std::vector<SocketAddress>)> deliver;  // runs on the UI thread

  void Work(std::shared_ptr<Shared> self);
};

void HostLookups::Shared::Work(std::shared_ptr<Shared> self) {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    ++idle;
    wake.wait(lock, [&] { return context == nullptr || !waiting.empty(); });
    --idle;
    if (context == nullptr) break;
    Job job = std::move(waiting.front());
    waiting.pop_front();
    lock.unlock();
    std::vector<SocketAddress> found = resolver(job.host, job.numericOnly);
    lock.lock();
    if (context == nullptr) break;
    QMetaObject::invokeMethod(
        context,
        [self, id = job.id, found = std::move(found)]() mutable {
          if (self->deliver) self->deliver(id, std::move(found));
        },
        Qt::QueuedConnection);
  }
  --threads;
}

HostLookups::HostLookups(Resolver resolver) : shared_(std::make_shared<Shared>()) {
  shared_->resolver = std::move(resolver);
  shared_->context = &context_;
}

HostLookups::~HostLookups() {
  {
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->context = nullptr;
    shared_->waiting.clear();
  }
  shared_->wake.notify_all();
  // A thread inside getaddrinfo cannot be stopped: it ends on its own once the look-up returns.
  shared_->deliver = nullptr;
}

int HostLookups::Threads() const {
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->threads;
}

void HostLookups::Cancel(int id) {
  dones_.erase(id);
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  std::erase_if(shared_->waiting, [id](const Shared::Job& job) { return job.id == id; });
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
  if (!shared_->deliver) {
    // The answer is handed over on the UI thread, and only while the look-up is still wanted.
    shared_->deliver = [this](int id, std::vector<SocketAddress> found) {
      const auto it = dones_.find(id);
      if (it == dones_.end()) return;
      SocketApi::LookupDone run = std::move(it->second);
      dones_.erase(it);
      run(std::move(found));
    };
  }
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  if (shared_->waiting.size() >= kMaxWaiting) return -1;
  const int id = nextId_++;
  dones_[id] = std::move(done);
  shared_->waiting.push_back({id, host, numericOnly});
  if (shared_->idle == 0 && shared_->threads < kWorkers) {
    ++shared_->threads;
    std::thread([shared = shared_] { shared->Work(shared); }).detach();
  } else {
    shared_->wake.notify_one();
  }
  return id;
}

}  // namespace ov
