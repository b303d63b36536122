#include "consoles/server_status.h"

#include <algorithm>
#include <charconv>

#include "consoles/colour_codes.h"

namespace ov {

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

constexpr std::string_view kAnswerHead = "\xFF\xFF\xFF\xFFstatusResponse\n";

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

// The first kept bytes of a field, control bytes as blanks: a value never draws a line of its own.
std::string Kept(std::string_view text, size_t limit, bool* altered = nullptr) {
  std::string out(text.substr(0, limit));
  bool changed = text.size() > limit;
  for (char& c : out) {
    if (!IsControl(c)) continue;
    c = ' ';
    changed = true;
  }
  if (altered) *altered = changed;
  return out;
}

// A decimal number with an optional minus sign, at most 9 digits, then a blank or the end; moves past it.
bool TakeNumber(std::string_view& text, int& value) {
  size_t digits = text.starts_with('-') ? 1 : 0;
  const size_t first = digits;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == first || digits - first > 9) return false;
  std::from_chars(text.data(), text.data() + digits, value);
  text.remove_prefix(digits);
  if (!text.empty() && text.front() != ' ') return false;
  while (text.starts_with(' ')) text.remove_prefix(1);
  return true;
}

std::optional<PlayerStatus> ParsePlayerLine(std::string_view line) {
  PlayerStatus player;
  if (!TakeNumber(line, player.score) || !TakeNumber(line, player.ping)) return std::nullopt;
  const size_t close = line.rfind('"');
  if (!line.starts_with('"') || close == 0 || close == std::string_view::npos) return std::nullopt;
  player.name = Kept(line.substr(1, close - 1), kMaxPlayerNameBytes, &player.altered);
  return player;
}

void ParseInfo(std::string_view info, ServerStatus& status) {
  // \key\value\key\value...; a key without its value ends the pairs.
  if (info.starts_with('\\')) info.remove_prefix(1);
  while (!info.empty()) {
    const size_t keyEnd = info.find('\\');
    if (keyEnd == std::string_view::npos) return;
    const std::string_view key = info.substr(0, keyEnd);
    info.remove_prefix(keyEnd + 1);
    const size_t valueEnd = std::min(info.find('\\'), info.size());
    const std::string_view value = info.substr(0, valueEnd);
    info.remove_prefix(std::min(valueEnd + 1, info.size()));
    if (key == "mapname") {
      status.map = Kept(value, kMaxStatusValueBytes);
    } else if (key == "challenge") {
      status.challenge = Kept(value, kMaxStatusValueBytes);
    } else if (key == "sv_hostname") {
      status.hostName = Kept(value, kMaxStatusValueBytes);
    } else if (key == "sv_maxclients") {
      int n = -1;
      std::string_view digits = value;
      if (!digits.starts_with('-') && TakeNumber(digits, n) && digits.empty()) status.maxClients = n;
    }
  }
}

}  // namespace

std::string StatusRequest(std::string_view challenge) {
  return "\xFF\xFF\xFF\xFFgetstatus " + std::string(challenge) + "\n";
}

std::optional<ServerStatus> ParseStatusResponse(std::string_view packet) {
  if (packet.size() > kMaxStatusPacket || !packet.starts_with(kAnswerHead)) return std::nullopt;
  packet.remove_prefix(kAnswerHead.size());
  ServerStatus status;
  size_t lineEnd = std::min(packet.find('\n'), packet.size());
  ParseInfo(packet.substr(0, lineEnd), status);
  while (lineEnd < packet.size()) {
    packet.remove_prefix(lineEnd + 1);
    lineEnd = std::min(packet.find('\n'), packet.size());
    std::optional<PlayerStatus> player = ParsePlayerLine(packet.substr(0, lineEnd));
    if (!player) continue;
    ++status.playerCount;
    if (status.players.size() < kMaxStatusPlayers) status.players.push_back(std::move(*player));
  }
  return status;
}

