// The typed control messages: what each encodes to, what the wire refuses to carry, and how the one field
// splitter reads what arrives.
#include <gtest/gtest.h>

#include "wire/frames.h"
#include "wire/messages.h"
#include "wire/payload.h"

namespace ov {
namespace {

const std::string kSep(1, kFieldSeparator);

TEST(Messages, EncodersGiveThePayloadOrRefuseWhatTheWireCannotCarry) {
  const std::string big(kMaxPayload, 'x');
  struct Case {
    const char* name;
    std::optional<std::string> encoded;
    std::optional<std::string> payload;  // nothing: refused
  };
  const Case cases[] = {
      {"start without a title", msg::StartServer{"dm", "", "+map e1m1"}.Encode(), "dm" + kSep + "+map e1m1"},
      {"start with a title", msg::StartServer{"dm", "Duel", "a\r\nb"}.Encode(),
       "dm" + kSep + "Duel" + kSep + "a\r\nb"},
      {"start, thorn in the title", msg::StartServer{"dm", "a\xFE", ""}.Encode(), std::nullopt},
      {"start, separator in the type", msg::StartServer{"d" + kSep + "m", "", ""}.Encode(), std::nullopt},
      {"server info, all seven", msg::ServerInfo{5, "t", "T", "c", 1, 2, 27961}.Encode(),
       "5" + kSep + "t" + kSep + "T" + kSep + "c" + kSep + "1" + kSep + "2" + kSep + "27961"},
      {"server info, port unknown", msg::ServerInfo{5, "t", "T", "c", 1, 1, 0}.Encode(),
       "5" + kSep + "t" + kSep + "T" + kSep + "c" + kSep + "1" + kSep + "1" + kSep},
      {"ov info", msg::OvInfo{"v1", "Arena"}.Encode(), "v1" + kSep + "Arena"},
      {"ov info, y acute in the name", msg::OvInfo{"v1", "Ar\xFD"}.Encode(), std::nullopt},
      {"types", msg::ServerTypes{{"dm", "", "ctf"}}.Encode(), "dm" + kSep + kSep + "ctf"},
      {"types, separator in a name", msg::ServerTypes{{"a" + kSep + "b"}}.Encode(), std::nullopt},
      {"note, separator kept", msg::StatusNote{"a" + kSep + "b"}.Encode(), "a" + kSep + "b"},
      {"note, at the bound", msg::StatusNote{big}.Encode(), big},
      {"note, past the bound", msg::StatusNote{big + "x"}.Encode(), std::nullopt},
      {"box, end byte", msg::MessageBox{"x\xFE"}.Encode(), std::nullopt},
      {"accepted, as announced", msg::NewServerAccepted{"007"}.Encode(), "007"},
      {"figures request", msg::FiguresRequest{}.Encode(), ""},
      {"figures", msg::Figures{{{3, 410, 7980, 35, 46080}, {2001, 9, 0, 0, 1}}}.Encode(),
       "3" + kSep + "410" + kSep + "7980" + kSep + "35" + kSep + "46080" + kSep + "2001" + kSep + "9" + kSep +
           "0" + kSep + "0" + kSep + "1"},
      {"figures, past the bound",
       msg::Figures{std::vector<msg::Figures::Server>(msg::kMaxFiguresServers + 1)}.Encode(), std::nullopt},
      // Account answers are enciphered after encoding: any byte may be in them, the widths are fixed.
      {"login", msg::Login{"admin", "p\xFE"}.Encode(), "admin   p\xFE" + std::string(14, ' ')},
      {"login, cut", msg::Login{"longer name", std::string(20, 'p')}.Encode(),
       "longer n" + std::string(16, 'p')},
      {"change password", msg::ChangePassword{"u", "old", "new"}.Encode(),
       "u" + std::string(7, ' ') + "old" + std::string(13, ' ') + "new" + std::string(13, ' ')},
  };
  for (const Case& c : cases) EXPECT_EQ(c.encoded, c.payload) << c.name;
}

TEST(Messages, ServerInfoReadsEveryFieldAndTheGamePortWhenThereIsOne) {
  struct Case {
    std::string payload;
    int id;
    std::optional<std::string> title;
    std::optional<int> consoleMode;
    int gamePort;
  };
  const std::string six = "7" + kSep + "t" + kSep + "Duel" + kSep + "c" + kSep + "1" + kSep + "2";
  const Case cases[] = {
      {six + kSep + "27961", 7, "Duel", 2, 27961},
      {six, 7, "Duel", 2, 0},
      {six + kSep, 7, "Duel", 2, 0},
      {six + kSep + "x", 7, "Duel", 2, 0},
      {six + kSep + "65536", 7, "Duel", 2, 0},
      {six + kSep + "-5", 7, "Duel", 2, 0},
      {"7" + kSep + kSep + "Duel" + kSep + kSep + kSep + "y", 7, "Duel", 1, 0},
      {"x" + kSep + "t", 0, std::nullopt, std::nullopt, 0},
      {"", 0, std::nullopt, std::nullopt, 0},
  };
  for (const Case& c : cases) {
    const msg::ServerInfo info = msg::ServerInfo::Decode(c.payload);
    EXPECT_EQ(info.id, c.id) << c.payload;
    EXPECT_EQ(info.title, c.title) << c.payload;
    EXPECT_EQ(info.consoleMode, c.consoleMode) << c.payload;
    EXPECT_EQ(info.gamePort, c.gamePort) << c.payload;
  }
}

TEST(Messages, FiguresKeepOnlyWholeLegibleServersUpToTheBound) {
  const auto server = [](const std::string& id, const std::string& cpu) {
    return id + kSep + "410" + kSep + "60" + kSep + cpu + kSep + "2048";
  };
  // Five more than the bound: the first kMaxFiguresServers are kept.
  std::string many = server("1", "0");
  std::vector<int> kept = {1};
  for (int id = 2; id <= int(msg::kMaxFiguresServers) + 5; ++id) {
    many += kSep + server(std::to_string(id), "0");
    if (id <= int(msg::kMaxFiguresServers)) kept.push_back(id);
  }
  struct Case {
    std::string payload;
    std::vector<int> ids;
  };
  const Case cases[] = {
      {server("3", "35") + kSep + server("4", "1"), {3, 4}},
      {server("3", "x") + kSep + server("4", "-1") + kSep + server("5", "2"), {5}},
      {server("0", "1") + kSep + server("1000", "1") + kSep + server("12345", "1"), {}},
      {server("3", "35") + kSep + "4" + kSep + "410", {3}},
      {"", {}},
      {many, kept},
  };
  for (const Case& c : cases) {
    std::vector<int> ids;
    for (const msg::Figures::Server& s : msg::Figures::Decode(c.payload).servers) ids.push_back(s.id);
    EXPECT_EQ(ids, c.ids) << c.payload.substr(0, 80);
  }
  EXPECT_EQ(msg::Figures::Decode(server("3", "35")).servers.at(0),
            (msg::Figures::Server{3, 410, 60, 35, 2048}));
}

TEST(Messages, OneSplitterDropsATrailingEmptyFieldUnlessTheStartRequestKeepsIt) {
  struct Case {
    std::string payload;
    std::vector<std::string> dropped;
    std::vector<std::string> kept;
  };
  const Case cases[] = {
      {"", {""}, {""}},
      {kSep, {""}, {"", ""}},
      {"a" + kSep, {"a"}, {"a", ""}},
      {"a" + kSep + kSep, {"a", ""}, {"a", "", ""}},
      {"a" + kSep + "b", {"a", "b"}, {"a", "b"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitFields(c.payload), c.dropped);
    EXPECT_EQ(SplitFields(c.payload, TrailingField::Kept), c.kept);
  }
  // A title with an empty command line after it is not a command line made of the title.
  const auto start = msg::StartServer::Decode("dm" + kSep + "Duel" + kSep);
  ASSERT_TRUE(start.has_value());
  EXPECT_EQ(start->title + "|" + start->commandLine, "Duel|");
  EXPECT_EQ(msg::StartServer::Decode("dm" + kSep + "+map")->commandLine, "+map");
  EXPECT_FALSE(msg::StartServer::Decode("a" + kSep + "b" + kSep + "c" + kSep + "d").has_value());
}

}  // namespace
}  // namespace ov
