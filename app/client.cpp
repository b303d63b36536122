#include "app/client.h"

#include <algorithm>
#include <cctype>

namespace ov {

Client::Client(const Platform& p)
    : loop_(p.loop),
      status_(p.desktop),
      sender_(p.sockets, sessions_, status_, debug_, cipher_),
      receiver_(p.sockets, p.loop, sessions_, status_, debug_),
      connections_(p.sockets, p.loop, p.desktop, status_, debug_, sessions_, sender_),
      consoles_(sessions_, status_, sender_, p.windows),
      statusQueries_(p.sockets, p.loop),
      selection_(sessions_, p.loop, p.desktop, p.tree, consoles_, sender_),
      registry_(sessions_, status_, sender_, p.tree, selection_, consoles_),
      prompts_(p.loop, sessions_, status_, debug_, sender_, p.loginDialog, connections_, consoles_),
      figures_(sessions_, sender_, p.loop),
      dispatch_(p.desktop, status_, debug_, cipher_, sender_, prompts_, registry_, figures_),
      start_(sessions_, status_, sender_),
      sendTo_(sessions_, status_, consoles_, sender_, figures_),
      controller_({sessions_, p.desktop, status_, debug_, connections_, consoles_, selection_, registry_,
                   prompts_, start_, sendTo_, figures_}) {
  // Upwards, each layer hands on through a handler: the socket's events to the frames, the frames to the
  // dispatcher and the consoles, an ended connection's servers to the tree and the windows.
  connections_.SetHandlers([this](int socket) { receiver_.ReceiveFrames(socket); },
                           [this](int, OVIrec& ended, const std::string& endLine) {
                             registry_.RemoveOVServer(ended, endLine);
                             selection_.UpdateSelection();
                           },
                           [this](int slot) { registry_.OnConnectionOpened(slot); });
  connections_.SetCloseGate([this](int socket, std::function<void()> close) {
    return receiver_.CloseAfterFrames(socket, std::move(close));
  });
  receiver_.SetHandlers([this](int socket, int n,
                               const std::string& payload) { dispatch_.DispatchControl(socket, n, payload); },
                        [this](int socket, int serverId, std::string_view text) {
                          consoles_.RouteConsoleText(socket, serverId, text);
                        });
  sender_.SetStalledHandler([this](int socket) {
    if (const Session* connection = sessions_.Find(socket)) connections_.Disconnect(connection->Slot(), 1);
  });
}

bool Client::HasDebugSwitch(const std::string& commandLine) {
  std::string upper = commandLine;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper.find("-DEBUG") != std::string::npos;
}

bool Client::InitClient(const std::string& commandLine) {
  if (!connections_.InitSockets()) return false;
  debug_.SetDebugMode(HasDebugSwitch(commandLine) ? 1 : 0);
  cipher_.BuildMessageKey();
  return true;
}

void Client::ShutdownClient() { connections_.ShutdownSockets(); }

}  // namespace ov
