// Frames and codes: splitting and reassembly of the received stream, classification and hand-over with
// their log lines, and sending with the queue for what the socket does not take at once.
#include <gtest/gtest.h>

#include <functional>

#include "tests/common/fakes.h"
#include "wire/payload.h"

namespace ov {
namespace {

using test::Bytes;
using test::FrameOf;
using test::TestClient;

std::vector<std::string> Show(const std::vector<Frame>& frames) {
  std::vector<std::string> out;
  for (const Frame& f : frames) out.push_back((f.outside ? "outside " : "") + f.code + "|" + f.payload);
  return out;
}

std::vector<std::string> LinesSince(const Client& client, uint64_t mark) {
  const auto& lines = client.Debug().Lines();
  const uint64_t added = client.Debug().TotalAppended() - mark;
  return std::vector<std::string>(lines.end() - static_cast<std::ptrdiff_t>(added), lines.end());
}

std::vector<std::string> Sent(TestClient& t, int socket) {
  std::vector<std::string> out;
  for (const Frame& f : t.SentFrames(socket)) out.push_back(f.code + "|" + f.payload);
  return out;
}

TEST(Codes, FormattingAndClassification) {
  const std::vector<std::pair<int32_t, std::string>> formats = {
      {0, "0000"},    {9, "0009"},     {10, "0010"}, {999, "0999"},       {1000, "1000"},
      {9999, "9999"}, {10000, "XXXX"}, {-5, "XXXX"}, {INT32_MIN, "XXXX"}, {INT32_MAX, "XXXX"}};
  for (const auto& [number, code] : formats) EXPECT_EQ(FormatCode(number), code) << number;
  EXPECT_EQ(MakeFrame(1020, std::string("a\0b", 3)), Bytes({0xFD, '1', '0', '2', '0', 'a', 0, 'b', 0xFE}));

  struct Case {
    std::string code;
    CodeKind kind;
    int number;
  };
  const std::vector<Case> cases = {
      {"1234", CodeKind::Control, 234},  {"1000", CodeKind::Control, 0},  {"1999", CodeKind::Control, 999},
      {"2000", CodeKind::Console, 2000}, {"0000", CodeKind::Console, 0},  {"0999", CodeKind::Console, 999},
      {"1abc", CodeKind::Unknown, -1},   {"abcd", CodeKind::Unknown, -1}, {"XXXX", CodeKind::Unknown, -1},
      {"", CodeKind::Unknown, -1},       {"\r\n", CodeKind::Unknown, -1}, {"1", CodeKind::Console, 1},
      {"1+-5", CodeKind::Unknown, -1},   {"1+05", CodeKind::Control, 5},
  };
  for (const Case& c : cases) {
    const CodeClass got = ClassifyCode(c.code);
    EXPECT_EQ(got.kind, c.kind) << c.code;
    if (c.kind != CodeKind::Unknown) {
      EXPECT_EQ(got.number, c.number) << c.code;
    }
  }
}

TEST(Codes, AccountMessagesAndGameServerIds) {
  struct Case {
    int32_t n;
    bool account;
    bool deciphered;
    size_t answerSize;
  };
  const Case cases[] = {{899, false, false, 0}, {900, true, true, 0},    {905, true, true, 26},
                        {906, true, true, 26},  {907, true, true, 42},   {998, true, true, 0},
                        {999, true, false, 0},  {1000, false, false, 0}, {-1, false, false, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(IsAccountMessage(c.n), c.account) << c.n;
    EXPECT_EQ(IsAccountCode(ControlCode(c.n)), c.account) << c.n;
    EXPECT_EQ(IsDecipheredOnReceipt(c.n), c.deciphered) << c.n;
    EXPECT_EQ(AccountAnswerSize(c.n), c.answerSize) << c.n;
  }
  EXPECT_EQ(FormatCode(ControlCode(ControlMessage::Login)), "1905");

  const std::pair<int32_t, bool> ids[] = {{0, false},    {1, true},      {999, true},
                                          {1000, false}, {1999, false},  {2000, true},
                                          {9999, true},  {10000, false}, {-1, false}};
  for (const auto& [id, usable] : ids) EXPECT_EQ(IsGameServerId(id), usable) << id;
}

TEST(Splitting, FramesOfOneReadComeOutWholeAndInOrder) {
  FrameAssembler a;
  EXPECT_EQ(Show(a.Feed(FrameOf("1001", "one") + FrameOf("0000", "") + FrameOf("0007", "seven")).frames),
            (std::vector<std::string>{"1001|one", "0000|", "0007|seven"}));

  // Bytes before a frame's start are skipped, stray end bytes among them too.
  EXPECT_EQ(Show(a.Feed("junk\xFE" + FrameOf("1001", "x")).frames), std::vector<std::string>{"1001|x"});

  // Trailing bytes that start no frame are one pass of their own, never taken for a frame.
  EXPECT_EQ(Show(a.Feed(FrameOf("1001", "x") + "\r\n").frames),
            (std::vector<std::string>{"1001|x", "outside \r\n|"}));
  EXPECT_EQ(Show(a.Feed("0007 hello").frames), std::vector<std::string>{"outside 0007|"});
  EXPECT_EQ(Show(a.Feed("ab\xFE"
                        "cd")
                     .frames),
            std::vector<std::string>{"outside ab|"});

  // An end byte inside the code ends it early; a start byte inside a payload is payload.
  EXPECT_EQ(Show(a.Feed(Bytes({0xFD, '1', '2', 0xFE}) + FrameOf("1001",
                                                                "a\xFD"
                                                                "b"))
                     .frames),
            (std::vector<std::string>{"12|",
                                      "1001|a\xFD"
                                      "b"}));

  // Zero bytes are ordinary bytes, and so is everything after them.
  const std::string zeros("\0a\0", 3);
  EXPECT_EQ(Show(a.Feed(FrameOf("1905", zeros) + FrameOf("1001", "after")).frames),
            (std::vector<std::string>{"1905|" + zeros, "1001|after"}));
  EXPECT_EQ(a.Pending(), 0u);
}

TEST(Splitting, EveryCutOfTheStreamGivesTheSameFrames) {
  const std::string stream = FrameOf("1001", "hello") + FrameOf("0000", "") + Bytes({0xFD, '1', '2', 0xFE}) +
                             FrameOf("0007", Bytes({'a', 0, 'b', 0x80, 0xFF, 0xFD})) +
                             FrameOf("1905", std::string(300, '\x81')) + FrameOf("2000", "last");
  FrameAssembler whole;
  const auto expected = Show(whole.Feed(stream).frames);
  ASSERT_EQ(expected.size(), 6u);

  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    FrameAssembler a;
    std::vector<Frame> got = a.Feed(std::string_view(stream).substr(0, cut)).frames;
    for (Frame& f : a.Feed(std::string_view(stream).substr(cut)).frames) got.push_back(std::move(f));
    ASSERT_EQ(Show(got), expected) << "cut at " << cut;
    ASSERT_EQ(a.Pending(), 0u);
  }
  FrameAssembler bytewise;
  std::vector<Frame> got;
  for (char c : stream) {
    for (Frame& f : bytewise.Feed(std::string_view(&c, 1)).frames) got.push_back(std::move(f));
  }
  EXPECT_EQ(Show(got), expected);
}

TEST(Splitting, AnUnfinishedFramePastTheBoundIsDroppedToItsEnd) {
  FrameAssembler a;
  const std::string chunk(kReceiveBufferSize, 'a');
  EXPECT_FALSE(a.Feed("\xFD"
                      "1001")
                   .overflowed);
  int overflows = 0;
  for (size_t fed = 5; fed <= kMaxFrameSize + 2 * chunk.size(); fed += chunk.size()) {
    const auto r = a.Feed(chunk);
    EXPECT_TRUE(r.frames.empty());
    overflows += r.overflowed;
    EXPECT_LE(a.Pending(), kMaxFrameSize);
  }
  EXPECT_EQ(overflows, 1);
  EXPECT_EQ(a.Pending(), 0u);
  // The rest of the dropped frame, start bytes included, is skipped up to its end byte.
  EXPECT_EQ(Show(a.Feed("rest\xFD"
                        "0001\xFE" +
                        FrameOf("1001", "ok"))
                     .frames),
            std::vector<std::string>{"1001|ok"});

  // A frame of exactly the bound is still whole.
  FrameAssembler b;
  const std::string big(kMaxFrameSize - 5, 'b');
  const auto head = b.Feed(
      "\xFD"
      "0003" +
      big);
  EXPECT_FALSE(head.overflowed);
  const auto tail = b.Feed("\xFE");
  ASSERT_EQ(tail.frames.size(), 1u);
  EXPECT_EQ(tail.frames[0].payload.size(), big.size());
}

TEST(Receiving, EachReadIsLoggedAndItsFramesHandedOverInOrder) {
  TestClient t("orvane-client -debug");
  const int slot = t.Connect();
  const int socket = t.Socket(slot);
  t.Receive(socket, FrameOf("1021",
                            "info\x80"
                            "Alpha"));
  ASSERT_NE(t.Window(slot), nullptr);

  const std::string read = FrameOf("1001", "hello") + FrameOf("0000", "zero") + FrameOf("0007", "seven");
  const uint64_t mark = t.client.Debug().TotalAppended();
  t.Receive(socket, read);
  const std::string s = std::to_string(socket);
  EXPECT_EQ(LinesSince(t.client, mark),
            (std::vector<std::string>{"IN(" + s + ") : " + read, "len is " + std::to_string(read.size()),
                                      "in_code: 1001", "ramsg called code 1 msg: hello",
                                      "decrypted msg: hello", "in_code: 0000", "in_code: 0007"}));
  EXPECT_EQ(t.desktop.Bar(), "hello");
  const std::string& log = t.Window(slot)->log.Text();
  EXPECT_NE(log.find("zero"), std::string::npos);
  EXPECT_EQ(log.find("seven"), std::string::npos);

  // Without debug mode the read's own text is not logged; the rest is.
  TestClient quiet;
  const int q = quiet.Socket(quiet.Connect());
  const uint64_t quietMark = quiet.client.Debug().TotalAppended();
  quiet.Receive(q, FrameOf("1000", ""));
  EXPECT_EQ(LinesSince(quiet.client, quietMark),
            (std::vector<std::string>{"len is 6", "in_code: 1000",
                                      "ramsg called code 0 msg: ", "decrypted msg: "}));
}

TEST(Receiving, EmptyReadsReadErrorsAndUnknownCodesAreReported) {
  TestClient t;
  const int slot = t.Connect();
  const int socket = t.Socket(slot);

  uint64_t mark = t.client.Debug().TotalAppended();
  t.sockets.Post(socket, kFdRead);  // nothing to read
  t.loop.RunPending();
  EXPECT_EQ(LinesSince(t.client, mark), (std::vector<std::string>{"len is 0", "in_code: "}));
  EXPECT_EQ(t.desktop.Bar(), "Unknown code received - ");
  EXPECT_EQ(t.desktop.timerStarts.back(), 1500);
  EXPECT_EQ(t.desktop.Beeps(), 1);

  t.desktop.Clear();
  t.sockets.recvError = 10054;
  t.sockets.Post(socket, kFdRead);
  t.loop.RunPending();
  t.sockets.recvError = 0;
  EXPECT_EQ(t.desktop.Bar(), "Socket (" + std::to_string(socket) + ") Receive error 10054 (WSAECONNRESET)");
  EXPECT_EQ(t.desktop.timerStarts.back(), 5000);
  EXPECT_EQ(t.desktop.Beeps(), 2);
  EXPECT_NE(t.client.Sessions().AtSlot(slot), nullptr);

  for (const std::string code : {"1abc", "abcd", "XXXX"}) {
    t.desktop.Clear();
    t.Receive(socket, FrameOf(code, "payload"));
    EXPECT_EQ(t.desktop.bar, std::vector<std::string>{"Unknown code received - " + code});
    EXPECT_EQ(t.desktop.Beeps(), 1);
  }
  // Bytes after the last frame, even ones that read like a code, are reported and not routed.
  t.desktop.Clear();
  t.Receive(socket, FrameOf("1001", "note") + "0007");
  EXPECT_EQ(t.desktop.bar, (std::vector<std::string>{"note", "Unknown code received - 0007"}));
}

TEST(Receiving, AFrameCutAcrossReadsIsHandedOverOnceAndWhole) {
  TestClient t;
  const int socket = t.Socket(t.Connect());
  const std::string frame = FrameOf("1001", std::string("split\0note", 10));
  const uint64_t mark = t.client.Debug().TotalAppended();
  t.Receive(socket, frame.substr(0, 7));
  t.Receive(socket, frame.substr(7));
  EXPECT_EQ(
      LinesSince(t.client, mark),
      (std::vector<std::string>{"len is 7", "len is " + std::to_string(frame.size() - 7), "in_code: 1001",
                                "ramsg called code 1 msg: " + std::string("split\0note", 10),
                                "decrypted msg: " + std::string("split\0note", 10)}));
  EXPECT_EQ(t.desktop.Beeps(), 0);

  // A peer that never ends its frame is cut off at the bound, once.
  t.desktop.Clear();
  t.Receive(socket,
            "\xFD"
            "1001");
  for (size_t fed = 0; fed < kMaxFrameSize + kReceiveBufferSize; fed += kReceiveBufferSize) {
    t.Receive(socket, std::string(kReceiveBufferSize, 'x'));
  }
  EXPECT_EQ(t.desktop.bar,
            std::vector<std::string>{"Socket (" + std::to_string(socket) + ") Oversized frame dropped"});
}

TEST(Receiving, FramesAfterTheirConnectionClosedInAWaitAreDropped) {
  TestClient t;
  const int slot = t.Connect();
  const int socket = t.Socket(slot);
  // The message box of 3 waits; meanwhile the user disconnects.
  t.desktop.onMessageBox = [&] { t.client.Connections().Disconnect(slot, 1); };
  const uint64_t mark = t.client.Debug().TotalAppended();
  t.Receive(socket, FrameOf("1003", "going down") +
                        FrameOf("1021",
                                "info\x80"
                                "Alpha") +
                        FrameOf("1001", "late"));
  EXPECT_EQ(t.desktop.boxes, std::vector<std::string>{"going down"});
  EXPECT_TRUE(t.tree.top.empty());
  EXPECT_EQ(t.client.Consoles().Windows().size(), 0u);
  const auto lines = LinesSince(t.client, mark);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "in_code: 1021"), 0);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "in_code: 1001"), 0);
}

