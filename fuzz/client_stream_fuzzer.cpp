// The client's whole receiving side: a connected OV server's byte stream, cut into reads, goes through
// the frame splitting, control dispatch, account prompts, registry updates and console routing of a
// whole Client on the test fakes. The user answers every login prompt and, at the end, clicks through
// the tree, types into every console window, closes them and disconnects.
//
// Input: byte 0 the read size (0: the whole stream in one read), byte 1 the answers to the prompts
// (bit i: OK or Cancel for the i-th, in turn), byte 2 bit 0 a second connection that takes every other
// read, bits 1 to 7 whether the i-th answer types the same text into both fields (so that a new
// password and its confirmation agree); then the stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tests/common/fakes.h"

namespace {

// The frames that a splitter yields, bytes outside frames left out: they are reported per read.
std::vector<ov::Frame> WholeFrames(const std::vector<ov::Frame>& frames) {
  std::vector<ov::Frame> whole;
  for (const ov::Frame& f : frames)
    if (!f.outside) whole.push_back(f);
  return whole;
}

// However the stream is cut, the splitter hands out the same frames, each once, in order.
void CheckReassembly(std::string_view stream, size_t readSize) {
  ov::FrameAssembler once;
  const std::vector<ov::Frame> expected = WholeFrames(once.Feed(stream).frames);
  ov::FrameAssembler cut;
  std::vector<ov::Frame> got;
  for (size_t at = 0; at < stream.size(); at += readSize) {
    for (ov::Frame& f : cut.Feed(stream.substr(at, readSize)).frames)
      if (!f.outside) got.push_back(std::move(f));
  }
  if (got.size() != expected.size()) abort();
  for (size_t i = 0; i < got.size(); ++i)
    if (got[i].code != expected[i].code || got[i].payload != expected[i].payload) abort();
}

class Session {
 public:
  Session(uint8_t answers, uint8_t sameFields, bool twoConnections)
      : answers_(answers), sameFields_(sameFields) {
    slots_.push_back(tc_.Connect());
    if (twoConnections) slots_.push_back(tc_.Connect("10.1.2.3", 4045, 10));
    for (int slot : slots_)
      if (slot == -1) abort();  // the fake always connects
  }

  void Run(std::string_view stream, size_t readSize) {
    // The user answers a shown prompt a moment after it appears, over and over: prompts can come while
    // other prompts wait, and every wait must end.
    Tick();
    int at = 0;
    for (size_t i = 0, read = 0; i < stream.size(); i += readSize, ++read) {
      const int socket = tc_.Socket(slots_[read % slots_.size()]);
      const std::string bytes(stream.substr(i, readSize));
      // Reads arrive as events, so a prompt's nested wait takes the reads behind it.
      tc_.loop.At(tc_.loop.Now() + std::chrono::milliseconds(++at), [this, socket, bytes] {
        if (tc_.sockets.sockets.at(socket).open) tc_.sockets.Deliver(socket, bytes);
      });
    }
    tc_.loop.Advance(at + 10);
    tc_.ProcessCloseRequests();
    ActAsUser();
  }

 private:
  void Tick() {
    tc_.loop.After(3, [this] {
      if (tc_.login.visible) {
        const bool ok = (answers_ >> (answered_ % 8)) & 1;
        const bool same = (sameFields_ >> (answered_ % 7)) & 1;
        ++answered_;
        tc_.login.field1 = "admin";
        tc_.login.field2 = same ? "admin" : "secret";
        if (ok) {
          tc_.client.Prompts().Answer();
        } else {
          tc_.client.Prompts().Cancel();
        }
      }
      Tick();
    });
  }

  // The user closes a window: its view lets go of it, and the close handling runs.
  void CloseWindow(ov::Console& window) {
    for (auto& view : tc_.windows.views)
      if (view->window == &window) view->window = nullptr;
    tc_.client.Consoles().CloseWindow(window);
  }

  // Whatever the stream built, the user's own steps work on it and clean it all up.
  void ActAsUser() {
    ov::Client& c = tc_.client;
    std::vector<int> nodes;
    for (const auto& [id, node] : tc_.tree.nodes) nodes.push_back(id);
    for (int node : nodes) {
      if (!tc_.tree.Exists(node)) continue;
      tc_.tree.Select(node);
      const ov::SelectedServer sel = c.Selection().Selected();
      if (c.Selection().Kind() != ov::SelectionKind::None)
        c.Selection().OpenServerWindow(sel.ovIndex, sel.serverId, ov::Opener::User);
      tc_.loop.RunPending();
    }
    std::vector<ov::Console*> windows;
    for (const auto& w : c.Consoles().Windows()) windows.push_back(w.get());
    for (ov::Console* w : windows) c.Consoles().SendLine(*w, "status");
    // Half the windows are closed by the user, the rest go as dead ones after the disconnect.
    for (size_t i = 0; i < windows.size(); i += 2) CloseWindow(*windows[i]);
    for (int slot : slots_) c.Connections().Disconnect(slot, 1);
    c.Selection().CleanupDeadWindows();
    tc_.ProcessCloseRequests();
    tc_.loop.Advance(10);
    for (int slot : slots_)
      if (c.Sessions().AtSlot(slot) != nullptr) abort();
    if (!c.Sessions().Games().empty()) abort();  // every Quake server went with its OV server
  }

  ov::test::TestClient tc_;
  std::vector<int> slots_;
  uint8_t answers_;
  uint8_t sameFields_;
  int answered_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t readSize = data[0] == 0 ? size : data[0];
  const uint8_t answers = data[1];
  const bool two = data[2] & 1;
  const uint8_t sameFields = data[2] >> 1;
  const std::string_view stream(reinterpret_cast<const char*>(data) + 3, size - 3);

  CheckReassembly(stream, readSize);
  Session session(answers, sameFields, two);
  session.Run(stream, readSize);
  return 0;
}
