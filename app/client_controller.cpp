#include "app/client_controller.h"

#include "app/send_to_servers.h"
#include "app/start_server.h"
#include "consoles/consoles.h"
#include "core/debug_log.h"
#include "core/desktop.h"
#include "core/status_line.h"
#include "net/connection.h"
#include "net/session.h"
#include "protocol/account_prompt.h"
#include "registry/registry_updates.h"
#include "registry/selection.h"
#include "registry/server_figures.h"

namespace ov {

void ClientController::FirstShown() { p_.selection.UpdateSelection(); }

void ClientController::ShowHint(const std::string& hint) { p_.status.ShowAppHint(hint); }

void ClientController::StatusTimerExpired() { p_.status.OnTimer(); }

void ClientController::Refused(const std::string& note) { p_.status.ShowStatus(note, 5000, 1); }

void ClientController::Connect(const std::string& address, int port, int count) {
  p_.connections.ConnectToServer(address, port, count);
}

void ClientController::OpenSelectedWindow() {
  // A node that belongs to no server opens nothing, nor does one a removal has only just selected.
  if (p_.selection.Kind() == SelectionKind::None || !MayAct()) return;
  const SelectedServer selected = p_.selection.Selected();
  p_.selection.OpenServerWindow(selected.ovIndex, selected.serverId, Opener::User);
}

void ClientController::DisconnectSelected() {
  if (MayAct()) p_.connections.Disconnect(p_.selection.Selected().ovIndex, 1);
}

bool ClientController::MayAct() {
  if (p_.selection.MayAct()) return true;
  p_.status.ShowStatus(kSelectionMovedNote, 5000, 0);
  return false;
}

void ClientController::KillSelected() {
  p_.desktop.MessageBox("not yet implemented - use QUIT in server consoles");
  p_.selection.UpdateSelection();
}

void ClientController::CleanupDeadWindows() { p_.selection.CleanupDeadWindows(); }

void ClientController::SelectionChanged() { p_.selection.UpdateSelection(); }

void ClientController::SetDoubleClickInterval(int ms) { p_.selection.SetDoubleClickInterval(ms); }

void ClientController::SetIntroducedHandler(std::function<void(const Endpoint& where)> onIntroduced) {
  if (!onIntroduced) {
    p_.registry.SetIntroducedHandler(nullptr);
    return;
  }
  p_.registry.SetIntroducedHandler([this, onIntroduced = std::move(onIntroduced)](int slot) {
    if (const Session* session = p_.sessions.AtSlot(slot)) onIntroduced(session->Where());
  });
}

void ClientController::SetDebugListener(std::function<void()> onAppend) {
  p_.debug.SetListener(std::move(onAppend));
}

void ClientController::SetLogKeeper(LogKeeper* keeper) { p_.consoles.SetLogKeeper(keeper); }

void ClientController::ShowNote(const std::string& note) { p_.status.ShowStatus(note, 10000, 1); }

void ClientController::LineEntered(Console& window, const std::string& line) {
  p_.consoles.SendLine(window, line);
}

void ClientController::WindowClosing(Console& window) { p_.consoles.CloseWindow(window); }

void ClientController::Reconnect(const Endpoint& where) { p_.connections.Reconnect(where); }

std::optional<PlayersSource> ClientController::PlayersSourceOf(const Console& window) const {
  const std::shared_ptr<Session> session = window.connection.Lock();
  if (session == nullptr) return std::nullopt;
  const std::optional<GameServerView> game = p_.sessions.Game(session->Slot(), window.ServerId);
  if (!game) return PlayersSource{session->Where(), std::string(), 0};
  return PlayersSource{session->Where(), game->title, game->gamePort};
}

int ClientController::TreeNodeOf(const Console& window) const {
  const std::optional<GameServerView> game = p_.sessions.Game(window.OVIndex(), window.ServerId);
  return game ? game->treeNode : 0;
}

void ClientController::SetFiguresHandler(std::function<void()> onFigures) {
  p_.figures.SetChangedHandler(std::move(onFigures));
}

std::string ClientController::NodeFigures(int node) {
  if (node == 0) return {};
  for (const GameServerView& q : p_.sessions.Games()) {
    if (q.treeNode != node) continue;
    const std::shared_ptr<Session> ov = q.connection.Lock();
    if (ov == nullptr) return {};
    p_.figures.Ask(ov->Socket());
    return p_.figures.Described(ov->Socket(), q.serverId);
  }
  return {};
}

void ClientController::Kick(Console& window, const std::string& line) {
  if (!window.IsDead()) p_.consoles.AppendLine(window, line);
}

void ClientController::LoginAnswered() { p_.prompts.Answer(); }

void ClientController::LoginCancelled() { p_.prompts.Cancel(); }

void ClientController::LoginDismissed() { p_.prompts.Dismiss(); }

std::vector<std::string> ClientController::StartHosts() { return p_.start.RefillHosts(); }

int ClientController::StartPreselectedLine() const {
  const bool any = p_.selection.Kind() != SelectionKind::None;
  return p_.start.PreselectedLine(any ? p_.selection.Selected().ovIndex : 0);
}

std::vector<std::string> ClientController::StartTypes(int hostLine) const {
  return p_.start.TypesForHost(hostLine);
}

int ClientController::StartGo(int hostLine, int typeLine, const std::string& typeText,
                              const std::string& title, const std::string& commandLine) {
  return p_.start.Go(hostLine, typeLine, typeText, title, commandLine);
}

std::vector<SendTarget> ClientController::SendTargets() {
  const bool selected = p_.selection.Kind() != SelectionKind::None;
  std::vector<SendTarget> targets = p_.sendTo.Targets(selected ? p_.selection.Selected().ovIndex : -1);
  p_.sendTo.AskFigures(targets);
  return targets;
}

std::vector<std::string> ClientController::SendFigures(const std::vector<SendTarget>& targets) const {
  return p_.sendTo.FiguresOf(targets);
}

void ClientController::SendToServers(const std::vector<SendTarget>& targets, const std::string& line) {
  p_.sendTo.Send(targets, line);
}

}  // namespace ov