TEST(Receiving, AReadOfManyFramesIsHandedOverInTurnsWithoutLosingOrReordering) {
  const size_t count = 5 * kFramesPerTurn + 3;
  std::string read;
  std::vector<std::string> expected;
  for (size_t i = 0; i < count; ++i) {
    read += FrameOf("1001", "n" + std::to_string(i));
    expected.push_back("n" + std::to_string(i));
  }
  // How many frames the first turn handed over is seen by an event queued behind the read, which then
  // goes on as the case says.
  enum class Then { MoreBytes, UserDisconnects, PeerCloses };
  const struct {
    Then then;
    std::vector<std::string> after;  // the statuses after the first read's frames
    bool allFrames;
    bool open;
  } cases[] = {
      {Then::MoreBytes, {"later"}, true, true},   // read only after the first read's frames
      {Then::UserDisconnects, {}, false, false},  // the rest is void
      {Then::PeerCloses, {"Server closed connection"}, true, false},  // what came before the close counts
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.then));
    TestClient t;
    const int slot = t.Connect();
    const int socket = t.Socket(slot);
    size_t firstTurn = 0;
    t.desktop.Clear();
    t.sockets.Deliver(socket, read);
    t.loop.Post([&] {
      firstTurn = t.desktop.bar.size();
      if (c.then == Then::MoreBytes) t.sockets.Deliver(socket, FrameOf("1001", "later"));
      if (c.then == Then::UserDisconnects) t.client.Connections().Disconnect(slot, 1);
      if (c.then == Then::PeerCloses) t.sockets.Post(socket, kFdClose);
    });
    t.loop.RunPending();
    EXPECT_EQ(firstTurn, kFramesPerTurn);
    std::vector<std::string> want(expected.begin(),
                                  c.allFrames ? expected.end() : expected.begin() + kFramesPerTurn);
    want.insert(want.end(), c.after.begin(), c.after.end());
    EXPECT_EQ(t.desktop.bar, want);
    EXPECT_EQ(t.SlotOf(socket) != -1, c.open);
  }
}

