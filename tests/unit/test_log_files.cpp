// Keep Logs: the files' names, the bytes as received across batches and days, the bound per file and a
// disk that refuses.
#include <gtest/gtest.h>

#include <map>

#include "consoles/log_files.h"
#include "tests/common/fakes.h"

namespace ov {
namespace {

using test::FrameOf;

// A disk in memory that refuses the folders it is told to.
struct MemoryDisk : LogFileSystem {
  std::map<std::string, std::string> files;
  std::string refuseUnder;  // folders beneath this path cannot be made
  std::string MakeFolders(const std::string& path) override {
    return !refuseUnder.empty() && path.starts_with(refuseUnder) ? "Read-only file system" : "";
  }
  int64_t FileSize(const std::string& path) override {
    auto it = files.find(path);
    return it == files.end() ? 0 : static_cast<int64_t>(it->second.size());
  }
  std::string Append(const std::string& path, std::string_view bytes) override {
    files[path].append(bytes);
    return {};
  }
};

TEST(KeptLogs, TitlesBecomeSafeFileNamesEachItsOwn) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Duel", "Duel"},
      {"", "%"},
      {".", "%2E"},
      {"..", "%2E."},
      {".hidden", "%2Ehidden"},
      {"../../etc/passwd", "%2E.%2F..%2Fetc%2Fpasswd"},
      {"a/b", "a%2Fb"},
      {"a_b", "a_b"},
      {"a%2Fb", "a%252Fb"},
      {"~x~", "%7Ex%7E"},
      {std::string("tab\tnl\ncr\rdel\x7fnul") + '\0', "tab%09nl%0Acr%0Ddel%7Fnul%00"},
      {"caf\xe9 ^1red", "caf\xc3\xa9 ^1red"},  // Latin-1 bytes as UTF-8
  };
  for (const auto& [title, name] : cases) EXPECT_EQ(SafeFileName(title), name) << title;
  // Long titles keep their head, never half a character, and end in a hash of the whole title.
  const std::string x = SafeFileName(std::string(500, 'x'));
  EXPECT_EQ(x.size(), kMaxFileNameBytes);
  EXPECT_NE(x, SafeFileName(std::string(499, 'x') + 'y'));
  const std::string cut = SafeFileName(std::string(500, '\xe9'));
  ASSERT_LE(cut.size(), kMaxFileNameBytes);
  EXPECT_EQ(cut.substr(cut.size() - 19, 3), "\xc3\xa9~");
}

TEST(KeptLogs, EveryWindowsBytesGoAsReceivedAcrossBatchesAndDays) {
  test::TestClient t;
  const int slot = t.Connect("127.0.0.1", 4044);
  const int socket = t.Socket(slot);
  const std::string sep(1, '\x80');
  t.Receive(socket, FrameOf("1021", "i" + sep + "alpha") + FrameOf("1027", "7"));
  t.Receive(socket, FrameOf("1025", "7" + sep + sep + "Du/el" + sep + sep + "1" + sep + "1"));

  LogKeeper keeper("/logs", "2026-12-08");
  std::vector<bool> wanted;
  keeper.SetFlushWanted([&](bool now) { wanted.push_back(now); });
  MemoryDisk disk;
  LogWriter writer(disk);
  t.client.Consoles().SetLogKeeper(&keeper);

  // Line breaks of every kind and colour codes stay as they came; only the window's log is normalised.
  t.Receive(socket, FrameOf("0000", "ov\nsays\r") + FrameOf("0007", "^1duel\r\n"));
  EXPECT_EQ(wanted, std::vector<bool>{false});  // the first bytes arm the timer
  EXPECT_TRUE(writer.Write(keeper.TakeBatches()).empty());
  t.Receive(socket, FrameOf("0007", std::string("tail\0\xff", 6)));
  // One read holds at most 32 KiB: the large batch comes in reads of a frame each.
  const std::string part(30000, 'b');
  std::string big;
  while (big.size() < LogKeeper::kFlushBytes) {
    t.Receive(socket, FrameOf("0000", part));
    big += part;
  }
  EXPECT_EQ(wanted, (std::vector<bool>{false, false, true}));  // large batches ask to be written now
  keeper.SetToday("2026-12-09");
  t.Receive(socket, FrameOf("0007", "next day"));
  EXPECT_TRUE(writer.Write(keeper.TakeBatches()).empty());

  const std::string ov = "/logs/127.0.0.1_4044/OV Server on alpha/";
  const std::string duel = "/logs/127.0.0.1_4044/Du%2Fel/";
  ASSERT_EQ(disk.files.size(), 3u);
  EXPECT_TRUE(disk.files[ov + "2026-12-08.log"] == "ov\nsays\r" + big);  // not printed: 270 kB
  EXPECT_EQ(disk.files[duel + "2026-12-08.log"], std::string("^1duel\r\ntail\0\xff", 14));
  EXPECT_EQ(disk.files[duel + "2026-12-09.log"], "next day");
  EXPECT_EQ(t.Window(slot, 7)->log.Text().substr(0, 10), "^1duel\r\nta");
}

