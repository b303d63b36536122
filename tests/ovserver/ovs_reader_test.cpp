// Splitting of client streams, the configuration file and command lines, accounts and the login guard.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <iostream>

#include "ovserver/accounts.h"
#include "ovserver/game_relay.h"
#include "ovserver/login_guard.h"
#include "ovserver/ov_server.h"
#include "ovserver/process_figures.h"
#include "ovserver/request_reader.h"
#include "ovserver/server_config.h"
#include "tests/common/full_disk.h"
#include "wire/cipher.h"
#include "wire/payload.h"

namespace ovs {
namespace {

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::pair<std::string, std::string>> Pairs(const std::vector<ov::Frame>& frames) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const ov::Frame& frame : frames) pairs.emplace_back(frame.code, frame.payload);
  return pairs;
}

std::string Login(const std::string& name, const std::string& password) {
  ov::MessageCipher cipher;
  cipher.BuildMessageKey();
  return ov::MakeFrame(1905, cipher.EncryptMsg(ov::PadTo8(name) + ov::PadTo16(password)));
}

TEST(OvsRequestReader, FramesComeOutWholeAndInOrderHoweverTheStreamIsCut) {
  // The login's ciphertext holds 0xFE (an "l" at the fifth place of the name enciphers to it), and
  // a console payload holds 0xFD and zero bytes.
  const std::string login = Login("abcdl", "pw");
  ASSERT_NE(login.find('\xFE'), login.size() - 1);
  const std::string stream = ov::MakeFrame(1042, "7") + login + ov::MakeFrame(0, std::string("a\xFD\0b", 4)) +
                             ov::MakeFrame(1026, "standin\x80+map e1m1");
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"1042", "7"},
      {"1905", login.substr(5, login.size() - 6)},
      {"0000", std::string("a\xFD\0b", 4)},
      {"1026", "standin\x80+map e1m1"}};

  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    RequestReader reader;
    auto first = reader.Feed(std::string_view(stream).substr(0, cut));
    auto second = reader.Feed(std::string_view(stream).substr(cut));
    first.frames.insert(first.frames.end(), second.frames.begin(), second.frames.end());
    EXPECT_EQ(Pairs(first.frames), expected) << "cut at " << cut;
    EXPECT_TRUE(first.problems.empty() && second.problems.empty()) << "cut at " << cut;
    EXPECT_EQ(reader.Pending(), 0u);
  }
  RequestReader bytewise;
  std::vector<ov::Frame> frames;
  for (char c : stream) {
    auto result = bytewise.Feed(std::string_view(&c, 1));
    frames.insert(frames.end(), result.frames.begin(), result.frames.end());
  }
  EXPECT_EQ(Pairs(frames), expected);
}

TEST(OvsRequestReader, JunkShortCodesAndOversizedFramesAreReportedAndSkipped) {
  RequestReader reader;
  auto result = reader.Feed("junk" + ov::MakeFrame(1024, "3") +
                            "\xFD"
                            "12\xFE" +
                            ov::MakeFrame(1041, "3"));
  EXPECT_EQ(Pairs(result.frames),
            (std::vector<std::pair<std::string, std::string>>{{"1024", "3"}, {"1041", "3"}}));
  ASSERT_EQ(result.problems.size(), 2u);
  EXPECT_NE(result.problems[0].find("skipped 4 bytes"), std::string::npos);
  EXPECT_NE(result.problems[1].find("short code"), std::string::npos);

  // An account frame without the cipher marker is read up to its end byte; one with the marker but
  // shorter than its width waits for the width's worth of bytes, then is read up to its end byte.
  result = reader.Feed(ov::MakeFrame(1905, "plain") + ov::MakeFrame(1907, "\x07\x05short"));
  EXPECT_EQ(Pairs(result.frames), (std::vector<std::pair<std::string, std::string>>{{"1905", "plain"}}));
  result = reader.Feed(ov::MakeFrame(0, std::string(40, 'z')));
  EXPECT_EQ(Pairs(result.frames), (std::vector<std::pair<std::string, std::string>>{
                                      {"1907", "\x07\x05short"}, {"0000", std::string(40, 'z')}}));

  // An endless frame is dropped once past the bound, without keeping its bytes; the next frame is read.
  result = reader.Feed(
      "\xFD"
      "0000" +
      std::string(kMaxRequestSize, 'x'));
  EXPECT_EQ(result.problems.size(), 1u);
  EXPECT_EQ(reader.Pending(), 0u);
  result = reader.Feed(std::string(1000, 'y') + "\xFE" + ov::MakeFrame(1042, "5"));
  EXPECT_EQ(Pairs(result.frames), (std::vector<std::pair<std::string, std::string>>{{"1042", "5"}}));
}

