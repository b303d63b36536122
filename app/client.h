#pragma once
// The composition root: owns the connections and every service of the client, gives each the parts it uses
// and connects the handlers through which lower layers hand things upwards. One per program run (and one per
// test).
#include <string>

#include "app/client_controller.h"
#include "app/send_to_servers.h"
#include "app/start_server.h"
#include "consoles/consoles.h"
#include "consoles/status_query.h"
#include "core/debug_log.h"
#include "core/desktop.h"
#include "core/status_line.h"
#include "net/connection.h"
#include "net/event_loop.h"
#include "net/frame_receiver.h"
#include "net/frame_sender.h"
#include "net/session.h"
#include "net/socket_api.h"
#include "protocol/account_prompt.h"
#include "protocol/control_dispatch.h"
#include "registry/registry_updates.h"
#include "registry/selection.h"
#include "registry/server_figures.h"
#include "wire/cipher.h"

namespace ov {

struct Platform {
  SocketApi& sockets;
  EventLoop& loop;
  Desktop& desktop;
  ServersTreeView& tree;
  WindowSystem& windows;
  LoginDialogView& loginDialog;
};

class Client {
 public:
  explicit Client(const Platform& platform);
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Start-up of the main window: sockets, the debug switch, the key. False when the socket
  // library did not start (the program then ends).
  bool InitClient(const std::string& commandLine);
  void ShutdownClient();

  // "-DEBUG" anywhere in the command line, in any letter case.
  static bool HasDebugSwitch(const std::string& commandLine);

  // The client's parts, for the Qt layer and the tests. The widgets' requests go to Controller().
  ClientController& Controller() { return controller_; }
  EventLoop& Loop() { return loop_; }
  StatusLine& Status() { return status_; }
  DebugLog& Debug() { return debug_; }
  const DebugLog& Debug() const { return debug_; }
  MessageCipher& Cipher() { return cipher_; }
  ov::Sessions& Sessions() { return sessions_; }
  const ov::Sessions& Sessions() const { return sessions_; }
  FrameSender& Sender() { return sender_; }
  FrameReceiver& Receiver() { return receiver_; }
  ov::Connections& Connections() { return connections_; }
  ov::Consoles& Consoles() { return consoles_; }
  ov::StatusQueries& StatusQueries() { return statusQueries_; }
  ov::Selection& Selection() { return selection_; }
  ov::Registry& Registry() { return registry_; }
  ServerFigures& Figures() { return figures_; }
  AccountPrompts& Prompts() { return prompts_; }
  ControlDispatcher& Dispatch() { return dispatch_; }
  StartServer& Start() { return start_; }
  SendToServers& SendTo() { return sendTo_; }

 private:
  // Each service is declared after everything it is given, so it is built after them and destroyed
  // before them.
  EventLoop& loop_;
  StatusLine status_;
  DebugLog debug_;
  MessageCipher cipher_;
  ov::Sessions sessions_;
  FrameSender sender_;
  FrameReceiver receiver_;
  ov::Connections connections_;
  ov::Consoles consoles_;
  ov::StatusQueries statusQueries_;  // the players panels' queries of the game servers
  ov::Selection selection_;
  ov::Registry registry_;
  ServerFigures figures_;  // what each Quake server costs, asked for while someone looks
  AccountPrompts prompts_;
  ControlDispatcher dispatch_;
  StartServer start_;
  SendToServers sendTo_;  // Server > Send to Servers
  ClientController controller_;
};

}  // namespace ov
