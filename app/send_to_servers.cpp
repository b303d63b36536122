#include "app/send_to_servers.h"

#include "consoles/consoles.h"
#include "core/status_line.h"
#include "net/frame_sender.h"
#include "registry/server_figures.h"

namespace ov {

std::vector<SendTarget> SendToServers::Targets(int selectedOv) const {
  std::vector<SendTarget> targets;
  for (GameServerView& q : sessions_.Games()) {
    const Session& ov = *sessions_.AtSlot(q.ovSlot);
    std::string figures = figures_.Described(ov.Socket(), q.serverId);
    targets.push_back({q.ovSlot, q.connection, q.serverId, std::move(q.title), ov.Name(),
                       q.ovSlot == selectedOv, std::move(figures)});
  }
  return targets;
}

void SendToServers::AskFigures(const std::vector<SendTarget>& targets) {
  for (const SendTarget& target : targets) {
    if (const std::shared_ptr<Session> ov = target.connection.Lock()) figures_.Ask(ov->Socket());
  }
}

std::vector<std::string> SendToServers::FiguresOf(const std::vector<SendTarget>& targets) const {
  std::vector<std::string> figures;
  for (const SendTarget& target : targets) {
    const std::shared_ptr<Session> ov = target.connection.Lock();
    figures.push_back(ov ? figures_.Described(ov->Socket(), target.serverId) : std::string());
  }
  return figures;
}

int SendToServers::Send(const std::vector<SendTarget>& targets, const std::string& line) {
  int sent = 0;
  int refused = 0;
  for (const SendTarget& target : targets) {
    if (!target.ticked || !target.connection.Lives()) continue;
    // A server removed while the list showed may come back under its id as another: the title ticked
    // must still be its title.
    const std::optional<GameServerView> q = sessions_.Game(target.ovIndex, target.serverId);
    if (!q || q->title != target.title) continue;
    // Its console may have been closed: the line still reaches the server, with no window to show it in.
    Console* window = q->window;
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