TEST(OvsRequestReader, CodesShorterThanFourCharactersAreMalformedWhereverTheyStand) {
  const std::pair<std::string, size_t> cases[] = {{"", 0}, {"1", 0}, {"12", 0}, {"123", 0}, {"1234", 1}};
  for (const auto& [code, frames] : cases) {
    for (const bool first : {true, false}) {
      RequestReader reader;
      const std::string bad = "\xFD" + code + "\xFE";
      const std::string good = ov::MakeFrame(1042, "5");
      auto result = reader.Feed(first ? bad + good : good + bad);
      EXPECT_EQ(result.frames.size(), frames + 1) << code;
      EXPECT_EQ(result.problems.size(), 1 - frames) << code;
      if (frames == 0) {
        EXPECT_NE(result.problems[0].find("short code"), std::string::npos) << code;
      }
      EXPECT_EQ(result.frames[first ? frames : 0].code, "1042") << code;
      EXPECT_EQ(reader.Pending(), 0u);
    }
  }
}

TEST(OvsRequestReader, OneSizeBoundHoweverTheFrameArrives) {
  // Whole frames of the bound's size less one, the bound, and one more, for console text, a start
  // request and an over-long account message, each followed by a small frame that must come through.
  const std::string account = Login("admin", "pw");
  const std::string small = ov::MakeFrame(1042, "5");
  for (const size_t size : {kMaxRequestSize - 1, kMaxRequestSize, kMaxRequestSize + 1}) {
    const std::string frames[] = {
        ov::MakeFrame(0, std::string(size - 6, 'c')), ov::MakeFrame(1026, std::string(size - 6, 's')),
        account.substr(0, account.size() - 1) + std::string(size - account.size(), 'a') + "\xFE"};
    for (const std::string& frame : frames) {
      ASSERT_EQ(frame.size(), size);
      const bool kept = size <= kMaxRequestSize;
      const std::string where = frame.substr(1, 4) + " of " + std::to_string(size) + " bytes";
      RequestReader whole;
      const auto once = whole.Feed(frame + small);
      RequestReader bytewise;
      std::vector<ov::Frame> got;
      size_t problems = 0;
      for (char c : frame + small) {
        auto result = bytewise.Feed(std::string_view(&c, 1));
        got.insert(got.end(), result.frames.begin(), result.frames.end());
        problems += result.malformed;
        // An oversized frame keeps no more than the bound while it waits for its end.
        ASSERT_LE(bytewise.Pending(), kMaxRequestSize) << where;
      }
      for (const auto& frames : {once.frames, got}) {
        ASSERT_EQ(frames.size(), kept ? 2u : 1u) << where;
        if (kept) {
          EXPECT_EQ(frames[0].payload.size(), size - 6) << where;
        }
        EXPECT_EQ(frames.back().code, "1042") << where;
      }
      EXPECT_EQ(once.malformed, kept ? 0u : 1u) << where;
      EXPECT_EQ(problems, kept ? 0u : 1u) << where;
      if (!kept) {
        EXPECT_NE(once.problems[0].find("oversized"), std::string::npos) << where;
      }
      EXPECT_EQ(whole.Pending() + bytewise.Pending(), 0u) << where;
    }
  }
}

TEST(OvsEncipherForFrame, NoFrameEndOrZeroByteEverLeavesEnciphered) {
  ov::MessageCipher cipher;
  cipher.BuildMessageKey();
  for (int value = 1; value < 256; ++value) {
    const std::string plain(40, static_cast<char>(value));
    const std::string sealed = EncipherForFrame(cipher, plain);
    EXPECT_EQ(sealed.find('\xFE'), std::string::npos) << value;
    EXPECT_EQ(sealed.find('\0', 2), std::string::npos) << value;
    const std::string back = cipher.DecryptMsg(sealed);
    ASSERT_EQ(back.size(), plain.size());
    for (size_t i = 0; i < back.size(); ++i) EXPECT_TRUE(back[i] == plain[i] || back[i] == '?');
  }
  EXPECT_EQ(cipher.DecryptMsg(EncipherForFrame(cipher, "newuser")), "newuser");
}

