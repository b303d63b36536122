#include "ui/client.h"

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
      connections(*this),
      frames(*this),
      dispatch(*this),
      prompts(*this),
      registry(*this),
      selection(*this),
      consoles(*this),
      start(*this) {}

bool Client::HasDebugSwitch(const std::string& commandLine) {
  std::string upper = commandLine;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper.find("-DEBUG") != std::string::npos;
}

bool Client::InitClient(const std::string& commandLine) {
  if (!connections.InitSockets()) return false;
  tables.InitTables();
  DebugMode = HasDebugSwitch(commandLine) ? 1 : 0;
  cipher.BuildMessageKey();
  return true;
}

void Client::ShutdownClient() { connections.ShutdownSockets(); }

}  // namespace ov
