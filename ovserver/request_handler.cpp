#include "ovserver/request_handler.h"

#include <QTimer>
#include <algorithm>
#include <cctype>

#include "ovserver/log.h"
#include "ovserver/outgoing.h"
#include "wire/messages.h"
#include "wire/payload.h"

namespace ovs {
namespace {

constexpr char kAdminsCreateAccounts[] = "Only an administrator can create accounts.";

std::string TrimRight(std::string_view text) {
  size_t end = text.size();
  while (end > 0 &&
         (text[end - 1] == ' ' || text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == '\t'))
    --end;
  return std::string(text.substr(0, end));
}

// An account answer deciphered and read, or nothing when it is not its fixed size; size tells its size.
template <typename Message>
std::optional<Message> Deciphered(const ov::MessageCipher& cipher, std::string_view payload, size_t& size) {
  const std::string plain = cipher.DecryptMsg(payload);
  size = plain.size();
  if (size + sizeof ov::kCipherMarker != ov::AccountAnswerSize(ov::Number(Message::kId))) return std::nullopt;
  return Message::Decode(plain);
}

std::string Refused(const char* what, AccountStore::Outcome outcome, const std::string& name,
                    const std::string& error) {
  return std::string(": ") + what + " \"" + Printable(name) + "\" refused: " + OutcomeText(outcome) +
         (error.empty() ? "" : " (" + error + ")");
}

}  // namespace

RequestHandler::RequestHandler(const ServerConfig& config, AccountStore& accounts,
                               const ov::MessageCipher& cipher, ConnectionManager& connections,
                               LoginQueue& logins, GameRelay& relay, Scheduler& schedules)
    : config_(config),
      accounts_(accounts),
      cipher_(cipher),
      connections_(connections),
      logins_(logins),
      relay_(relay),
      schedules_(schedules) {}

void RequestHandler::HandleFrame(Connection& connection, const ov::Frame& frame) {
  const ov::CodeClass code = ov::ClassifyCode(frame.code);
  if (connection.state != Connection::State::LoggedIn) {
    if (code.kind == ov::CodeKind::Control && code.number == ov::Number(ov::ControlMessage::Login)) {
      HandleLogin(connection, frame.payload);
      return;
    }
    if (code.kind == ov::CodeKind::Unknown) {
      connection.Malformed("unknown code \"" + Printable(frame.code) + "\" before login");
      Refuse(connection, "Login failed: malformed request");
      return;
    }
    connection.Log(connection.Who() + ": code \"" + Printable(frame.code) + "\" before login ignored");
    connection.SendNote("Log in first");
    if (++connection.framesBeforeLogin > kMaxFramesBeforeLogin)
      Refuse(connection, "Too many requests before login");
    return;
  }
  switch (code.kind) {
    case ov::CodeKind::Control:
      HandleControl(connection, code.number, frame.payload);
      return;
    case ov::CodeKind::Console:
      if (code.number == 0)
        RunCommand(connection, frame.payload);
      else
        relay_.HandleInput(connection, code.number, frame.payload);
      return;
    case ov::CodeKind::Unknown:
      connection.Malformed("unknown code \"" + Printable(frame.code) + "\" ignored");
      connection.SendNote("Unknown request code " + Printable(frame.code));
      return;
  }
}

void RequestHandler::HandleControl(Connection& connection, int n, const std::string& payload) {
  switch (static_cast<ov::ControlMessage>(n)) {
    case ov::ControlMessage::Answer:  // answers to our own messages: nothing to do
    case ov::ControlMessage::OvConsoleOpened:
    case ov::ControlMessage::OvInfoRecorded:
      return;
    case ov::ControlMessage::NewServerAccepted:
      relay_.HandleAccepted(connection, ov::msg::NewServerAccepted::Decode(payload));
      return;
    case ov::ControlMessage::StartServer:
      relay_.HandleStart(connection, ov::msg::StartServer::Decode(payload));
      return;
    case ov::ControlMessage::ConsoleClosed:
      relay_.HandleWatch(connection, ov::msg::ConsoleClosed::kId,
                         ov::msg::ConsoleClosed::Decode(payload).serverId);
      return;
    case ov::ControlMessage::ConsoleOpened:
      relay_.HandleWatch(connection, ov::msg::ConsoleOpened::kId,
                         ov::msg::ConsoleOpened::Decode(payload).serverId);
      return;
    case ov::ControlMessage::FiguresRequest:
      relay_.SendFigures(connection);
      return;
    case ov::ControlMessage::Login:
      connection.SendNote("Already logged in");
      return;
    case ov::ControlMessage::NewUser:
      HandleNewUser(connection, payload);
      return;
    case ov::ControlMessage::ChangePassword:
      HandleChangePassword(connection, payload);
      return;
    default:
      connection.Malformed("unexpected control message " + std::to_string(n) + " ignored");
      connection.SendNote("Unexpected control message " + std::to_string(n) + " ignored");
  }
}

void RequestHandler::Refuse(Connection& connection, const std::string& reason, Clock::time_point since) {
  connection.Refuse(reason, since, std::chrono::milliseconds(config_.loginDelayMs));
}

void RequestHandler::HandleLogin(Connection& connection, const std::string& payload) {
  const auto since = Clock::now();
  size_t size = 0;
  const std::optional<ov::msg::Login> login = Deciphered<ov::msg::Login>(cipher_, payload, size);
  if (!login) {
    connection.Log(connection.Who() + ": malformed login (" + std::to_string(size) + " bytes instead of 24)");
    Refuse(connection, "Login failed: malformed login", since);
    return;
  }
  const std::string name = TrimRight(login->name);
  // Accounts added meanwhile with --add-user or by hand can log in without a restart. A damaged file
  // is met by every login: it is told once a second at most.
  std::string stale;
  size_t met = 0;
  if (!accounts_.Refresh(stale) && unreadAccounts_.Due(since, met))
    Log("accounts file not read again: " + Printable(stale, 200) +
        (met > 1 ? " (" + std::to_string(met - 1) + " more logins met it since the last such line)" : ""));
  std::string why;
  if (!logins_.TakePlace(connection.Group(), why)) {
    connection.Log(connection.Who() + ": login as \"" + Printable(name) + "\" refused: " + why);
    Refuse(connection, "The server is busy with other logins: try again later", since);
    return;
  }
  connection.state = Connection::State::Checking;
  Check check;
  check.connection = connection.Handle();
  check.group = connection.Group();
  check.name = name;
  check.password = login->password;
  check.since = since;
  const LoginQueue::Expected expected = logins_.Queue(
      std::move(check), [this](const Check& done, const CheckResult& result) { LoginChecked(done, result); });
  // Whoever waits for a name's turn hears why, and how long it may take should every check before
  // theirs fail: the name's recent failed checks, not this connection's fault.
  if (expected.wait >= std::chrono::milliseconds(500))
    connection.SendNote(
        "Recent failed logins for " + Blanked(name) + ": checked in " +
        std::to_string(std::chrono::ceil<std::chrono::seconds>(expected.wait).count()) + " s" +
        (expected.before > 0 ? ", after " + std::to_string(expected.before) + " other attempt" +
                                   (expected.before == 1 ? "" : "s") + " at this name"
                             : ""));
}

void RequestHandler::LoginChecked(const Check& check, const CheckResult& result) {
  const auto connection = Open(check.connection);
  if (!connection || connection->state != Connection::State::Checking) return;
  if (!result.ok) {
    connection->Log(connection->Who() + ": failed login as \"" + Printable(check.name) + "\" from " +
                    connection->Address() + ", its next check waits " + std::to_string(result.wait.count()) +
                    " ms");
    Refuse(*connection, "Login failed: wrong login name or password", check.since);
    return;
  }
  // One user's connections cannot take every place of the server.
  if (!accounts_.IsAdmin(check.name)) {
    const size_t already = connections_.LoggedInAs(check.name);
    if (int(already) >= config_.maxConnectionsPerUser) {
      connection->Log(connection->Who() + ": login as " + check.name + " refused: logged in " +
                      std::to_string(already) + " times already");
      Refuse(*connection,
             "Login refused: " + check.name + " is logged in " + std::to_string(already) +
                 " times already, as often as one user may here",
             check.since);
      return;
    }
  }
  connection->state = Connection::State::LoggedIn;
  connection->user = check.name;
  connection->Log(connection->Who() + " logged in");
  Welcome(*connection);
}

void RequestHandler::Welcome(Connection& connection) {
  connection.Send(ov::msg::OvInfo{FieldSafe(config_.info), FieldSafe(config_.name)});
  ov::msg::ServerTypes types;
  for (const ServerType& type : config_.types) types.names.push_back(FieldSafe(type.name));
  connection.Send(types);
  connection.Say("Logged in to " + config_.name + " as " + connection.user + ". Type help for the commands.");
  relay_.AnnounceAll(connection);
}

void RequestHandler::RunCommand(Connection& connection, const std::string& line) {
  std::vector<std::string> words;
  std::string error;
  if (!SplitCommandLine(line, words, error)) words = {"", error};
  if (words.empty()) return;
  connection.Say("> " + Blanked(TrimRight(line)));
  std::string command = words[0];
  std::transform(command.begin(), command.end(), command.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  if (command == "help") {
    for (const char* help : {"Commands of this OV server:", "  help      this list",
                             "  list      the game servers running here", "  who       who is connected",
                             "  newuser   create an account (the client asks for its name and password; "
                             "administrators)",
                             "  chpwd     change a password (the client asks for the old and the new one)",
                             "  kill ID   stop game server ID (another user's: administrators only)"})
      connection.Say(help);
    for (const char* help :
         {"  schedule list | add ENTRY | del N   the schedules (administrators); an ENTRY is",
          "            daily HH:MM|every N  title NAME|type NAME  restart|line TEXT"})
      connection.Say(help);
  } else if (command == "list") {
    relay_.List(connection);
  } else if (command == "who") {
    Who(connection);
  } else if (command == "newuser") {
    if (!accounts_.IsAdmin(connection.user)) {
      connection.Log(connection.Who() + ": newuser refused: not an administrator");
      connection.Say(kAdminsCreateAccounts);
      return;
    }
    connection.newUserAsked = true;
    connection.Send(ov::msg::PromptRequest{"newuser"});
  } else if (command == "chpwd") {
    connection.chpwdAsked = true;
    connection.Send(ov::msg::PromptRequest{"chpwd"});
  } else if (command == "schedule") {
    schedules_.Command(connection, line);
  } else if (command == "kill" && words.size() == 2) {
    relay_.Kill(connection, words[1]);
  } else {
    connection.Say("Unknown command \"" + Blanked(words[0]) + "\": type help for the list.");
  }
}

void RequestHandler::Who(Connection& connection) {
  connection.Say(std::to_string(connections_.OpenCount()) + " connected:");
  connections_.ForEach([&](Connection& other) {
    std::string watching;
    for (int id : other.watching) watching += " " + std::to_string(id);
    connection.Say("  #" + std::to_string(other.Number()) + " " +
                   (other.state == Connection::State::LoggedIn ? other.user : "(not logged in)") + " from " +
                   other.Peer() + (watching.empty() ? "" : ", watching" + watching) +
                   (&other == &connection ? " (you)" : ""));
  });
}

void RequestHandler::HandleNewUser(Connection& connection, const std::string& payload) {
  if (!connection.newUserAsked) {
    connection.Log(connection.Who() + ": new user without a prompt refused");
    connection.SendNote("New user refused: type newuser in the OV server's console first");
    return;
  }
  connection.newUserAsked = false;
  if (!accounts_.IsAdmin(connection.user)) {
    connection.Log(connection.Who() + ": new user refused: not an administrator");
    connection.SendNote(kAdminsCreateAccounts);
    return;
  }
  const auto refuse = [&](AccountStore::Outcome outcome, const std::string& name) {
    connection.Log(connection.Who() + Refused("new user", outcome, name, ""));
    connection.SendNote(std::string("New user refused: ") + OutcomeText(outcome));
  };
  size_t size = 0;
  const std::optional<ov::msg::NewUser> user = Deciphered<ov::msg::NewUser>(cipher_, payload, size);
  if (!user) {
    connection.Log(connection.Who() + ": malformed new user (" + std::to_string(size) + " bytes)");
    connection.SendNote("New user refused: malformed request");
    return;
  }
  const std::string name = TrimRight(user->name);
  const std::string& password = user->password;
  if (!AccountStore::ValidName(name)) return refuse(AccountStore::Outcome::BadName, name);
  if (ov::PadTo16(password) == std::string(16, ' '))
    return refuse(AccountStore::Outcome::EmptyPassword, name);
  // The hash is made on a worker, as logins are checked there.
  if (!logins_.Hash(password, [this, handle = connection.Handle(), name](const AccountStore::Entry& entry) {
        NewUserHashed(handle, name, entry);
      }))
    connection.SendNote("New user refused: the server is busy with other logins: try again later");
}

void RequestHandler::NewUserHashed(const ConnectionHandle& handle, const std::string& name,
                                   const AccountStore::Entry& entry) {
  WriteAccounts(
      [this, name, entry](std::string& error) {
        return accounts_.AddEntry(name, entry, error, AccountStore::Lock::Try);
      },
      [this, handle, name](AccountStore::Outcome outcome, const std::string& error) {
        const auto connection = Open(handle);
        if (outcome != AccountStore::Outcome::Done) {
          if (connection) {
            connection->Log(connection->Who() + Refused("new user", outcome, name, error));
            connection->SendNote(std::string("New user refused: ") + OutcomeText(outcome));
          }
          return;
        }
        if (!connection) return connections_.Log("a closed connection created user " + name);
        connection->Log(connection->Who() + " created user " + name);
        connection->SendNote("User " + name + " created");
        connection->Say("User " + name + " created.");
      },
      Clock::now() + std::chrono::milliseconds(config_.accountsLockWaitMs));
}

void RequestHandler::WriteAccounts(std::function<AccountStore::Outcome(std::string&)> attempt,
                                   std::function<void(AccountStore::Outcome, const std::string&)> done,
                                   Clock::time_point deadline) {
  std::string error;
  const AccountStore::Outcome outcome = attempt(error);
  if (outcome == AccountStore::Outcome::Busy && Clock::now() < deadline) {
    QTimer::singleShot(20, this, [this, attempt = std::move(attempt), done = std::move(done), deadline] {
      WriteAccounts(attempt, done, deadline);
    });
    return;
  }
  done(outcome == AccountStore::Outcome::Busy ? AccountStore::Outcome::SaveFailed : outcome, error);
}

void RequestHandler::HandleChangePassword(Connection& connection, const std::string& payload) {
  const auto since = Clock::now();
  if (!connection.chpwdAsked) {
    connection.Log(connection.Who() + ": password change without a prompt refused");
    connection.SendNote("Password change refused: type chpwd in the OV server's console first");
    return;
  }
  connection.chpwdAsked = false;
  size_t size = 0;
  const std::optional<ov::msg::ChangePassword> change =
      Deciphered<ov::msg::ChangePassword>(cipher_, payload, size);
  if (!change) {
    connection.Log(connection.Who() + ": malformed password change (" + std::to_string(size) + " bytes)");
    connection.SendNote("Password change refused: malformed request");
    return;
  }
  std::string why;
  if (!logins_.TakePlace(connection.Group(), why)) {
    connection.SendNote("Password change refused: the server is busy with other logins: try again later");
    return;
  }
  // The old password is a guess at the name's like any login: it waits for the name's turn.
  Check check;
  check.change = true;
  check.connection = connection.Handle();
  check.group = connection.Group();
  check.name = TrimRight(change->name);
  check.password = change->oldPassword;
  check.newPassword = change->newPassword;
  check.since = since;
  logins_.Queue(std::move(check),
                [this](const Check& done, const CheckResult& result) { ChangeChecked(done, result); });
}

void RequestHandler::ChangeChecked(const Check& check, const CheckResult& result) {
  if (!result.ok) return AnswerChange(check, AccountStore::Outcome::WrongLogin, "");
  // Checked first all the same, so that the answer does not tell a wrong password from an empty one.
  if (ov::PadTo16(check.newPassword) == std::string(16, ' '))
    return AnswerChange(check, AccountStore::Outcome::EmptyPassword, "");
  WriteAccounts(
      [this, check, result](std::string& error) {
        return accounts_.Replace(check.name, result.verified, result.entry, error, AccountStore::Lock::Try);
      },
      [this, check](AccountStore::Outcome outcome, const std::string& error) {
        AnswerChange(check, outcome, error);
      },
      Clock::now() + std::chrono::milliseconds(config_.accountsLockWaitMs));
}

void RequestHandler::AnswerChange(const Check& check, AccountStore::Outcome outcome,
                                  const std::string& error) {
  // Every answer leaves the login delay after the request (later only when the work took longer), so
  // that its moment tells nothing about which names exist.
  const auto due = check.since + std::chrono::milliseconds(config_.loginDelayMs);
  const auto wait = std::max(std::chrono::milliseconds(0),
                             std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()));
  QTimer::singleShot(wait, Qt::PreciseTimer, this, [check, outcome, error] {
    const auto connection = Open(check.connection);
    if (!connection) return;
    if (outcome != AccountStore::Outcome::Done) {
      connection->Log(connection->Who() + Refused("password change for", outcome, check.name, error));
      connection->SendNote(std::string("Password change refused: ") + OutcomeText(outcome));
      return;
    }
    connection->Log(connection->Who() + " changed the password of " + check.name);
    connection->SendNote("Password changed for " + check.name);
    connection->Say("Password changed for " + check.name + ".");
  });
}

}  // namespace ovs
