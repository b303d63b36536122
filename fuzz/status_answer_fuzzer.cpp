// The status query's answer, as any UDP peer may send it, against what its parser promises: bounded,
// names and values without control bytes, every kept player counted, and no kick of a name shown altered
// nor one holding a byte no frame can carry.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "consoles/server_status.h"

namespace {

void Require(bool holds) {
  if (!holds) std::abort();
}

bool Printable(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view packet(reinterpret_cast<const char*>(data), size);
  const std::optional<ov::ServerStatus> status = ov::ParseStatusResponse(packet);
  if (!status) return 0;
  Require(size <= ov::kMaxStatusPacket);
  Require(status->players.size() <= ov::kMaxStatusPlayers && status->players.size() <= status->playerCount);
  Require(status->map.size() <= ov::kMaxStatusValueBytes && Printable(status->map));
  Require(status->hostName.size() <= ov::kMaxStatusValueBytes && Printable(status->hostName));
  Require(status->challenge.size() <= ov::kMaxStatusValueBytes && Printable(status->challenge));
  for (const ov::PlayerStatus& player : status->players) {
    Require(player.name.size() <= ov::kMaxPlayerNameBytes && Printable(player.name));
    // A name the kick line takes is one word to a console: no line break, quote, semicolon or frame byte
    // gets through, and a name the list shows changed is never kicked by what it shows.
    const ov::KickVerdict verdict = ov::KickPlayer(player, status->players);
    Require(verdict.line.has_value() != !verdict.refusal.empty());
    if (verdict.line) {
      Require(!player.altered);
      Require(verdict.line->find_first_of("\n\r;\xFD\xFE") == std::string::npos);
    }
  }
  Require(!ov::PlayerCountText(*status).empty());
  return 0;
}