TEST(OvsCommandLine, SplitsOnBlanksAndQuotesOnly) {
  std::vector<std::string> args;
  std::string error;
  ASSERT_TRUE(
      SplitCommandLine("  +map e1m1\r\n+set 'host name' \"a'b\" x\"y z\"w $(rm -rf ~);|&>", args, error));
  EXPECT_EQ(args, (std::vector<std::string>{"+map", "e1m1", "+set", "host name", "a'b", "xy zw", "$(rm",
                                            "-rf", "~);|&>"}));
  ASSERT_TRUE(SplitCommandLine("'' \"\"", args, error));
  EXPECT_EQ(args, (std::vector<std::string>{"", ""}));
  EXPECT_FALSE(SplitCommandLine("say 'oops", args, error));
  EXPECT_NE(error.find("single quote"), std::string::npos);
}

// The login caption travels enciphered: a character whose enciphered byte would end the frame cannot,
// and the server says which before any client shows a "?" there.
TEST(OvsEncipherForFrame, TheCaptionsCharactersThatCannotTravelAreNamed) {
  ov::MessageCipher cipher;
  cipher.BuildMessageKey();
  // A letter somewhere in the caption that enciphers to the frame's end byte.
  std::string caption(24, ' ');
  size_t at = 0;
  for (; at < caption.size(); ++at) {
    for (char letter = 'A'; letter <= 'z' && uint8_t(cipher.EncryptMsg(caption)[at + 2]) != 0xFE; ++letter)
      caption[at] = letter;
    if (uint8_t(cipher.EncryptMsg(caption)[at + 2]) == 0xFE) break;
    caption[at] = ' ';
  }
  ASSERT_LT(at, caption.size()) << "no letter of a 24-character caption ends the frame";
  std::string shown = caption;
  shown[at] = '?';
  EXPECT_EQ(cipher.DecryptMsg(EncipherForFrame(cipher, caption)), shown);
  EXPECT_EQ(CaptionHoles(cipher, caption), std::vector<size_t>{at});
  EXPECT_EQ(CaptionHoles(cipher, "Welcome to the test box"), std::vector<size_t>{});
}

// Values of password-like settings are masked wherever the command line sets them; the rest, blanks and
// quotes included, is shown as it was.
TEST(OvsCommandLine, MasksTheValuesOfPasswordLikeSettingsOnly) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"+set rconpassword s3cret +map oa_dm1", "+set rconpassword ******** +map oa_dm1"},
      {"+SET G_Password 'two words'  +set dedicated 1", "+SET G_Password ********  +set dedicated 1"},
      {"+seta sv_privatePassword x +sets rcon_password y",
       "+seta sv_privatePassword ******** +sets rcon_password ********"},
      {"set spectator_password z", "set spectator_password ********"},
      {"+rcon_password hunter2 +password \"a b\"", "+rcon_password ******** +password ********"},
      {"--rcon-password hunter2 --admin-passwd=x y", "--rcon-password ******** --admin-passwd=******** y"},
      {"--status-port 27960 --name=password", "--status-port 27960 --name=password"},
      {"+set hostname password +set g_needpass 1", "+set hostname password +set g_needpass 1"},
      {"+set rconpassword", "+set rconpassword"},
      // A Quake-engine server takes every word up to the end of the command as the value, and ends a
      // command at "+", ";" or a line break outside quotes; it splits words at control bytes too.
      {"+set rconpassword my secret phrase +map x", "+set rconpassword ******** +map x"},
      {"+map x;set rconpassword s t;map y", "+map x;set rconpassword ********;map y"},
      {"+map x+set rconpassword s", "+map x+set rconpassword ********"},
      {"\"+set rconpassword s t\" +map x", "\"+set rconpassword ******** +map x"},
      {"+set\x01rconpassword\x01s", "+set\x01rconpassword\x01********"},
      {"+set rconpassword a+b --rconpassword c+d", "+set rconpassword ******** --rconpassword ********"},
      {"\"--rconpassword s\" x", "\"--rconpassword ******** x"},
      {"", ""}};
  for (const auto& [line, shown] : cases) EXPECT_EQ(MaskSecrets(line), shown) << line;
}

