#pragma once
// What the user asks of the client through the windows, one method per request. The Qt layer connects
// each signal of a widget to one of these and decides nothing itself, so every decision here runs on the
// fakes as well as on the desktop.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/endpoint.h"

namespace ov {

class AccountPrompts;
class Connections;
class Consoles;
class DebugLog;
class Desktop;
class LogKeeper;
class Registry;
class Selection;
class SendToServers;
class ServerFigures;
class Sessions;
class StartServer;
class StatusLine;
class Console;
struct SendTarget;

// Where a Quake server's players panel asks by default, and under which keys the user's choice is kept.
struct PlayersSource {
  Endpoint server;    // its OV server
  std::string title;  // the Quake server's title; empty once its OV server no longer lists it
  int gamePort = 0;   // the game port its OV server announced for it, 0 when none
};

class ClientController {
 public:
  struct Parts {
    const Sessions& sessions;
    Desktop& desktop;
    StatusLine& status;
    DebugLog& debug;
    Connections& connections;
    Consoles& consoles;
    Selection& selection;
    Registry& registry;
    AccountPrompts& prompts;
    StartServer& start;
    SendToServers& sendTo;
    ServerFigures& figures;
  };
  explicit ClientController(const Parts& parts) : p_(parts) {}

  // The main window and its commands.
  void FirstShown();
  void ShowHint(const std::string& hint);
  void StatusTimerExpired();
  void Refused(
      const std::string& note);  // a request refused (text beyond Latin-1, ...): the status line says why
  void Connect(const std::string& address, int port, int count);
  void OpenSelectedWindow();  // Open window, a double click or Enter in the servers window
  void DisconnectSelected();
  void KillSelected();
  void CleanupDeadWindows();
  void SelectionChanged();
  void SetDoubleClickInterval(int ms);
  // Told when an OV server names itself: it took the client in, with the login it asked for.
  void SetIntroducedHandler(std::function<void(const Endpoint& where)> onIntroduced);
  void SetDebugListener(std::function<void()> onAppend);
  void SetFiguresHandler(std::function<void()> onFigures);  // an OV server told what its servers cost
  void SetLogKeeper(LogKeeper* keeper);
  void ShowNote(const std::string& note);  // a note of the kept logs or the log folder, for 10 s

  // A console window.
  void LineEntered(Console& window, const std::string& line);
  void WindowClosing(Console& window);
  void Reconnect(const Endpoint& where);
  std::optional<PlayersSource> PlayersSourceOf(const Console& window) const;
  int TreeNodeOf(const Console& window) const;  // the node of the window's Quake server, or 0
  // A tree node's tooltip is about to show: what its Quake server costs, as last heard (empty for none
  // and for other nodes); its OV server is asked again when due.
  std::string NodeFigures(int node);
  void Kick(Console& window, const std::string& line);

  // The login dialog.
  void LoginAnswered();
  void LoginCancelled();
  void LoginDismissed();

  // Server > Start Server and Server > Send to Servers.
  std::vector<std::string> StartHosts();
  int StartPreselectedLine() const;  // the host line the Start dialog opens on, -1 for none
  std::vector<std::string> StartTypes(int hostLine) const;
  int StartGo(int hostLine, int typeLine, const std::string& typeText, const std::string& title,
              const std::string& commandLine);
  // Those of the selected OV server ticked; their OV servers are asked what each costs.
  std::vector<SendTarget> SendTargets();
  std::vector<std::string> SendFigures(const std::vector<SendTarget>& targets) const;
  void SendToServers(const std::vector<SendTarget>& targets, const std::string& line);

 private:
  bool MayAct();  // false, and the user told, while a removal has only just moved the selection

  Parts p_;
};

}  // namespace ov
