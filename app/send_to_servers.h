#pragma once
// Send to Servers: one line, typed once, goes to each ticked Quake server as if typed into its console.
#include <string>
#include <vector>

#include "net/session.h"

namespace ov {

class StatusLine;
class Consoles;
class FrameSender;
class ServerFigures;

// A Quake server on the dialog's list.
struct SendTarget {
  int ovIndex = 0;
  ConnectionHandle connection;  // its OV server's when listed: a later one in the same slot is not it
  int serverId = 0;
  std::string title;     // the Quake server's title
  std::string ovServer;  // its OV server's name
  bool ticked = false;
  std::string figures;  // what it costs, as last heard; empty when not known
};

class SendToServers {
 public:
  SendToServers(const Sessions& sessions, StatusLine& status, Consoles& consoles, FrameSender& sender,
                ServerFigures& figures)
      : sessions_(sessions), status_(status), consoles_(consoles), sender_(sender), figures_(figures) {}

  // Every Quake server of every connected OV server, in the order of their slots (so never more than 20),
  // those of the OV server in slot selectedOv ticked.
  std::vector<SendTarget> Targets(int selectedOv) const;
  // The list is on screen: asks the targets' OV servers what each costs, when due.
  void AskFigures(const std::vector<SendTarget>& targets);
  // The targets' figures as now known, in their order.
  std::vector<std::string> FiguresOf(const std::vector<SendTarget>& targets) const;
  // Sends the line to every ticked target that is still there under its title, as Enter in its console
  // would, and shows it in the console's log. Returns how many it went to.
  int Send(const std::vector<SendTarget>& targets, const std::string& line);

 private:
  const Sessions& sessions_;
  StatusLine& status_;
  Consoles& consoles_;
  FrameSender& sender_;
  ServerFigures& figures_;
};

}  // namespace ov