// What a type's arguments set, a user's command line cannot set again, in whatever form it tries.
TEST(OvsCommandLine, TheTypesArgumentsComeLastAndCannotBeSetAgainByTheUser) {
  const ServerType arena{"arena", "/bin/true", {"+set", "dedicated", "1", "+set", "net_port", "%PORT%"}};
  const ServerType standin{
      "standin", "/bin/true", {"--interval", "15", "--status-port", "off", "-Port=%PORT%"}};
  using Args = std::vector<std::string>;
  struct Case {
    const ServerType& type;
    Args user;
    Args composed;  // empty: refused with why
    std::string why;
  };
  const Case cases[] = {
      {arena,
       {"+map", "oa_dm1"},
       {"+map", "oa_dm1", "+set", "dedicated", "1", "+set", "net_port", "27961"},
       ""},
      {arena, {"+set", "dedicated", "2"}, {}, "dedicated is set by the server type arena"},
      {arena, {"+seta", "NET_PORT", "27941"}, {}, "net_port is set by the server type arena"},
      {arena, {"+net_port", "27941"}, {}, "net_port"},
      {arena, {"+toggle", "dedicated"}, {}, "dedicated"},
      {arena, {"+set\tdedicated\t2"}, {}, "dedicated"},
      {arena, {"+set", "sv_hostname", "dedicated fun"}, {}, "dedicated"},
      {arena, {"+set", "sv_hostname", "\"", "+set"}, {}, "an unpaired double quote"},
      {arena,
       {"+set", "sv_hostname", "say \"hi\""},
       {"+set", "sv_hostname", "say \"hi\"", "+set", "dedicated", "1", "+set", "net_port", "27961"},
       ""},
      // A Quake-engine server cuts its command line at 1024 bytes and 32 commands: the type's would go.
      {arena, {"+set", "sv_hostname", std::string(kMaxUserCommandLine, 'x')}, {}, "longer than 512 bytes"},
      {arena, {"+a", "'x\ny'", std::string(kMaxUserCommands - 1, '+')}, {}, "more than 16 commands"},
      {arena,
       {"+a", std::string(kMaxUserCommands - 1, '+')},
       {"+a", std::string(kMaxUserCommands - 1, '+'), "+set", "dedicated", "1", "+set", "net_port", "27961"},
       ""},
      {standin, {"--status-port", "27955"}, {}, "status-port is set by the server type standin"},
      {standin, {"--Interval=1"}, {}, "interval"},
      {standin, {"--port", "27955"}, {}, "port is set"},
      {standin,
       {"+map", "e1m1", "-5"},
       {"+map", "e1m1", "-5", "--interval", "15", "--status-port", "off", "-Port=27961"},
       ""},
  };
  for (const Case& test : cases) {
    Args composed;
    std::string error;
    const bool ok = ComposeArguments(test.type, test.user, 27961, composed, error);
    const std::string shown =
        test.type.name + ": " + test.user[0] + (test.user.size() > 1 ? " " + test.user[1] : "");
    EXPECT_EQ(ok, !test.composed.empty()) << shown << ": " << error;
    if (ok) {
      EXPECT_EQ(composed, test.composed) << shown;
    } else {
      EXPECT_NE(error.find(test.why), std::string::npos) << shown << ": " << error;
    }
  }
}

// The fields of /proc/PID/stat that tell a game server's cost, after a command name that may hold
// anything, parentheses and blanks among them.
TEST(OvsProcessFigures, StatLinesAreReadPastTheCommandNameAndFiguresTold) {
  const std::string tail =
      " R 100 200 300 0 -1 4194304 101 0 0 0 7 3 2 1 20 0 1 0 572758 3133440 379 1 2 3\n";
  struct Case {
    std::string line;
    bool read;
  };
  const Case cases[] = {
      {"18925 (cat)" + tail, true},
      {"18925 (a) b (c))" + tail, true},
      {"18925 (cat) R 100 200 300 0 -1 4194304 101 0 0 0 7 3 2 1 20 0 1 0 572758\n", false},  // cut short
      {"18925 (cat) R 100 200 300 0 -1 4194304 101 0 0 0 7 x 2 1 20 0 1 0 572758 3133440 379\n", false},
      {"18925 cat" + tail, false},
  };
  for (const Case& test : cases) {
    StatLine line;
    ASSERT_EQ(ParseStatLine(test.line, line), test.read) << test.line;
    if (!test.read) continue;
    EXPECT_EQ(line.session, 300);
    EXPECT_EQ(line.ticks, 13);
    EXPECT_EQ(line.residentPages, 379);
  }
  EXPECT_EQ(DescribeFigures({2.5, 50LL << 20}, 100), "cpu 2.5%, 50.0 MiB");
  EXPECT_EQ(DescribeFigures({0.2, 0}, 0), "cpu 0.0%, 0.0 MiB");  // read in its first instant
}

