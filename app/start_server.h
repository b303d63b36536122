#pragma once
// The start-server dialog's rules: the host list, the type list and the start request (26).
#include <array>
#include <string>
#include <vector>

#include "net/session.h"

namespace ov {

class StatusLine;
class FrameSender;

// The payload of msg::StartServer (type, 0x80, [title, 0x80,] command line); empty when a field cannot
// travel.
std::string BuildStartPayload(const std::string& type, const std::string& title,
                              const std::string& commandLine);

class StartServer {
 public:
  StartServer(const Sessions& sessions, StatusLine& status, FrameSender& sender)
      : sessions_(sessions), status_(status), sender_(sender) {}

  // Rebuilds HostSlots; the names of the OV servers in use, one per line of the host list.
  std::vector<std::string> RefillHosts();
  // The line the list opens on: the OV server of the selection (0 for none), else the only one; -1 when
  // the user must choose.
  int PreselectedLine(int selectedSlot) const;
  // cbHostsChange: the non-empty types of the host on that line as they show (the first is then
  // selected).
  std::vector<std::string> TypesForHost(int hostLine) const;
  // Start: hostLine/typeLine -1 when nothing is selected, typeText the type's line as shown. The
  // dialog's result: 1 sent, -1 refused.
  int Go(int hostLine, int typeLine, const std::string& typeText, const std::string& title,
         const std::string& commandLine);
  const std::array<int, kSlotCount>& HostSlots() const { return hostSlots_; }

 private:
  const Sessions& sessions_;
  StatusLine& status_;
  FrameSender& sender_;
  std::array<int, kSlotCount> hostSlots_{};
  std::array<ConnectionHandle, kSlotCount> hosts_{};  // the connection each line stood for when listed
};

}  // namespace ov
