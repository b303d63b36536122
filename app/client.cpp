#include "app/client.h"

#include <algorithm>
#include <cctype>

namespace ov {

Client::Client(const Platform& p)
    : sockets(p.sockets),
      loop(p.loop),
      desktop(p.desktop),
      tree(p.tree),
      windows(p.windows),
      loginDialog(p.loginDialog),
      status(p.desktop),
      sender(p.sockets, sessions, tables, status, debug, cipher),
      receiver(p.sockets, p.loop, sessions, status, debug),
      connections(p.sockets, p.loop, p.desktop, tables, status, debug, sessions, sender),
      consoles(tables, status, sender, p.windows),
      statusQueries(p.sockets, p.loop),
      selection(tables, p.loop, p.desktop, p.tree, consoles, sender),
      registry(tables, status, sender, p.tree, selection, consoles),
      prompts(p.loop, sessions, tables, status, debug, sender, p.loginDialog, connections, consoles),
      dispatch(p.desktop, status, debug, cipher, sender, prompts, registry),
      start(tables, status, sender),
      sendTo(tables, status, consoles, sender) {
  // Upwards, each layer hands on through a handler: the socket's events to the frames, the frames to the
  // dispatcher and the consoles, a closed connection to the tables and the tree.
  connections.SetHandlers([this](int socket) { receiver.ReceiveFrames(socket); },
                          [this](int slot, const std::string& endLine) {
                            registry.RemoveOVServer(slot, endLine);
                            selection.UpdateSelection();
                          },
                          [this](int slot) { registry.OnConnectionOpened(slot); });
  connections.SetCloseGate([this](int socket, std::function<void()> close) {
    return receiver.CloseAfterFrames(socket, std::move(close));
  });
  receiver.SetHandlers(
      [this](int socket, int n, const std::string& payload) { dispatch.DispatchControl(socket, n, payload); },
      [this](int socket, int serverId, std::string_view text) {
        consoles.RouteConsoleText(socket, serverId, text);
      });
  sender.SetStalledHandler([this](int socket) { connections.Disconnect(tables.LiveSlot(socket), 1); });
}

bool Client::HasDebugSwitch(const std::string& commandLine) {
  std::string upper = commandLine;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper.find("-DEBUG") != std::string::npos;
}

bool Client::InitClient(const std::string& commandLine) {
  if (!connections.InitSockets()) return false;
  tables.InitTables();
  debug.SetDebugMode(HasDebugSwitch(commandLine) ? 1 : 0);
  cipher.BuildMessageKey();
  return true;
}

void Client::ShutdownClient() { connections.ShutdownSockets(); }

}  // namespace ov