TEST(Sending, CodesPayloadsAndTheAccountCipher) {
  TestClient t("orvane-client -DEBUG");
  const int slot = t.Connect();
  const int socket = t.Socket(slot);

  const uint64_t mark = t.client.Debug().TotalAppended();
  t.client.Sender().SendControl(socket, ControlMessage::Answer, "");
  EXPECT_EQ(LinesSince(t.client, mark), std::vector<std::string>{"OUT: [1020] " + FrameOf("1020", "")});

  t.client.Sender().SendControl(socket, ControlMessage::Login, "secret");
  // Account payloads are enciphered with a well-known key, so the debug pane shows them masked.
  EXPECT_EQ(t.client.Debug().Lines().back(), "OUT: [1905] " + FrameOf("1905", std::string(8, '*')));
  t.client.Sender().SendControl(socket, ControlMessage{899}, "plain");
  t.client.Sender().SendControl(socket, ControlMessage{999}, "last");
  t.client.Sender().SendConsole(slot, 0, "say hi");
  t.client.Sender().SendConsole(slot, 12, "status");
  t.client.Sender().SendFrame(socket, 10000, "big");
  t.client.Sender().SendConsole(-1, 0, "dead window");
  t.client.Sender().SendConsole(slot, -1, "dead window");
  const auto frames = t.SentFrames(socket);
  ASSERT_EQ(frames.size(), 7u);
  EXPECT_EQ(Show(frames)[0], "1020|");
  EXPECT_EQ(frames[1].code, "1905");
  EXPECT_NE(frames[1].payload, "secret");
  EXPECT_EQ(t.client.Cipher().DecryptMsg(frames[1].payload), "secret");
  EXPECT_EQ(Show(frames)[2], "1899|plain");
  EXPECT_EQ(t.client.Cipher().DecryptMsg(frames[3].payload), "last");
  EXPECT_EQ(Show(frames)[4], "0000|say hi");
  EXPECT_EQ(Show(frames)[5], "0012|status");
  EXPECT_EQ(Show(frames)[6], "XXXX|big");

  // Nothing goes out, and nothing is said, while a connection is not open.
  TestClient u;
  u.sockets.connectResult = 0;
  u.client.Connections().ConnectToServer("127.0.0.1", 4044, 10);  // connected at once, event not yet in
  const int pending = u.sockets.lastSocket;
  u.client.Sender().SendControl(pending, ControlMessage::Answer, "");
  u.client.Connections().Disconnect(u.SlotOf(pending), 1);
  u.client.Sender().SendControl(pending, ControlMessage::Answer, "");
  EXPECT_TRUE(u.sockets.sockets.at(pending).sent.empty());
  EXPECT_EQ(u.desktop.bar, std::vector<std::string>{"Connect (I)"});
}

