#include "app/send_to_servers.h"

#include "consoles/consoles.h"
#include "core/server_tables.h"
#include "core/status_line.h"
#include "net/frame_sender.h"
#include "registry/server_figures.h"

namespace ov {

std::vector<SendTarget> SendToServers::Targets(int selectedOv) const {
  std::vector<SendTarget> targets;
  for (const QSIrec& q : tables_.QServers) {
    if (q.InUse != 1 || q.OVIndex < 1 || q.OVIndex >= kSlotCount) continue;
    const OVIrec& ov = tables_.OVServers[q.OVIndex];
    if (ov.InUse != 1) continue;
    targets.push_back({q.OVIndex, ov.Socket, q.ServerId, q.Title, ov.Name, q.OVIndex == selectedOv,
                       figures_.Described(ov.Socket, q.ServerId)});
  }
  return targets;
}

void SendToServers::AskFigures(const std::vector<SendTarget>& targets) {
  for (const SendTarget& target : targets) figures_.Ask(target.socket);
}

std::vector<std::string> SendToServers::FiguresOf(const std::vector<SendTarget>& targets) const {
  std::vector<std::string> figures;
  for (const SendTarget& target : targets)
    figures.push_back(figures_.Described(target.socket, target.serverId));
  return figures;
}

int SendToServers::Send(const std::vector<SendTarget>& targets, const std::string& line) {
  int sent = 0;
  int refused = 0;
  for (const SendTarget& target : targets) {
    if (!target.ticked || tables_.LiveSlot(target.socket) != target.ovIndex) continue;
    // A server removed while the list showed may come back under its id as another: the title ticked
    // must still be its title.
    const int q = tables_.FindQServer(target.ovIndex, target.serverId);
    if (q == -1 || tables_.QServers[q].InUse != 1 || tables_.QServers[q].Title != target.title) continue;
    // Its console may have been closed: the line still reaches the server, with no window to show it in.
    Console* window = tables_.QServers[q].Window;
    if (!(window ? consoles_.SendLine(*window, line)
                 : sender_.SendConsole(target.ovIndex, target.serverId, line))) {
      ++refused;
      continue;
    }
    if (window) consoles_.AppendLine(*window, "> " + line);
    ++sent;
  }
  if (sent == 0 && refused > 0) return 0;  // the frame layer's note says why
  if (sent == 0) {
    status_.ShowStatus("Not sent - no ticked server is still there", 5000, 1);
  } else {
    status_.ShowStatus("Sent to " + std::to_string(sent) + (sent == 1 ? " server" : " servers"), 5000, 0);
  }
  return sent;
}

}  // namespace ov
