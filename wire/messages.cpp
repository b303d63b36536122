#include "wire/messages.h"

#include <algorithm>
#include <initializer_list>

#include "wire/frames.h"
#include "wire/payload.h"

namespace ov::msg {

namespace {

// A payload of one piece of text: it may hold the separator, which nothing splits there.
std::optional<std::string> Whole(std::string_view text) {
  if (!IsPlainPayload(text)) return std::nullopt;
  return std::string(text);
}

// Fields joined by the separator, each free of it.
template <typename Range>
std::optional<std::string> Joined(const Range& fields) {
  std::string payload;
  bool first = true;
  for (const std::string_view field : fields) {
    if (field.find(kFieldSeparator) != std::string_view::npos) return std::nullopt;
    if (!first) payload += kFieldSeparator;
    first = false;
    payload += field;
  }
  return Whole(payload);
}
std::optional<std::string> Fields(std::initializer_list<std::string_view> fields) { return Joined(fields); }

std::optional<std::string> Field(const std::vector<std::string>& fields, size_t n) {
  if (n >= fields.size()) return std::nullopt;
  return fields[n];
}

std::optional<int> Number(const std::vector<std::string>& fields, size_t n) {
  if (n >= fields.size()) return std::nullopt;
  return ParseInt(fields[n], 1);
}

}  // namespace

std::optional<std::string> StatusNote::Encode() const { return Whole(text); }
StatusNote StatusNote::Decode(std::string_view payload) { return {std::string(payload)}; }

std::optional<std::string> Beep::Encode() const { return std::to_string(count); }
Beep Beep::Decode(std::string_view payload) { return {ParseInt(payload, 1)}; }

std::optional<std::string> MessageBox::Encode() const { return Whole(text); }
MessageBox MessageBox::Decode(std::string_view payload) { return {std::string(payload)}; }

std::optional<std::string> OvInfo::Encode() const {
  if (!name) return Fields({info});
  return Fields({info, *name});
}
OvInfo OvInfo::Decode(std::string_view payload) {
  std::vector<std::string> fields = SplitFields(payload);
  return {std::move(fields[0]), Field(fields, 1)};
}

std::optional<std::string> ServerInfo::Encode() const {
  const auto number = [](const std::optional<int>& n) { return n ? std::to_string(*n) : std::string(); };
  const std::string port = gamePort > 0 && gamePort <= kMaxPort ? std::to_string(gamePort) : "";
  return Fields({std::to_string(id), type.value_or(""), title.value_or(""), commandLine.value_or(""),
                 number(info5), number(consoleMode), port});
}
ServerInfo ServerInfo::Decode(std::string_view payload) {
  const std::vector<std::string> fields = SplitFields(payload);
  ServerInfo info;
  info.id = ParseInt(fields[0], 0);
  info.type = Field(fields, 1);
  info.title = Field(fields, 2);
  info.commandLine = Field(fields, 3);
  info.info5 = Number(fields, 4);
  info.consoleMode = Number(fields, 5);
  const int port = fields.size() > 6 ? ParseInt(fields[6], 0) : 0;
  info.gamePort = port > 0 && port <= kMaxPort ? port : 0;
  return info;
}

int NewServer::Id() const { return ParseInt(idText, -1); }
std::optional<std::string> NewServer::Encode() const { return Whole(idText); }
NewServer NewServer::Decode(std::string_view payload) { return {std::string(payload)}; }

std::optional<std::string> ServerRemoved::Encode() const { return std::to_string(id); }
ServerRemoved ServerRemoved::Decode(std::string_view payload) { return {ParseInt(payload, -1)}; }

std::optional<std::string> ServerTypes::Encode() const { return Joined(names); }
ServerTypes ServerTypes::Decode(std::string_view payload) { return {SplitFields(payload)}; }

std::optional<std::string> Figures::Encode() const {
  if (servers.size() > kMaxFiguresServers) return std::nullopt;
  std::vector<std::string> fields;
  for (const Server& s : servers)
    for (const int n : {s.id, s.pid, s.uptimeSeconds, s.cpuTenths, s.residentKiB})
      fields.push_back(std::to_string(n));
  return Joined(fields);
}
Figures Figures::Decode(std::string_view payload) {
  const std::vector<std::string> fields = SplitFields(payload);
  Figures figures;
  constexpr size_t kPerServer = 5;
  for (size_t at = 0; at + kPerServer <= fields.size() && figures.servers.size() < kMaxFiguresServers;
       at += kPerServer) {
    int n[kPerServer];
    for (size_t i = 0; i < kPerServer; ++i) n[i] = ParseInt(fields[at + i], -1);
    if (!IsGameServerId(n[0]) || *std::min_element(n, n + kPerServer) < 0) continue;
    figures.servers.push_back({n[0], n[1], n[2], n[3], n[4]});
  }
  return figures;
}

std::optional<std::string> LoginRequest::Encode() const { return caption; }
LoginRequest LoginRequest::Decode(std::string_view plain) { return {std::string(plain)}; }

std::optional<std::string> AnswerRequest::Encode() const { return std::string(); }
AnswerRequest AnswerRequest::Decode(std::string_view) { return {}; }

std::optional<std::string> PromptRequest::Encode() const { return prompt; }
PromptRequest PromptRequest::Decode(std::string_view plain) { return {std::string(plain)}; }

std::optional<std::string> NewServerAccepted::Encode() const { return Whole(idText); }
NewServerAccepted NewServerAccepted::Decode(std::string_view payload) { return {std::string(payload)}; }

std::optional<std::string> StartServer::Encode() const {
  if (title.empty()) return Fields({type, commandLine});
  return Fields({type, title, commandLine});
}
std::optional<StartServer> StartServer::Decode(std::string_view payload) {
  std::vector<std::string> fields = SplitFields(payload, TrailingField::Kept);
  switch (fields.size()) {
    case 1:
      return StartServer{std::move(fields[0]), {}, {}};
    case 2:
      return StartServer{std::move(fields[0]), {}, std::move(fields[1])};
    case 3:
      return StartServer{std::move(fields[0]), std::move(fields[1]), std::move(fields[2])};
    default:
      return std::nullopt;
  }
}

template <ControlMessage id>
ServerIdMessage<id> ServerIdMessage<id>::Decode(std::string_view payload) {
  return {ParseInt(payload, -1)};
}
template struct ServerIdMessage<ControlMessage::ConsoleClosed>;
template struct ServerIdMessage<ControlMessage::ConsoleOpened>;

template <ControlMessage id>
std::optional<std::string> Account<id>::Encode() const {
  return PadTo8(name) + PadTo16(password);
}
template <ControlMessage id>
Account<id> Account<id>::Decode(std::string_view plain) {
  return {std::string(plain.substr(0, 8)), std::string(plain.substr(std::min<size_t>(8, plain.size()), 16))};
}
template struct Account<ControlMessage::Login>;
template struct Account<ControlMessage::NewUser>;

std::optional<std::string> ChangePassword::Encode() const {
  return PadTo8(name) + PadTo16(oldPassword) + PadTo16(newPassword);
}
ChangePassword ChangePassword::Decode(std::string_view plain) {
  const auto part = [&](size_t from, size_t width) {
    return std::string(plain.substr(std::min(from, plain.size()), width));
  };
  return {part(0, 8), part(8, 16), part(24, 16)};
}

}  // namespace ov::msg
