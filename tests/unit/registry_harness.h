#pragma once
// What the registry's tests share: messages from an OV server on the wire, and the frames sent back.
#include <gtest/gtest.h>

#include "net/server_record.h"
#include "tests/common/fakes.h"

namespace ov::test {

inline const std::string kSep(1, '\x80');

// A message from the OV server, handled as one read.
inline void Message(TestClient& t, int socket, int n, const std::string& payload) {
  t.Receive(socket, FrameOf(std::to_string(1000 + n), payload));
}

// The frames sent on a socket since the last call, as "code payload".
inline std::vector<std::string> Sent(TestClient& t, int socket) {
  std::vector<std::string> out;
  for (const Frame& f : t.SentFrames(socket)) out.push_back(f.code + " " + f.payload);
  t.sockets.sockets.at(socket).sent.clear();
  return out;
}

// A connection whose OV server has introduced itself, made after `taken` other connections.
struct Named {
  TestClient t;
  int slot;
  int socket;
  explicit Named(const std::string& name = "Alpha", int taken = 0)
      : slot(ConnectAfter(t, taken)), socket(t.Socket(slot)) {
    Message(t, socket, 21, "info" + kSep + name);
    Sent(t, socket);
    t.desktop.Clear();
  }
  static int ConnectAfter(TestClient& t, int taken) {
    for (int i = 0; i < taken; ++i) t.Connect();
    return t.Connect();
  }
  const OVIrec& ov() const { return t.client.Sessions().AtSlot(slot)->Server(); }
  const QSIrec& q(int id) const { return *ov().FindQServer(id); }
  // Announces and describes a Quake server: 27, then 25 with the given fields after the id.
  void Quake(int id, const std::string& fields) {
    Message(t, socket, 27, std::to_string(id));
    Message(t, socket, 25, std::to_string(id) + kSep + fields);
  }
};

}  // namespace ov::test
