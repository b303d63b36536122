#include "consoles/status_query.h"

#include <cstring>
#include <random>

namespace ov {

namespace {

// The same host, whatever interface an IPv6 answer names.
bool SameHost(const SocketAddress& a, const SocketAddress& b) { return a.v6 == b.v6 && a.bytes == b.bytes; }

std::string ChallengeText(uint64_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(16, '0');
  for (char& c : text) {
    c = kDigits[value & 15];
    value >>= 4;
  }
  return text;
}

}  // namespace

StatusQuery::StatusQuery(SocketApi& sockets, EventLoop& loop, Random random)
    : sockets_(sockets),
      loop_(loop),
      random_(std::move(random)),
      alive_(std::make_shared<StatusQuery*>(this)) {
  if (random_) return;
  // Unguessable from outside: a spoofer who cannot see the query cannot echo its challenge.
  random_ = [device = std::make_shared<std::random_device>()] {
    return uint64_t{(*device)()} << 32 | (*device)();
  };
}

StatusQuery::~StatusQuery() {
  *alive_ = nullptr;
  changed_ = nullptr;
  Stop();
}

void StatusQuery::SetTarget(const StatusTarget& target) {
  if (target == target_) return;
  target_ = target;
  if (!started_) return;
  Stop();
  Start();
}

void StatusQuery::Start() {
  if (started_ || ended_) return;
  started_ = true;
  ++round_;
  challenge_.clear();
  address_.reset();
  port_ = Htons(static_cast<uint16_t>(target_.port));
  Resolve();
  Schedule();
}

void StatusQuery::Schedule() {
  std::weak_ptr<StatusQuery*> alive = alive_;
  loop_.After(kRefreshMs, [alive, round = round_] {
    if (const auto self = alive.lock(); self && *self) (*self)->Tick(round);
  });
}

void StatusQuery::Stop() {
  if (!started_) return;
  started_ = false;
  ++round_;  // the tick under way finds itself out of date
  if (lookup_ != -1) sockets_.CancelLookup(lookup_);
  lookup_ = -1;
  if (socket_ != -1) sockets_.CloseSocket(socket_);
  socket_ = -1;
  challenge_.clear();
  Show(Shown::Nothing);
}

void StatusQuery::End() {
  Stop();
  ended_ = true;
}

void StatusQuery::Resolve() {
  // A dotted address is used as it is; a name or an IPv6 address is looked up away from the window.
  const AddressParts parts = ClassifyAddress(target_.host);
  if (parts.form == AddressForm::Dotted) {
    SocketAddress v4;
    const uint32_t address = InetAddr(target_.host);
    std::memcpy(v4.bytes.data(), &address, sizeof address);
    Resolved({v4});
    return;
  }
  if (parts.form == AddressForm::Refused || lookup_ != -1) return;
  std::weak_ptr<StatusQuery*> alive = alive_;
  const uint64_t round = round_;
  lookup_ = sockets_.AsyncGetHostByName(parts.lookup, parts.form == AddressForm::Ipv6,
                                        [alive, round](std::vector<SocketAddress> found) {
                                          const auto self = alive.lock();
                                          if (!self || !*self || (*self)->round_ != round) return;
                                          (*self)->lookup_ = -1;
                                          (*self)->Resolved(found);
                                        });
}

void StatusQuery::Resolved(const std::vector<SocketAddress>& found) {
  // A name's IPv4 address first: every machine can send over IPv4.
  const SocketAddress* chosen = found.empty() ? nullptr : &found.front();
  for (const SocketAddress& a : found) {
    if (!a.v6) {
      chosen = &a;
      break;
    }
  }
  if (!chosen) return;  // no address: the next tick says "no answer"
  address_ = *chosen;
  std::weak_ptr<StatusQuery*> alive = alive_;
  socket_ = sockets_.OpenDatagram(address_->v6, [alive] {
    if (const auto self = alive.lock(); self && *self) (*self)->Read();
  });
  if (socket_ == -1) {
    address_.reset();  // tried again at the next tick
    return;
  }
  Ask();
}

void StatusQuery::Tick(uint64_t round) {
  if (!started_ || round != round_) return;
  // The last query was not answered in time, or the host is not known yet: nothing shown holds now.
  if (!challenge_.empty() || !address_) Show(Shown::NoAnswer);
  if (address_) {
    Ask();
  } else {
    Resolve();
  }
  Schedule();
}

void StatusQuery::Ask() {
  if (socket_ == -1 || !address_) return;
  challenge_ = ChallengeText(random_());
  const std::string request = StatusRequest(challenge_);
  sockets_.SendTo(socket_, request.data(), static_cast<int>(request.size()), *address_, port_);
}

void StatusQuery::Read() {
  // Every datagram waiting is read and dropped unless it comes from where the query went and echoes
  // its challenge: one answer per query, however many come. A flood is read a batch at a time.
  static thread_local std::string buffer(kMaxStatusPacket + 1, '\0');
  for (int read = 0; read < kReadsAtOnce && socket_ != -1; ++read) {
    SocketAddress from;
    uint16_t port = 0;
    const int got = sockets_.RecvFrom(socket_, buffer.data(), static_cast<int>(buffer.size()), from, port);
    if (got < 0) return;
    if (challenge_.empty() || !address_ || port != port_ || !SameHost(from, *address_) ||
        static_cast<size_t>(got) > kMaxStatusPacket)
      continue;
    std::optional<ServerStatus> status = ParseStatusResponse(std::string_view(buffer.data(), size_t(got)));
    if (!status || status->challenge != challenge_) continue;
    challenge_.clear();
    status_ = std::move(*status);
    history_.Record(loop_.Now(), status_.playerCount);
    Show(Shown::Answer);
  }
}

void StatusQuery::Show(Shown shown) {
  shown_ = shown;
  if (shown != Shown::Answer) status_ = {};
  if (changed_) changed_();
}

StatusQueries::StatusQueries(SocketApi& sockets, EventLoop& loop, StatusQuery::Random random)
    : sockets_(sockets), loop_(loop), random_(std::move(random)) {}

std::unique_ptr<StatusQuery> StatusQueries::Open() {
  return std::make_unique<StatusQuery>(sockets_, loop_, random_);
}

}  // namespace ov