TEST(Sending, NoSenderPutsAFrameByteIntoAPlainPayload) {
  // A player's name, a typed line or a title that would cut its frame and smuggle in frames of its own.
  const std::string hostile =
      "Bob\xFE\xFD"
      "0006say HACKED\xFE";
  const std::string frameBytes = "Not sent - \xFE and \xFD cannot be sent to the server";
  const std::string field = "Not sent - a field holds a byte the protocol cannot carry";
  struct Case {
    const char* sender;
    std::function<bool(TestClient&, int slot)> send;
    std::string note;
  };
  const std::vector<Case> cases = {
      {"frame",
       [&](TestClient& t, int slot) { return t.client.Sender().SendFrame(t.Socket(slot), 6, hostile); },
       frameBytes},
      {"control",
       [&](TestClient& t, int slot) {
         return t.client.Sender().SendControl(t.Socket(slot), ControlMessage::StartServer, hostile);
       },
       frameBytes},
      {"console", [&](TestClient& t, int slot) { return t.client.Sender().SendConsole(slot, 7, hostile); },
       frameBytes},
      {"typed message",
       [&](TestClient& t, int slot) {
         return t.client.Sender().Send(t.Socket(slot), msg::OvInfo{hostile, {}});
       },
       field},
      {"typed line",
       [&](TestClient& t, int slot) { return t.client.Consoles().SendLine(*t.Window(slot, 7), hostile); },
       frameBytes},
      {"send to servers",
       [&](TestClient& t, int slot) {
         return t.client.SendTo().Send(t.client.SendTo().Targets(slot), hostile) > 0;
       },
       frameBytes},
      {"start",
       [&](TestClient& t, int) {
         t.client.Start().RefillHosts();
         return t.client.Start().Go(0, 0, "dm", hostile, "") == 1;
       },
       field},
  };
  for (const Case& c : cases) {
    TestClient t("orvane-client -DEBUG");
    const int slot = t.Connect();
    const int socket = t.Socket(slot);
    t.Receive(socket, FrameOf("1031", "dm") + FrameOf("1027", "7") +
                          FrameOf("1025",
                                  "7\x80"
                                  "t\x80"
                                  "Duel"));
    const std::string before = t.sockets.sockets.at(socket).sent;
    t.desktop.Clear();
    EXPECT_FALSE(c.send(t, slot)) << c.sender;
    EXPECT_EQ(t.sockets.sockets.at(socket).sent, before) << c.sender;
    EXPECT_EQ(t.desktop.Bar(), c.note) << c.sender;
    EXPECT_TRUE(t.client.Debug().Lines().back().starts_with("NOT SENT: [")) << c.sender;
  }

  // The one payload that may hold any byte: an account answer, enciphered, which its reader reads by size.
  TestClient t;
  const int socket = t.Socket(t.Connect());
  const std::string before = t.sockets.sockets.at(socket).sent;
  EXPECT_TRUE(t.client.Sender().Send(socket, msg::Login{"u", "\xFE\xFD"}));
  EXPECT_EQ(t.sockets.sockets.at(socket).sent,
            before + EncipheredFrame(1905, t.client.Cipher().EncryptMsg(PadTo8("u") + PadTo16("\xFE\xFD"))));
}

