#pragma once
#include <string>

namespace ov {

// Where a connection goes, as the user gave it: the OV server and its window keep it, so that servers of
// the same name can be told apart and a dead window can connect again.
struct Endpoint {
  std::string address;
  int port = 0;
  int count = 0;  // the connection time-out count
  // A bare IPv6 address shows in brackets, so that its port stands apart: [::1]:4044.
  std::string Text() const {
    const bool bare6 = address.find(':') != std::string::npos && !address.starts_with('[');
    return (bare6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
  }
  bool operator==(const Endpoint&) const = default;
};

}  // namespace ov