TEST(KeptLogs, AFileStopsAtItsBoundAndARefusingDiskIsToldOncePerFile) {
  MemoryDisk disk;
  disk.files["/l/a/t/d.log"] = "12345";  // from an earlier run
  LogWriter writer(disk, 10);
  auto batch = [](const std::string& folder, const std::string& bytes) {
    return LogBatch{folder, folder + "/d.log", bytes};
  };
  EXPECT_TRUE(writer.Write({batch("/l/a/t", "abc")}).empty());
  EXPECT_EQ(
      writer.Write({batch("/l/a/t", "defg")}),
      std::vector<std::string>{"Keep Logs: /l/a/t/d.log reached 10 bytes; the rest of the day is not kept"});
  EXPECT_TRUE(writer.Write({batch("/l/a/t", "h")}).empty());
  EXPECT_EQ(disk.files["/l/a/t/d.log"], "12345abcde");

  disk.refuseUnder = "/l/ro";
  EXPECT_EQ(writer.Write({batch("/l/ro/x", "1"), batch("/l/ro/y", "2"), batch("/l/ro/x", "3")}),
            (std::vector<std::string>{"Keep Logs: cannot write /l/ro/x/d.log - Read-only file system",
                                      "Keep Logs: cannot write /l/ro/y/d.log - Read-only file system"}));
  EXPECT_TRUE(writer.Write({batch("/l/ro/x", "4")}).empty());
  EXPECT_EQ(disk.files.count("/l/ro/x/d.log"), 0u);
}

TEST(KeptLogs, AServerThatRenamesItsConsolesBeginsABoundedNumberOfFilesADay) {
  MemoryDisk disk;
  LogWriter writer(disk, 10, 2);
  auto batch = [](const std::string& server, const std::string& title, const std::string& day) {
    return LogBatch{"/l/" + server + "/" + title, "/l/" + server + "/" + title + "/" + day + ".log", "x"};
  };
  EXPECT_TRUE(writer.Write({batch("a", "t1", "d1"), batch("a", "t2", "d1")}).empty());
  const std::vector<std::string> bound{"Keep Logs: 2 logs begun today under /l/a; no more are begun today"};
  EXPECT_EQ(writer.Write({batch("a", "t3", "d1"), batch("a", "t4", "d1")}), bound);  // told once
  // The files begun go on; another server and the next day begin their own.
  EXPECT_TRUE(writer.Write({batch("a", "t1", "d1"), batch("b", "t3", "d1"), batch("a", "t3", "d2")}).empty());
  EXPECT_EQ(disk.files.size(), 4u);
  EXPECT_EQ(disk.files["/l/a/t1/d1.log"], "xx");
  EXPECT_EQ(disk.files.count("/l/a/t3/d1.log"), 0u);
}

}  // namespace
}  // namespace ov