TEST(Sending, WhatTheSocketDoesNotTakeGoesOutLaterWholeAndInOrder) {
  TestClient t;
  const int slot = t.Connect();
  const int socket = t.Socket(slot);
  const std::string& sent = t.sockets.sockets.at(socket).sent;
  t.desktop.Clear();

  t.sockets.sendLimit = 3;
  t.client.Sender().SendControl(socket, ControlMessage{1}, "first");
  t.sockets.sendLimit = 0;  // would block
  t.client.Sender().SendControl(socket, ControlMessage{2}, "second");
  t.sockets.sendLimit = -1;
  t.client.Sender().SendConsole(slot, 5, "third");  // must wait behind the others
  EXPECT_EQ(sent, FrameOf("1001", "first").substr(0, 3));

  t.sockets.sendLimit = 4;
  t.sockets.Post(socket, kFdWrite);
  t.loop.RunPending();
  EXPECT_EQ(sent.size(), 7u);
  t.sockets.sendLimit = -1;
  t.sockets.Post(socket, kFdWrite);
  t.loop.RunPending();
  EXPECT_EQ(sent, FrameOf("1001", "first") + FrameOf("1002", "second") + FrameOf("0005", "third"));
  EXPECT_TRUE(t.desktop.bar.empty());

  // Once the queue is empty frames go straight out again.
  t.client.Sender().SendControl(socket, ControlMessage{3}, "");
  EXPECT_EQ(Sent(t, socket).back(), "1003|");
}