// However often clients ask, /proc is walked at most once a second, unless a server it did not cover runs.
TEST(OvsProcessFigures, ReadsAreSharedForASecondByEveryRequestTheyCover) {
  int reads = 0;
  FiguresCache cache([&](const std::vector<long long>& leaders) {
    ++reads;
    std::map<long long, ProcessFigures> read;
    for (const long long leader : leaders) read[leader] = {double(reads), 0};
    return read;
  });
  struct Step {
    int atMs;
    std::vector<long long> leaders;
    bool read;
  };
  const Step steps[] = {
      {0, {7, 9}, true}, {10, {9, 7}, false}, {999, {9}, false}, {999, {}, false},
      {999, {8}, true},  {1500, {8}, false},  {2000, {8}, true}, {2000, {8}, false},
  };
  const auto start = std::chrono::steady_clock::time_point{};
  for (const Step& step : steps) {
    const int before = reads;
    const auto& figures = cache.Of(step.leaders, start + std::chrono::milliseconds(step.atMs));
    EXPECT_EQ(reads > before, step.read) << "at " << step.atMs << " ms";
    for (const long long leader : step.leaders) EXPECT_EQ(figures.at(leader).cpuSeconds, reads);
  }
}

TEST(OvsConfig, ReadsTypesAndLimitsAndNamesTheBadLine) {
  QTemporaryDir dir;
  const std::string base = dir.path().toStdString();
  {
    std::ofstream tool(base + "/tool");
    tool << "#!/bin/sh\n";
  }
  chmod((base + "/tool").c_str(), 0755);
  ServerConfig config;
  std::string error;
  std::vector<std::string> notes;
  ASSERT_TRUE(
      ParseConfig("# demo\nname  Test box \ntype dm tool --fast 'a b'\noptional-type oa /nonexistent/oa\n"
                  "backlog 20\ngame-ports 28000-28009\nrestart dm on-crash 3/600\nrestart oa on-crash 1/60\n",
                  base, config, error, notes))
      << error;
  EXPECT_EQ(config.name, "Test box");
  ASSERT_EQ(config.types.size(), 1u);
  EXPECT_EQ(config.types[0].executable, base + "/tool");
  EXPECT_EQ(config.types[0].arguments, (std::vector<std::string>{"--fast", "a b"}));
  EXPECT_EQ(config.backlogLines, 20);
  EXPECT_EQ(config.gamePorts.first, 28000);
  EXPECT_EQ(config.gamePorts.last, 28009);
  EXPECT_EQ(config.types[0].restart.maxRestarts, 3);  // the skipped type's restart is skipped with it
  EXPECT_EQ(config.types[0].restart.windowSeconds, 600);

  // Control characters in what the consoles show become blanks.
  ServerConfig withControls;
  ASSERT_TRUE(ParseConfig("name a\x1b[2Jb\tc\ncaption x\ty\x7Fz\ntype t\x01u tool\n", base, withControls,
                          error, notes))
      << error;
  EXPECT_EQ(withControls.name, "a [2Jb c");
  EXPECT_EQ(withControls.caption, "x y z");
  ASSERT_EQ(withControls.types.size(), 1u);
  EXPECT_EQ(withControls.types[0].name, "t u");
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("\"oa\""), std::string::npos);

  const std::pair<std::string, std::string> bad[] = {
      {"name x\ntype dm /nonexistent/dm\n", "line 2: cannot run"},
      {"backlog lots\n", "line 1: backlog must be a number"},
      {"type dm tool\ntype dm tool\n", "named twice"},
      {"colour blue\n", "unknown setting"},
      {"type a tool\ntype b tool\ntype c tool\ntype d tool\ntype e tool\ntype f tool\ntype g tool\n",
       "line 7"},
      {"name a\x80"
       "b\n",
       "reserved"},
      {"hash-iterations 1000001\n", "hash-iterations must be a number from 1000 to 1000000"},
      {"game-ports 27999-27960\n", "game-ports must be FIRST-LAST"},
      {"game-ports 80-90\n", "game-ports must be FIRST-LAST"},
      {"game-ports 27960\n", "game-ports must be FIRST-LAST"},
      {"restart dm on-crash 3/600\ntype dm tool\n", "line 1: restart names \"dm\", which no type line"},
      {"type dm tool\nrestart dm on-crash 0/600\n", "line 2: restart must be TYPE on-crash N/SECONDS"},
      {"type dm tool\nrestart dm on-crash 3\n", "restart must be"},
      {"type dm tool\nrestart dm always 3/600\n", "restart must be"}};
  for (const auto& [text, why] : bad) {
    ServerConfig other;
    EXPECT_FALSE(ParseConfig(text, base, other, error, notes)) << text;
    EXPECT_NE(error.find(why), std::string::npos) << error;
  }
}

