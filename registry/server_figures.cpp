#include "registry/server_figures.h"

#include <map>

#include "net/event_loop.h"
#include "net/frame_sender.h"
#include "net/session.h"

namespace ov {

namespace {

// One connection's figures, and when they were last asked for or heard.
struct KeptFigures : SessionAttachment {
  std::map<int, msg::Figures::Server> byId;
  Clock::time_point lastAt;
  bool asked = false;
  bool waiting = false;  // asked, and no answer yet
};

std::string Uptime(int seconds) {
  const int minutes = seconds / 60, hours = minutes / 60, days = hours / 24;
  if (days > 0) return std::to_string(days) + " d " + std::to_string(hours % 24) + " h";
  if (hours > 0) return std::to_string(hours) + " h " + std::to_string(minutes % 60) + " min";
  if (minutes > 0) return std::to_string(minutes) + " min";
  return std::to_string(seconds) + " s";
}

}  // namespace

std::string DescribeFigures(const msg::Figures::Server& figures) {
  // Below 10 % a tenth still tells an idle server from a busy one.
  // Counted wide: a server may send any number an int holds, and rounding must not overflow it.
  const long long tenths = figures.cpuTenths;
  const std::string cpu = tenths < 100 ? std::to_string(tenths / 10) + "." + std::to_string(tenths % 10)
                                       : std::to_string((tenths + 5) / 10);
  return "CPU " + cpu + " %, " + std::to_string((figures.residentKiB + 512LL) / 1024) + " MiB, up " +
         Uptime(figures.uptimeSeconds);
}

void ServerFigures::Ask(int socket) {
  Session* session = sessions_.Find(socket);
  if (!session) return;
  KeptFigures& kept = session->Attached<KeptFigures>();
  const Clock::time_point now = loop_.Now();
  if (kept.waiting || (kept.asked && now - kept.lastAt < kAskEvery)) return;
  if (!sender_.Send(socket, msg::FiguresRequest{})) return;
  kept.asked = true;
  kept.waiting = true;
  kept.lastAt = now;
}

void ServerFigures::OnFigures(int socket, const msg::Figures& figures) {
  Session* session = sessions_.Find(socket);
  if (!session) return;
  KeptFigures& kept = session->Attached<KeptFigures>();
  kept.waiting = false;
  kept.lastAt = loop_.Now();  // figures this fresh are not asked for again
  // The answer names every server the OV server runs for us: one missing from it has ended.
  std::map<int, msg::Figures::Server> byId;
  for (const msg::Figures::Server& server : figures.servers) byId[server.id] = server;
  // The views redraw only for news: a server repeating itself costs them nothing.
  if (byId == kept.byId) return;
  kept.byId = std::move(byId);
  if (onChanged_) onChanged_();
}

void ServerFigures::Forget(int socket, int serverId) {
  if (Session* session = sessions_.Find(socket)) session->Attached<KeptFigures>().byId.erase(serverId);
}

std::optional<msg::Figures::Server> ServerFigures::Of(int socket, int serverId) const {
  Session* session = sessions_.Find(socket);
  if (!session) return std::nullopt;
  const KeptFigures& kept = session->Attached<KeptFigures>();
  const auto found = kept.byId.find(serverId);
  if (found == kept.byId.end()) return std::nullopt;
  return found->second;
}

std::string ServerFigures::Described(int socket, int serverId) const {
  const std::optional<msg::Figures::Server> figures = Of(socket, serverId);
  return figures ? DescribeFigures(*figures) : std::string();
}

}  // namespace ov