TEST(Sending, SendErrorsAreReportedAndAPeerThatStopsReadingIsDropped) {
  TestClient t;
  const int slot = t.Connect();
  const int socket = t.Socket(slot);
  t.desktop.Clear();
  t.sockets.sendError = 10053;
  t.client.Sender().SendControl(socket, ControlMessage{1}, "x");
  t.sockets.sendError = 0;
  EXPECT_EQ(t.desktop.bar, std::vector<std::string>{"Socket Send error 10053 (WSAECONNABORTED)"});
  EXPECT_EQ(t.desktop.Beeps(), 2);
  EXPECT_NE(t.client.Sessions().AtSlot(slot), nullptr);

  t.desktop.Clear();
  t.sockets.sendLimit = 0;
  const std::string mib(kMaxPayload, 'm');  // a frame of 1 MiB, the most one can hold
  for (int i = 0; i < 16; ++i) t.client.Sender().SendConsole(slot, 1, mib);
  EXPECT_TRUE(t.desktop.bar.empty());
  EXPECT_NE(t.client.Sessions().AtSlot(slot), nullptr);
  t.client.Sender().SendConsole(slot, 1, mib);
  EXPECT_EQ(t.desktop.bar, std::vector<std::string>{"Socket (" + std::to_string(socket) +
                                                    ") Server not reading - disconnecting"});
  EXPECT_EQ(t.client.Sessions().AtSlot(slot), nullptr);
  EXPECT_EQ(t.sockets.closed, std::vector<int>{socket});
}

TEST(Sessions, AConnectionOnAClosedOnesSocketNumberStartsClean) {
  // The first connection closes with a frame half read and a frame unsent; the next one gets the same
  // socket number, and neither reaches it.
  TestClient t;
  t.sockets.reuseHandles = true;
  const int first = t.Socket(t.Connect());
  t.Receive(first, Bytes({0xFD}) + "1021info\x80" + "Al");
  t.sockets.sendLimit = 0;
  t.client.Sender().SendControl(first, ControlMessage::StatusNote, "unsent");
  t.client.Connections().Disconnect(t.SlotOf(first), 1);
  t.sockets.sendLimit = -1;

  const int slot = t.Connect();
  ASSERT_EQ(t.Socket(slot), first);
  t.Receive(first, "pha" + Bytes({0xFE}));
  t.sockets.Post(first, kFdWrite);
  t.loop.RunPending();
  EXPECT_EQ(t.client.Sessions().AtSlot(slot)->Name(), "");
  EXPECT_TRUE(Sent(t, first).empty());
}

}  // namespace
}  // namespace ov