TEST(OvsAccounts, PasswordsCountInTheirSixteenCharacterFormAndSurviveAReload) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/accounts";
  AccountStore store(path, 1000);
  std::string error;
  ASSERT_TRUE(store.Load(error));  // no file yet: no accounts
  EXPECT_EQ(store.Add("admin", "0123456789abcdefEXTRA", true, error), AccountStore::Outcome::Done);
  EXPECT_EQ(store.Add("admin", "x", true, error), AccountStore::Outcome::Exists);
  EXPECT_EQ(store.Add("bad name", "x", false, error), AccountStore::Outcome::BadName);
  EXPECT_EQ(store.Add("ninechars", "x", false, error), AccountStore::Outcome::BadName);
  EXPECT_EQ(store.Add("empty", "   ", false, error), AccountStore::Outcome::EmptyPassword);
  EXPECT_EQ(store.Add("ADMIN", "x", false, error), AccountStore::Outcome::Exists);
  EXPECT_EQ(store.Add("aDmIn", "x", true, error), AccountStore::Outcome::Exists);

  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  AccountStore reloaded(path, 1000);
  ASSERT_TRUE(reloaded.Load(error)) << error;
  EXPECT_TRUE(reloaded.Verify("admin", "0123456789abcdef"));
  EXPECT_TRUE(reloaded.Verify("admin", "0123456789abcdefOTHER"));
  EXPECT_FALSE(reloaded.Verify("admin", "0123456789abcde"));
  EXPECT_FALSE(reloaded.Verify("Admin", "0123456789abcdef"));

  EXPECT_EQ(reloaded.ChangePassword("admin", "wrong", "new", error), AccountStore::Outcome::WrongLogin);
  EXPECT_EQ(reloaded.ChangePassword("admin", "0123456789abcdef", "new pw", error),
            AccountStore::Outcome::Done);
  EXPECT_EQ(reloaded.Add("guest", "guest", false, error), AccountStore::Outcome::Done);
  AccountStore third(path, 1000);
  ASSERT_TRUE(third.Load(error));
  EXPECT_TRUE(third.Verify("admin", "new pw   "));
  EXPECT_FALSE(third.Verify("admin", "0123456789abcdef"));
  EXPECT_TRUE(third.Verify("guest", "guest"));

  // A damaged file is refused rather than read as fewer accounts.
  std::ofstream(path, std::ios::app) << "mallory:pbkdf2-sha256:1000:zz:00\n";
  AccountStore damaged(path, 1000);
  EXPECT_FALSE(damaged.Load(error));
  EXPECT_NE(error.find("line 4"), std::string::npos) << error;
  EXPECT_EQ(damaged.Size(), 0u);
}

