// The status query's answer, read as untrusted bytes; the kick line and the query address a user gives;
// the query itself on the fake sockets: its challenge, whom it believes, when it stops.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "consoles/server_status.h"
#include "consoles/status_query.h"
#include "tests/common/fakes.h"

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
                                 std::string("17"), std::string("All"), std::string("ALLBOTS"),
                                 std::string("Bob\xFE\xFD"
                                             "0006say HACKED\xFE"),
                                 std::string("x\xFDy")})
    EXPECT_EQ(KickLine(bad), std::nullopt) << bad;
}

TEST(ServerStatus, KickWorksFromTheNameAsReceivedOrSaysWhyNot) {
  const auto listed = [](const std::string& name) {
    return ParseStatusResponse(kHead + "\\mapname\\m\n1 2 \"" + name + "\"\n3 4 \"Sarge\"\n")->players;
  };
  struct Case {
    std::string name;                 // as the server sent it
    std::optional<std::string> line;  // none: refused
  };
  const Case cases[] = {
      {"Vic tim", "kick \"Vic tim\""},
      {"Vic\x01tim", std::nullopt},  // listed as "Vic tim": never kicked by the altered name
      {std::string(64, 'n'), "kick " + std::string(64, 'n')},
      {std::string(70, 'n'), std::nullopt},  // shown cut to 64: not kicked by the first 64
      {"sarge", std::nullopt},               // another player's name in another case
      {"Bob\xFE\xFDx", std::nullopt},        // bytes no frame carries
  };
  for (const Case& c : cases) {
    const std::vector<PlayerStatus> players = listed(c.name);
    ASSERT_EQ(players.size(), 2u) << c.name;
    const KickVerdict verdict = KickPlayer(players[0], players);
    EXPECT_EQ(verdict.line, c.line) << c.name;
    EXPECT_EQ(verdict.refusal.empty(), c.line.has_value()) << "a refused kick says why: " << c.name;
  }
  EXPECT_EQ(listed("Vic\x01tim")[0].name, "Vic tim");
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

TEST(ServerStatus, DefaultTargetIsTheOvHostAtTheAnnouncedGamePort) {
  EXPECT_EQ(DefaultStatusTarget("10.0.0.5", 27961), (StatusTarget{"10.0.0.5", 27961}));
  EXPECT_EQ(DefaultStatusTarget("[::1]", 27962), (StatusTarget{"::1", 27962}));
  EXPECT_EQ(DefaultStatusTarget("ov.example", 0), (StatusTarget{"ov.example", kDefaultStatusPort}));
  EXPECT_EQ(DefaultStatusTarget("ov.example", 70000), (StatusTarget{"ov.example", kDefaultStatusPort}));
}

TEST(PlayerHistory, KeepsADayOfCountsAMinuteToASlot) {
  PlayerHistory history;
  EXPECT_TRUE(history.Empty());
  const Clock::time_point start{std::chrono::hours(1000)};
  history.Record(start, 2);
  history.Record(start + std::chrono::seconds(3), 6);  // the same minute: its peak and both counts
  history.Record(start + std::chrono::hours(1), 1);
  PlayerHistory::Figures f = history.Over24Hours(start + std::chrono::hours(1));
  EXPECT_EQ(f.peak, 6);
  EXPECT_EQ(f.samples, 3);
  EXPECT_DOUBLE_EQ(f.average, 3.0);
  EXPECT_EQ(history.At(start + std::chrono::hours(1), 60).peak, 6);
  // A day later the first minute's slot is out of date, though the slot is the same one.
  f = history.Over24Hours(start + std::chrono::hours(24) + std::chrono::seconds(30));
  EXPECT_EQ(f.peak, 1);
  EXPECT_EQ(f.samples, 1);
  history.Record(start + std::chrono::hours(24), 3);
  EXPECT_EQ(history.At(start + std::chrono::hours(24), 0).samples, 1);
}

// A status query on the fake sockets, with challenges counted up from 1.
struct QueryRig {
  test::FakeEventLoop loop;
  test::FakeSocketApi sockets{loop};
  uint64_t next = 0;
  StatusQuery query{sockets, loop, [this] { return ++next; }};
  int changes = 0;
  QueryRig() {
    query.SetChangedHandler([this] { ++changes; });
  }

  static SocketAddress V4(uint8_t last) {
    SocketAddress a;
    a.bytes = {10, 0, 0, last};
    return a;
  }
  int Socket() const { return sockets.lastSocket; }
  const std::vector<test::FakeSocketApi::Datagram>& Sent() { return sockets.datagrams.at(Socket()).sent; }
  static std::string Challenge(uint64_t n) {  // as the query writes it: 16 hex digits, lowest first
    std::string text(16, '0');
    for (char& c : text) {
      c = "0123456789abcdef"[n & 15];
      n >>= 4;
    }
    return text;
  }
  void Answer(const SocketAddress& from, int port, const std::string& challenge, int players) {
    std::string packet = kHead + "\\mapname\\dm6\\challenge\\" + challenge + "\n";
    for (int i = 0; i < players; ++i) packet += "1 2 \"p" + std::to_string(i) + "\"\n";
    sockets.DeliverDatagram(Socket(), {from, Htons(uint16_t(port)), packet});
    loop.RunPending();
  }
};

TEST(StatusQuery, TakesOnlyTheAnswerFromTheServerThatEchoesThisQuerysChallenge) {
  QueryRig r;
  r.query.SetTarget({"10.0.0.7", 27961});
  r.query.Start();
  ASSERT_EQ(r.Sent().size(), 1u) << "no query went at the start";
  EXPECT_EQ(r.Sent()[0].bytes, "\xFF\xFF\xFF\xFFgetstatus " + QueryRig::Challenge(1) + "\n");
  EXPECT_EQ(r.Sent()[0].peer, QueryRig::V4(7));
  EXPECT_EQ(r.Sent()[0].port, Htons(27961));
  r.loop.Advance(StatusQuery::kRefreshMs);  // the next query, with a fresh challenge
  ASSERT_EQ(r.Sent().size(), 2u);
  EXPECT_EQ(r.query.State(), StatusQuery::Shown::NoAnswer);
  struct Forged {
    const char* what;
    SocketAddress from;
    int port;
    std::string challenge;
  };
  const Forged forged[] = {
      {"another host", QueryRig::V4(8), 27961, QueryRig::Challenge(2)},
      {"another port", QueryRig::V4(7), 27960, QueryRig::Challenge(2)},
      {"no challenge", QueryRig::V4(7), 27961, ""},
      {"a guessed challenge", QueryRig::V4(7), 27961, QueryRig::Challenge(3)},
      {"the last query's challenge", QueryRig::V4(7), 27961, QueryRig::Challenge(1)},
  };
  for (const Forged& f : forged) {
    r.Answer(f.from, f.port, f.challenge, 5);
    EXPECT_EQ(r.query.State(), StatusQuery::Shown::NoAnswer) << f.what;
  }
  r.Answer(QueryRig::V4(7), 27961, QueryRig::Challenge(2), 3);
  ASSERT_EQ(r.query.State(), StatusQuery::Shown::Answer);
  EXPECT_EQ(r.query.Status().playerCount, 3u);
  // One answer per query: the same answer again changes nothing, nor counts twice.
  const int changes = r.changes;
  r.Answer(QueryRig::V4(7), 27961, QueryRig::Challenge(2), 9);
  EXPECT_EQ(r.query.Status().playerCount, 3u);
  EXPECT_EQ(r.changes, changes);
  EXPECT_EQ(r.query.History().Over24Hours(r.loop.Now()).samples, 1);
}

TEST(StatusQuery, LooksANameUpPrefersIpv4AndStoppedHoldsNothing) {
  QueryRig r;
  SocketAddress v6;
  v6.v6 = true;
  v6.bytes[15] = 1;
  r.sockets.hosts["game.example"] = {v6, QueryRig::V4(9)};
  r.query.SetTarget({"game.example", 27960});
  r.query.Start();
  r.loop.Advance(r.sockets.lookupDelayMs);
  ASSERT_EQ(r.sockets.OpenDatagrams(), 1);
  ASSERT_EQ(r.Sent().size(), 1u);
  EXPECT_EQ(r.Sent()[0].peer, QueryRig::V4(9));

  r.query.Stop();
  EXPECT_EQ(r.sockets.OpenDatagrams(), 0);
  EXPECT_EQ(r.query.State(), StatusQuery::Shown::Nothing);
  r.loop.Advance(10 * StatusQuery::kRefreshMs);
  EXPECT_EQ(r.Sent().size(), 1u) << "a stopped query went on asking";

  // A look-up under way when it stops is cancelled; a name that finds nothing is "no answer".
  r.sockets.hosts.clear();
  r.query.Start();
  r.query.Stop();
  EXPECT_EQ(r.sockets.cancelledLookups.size(), 1u);
  r.query.Start();
  r.loop.Advance(StatusQuery::kRefreshMs);
  EXPECT_EQ(r.query.State(), StatusQuery::Shown::NoAnswer);
  EXPECT_EQ(r.sockets.OpenDatagrams(), 0);
}

}  // namespace
}  // namespace ov
