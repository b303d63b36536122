#pragma once
// The codes of frames: control messages by name, console text by server id, and which control messages
// are account messages, sent enciphered. Both programs name a message only through these.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ov {

// The control messages, in both directions. Message n travels as the code 1000 + n (ControlCode).
enum class ControlMessage : int32_t {
  // From an OV server to the client.
  StatusNote = 1,       // text for the status line
  Beep = 2,             // a decimal count of beeps
  MessageBox = 3,       // text for a modal message box
  OvInfo = 21,          // fields; the second is the OV server's display name
  ServerInfo = 25,      // fields of a game server; the first is its id
  NewServer = 27,       // a game server's id, answered with NewServerAccepted
  ServerRemoved = 28,   // a game server's id
  ServerTypes = 31,     // the type names the OV server can start
  Figures = 33,         // what each game server costs, the answer to FiguresRequest
  LoginRequest = 900,   // the login dialog's caption
  AnswerRequest = 901,  // answered with Answer; its payload is not used
  PromptRequest = 902,  // names an account prompt: "login", "newuser" or "chpwd"

  // From the client to an OV server.
  Answer = 20,             // the answer to AnswerRequest, empty
  OvConsoleOpened = 22,    // an OvInfo is recorded and its console window open; after OvInfoRecorded
  NewServerAccepted = 24,  // the payload of the NewServer it answers, unchanged
  StartServer = 26,        // type name, title, command line
  OvInfoRecorded = 29,     // an OvInfo is recorded and its console window open; before OvConsoleOpened
  ConsoleClosed = 41,      // a game server's id: its console window closed
  ConsoleOpened = 42,      // a game server's id: its console window was created
  FiguresRequest = 43,     // asks for Figures; empty
  Login = 905,             // login name (8) and password (16)
  NewUser = 906,           // login name (8) and password (16)
  ChangePassword = 907,    // login name (8), old password (16), new password (16)
};

constexpr int32_t Number(ControlMessage message) { return static_cast<int32_t>(message); }

// The account messages, 900 to 999: their payloads go enciphered, in both directions.
constexpr int32_t kFirstAccountMessage = 900;
constexpr int32_t kLastAccountMessage = 999;
constexpr bool IsAccountMessage(int32_t n) { return n >= kFirstAccountMessage && n <= kLastAccountMessage; }
// A received account message is deciphered, all but the last of the range, which has no action.
constexpr bool IsDecipheredOnReceipt(int32_t n) { return IsAccountMessage(n) && n != kLastAccountMessage; }

// The code of control message n, and whether a code is one of an account message.
constexpr int32_t kControlCodeBase = 1000;
constexpr int32_t ControlCode(int32_t n) {
  return static_cast<int32_t>(static_cast<uint32_t>(n) + static_cast<uint32_t>(kControlCodeBase));
}
constexpr int32_t ControlCode(ControlMessage message) { return ControlCode(Number(message)); }
constexpr bool IsAccountCode(int32_t code) { return IsAccountMessage(code - kControlCodeBase); }

// The length of an account answer's payload, the cipher's marker included: a name of 8 characters and
// one password of 16, or two for a change of password. 0 for every other message.
constexpr size_t AccountAnswerSize(int32_t n) {
  if (n == Number(ControlMessage::Login) || n == Number(ControlMessage::NewUser)) return 2 + 8 + 16;
  if (n == Number(ControlMessage::ChangePassword)) return 2 + 8 + 16 + 16;
  return 0;
}

// Four characters: the number with leading zeros, "XXXX" outside 0 to 9999.
std::string FormatCode(int32_t number);

enum class CodeKind { Control, Console, Unknown };
struct CodeClass {
  CodeKind kind;
  int number;  // control message number or server id
};
// "1" and three digits is a control message; any other number console text for that server id.
CodeClass ClassifyCode(std::string_view code);

// A game server id that travels as console text of its own: 1 to 999 and 2000 to 9999 (0 is the OV
// server's own console; 1000 to 1999 read as control messages).
bool IsGameServerId(int32_t id);

}  // namespace ov