TEST(OvsAccounts, EveryWriteKeepsWhatOthersWroteMeanwhileAndOldFilesKeepTheirAdministrators) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/accounts";
  AccountStore first(path, 1000), second(path, 1000);
  std::string error;
  ASSERT_TRUE(first.Load(error));
  ASSERT_TRUE(second.Load(error));
  ASSERT_EQ(first.Add("alice", "pw", false, error), AccountStore::Outcome::Done);
  // second never saw alice: its own changes must not write her away, nor take a name she took.
  ASSERT_EQ(second.Add("bob", "pw", false, error), AccountStore::Outcome::Done);
  EXPECT_EQ(second.Add("Alice", "pw", false, error), AccountStore::Outcome::Exists);
  // Refused, second knows the file as it is now: alice logs in through it (a login refreshes first).
  EXPECT_TRUE(second.Refresh(error));
  EXPECT_TRUE(second.Verify("alice", "pw"));
  ASSERT_EQ(first.ChangePassword("alice", "pw", "new", error), AccountStore::Outcome::Done);
  AccountStore reread(path, 1000);
  ASSERT_TRUE(reread.Load(error)) << error;
  EXPECT_TRUE(reread.Verify("alice", "new"));
  EXPECT_TRUE(reread.Verify("bob", "pw"));
  EXPECT_TRUE(second.Refresh(error));
  EXPECT_TRUE(second.Verify("alice", "new"));

  // A line from before roles is an administrator's, and stays one when the file is written again.
  std::string line;
  {
    std::ifstream in(path);
    while (std::getline(in, line) && line.rfind("bob:", 0) != 0) {
    }
  }
  ASSERT_EQ(line.substr(line.size() - 5), ":user");
  std::ofstream(path, std::ios::app) << "old" << line.substr(3, line.size() - 8) << "\n";
  ASSERT_EQ(first.Add("carol", "pw", false, error), AccountStore::Outcome::Done);
  ASSERT_TRUE(reread.Load(error)) << error;
  EXPECT_TRUE(reread.IsAdmin("old"));
  EXPECT_TRUE(reread.Verify("old", "pw"));
  EXPECT_FALSE(reread.IsAdmin("carol"));
  EXPECT_FALSE(reread.IsAdmin("nobody"));

  // A damaged file is not written over: the change is refused and the file left as it is.
  std::ofstream(path, std::ios::app) << "broken line\n";
  EXPECT_EQ(first.Add("dave", "pw", false, error), AccountStore::Outcome::SaveFailed);
  EXPECT_NE(error.find("not a valid account"), std::string::npos) << error;
  EXPECT_FALSE(reread.Load(error));
}

TEST(OvsAccounts, IterationCountsAndRolesReadFromTheFileAreBounded) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/accounts";
  const std::string salt(32, 'a'), hash(64, 'b');
  const std::pair<std::string, std::string> cases[] = {
      {"huge:pbkdf2-sha256:2000000000:" + salt + ":" + hash, "more than 1000000 iterations"},
      {"huge:pbkdf2-sha256:1000001:" + salt + ":" + hash + ":admin", "more than 1000000 iterations"},
      {"role:pbkdf2-sha256:1000:" + salt + ":" + hash + ":root", "the role is neither admin nor user"},
  };
  for (const auto& [text, why] : cases) {
    std::ofstream(path) << text << "\n";
    AccountStore store(path, 1000);
    std::string error;
    EXPECT_FALSE(store.Load(error)) << text;
    EXPECT_NE(error.find("line 1: " + why), std::string::npos) << error;
  }
  std::ofstream(path) << "fine:pbkdf2-sha256:1000000:" << salt << ":" << hash << ":user\n";
  AccountStore store(path, 1000);
  std::string error;
  EXPECT_TRUE(store.Load(error)) << error;
}

TEST(OvsAccounts, AFailedWriteLeavesTheAccountsAsTheyWere) {
  QTemporaryDir dir;
  AccountStore store(dir.path().toStdString() + "/missing-folder/accounts", 1000);
  std::string error;
  EXPECT_EQ(store.Add("admin", "pw", true, error), AccountStore::Outcome::SaveFailed);
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(store.Has("admin"));

  test::FullDisk::ForEachKind([&](test::FullDisk& disk, const std::string& folder) {
    const std::string path = folder + "/accounts";
    AccountStore full(path, 1000), elsewhere(path, 1000);
    ASSERT_EQ(full.Add("admin", "pw", true, error), AccountStore::Outcome::Done) << error;
    ASSERT_TRUE(elsewhere.Load(error));
    ASSERT_EQ(elsewhere.Add("bob", "pw", false, error), AccountStore::Outcome::Done);  // full never saw bob
    const std::string before = FileText(path);
    ASSERT_TRUE(disk.Fill());
    EXPECT_EQ(full.Add("carol", "pw", false, error), AccountStore::Outcome::SaveFailed);
    EXPECT_NE(error.find("cannot write " + path), std::string::npos) << error;
    EXPECT_EQ(full.ChangePassword("admin", "pw", "new", error), AccountStore::Outcome::SaveFailed);
    EXPECT_EQ(FileText(path), before);
    EXPECT_TRUE(full.Refresh(error));
    EXPECT_TRUE(full.Verify("bob", "pw"));
    EXPECT_TRUE(full.Verify("admin", "pw"));
    EXPECT_FALSE(full.Has("carol"));
    const QStringList left = QDir(QString::fromStdString(folder)).entryList({"accounts.new*"}, QDir::Files);
    EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
  });
}

