#pragma once
// The composition root: owns the tables and every service of the client, gives each the parts it uses and
// connects the handlers through which lower layers hand things upwards. One per program run (and one per
// test).
#include <string>

#include "app/start_server.h"
#include "consoles/consoles.h"
#include "consoles/status_query.h"
#include "core/debug_log.h"
#include "core/desktop.h"
#include "core/server_tables.h"
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
#include "app/send_to_servers.h"
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

  // Start-up of the main window: sockets, tables, the debug switch, the key. False when the socket
  // library did not start (the program then ends).
  bool InitClient(const std::string& commandLine);
  void ShutdownClient();

  // "-DEBUG" anywhere in the command line, in any letter case.
  static bool HasDebugSwitch(const std::string& commandLine);

  SocketApi& sockets;
  EventLoop& loop;
  Desktop& desktop;
  ServersTreeView& tree;
  WindowSystem& windows;
  LoginDialogView& loginDialog;

  // Each service is declared after everything it is given, so it is built after them and destroyed
  // before them.
  ServerTables tables;
  StatusLine status;
  DebugLog debug;
  MessageCipher cipher;
  Sessions sessions;
  FrameSender sender;
  FrameReceiver receiver;
  Connections connections;
  Consoles consoles;
  StatusQueries statusQueries;  // the players panels' queries of the game servers
  Selection selection;
  Registry registry;
  AccountPrompts prompts;
  ControlDispatcher dispatch;
  StartServer start;
  SendToServers sendTo;  // Server > Send to Servers
};

}  // namespace ov
