#pragma once
// A game server's own status query over UDP, as Quake III-engine servers answer it: the out-of-band
// packet "getstatus CHALLENGE" is answered by "statusResponse", a line of \key\value info pairs (the
// challenge echoed among them), then one line per player: score ping "name". Answers are untrusted bytes:
// what is kept of one is bounded, whatever it holds.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ov {

inline constexpr int kDefaultStatusPort = 27960;

// The query, carrying a challenge the answer must echo: letters and digits, at most 32.
std::string StatusRequest(std::string_view challenge);

// The largest answer read; a longer datagram is not an answer (the engines send at most 16 KiB).
constexpr size_t kMaxStatusPacket = 16384;
constexpr size_t kMaxStatusPlayers = 64;     // players kept of one answer; the rest are only counted
constexpr size_t kMaxPlayerNameBytes = 64;   // a longer name is cut
constexpr size_t kMaxStatusValueBytes = 64;  // the map's name, the host's name

struct PlayerStatus {
  std::string name;  // as sent, colour codes included; cut and control bytes blanked when altered
  int score = 0;
  int ping = 0;
  bool altered = false;  // the name was longer than kMaxPlayerNameBytes or held a control byte
  bool operator==(const PlayerStatus&) const = default;
};

struct ServerStatus {
  std::string map;
  std::string hostName;
  std::string challenge;              // as echoed, empty when none was
  int maxClients = -1;                // -1 when the answer did not say
  size_t playerCount = 0;             // every player line of the answer, kept or not
  std::vector<PlayerStatus> players;  // the first kMaxStatusPlayers of them
};

// The answer's fields, or nothing when the packet is not a statusResponse (or is larger than
// kMaxStatusPacket). Malformed player lines are passed over; control bytes in names and values become
// blanks.
std::optional<ServerStatus> ParseStatusResponse(std::string_view packet);

// "3/16 players on oa_dm1": the player count, the limit when known, and the map.
std::string PlayerCountText(const ServerStatus& status);

// The console line that kicks a player by name: kick NAME, the name quoted when it holds a blank or a
// slash. Nothing for a name no console would read as one word: empty, or holding a quote, a semicolon,
// a control byte or a byte no frame can carry (0xFD, 0xFE), and a name the server's kick reads as another:
// all digits (a client slot), "all" or "allbots".
std::optional<std::string> KickLine(std::string_view name);
// Whether a kick by name, among the players listed (names as sent), could reach another player: the
// server kicks the first whose name, or whose name without colour codes, is the word given, in any case.
bool KickReachesAnother(std::string_view name, const std::vector<std::string>& names);

// Kick for one of the players listed: the line, or why there is none (worded for the user).
struct KickVerdict {
  std::optional<std::string> line;
  std::string refusal;
};
KickVerdict KickPlayer(const PlayerStatus& player, const std::vector<PlayerStatus>& listed);

// Where to query, as the user gives it: "HOST" or "HOST:PORT" (port 1 to 65535, 27960 when not given),
// an IPv6 address bare or in brackets, with a port only in brackets: "[::1]:27960".
struct StatusTarget {
  std::string host;
  int port = kDefaultStatusPort;
  std::string Text() const {
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
  }
  bool operator==(const StatusTarget&) const = default;
};
std::optional<StatusTarget> ParseStatusTarget(std::string_view text);

// Where a Quake server's status is asked when the user has not said: its OV server's host (an IPv6
// address out of its brackets), at the game port the OV server announced (1 to 65535), else at 27960.
StatusTarget DefaultStatusTarget(const std::string& ovAddress, int gamePort);

}  // namespace ov