TEST(OvsLoginGuard, EachFailureDoublesTheNamesWaitUpToTheMostAndSuccessOrTimeForgetsThem) {
  using namespace std::chrono;
  LoginGuard guard(milliseconds(500), seconds(4));
  const auto t0 = LoginGuard::Clock::now();
  EXPECT_EQ(guard.NextCheck("admin"), LoginGuard::Clock::time_point());  // never failed: at once
  const std::vector<milliseconds> waits = {milliseconds(500), seconds(1), seconds(2), seconds(4), seconds(4)};
  for (size_t i = 0; i < waits.size(); ++i) {
    EXPECT_EQ(guard.Failed("admin", t0 + seconds(i)), waits[i]) << i;
    EXPECT_EQ(guard.NextCheck("admin"), t0 + seconds(i) + waits[i]) << i;
  }
  EXPECT_EQ(guard.NextCheck("guest"), LoginGuard::Clock::time_point());
  guard.Succeeded("admin");
  EXPECT_EQ(guard.Failures("admin"), 0);
  // Failures ten times the longest wait apart do not add up.
  EXPECT_EQ(guard.Failed("guest", t0), milliseconds(500));
  EXPECT_EQ(guard.Failed("guest", t0 + seconds(41)), milliseconds(500));
  EXPECT_EQ(guard.Failed("guest", t0 + seconds(42)), seconds(1));

  // A peer cycling through names keeps the table bounded: most of its names are forgotten.
  for (int i = 0; i < 30000; ++i) guard.Failed("n" + std::to_string(i), t0 + seconds(43));
  int remembered = 0;
  for (int i = 0; i < 30000; ++i) remembered += guard.Failures("n" + std::to_string(i)) > 0;
  EXPECT_LE(remembered, 10000);
  EXPECT_EQ(guard.Failures("n29999"), 1);
}

// What a waiting check is told: its wait should every check before it fail, each doubling the next.
TEST(OvsLoginGuard, TheWaitAfterChecksAheadCountsTheirFailures) {
  using namespace std::chrono;
  LoginGuard guard(milliseconds(500), seconds(4));
  const auto t0 = LoginGuard::Clock::now();
  const std::vector<std::pair<size_t, milliseconds>> cases = {
      {0, milliseconds(0)}, {1, milliseconds(500)}, {3, milliseconds(3500)}, {5, milliseconds(11500)}};
  for (const auto& [ahead, wait] : cases)
    EXPECT_EQ(guard.NextCheckAfter("admin", ahead, t0), t0 + wait) << ahead;
  guard.Failed("admin", t0);  // the next waits 500 ms, and one more failure adds 1 s
  EXPECT_EQ(guard.NextCheckAfter("admin", 0, t0), t0 + milliseconds(500));
  EXPECT_EQ(guard.NextCheckAfter("admin", 1, t0), t0 + milliseconds(1500));
}

TEST(OvsLoginGuard, KnownAddressesAreTheMostRecentOnesABoundedNumber) {
  KnownAddresses known(3);
  known.Remember("admin", "a");
  known.Remember("admin", "b");
  known.Remember("guest", "a");
  known.Remember("admin", "a");  // used again: now the most recent
  known.Remember("admin", "c");  // the least recent one, admin from b, goes
  EXPECT_EQ(known.Size(), 3u);
  for (const auto& [name, group, knows] :
       std::vector<std::tuple<std::string, std::string, bool>>{{"admin", "a", true},
                                                               {"admin", "b", false},
                                                               {"admin", "c", true},
                                                               {"guest", "a", true},
                                                               {"guest", "c", false}})
    EXPECT_EQ(known.Knows(name, group), knows) << name << " from " << group;
}

}  // namespace
}  // namespace ovs
