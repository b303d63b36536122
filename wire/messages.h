#pragma once
// Every control message in a typed form, with the one encoder and the one decoder both programs use.
//
// Encode gives the payload, or nothing when a field holds what the wire cannot carry there: a frame byte
// (0xFE, 0xFD) anywhere, the field separator 0x80 inside a field of several, or more than kMaxPayload.
// An account message's payload is its plain text, which the sender enciphers; the cipher's output may
// hold any byte, so that text is never refused. Text is bytes, each a Latin-1 character: whatever had no
// byte was refused where it was typed.
//
// Decode reads any payload: a field that is missing or illegible takes the value its member documents.
// Adding a message: its struct here (kId, members, Encode, Decode), its handler, its test.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wire/codes.h"

namespace ov::msg {

// ---- From an OV server to the client

struct StatusNote {  // 1
  static constexpr ControlMessage kId = ControlMessage::StatusNote;
  std::string text;
  std::optional<std::string> Encode() const;
  static StatusNote Decode(std::string_view payload);
};

struct Beep {  // 2
  static constexpr ControlMessage kId = ControlMessage::Beep;
  int count = 1;  // 1 when illegible
  std::optional<std::string> Encode() const;
  static Beep Decode(std::string_view payload);
};

struct MessageBox {  // 3
  static constexpr ControlMessage kId = ControlMessage::MessageBox;
  std::string text;
  std::optional<std::string> Encode() const;
  static MessageBox Decode(std::string_view payload);
};

struct OvInfo {  // 21: info, display name
  static constexpr ControlMessage kId = ControlMessage::OvInfo;
  std::string info;
  std::optional<std::string> name;  // absent: the name stays as it was
  std::optional<std::string> Encode() const;
  static OvInfo Decode(std::string_view payload);
};

// The highest UDP port; a game port outside 1 to this is unknown.
constexpr int kMaxPort = 65535;

struct ServerInfo {  // 25: id, type, title, command line, info 5, console mode, game port
  static constexpr ControlMessage kId = ControlMessage::ServerInfo;
  int id = 0;  // 0 when illegible: 0 names no game server
  // Absent fields leave what is known of the server as it was; the numbers read 1 when illegible.
  std::optional<std::string> type;
  std::optional<std::string> title;
  std::optional<std::string> commandLine;
  std::optional<int> info5;
  std::optional<int> consoleMode;
  int gamePort = 0;  // the game server's UDP port; 0 when empty, absent or no port
  std::optional<std::string> Encode() const;
  static ServerInfo Decode(std::string_view payload);
};

struct NewServer {  // 27: an id, answered by NewServerAccepted with the same characters
  static constexpr ControlMessage kId = ControlMessage::NewServer;
  std::string idText;  // as sent, leading zeros included
  int Id() const;      // -1 when illegible
  std::optional<std::string> Encode() const;
  static NewServer Decode(std::string_view payload);
};

struct ServerRemoved {  // 28
  static constexpr ControlMessage kId = ControlMessage::ServerRemoved;
  int id = -1;  // -1 when illegible
  std::optional<std::string> Encode() const;
  static ServerRemoved Decode(std::string_view payload);
};

struct ServerTypes {  // 31: the type names, as the server offers them (and wants them back in 26)
  static constexpr ControlMessage kId = ControlMessage::ServerTypes;
  std::vector<std::string> names;
  std::optional<std::string> Encode() const;
  static ServerTypes Decode(std::string_view payload);
};

// What each game server the asking user may see costs, five numbers a server: id, pid, seconds up, CPU
// share in tenths of a percent of one core over its uptime, resident memory in KiB.
constexpr size_t kMaxFiguresServers = 64;
struct Figures {  // 33
  static constexpr ControlMessage kId = ControlMessage::Figures;
  struct Server {
    int id = 0;
    int pid = 0;
    int uptimeSeconds = 0;
    int cpuTenths = 0;
    int residentKiB = 0;
    bool operator==(const Server&) const = default;
  };
  std::vector<Server> servers;
  std::optional<std::string> Encode() const;  // nothing for more than kMaxFiguresServers servers
  // A server with a number missing, illegible or negative, or an id that names no game server, is left
  // out; so is every one after the first kMaxFiguresServers.
  static Figures Decode(std::string_view payload);
};

struct LoginRequest {  // 900, enciphered: the login dialog's caption
  static constexpr ControlMessage kId = ControlMessage::LoginRequest;
  std::string caption;
  std::optional<std::string> Encode() const;
  static LoginRequest Decode(std::string_view plain);
};

struct AnswerRequest {  // 901: its payload is not used
  static constexpr ControlMessage kId = ControlMessage::AnswerRequest;
  std::optional<std::string> Encode() const;
  static AnswerRequest Decode(std::string_view payload);
};

struct PromptRequest {  // 902, enciphered: "login", "newuser" or "chpwd"
  static constexpr ControlMessage kId = ControlMessage::PromptRequest;
  std::string prompt;
  std::optional<std::string> Encode() const;
  static PromptRequest Decode(std::string_view plain);
};

// ---- From the client to an OV server

// The messages whose payload is empty: an answer, or word that a step is done.
template <ControlMessage id>
struct Empty {
  static constexpr ControlMessage kId = id;
  std::optional<std::string> Encode() const { return std::string(); }
  static Empty Decode(std::string_view) { return {}; }
};
using Answer = Empty<ControlMessage::Answer>;                    // 20
using OvConsoleOpened = Empty<ControlMessage::OvConsoleOpened>;  // 22
using OvInfoRecorded = Empty<ControlMessage::OvInfoRecorded>;    // 29
using FiguresRequest = Empty<ControlMessage::FiguresRequest>;    // 43

struct NewServerAccepted {  // 24
  static constexpr ControlMessage kId = ControlMessage::NewServerAccepted;
  std::string idText;  // the NewServer's, unchanged
  std::optional<std::string> Encode() const;
  static NewServerAccepted Decode(std::string_view payload);
};

struct StartServer {  // 26: type, [title,] command line
  static constexpr ControlMessage kId = ControlMessage::StartServer;
  std::string type;  // a name as the server offered it in ServerTypes
  std::string title;
  std::string commandLine;
  std::optional<std::string> Encode() const;
  // Nothing for more than three fields. The title travels only when given, so a separator at the end
  // is an empty command line: this message keeps a trailing empty field.
  static std::optional<StartServer> Decode(std::string_view payload);
};

// The messages that name one game server by its id.
template <ControlMessage id>
struct ServerIdMessage {
  static constexpr ControlMessage kId = id;
  int serverId = -1;  // -1 when illegible
  std::optional<std::string> Encode() const { return std::to_string(serverId); }
  static ServerIdMessage Decode(std::string_view payload);
};
using ConsoleClosed = ServerIdMessage<ControlMessage::ConsoleClosed>;  // 41
using ConsoleOpened = ServerIdMessage<ControlMessage::ConsoleOpened>;  // 42

// Account answers: fixed widths, a name of 8 and passwords of 16, cut or filled out with blanks.
template <ControlMessage id>
struct Account {
  static constexpr ControlMessage kId = id;
  std::string name;
  std::string password;
  std::optional<std::string> Encode() const;
  static Account Decode(std::string_view plain);  // the fields as sent, blanks included
};
using Login = Account<ControlMessage::Login>;      // 905
using NewUser = Account<ControlMessage::NewUser>;  // 906

struct ChangePassword {  // 907
  static constexpr ControlMessage kId = ControlMessage::ChangePassword;
  std::string name;
  std::string oldPassword;
  std::string newPassword;
  std::optional<std::string> Encode() const;
  static ChangePassword Decode(std::string_view plain);
};

}  // namespace ov::msg
