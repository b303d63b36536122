#include "app/recent_servers.h"

#include <algorithm>

#include "wire/payload.h"

namespace ov {

namespace {

bool SameServer(const Endpoint& a, const Endpoint& b) { return a.address == b.address && a.port == b.port; }

}  // namespace

void RecentServers::Remember(const Endpoint& where) {
  std::erase_if(entries_, [&](const Endpoint& e) { return SameServer(e, where); });
  entries_.insert(entries_.begin(), where);
  if (entries_.size() > kMaxEntries) entries_.resize(kMaxEntries);
}

void RecentServers::Load(const std::vector<Endpoint>& stored) {
  entries_.clear();
  for (const Endpoint& e : stored) {
    if (entries_.size() == kMaxEntries) break;
    if (e.address.empty() || e.port < 0 || e.port > 65535) continue;
    if (std::any_of(entries_.begin(), entries_.end(), [&](const Endpoint& k) { return SameServer(k, e); }))
      continue;
    entries_.push_back(e);
  }
}

Endpoint RecentServers::TargetFor(std::string_view text) const {
  Endpoint target;
  target.port = kDefaultPort;
  target.count = kDefaultCount;
  // [IPv6]:PORT keeps its brackets; a bare IPv6 address, with colons of its own, takes no port.
  size_t colon = text.rfind(':');
  if (text.starts_with('[')) {
    const size_t close = text.find(']');
    colon = close != std::string_view::npos && close + 1 < text.size() && text[close + 1] == ':'
                ? close + 1
                : std::string_view::npos;
  } else if (colon != std::string_view::npos && text.find(':') != colon) {
    colon = std::string_view::npos;
  }
  target.address = std::string(text.substr(0, colon));
  if (colon != std::string_view::npos) target.port = ParseInt(text.substr(colon + 1), 0);
  for (const Endpoint& e : entries_) {
    if (SameServer(e, target)) {
      target.count = e.count;
      break;
    }
  }
  return target;
}

}  // namespace ov