std::string PlayerCountText(const ServerStatus& status) {
  std::string text = std::to_string(status.playerCount);
  if (status.maxClients >= 0) text += "/" + std::to_string(status.maxClients);
  text += status.playerCount == 1 && status.maxClients < 0 ? " player" : " players";
  if (!status.map.empty()) text += " on " + status.map;
  return text;
}

std::optional<std::string> KickLine(std::string_view name) {
  if (name.empty()) return std::nullopt;
  // The server's kick reads an all-digit word as a client slot, and "all" or "allbots" (in any case) as
  // every player or every bot once no player has that name: such a name may kick someone else.
  if (std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
      SameIgnoringCase(name, "all") || SameIgnoringCase(name, "allbots"))
    return std::nullopt;
  bool quote = false;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsControl(c) || byte == 0xFD || byte == 0xFE || c == '"' || c == ';') return std::nullopt;
    quote = quote || c == ' ' || c == '/';
  }
  return quote ? "kick \"" + std::string(name) + "\"" : "kick " + std::string(name);
}

bool KickReachesAnother(std::string_view name, const std::vector<std::string>& names) {
  size_t matches = 0;
  for (const std::string& other : names)
    if (SameIgnoringCase(other, name) || SameIgnoringCase(StripColourCodes(other), name)) ++matches;
  return matches > 1;
}

KickVerdict KickPlayer(const PlayerStatus& player, const std::vector<PlayerStatus>& listed) {
  if (player.altered)
    return {std::nullopt, "Not by name: the name is shown changed (cut, or a control character as a blank)"};
  std::optional<std::string> line = KickLine(player.name);
  if (!line) {
    return {std::nullopt, "Not by name: the server would read this name as another or as more than a name"};
  }
  std::vector<std::string> names;
  for (const PlayerStatus& p : listed) names.push_back(p.name);
  if (KickReachesAnother(player.name, names))
    return {std::nullopt, "Not by name: another player's name matches it (in another case or colours)"};
  return {std::move(line), {}};
}

StatusTarget DefaultStatusTarget(const std::string& ovAddress, int gamePort) {
  const std::optional<StatusTarget> host = ParseStatusTarget(ovAddress);
  StatusTarget target{host ? host->host : ovAddress, kDefaultStatusPort};
  if (gamePort >= 1 && gamePort <= 65535) target.port = gamePort;
  return target;
}

std::optional<StatusTarget> ParseStatusTarget(std::string_view text) {
  while (text.starts_with(' ')) text.remove_prefix(1);
  while (text.ends_with(' ')) text.remove_suffix(1);
  StatusTarget target;
  // An IPv6 address is bracketed when a port follows it: [::1]:27960; bare, it has more than one colon.
  const bool bracketed = text.starts_with('[');
  std::string_view host = text;
  std::optional<std::string_view> digits;
  if (bracketed) {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = text.substr(1, close - 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty() && !rest.starts_with(':')) return std::nullopt;
    if (!rest.empty()) digits = rest.substr(1);
  } else if (const size_t colon = text.rfind(':');
             colon != std::string_view::npos && text.find(':') == colon) {
    host = text.substr(0, colon);
    digits = text.substr(colon + 1);
  }
  if (digits) {
    int port = 0;
    const auto [end, error] = std::from_chars(digits->data(), digits->data() + digits->size(), port);
    if (digits->empty() || error != std::errc() || end != digits->data() + digits->size() || port < 1 ||
        port > 65535)
      return std::nullopt;
    target.port = port;
  }
  const bool v6 = host.find(':') != std::string_view::npos;
  if (host.empty() || host.size() > 255 || (bracketed && !v6)) return std::nullopt;
  for (const char c : host) {
    const bool hostByte = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                          c == '.' || c == '-' || c == '_' || (v6 && (c == ':' || c == '%'));
    if (!hostByte) return std::nullopt;
  }
  target.host = std::string(host);
  return target;
}

}  // namespace ov
