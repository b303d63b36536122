// The status query's answer, read as untrusted bytes; the kick line and the query address a user gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "consoles/server_status.h"

namespace ov {
namespace {

const std::string kHead = "\xFF\xFF\xFF\xFFstatusResponse\n";

struct Case {
  const char* what;
  std::string packet;
  bool answer;
  std::string summary;    // PlayerCountText
  std::string firstName;  // of the first player kept, when any
  size_t kept = 0;
};

TEST(ServerStatus, AnswersGoodTruncatedOversizedAndHostile) {
  const std::string good = kHead +
                           "\\sv_hostname\\Box\\mapname\\oa_dm1\\sv_maxclients\\16\\g_gametype\\0\n"
                           "12 48 \"^1Red^7Baron\"\n7 95 \"Blue Wolf\"\n";
  std::string many = kHead + "\\mapname\\big\n";
  for (int i = 0; i < 200; ++i) many += "1 2 \"p" + std::to_string(i) + "\"\n";
  const Case cases[] = {
      {"good", good, true, "2/16 players on oa_dm1", "^1Red^7Baron", 2},
      {"no players, no final line break", kHead + "\\mapname\\q3dm17\\sv_maxclients\\8", true,
       "0/8 players on q3dm17", "", 0},
      {"cut inside a player line", good.substr(0, good.size() - 12), true, "1/16 players on oa_dm1",
       "^1Red^7Baron", 1},
      {"cut inside the head", good.substr(0, 10), false, "", "", 0},
      {"another answer", "\xFF\xFF\xFF\xFFinfoResponse\n\\mapname\\x\n", false, "", "", 0},
      {"larger than an answer can be", good + std::string(kMaxStatusPacket, ' '), false, "", "", 0},
      {"more players than are kept: all counted", many, true, "200 players on big", "p0", kMaxStatusPlayers},
      {"malformed player lines passed over",
       kHead + "\\mapname\\m\nx 1 \"a\"\n1 \"b\"\n1 2 c\n1 2 \"\n99999999999 1 \"d\"\n-3 0 \"ok\"\n", true,
       "1 player on m", "ok", 1},
      {"control bytes and a long name",
       kHead + "\\mapname\\a\rb\\sv_maxclients\\-1\n0 0 \"x\x1by\x7F" + std::string(500, 'n') + "\"\n", true,
       "1 player on a b", "x y ", 1},
      {"hostile info: odd pairs, huge limit, long map",
       kHead + "\\sv_maxclients\\99999999999\\mapname\\" + std::string(300, 'm') + "\\lonely\n", true,
       "0 players on " + std::string(kMaxStatusValueBytes, 'm'), "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<ServerStatus> status = ParseStatusResponse(c.packet);
    ASSERT_EQ(status.has_value(), c.answer);
    if (!status) continue;
    EXPECT_EQ(PlayerCountText(*status), c.summary);
    EXPECT_EQ(status->players.size(), c.kept);
    if (c.kept > 0) {
      EXPECT_EQ(status->players[0].name.substr(0, c.firstName.size()), c.firstName);
      EXPECT_LE(status->players[0].name.size(), kMaxPlayerNameBytes);
    }
  }
  const ServerStatus read = *ParseStatusResponse(good);
  EXPECT_EQ(read.players[1], (PlayerStatus{"Blue Wolf", 7, 95}));
  EXPECT_EQ(read.hostName, "Box");
}

TEST(ServerStatus, KickLineQuotesWhatNeedsItAndRefusesWhatCannotBeOneWord) {
  EXPECT_EQ(KickLine("^1Red^7Baron"), "kick ^1Red^7Baron");
  EXPECT_EQ(KickLine("Blue Wolf"), "kick \"Blue Wolf\"");
  EXPECT_EQ(KickLine("a//b"), "kick \"a//b\"");
  EXPECT_EQ(KickLine("^1007"), "kick ^1007");
  EXPECT_EQ(KickLine("allan"), "kick allan");
  for (const std::string& bad : {std::string(), std::string("x;quit"), std::string("say \"hi"),
                                 std::string("a\nquit"), std::string("a\0b", 3), std::string("0"),
                                 std::string("17"), std::string("All"), std::string("ALLBOTS")})
    EXPECT_EQ(KickLine(bad), std::nullopt) << bad;
}

TEST(ServerStatus, AKickThatCouldReachAnotherPlayerIsKnown) {
  struct Case {
    const char* name;
    std::vector<std::string> listed;  // the name itself among them
    bool another;
  };
  const Case cases[] = {
      {"Wolf", {"Wolf", "Baron"}, false},
      {"Wolf", {"Wolf", "wOLF"}, true},       // any case
      {"Wolf", {"^1Wolf", "Wolf"}, true},     // colour codes
      {"^1Wolf", {"^1Wolf", "Wolf"}, false},  // the other's name is not the word given
      {"Wolf", {"Wolf", "Wolf"}, true},       // the same name twice
      {"Wolf", {"Wolf", "^^Wolf", "Wolfy", "Wol"}, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(KickReachesAnother(c.name, c.listed), c.another) << c.name << " beside " << c.listed[1];
}

TEST(ServerStatus, QueryAddressHostAndPort) {
  EXPECT_EQ(ParseStatusTarget(" 10.0.0.5 "), (StatusTarget{"10.0.0.5", 27960}));
  EXPECT_EQ(ParseStatusTarget("game.example:27961"), (StatusTarget{"game.example", 27961}));
  EXPECT_EQ(ParseStatusTarget("[::1]:27961"), (StatusTarget{"::1", 27961}));
  EXPECT_EQ(ParseStatusTarget("[fe80::1%eth0]"), (StatusTarget{"fe80::1%eth0", 27960}));
  EXPECT_EQ(ParseStatusTarget("::1"), (StatusTarget{"::1", 27960}));
  EXPECT_EQ((StatusTarget{"::1", 27961}).Text(), "[::1]:27961");  // read back as it was
  for (const char* bad : {"", ":27960", "host:", "host:0", "host:65536", "host:27x", "a b", "h;rm", "[::1",
                          "[::1]x", "[::1]:", "[host]:1", "[]:1", "[a;b:c]"})
    EXPECT_EQ(ParseStatusTarget(bad), std::nullopt) << bad;
}

}  // namespace
}  // namespace ov
