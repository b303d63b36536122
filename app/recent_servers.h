#pragma once
// The servers last connected to, newest first, which the connect dialog offers and a connection named on
// the command line takes its time-out count from. Kept between runs by the front end.
#include <string>
#include <string_view>
#include <vector>

#include "core/endpoint.h"

namespace ov {

constexpr int kDefaultPort = 4044;  // the connect dialog's first-use port
constexpr int kDefaultCount = 10;   // and time-out count

class RecentServers {
 public:
  static constexpr size_t kMaxEntries = 10;

  // A connection was made: it goes to the front, replacing an entry for the same address and port.
  void Remember(const Endpoint& where);
  // What was kept: entries that could not have been connected to are passed over, and so are repeats
  // and whatever lies beyond kMaxEntries.
  void Load(const std::vector<Endpoint>& stored);
  const std::vector<Endpoint>& Entries() const { return entries_; }

  // "ADDRESS[:PORT]" as the connect dialog would take it: the port as its field reads it (4044 when
  // not given), the time-out count of the recent entry for that address and port, else 10.
  Endpoint TargetFor(std::string_view text) const;

 private:
  std::vector<Endpoint> entries_;
};

}  // namespace ov
