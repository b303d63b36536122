// ovserver: the reference OV server. Serves the Orvane client's protocol and runs game servers.
#include <sys/socket.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>
#include <csignal>
#include <iostream>
#include <memory>

#include "ovserver/accounts.h"
#include "ovserver/log.h"
#include "ovserver/ov_server.h"
#include "ovserver/server_config.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}

// Creates an account with the password read from the first line of standard input.
int AddUser(ovs::AccountStore& accounts, const std::string& name, bool admin) {
  std::string password;
  std::getline(std::cin, password);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  if (password.size() > 16) std::cerr << "ovserver: only the first 16 characters of the password count\n";
  std::string error;
  const ovs::AccountStore::Outcome outcome = accounts.Add(name, password, admin, error);
  if (outcome != ovs::AccountStore::Outcome::Done) {
    std::cerr << "ovserver: cannot add " << name << ": " << ovs::OutcomeText(outcome)
              << (error.empty() ? "" : " (" + error + ")") << "\n";
    return 1;
  }
  std::cerr << "ovserver: added " << (admin ? "administrator " : "") << name << " to " << accounts.Path()
            << "\n";
  return 0;
}

// SIGINT, SIGTERM and SIGHUP (what closing the terminal sends) end the event loop, and with it every
// game server; null when they cannot be caught.
std::unique_ptr<QSocketNotifier> CatchStopSignals(QCoreApplication& app) {
  // Close-on-exec, as every descriptor of this process: a game server that inherited this pair could
  // stop the OV server with one byte.
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return nullptr;
  auto notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, &app, [&app] {
    char byte;
    [[maybe_unused]] const ssize_t got = read(signalPipe[0], &byte, 1);
    ovs::Log("stopping");
    app.quit();
  });
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGHUP, OnSignal);
  std::signal(SIGPIPE, SIG_IGN);
  return notifier;
}

// What the server runs with, and what it lacks.
void LogStartup(const std::vector<std::string>& notes, const ovs::ServerConfig& config,
                const ovs::AccountStore& accounts) {
  for (const std::string& note : notes) ovs::Log(note);
  for (const ovs::ServerType& type : config.types)
    ovs::Log("server type \"" + type.name + "\": " + type.executable);
  if (config.types.empty()) ovs::Log("warning: no server types configured: clients can start no game server");
  if (accounts.Size() == 0)
    ovs::Log("no accounts in " + accounts.Path() + ": nobody can log in (add one with --add-user NAME)");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("ovserver");
  QCoreApplication::setApplicationVersion(OV_VERSION);
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "The Orvane reference OV server: administers game servers for the client.");
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption configOption("config", "Server types and limits.", "file");
  const QCommandLineOption accountsOption("accounts", "The accounts file.", "file", "ovserver.accounts");
  const QCommandLineOption listenOption(
      "listen", "Address to listen on; give it again for more (:: is IPv6 only: add 0.0.0.0 for IPv4).",
      "address", "127.0.0.1");
  const QCommandLineOption schedulesOption(
      "schedules", "The schedules file (the accounts file's name with .schedules after it).", "file");
  const QCommandLineOption portOption("port", "TCP port.", "port", "4044");
  const QCommandLineOption addUserOption("add-user", "Add an account (password on standard input) and exit.",
                                         "name");
  const QCommandLineOption adminOption(
      "admin", "With --add-user: the account may create accounts and stop anyone's game servers.");
  parser.addOptions(
      {configOption, accountsOption, schedulesOption, listenOption, portOption, addUserOption, adminOption});
  parser.process(app);

  ovs::ServerConfig config;
  std::vector<std::string> notes;
  std::string error;
  if (parser.isSet(configOption) &&
      !ovs::LoadConfig(parser.value(configOption).toStdString(), config, error, notes)) {
    ovs::Log("bad configuration: " + error);
    return 2;
  }
  ovs::AccountStore accounts(parser.value(accountsOption).toStdString(), config.hashIterations);
  if (!accounts.Load(error)) {
    ovs::Log("bad accounts file: " + error);
    return 2;
  }
  if (parser.isSet(adminOption) && !parser.isSet(addUserOption)) {
    ovs::Log("--admin goes with --add-user NAME");
    return 2;
  }
  if (parser.isSet(addUserOption))
    return AddUser(accounts, parser.value(addUserOption).toStdString(), parser.isSet(adminOption));

  bool portOk = false;
  const uint port = parser.value(portOption).toUInt(&portOk);
  if (!portOk || port > 65535) {
    ovs::Log("bad port: " + parser.value(portOption).toStdString());
    return 2;
  }
  std::vector<QHostAddress> addresses;
  for (const QString& text : parser.values(listenOption)) {
    const QHostAddress address(text);
    if (address.isNull()) {
      ovs::Log("bad address to listen on: " + text.toStdString());
      return 2;
    }
    addresses.push_back(address);
  }
  LogStartup(notes, config, accounts);
  config.schedulesPath = parser.isSet(schedulesOption) ? parser.value(schedulesOption).toStdString()
                                                       : accounts.Path() + ".schedules";
  const std::unique_ptr<QSocketNotifier> stopSignals = CatchStopSignals(app);
  if (!stopSignals) return 2;

  ovs::OvServer server(std::move(config), accounts);
  // All on one port: with port 0, the one the system picks for the first address.
  for (const QHostAddress& address : addresses) {
    if (!server.Listen(address, quint16(port), error)) {
      ovs::Log("cannot listen on " + address.toString().toStdString() + " port " +
               std::to_string(port != 0 ? port : server.Port()) + ": " + error);
      return 1;
    }
  }
  const int code = app.exec();
  ovs::Log("stopped");
  return code;
}
