// Desktop notices: what brings one, what it says, the rate per server, the watch words, and where a
// click leads; over a whole client on fakes.
#include <gtest/gtest.h>

#include "app/desktop_notices.h"
#include "tests/unit/registry_harness.h"

namespace ov {
namespace {

using test::kSep;
using test::Message;

struct Shown {
  int handle;
  Notice notice;
};

class FakeNotifier : public Notifier {
 public:
  void Show(int handle, const Notice& notice) override { shown.push_back({handle, notice}); }
  std::vector<Shown> shown;
};

// OV server "alpha" at 127.0.0.1:4044 running game servers 7 "Duel" and 8 "Arena", notices on.
struct Watched : test::Named {
  FakeNotifier notifier;
  DesktopNotices notices{t.client.Sessions(), t.client.Selection(), t.client.Consoles(), notifier, t.loop};
  Watched() : Named("alpha") {
    Quake(7, kSep + "Duel" + kSep + kSep + "1" + kSep + "1");
    Quake(8, kSep + "Arena" + kSep + kSep + "1" + kSep + "1");
    notices.SetEnabled(true);
    AttachNotices(t.client, &notices);
  }
  ~Watched() { AttachNotices(t.client, nullptr); }
  void Text(int id, const std::string& text) { t.Receive(socket, test::FrameOf(FormatId(id), text)); }
  static std::string FormatId(int id) {
    return std::string(4 - std::to_string(id).size(), '0') + std::to_string(id);
  }
  NoticeKey Key(const std::string& title) const { return {"127.0.0.1:4044", title, !title.empty()}; }
  std::vector<std::string> Summaries() const {
    std::vector<std::string> out;
    for (const Shown& s : notifier.shown) out.push_back(s.notice.summary);
    return out;
  }
};

TEST(DesktopNotices, WhatBringsANoticeAndWhatItSays) {
  struct Case {
    const char* what;
    std::function<void(Watched&)> act;
    std::vector<std::string> summaries;
    std::string body;  // a part of the last notice's body
  };
  const std::vector<Case> cases = {
      {"a game server removed",
       [](Watched& w) { Message(w.t, w.socket, 28, "7"); },
       {"Duel ended"},
       "Duel on alpha (127.0.0.1:4044) has ended."},
      {"the OV server's word on a removed server updates its notice",
       [](Watched& w) {
         Message(w.t, w.socket, 28, "7");
         w.Text(0, "Server 7 ended: crashed\r\n");
       },
       {"Duel ended", "Duel crashed"},
       "alpha (127.0.0.1:4044): Server 7 ended: crashed"},
      {"a crash of a server that is restarted",
       [](Watched& w) { w.Text(0, "Server 8 crashed (signal 11): restarting in 5 s, 2 of 3\n"); },
       {"Arena crashed"},
       "Server 8 crashed (signal 11)"},
      {"a server the client never saw",
       [](Watched& w) { w.Text(0, "Server 99 ended: exit code 1\n"); },
       {"Server 99 ended"},
       "Server 99 ended: exit code 1"},
      {"the OV server closed the connection",
       [](Watched& w) {
         w.t.client.Connections().HandleSocketEvent(kSocketMessage, w.socket, MakeEventWord(kFdClose, 0));
       },
       {"Connection to alpha lost"},
       "alpha (127.0.0.1:4044): Server closed connection"},
      {"the user disconnected", [](Watched& w) { w.t.client.Connections().Disconnect(w.slot, 1); }, {}, ""},
      {"a watch word, in another letter case, colour codes aside",
       [](Watched& w) {
         w.notices.Watch().Set(w.Key("Duel"), {"cheat"});
         w.Text(7, "Player ^1CH^2EATer says hi\n");
       },
       {"Duel: \"cheat\""},
       "Player CHEATer says hi\n(Duel on alpha (127.0.0.1:4044))"},
      {"a watch word on a line that came in two pieces",
       [](Watched& w) {
         w.notices.Watch().Set(w.Key(""), {"admin"});
         w.Text(0, "an adm");
         EXPECT_TRUE(w.notifier.shown.empty()) << "told before the line ended";
         w.Text(0, "in logged in\n");
       },
       {"alpha: \"admin\""},
       "an admin logged in\n(OV server alpha (127.0.0.1:4044))"},
      {"another server's watch word",
       [](Watched& w) {
         w.notices.Watch().Set(w.Key("Arena"), {"cheat"});
         w.Text(7, "cheat\n");
       },
       {},
       ""},
      {"a word beyond what is looked at of a long line",
       [](Watched& w) {
         w.notices.Watch().Set(w.Key("Duel"), {"cheat"});
         w.Text(7, std::string(DesktopNotices::kMaxLineChars, 'x'));
         w.Text(7, "cheat\n");
       },
       {},
       ""},
      {"notices off",
       [](Watched& w) {
         w.notices.SetEnabled(false);
         w.notices.Watch().Set(w.Key("Duel"), {"cheat"});
         w.Text(7, "cheat\n");
         Message(w.t, w.socket, 28, "7");
       },
       {},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Watched w;
    c.act(w);
    EXPECT_EQ(w.Summaries(), c.summaries);
    if (!c.body.empty() && !w.notifier.shown.empty()) {
      EXPECT_NE(w.notifier.shown.back().notice.body.find(c.body), std::string::npos)
          << w.notifier.shown.back().notice.body;
    }
  }
}

TEST(DesktopNotices, AnUpdateReplacesTheNoticeItFollows) {
  Watched w;
  Message(w.t, w.socket, 28, "7");
  w.Text(0, "Server 7 ended: exit code 0\n");
  ASSERT_EQ(w.notifier.shown.size(), 2u);
  EXPECT_EQ(w.notifier.shown[1].handle, w.notifier.shown[0].handle);
  EXPECT_EQ(w.notifier.shown[1].notice.replaces, w.notifier.shown[0].handle);
  w.t.loop.Advance(20000);  // too late to be the same event: a notice of its own
  w.Text(0, "Server 7 ended: exit code 0\n");
  ASSERT_EQ(w.notifier.shown.size(), 3u);
  EXPECT_EQ(w.notifier.shown[2].notice.replaces, 0);
}

TEST(DesktopNotices, EachServerHasABurstThenTheRestAreCountedInTheNext) {
  Watched w;
  w.notices.Watch().Set(w.Key("Duel"), {"cheat"});
  w.notices.Watch().Set(w.Key("Arena"), {"cheat"});
  for (int i = 0; i < 5; ++i) w.Text(7, "cheat\n");
  w.Text(8, "cheat\n");  // another server has a rate of its own
  EXPECT_EQ(w.notifier.shown.size(), size_t(DesktopNotices::kBurst) + 1);
  w.t.loop.Advance(int(std::chrono::milliseconds(DesktopNotices::kSpan).count()));
  w.Text(7, "cheat\n");
  ASSERT_EQ(w.notifier.shown.size(), size_t(DesktopNotices::kBurst) + 2);
  EXPECT_NE(w.notifier.shown.back().notice.body.find("(and 2 more of this server not shown within a minute)"),
            std::string::npos);
}

TEST(DesktopNotices, AClickBringsTheServersConsoleToTheFront) {
  Watched w;
  w.notices.Watch().Set(w.Key("Duel"), {"cheat"});
  w.Text(7, "cheat\n");
  ASSERT_EQ(w.notifier.shown.size(), 1u);
  const int handle = w.notifier.shown[0].handle;

  // Closed by the user since: opened again, with the keyboard's focus.
  w.q(7).Window->view->Close();
  ASSERT_EQ(w.q(7).Window, nullptr);
  w.notices.Clicked(handle);
  ASSERT_NE(w.q(7).Window, nullptr);
  auto* view = static_cast<test::FakeConsoleView*>(w.q(7).Window->view);
  EXPECT_EQ(view->focusTaken, 1);

  // Gone since: its dead window comes to the front.
  Message(w.t, w.socket, 28, "7");
  w.notices.Clicked(handle);
  EXPECT_EQ(view->focusTaken, 2);
  EXPECT_EQ(view->broughtToFront, 1);

  w.notices.Clicked(handle + 100);  // a notice it never showed opens nothing
  EXPECT_EQ(view->focusTaken, 2);
}

TEST(WatchWords, AreParsedWithinTheirBounds) {
  struct Case {
    std::string typed;
    std::vector<std::string> words;
  };
  const std::vector<Case> cases = {
      {" Admin, cheat ,,ADMIN,", {"admin", "cheat"}},
      {"wall\thack, \xC4rger", {"wallhack", "\xE4rger"}},
      {std::string(60, 'a'), {std::string(kMaxWatchWordChars, 'a')}},
      {"1,2,3,4,5,6,7,8,9,10,11,12", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseWatchWords(c.typed), c.words) << c.typed;
}

TEST(WatchWords, TheListKeepsTheLatestServers) {
  WatchList list;
  for (size_t i = 0; i <= kMaxWatchedServers; ++i) list.Set({"h:1", "s" + std::to_string(i), true}, {"w"});
  EXPECT_EQ(list.Entries().size(), kMaxWatchedServers);
  EXPECT_EQ(list.Find({"h:1", "s0", true}), nullptr);
  EXPECT_EQ(list.Entries().front().first.title, "s" + std::to_string(kMaxWatchedServers));
  list.Set({"h:1", "s1", true}, {});
  EXPECT_EQ(list.Find({"h:1", "s1", true}), nullptr);
}

}  // namespace
}  // namespace ov
