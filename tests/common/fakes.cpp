#include "tests/common/fakes.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace ov::test {

// ---- FakeEventLoop

void FakeEventLoop::At(Clock::time_point when, std::function<void()> event) {
  events_.push_back({when, nextOrder_++, std::move(event)});
}

bool FakeEventLoop::RunOneDue() {
  auto due = events_.end();
  for (auto it = events_.begin(); it != events_.end(); ++it) {
    if (it->when <= now_ &&
        (due == events_.end() || it->when < due->when || (it->when == due->when && it->order < due->order))) {
      due = it;
    }
  }
  if (due == events_.end()) return false;
  auto run = std::move(due->run);
  events_.erase(due);
  run();
  return true;
}

void FakeEventLoop::RunPending() {
  while (RunOneDue()) {
  }
}

void FakeEventLoop::WaitForEvents(Clock::time_point deadline) {
  ++waits;
  if (RunOneDue()) {
    RunPending();
    return;
  }
  Clock::time_point next = deadline;
  for (const auto& e : events_) next = std::min(next, e.when);
  if (next == Clock::time_point::max()) throw std::runtime_error("the event loop would wait forever");
  now_ = std::max(now_, next);
  RunPending();
}

void FakeEventLoop::Advance(int ms) {
  const Clock::time_point end = now_ + std::chrono::milliseconds(ms);
  for (;;) {
    RunPending();
    Clock::time_point next = end;
    for (const auto& e : events_) next = std::min(next, e.when);
    if (next >= end) break;
    now_ = next;
  }
  now_ = end;
  RunPending();
}

// ---- FakeSocketApi

int FakeSocketApi::Startup(uint16_t version) {
  startupVersion = version;
  return startupError;
}

int FakeSocketApi::Socket(int, int, int) {
  if (socketError != 0) return Fail(socketError);
  const auto closed =
      std::find_if(sockets.begin(), sockets.end(), [](const auto& s) { return !s.second.open; });
  lastSocket = reuseHandles && closed != sockets.end() ? closed->first : nextHandle_++;
  sockets[lastSocket] = Sock{};
  return lastSocket;
}

int FakeSocketApi::AsyncSelect(int socket, long events) {
  if (selectError != 0) return Fail(selectError);
  sockets.at(socket).events = events;
  return 0;
}

int FakeSocketApi::Connect(int socket, uint32_t address, uint16_t port) {
  auto& s = sockets.at(socket);
  s.address = address;
  s.port = port;
  if (connectResult == 0) return 0;
  if (connectError == kWsaeWouldBlock && autoConnectError >= 0) {
    const int error = autoConnectError;
    loop_.After(connectDelayMs, [this, socket, error] {
      if (sockets.at(socket).open) handler_(kSocketMessage, socket, MakeEventWord(kFdConnect, error));
    });
  }
  return Fail(connectError);
}

int FakeSocketApi::AsyncGetHostByName(const std::string& host, bool numericOnly, LookupDone done) {
  lookedUp.push_back(numericOnly ? host + " numeric" : host);
  const int id = static_cast<int>(lookedUp.size());
  if (lookupDelayMs >= 0) {
    auto it = hosts.find(host);
    std::vector<SocketAddress> found = it == hosts.end() ? std::vector<SocketAddress>{} : it->second;
    loop_.After(lookupDelayMs, [this, id, found, done = std::move(done)] {
      if (std::find(cancelledLookups.begin(), cancelledLookups.end(), id) == cancelledLookups.end())
        done(found);
    });
  }
  return id;
}

int FakeSocketApi::ConnectTo(int socket, const SocketAddress& address, uint16_t port) {
  connectedTo.push_back(address);
  if (connectToErrors.empty()) return Connect(socket, 0, port);
  const int error = connectToErrors.front();
  connectToErrors.pop_front();
  if (error < 0) return Fail(-error);
  const int saved = std::exchange(autoConnectError, error);
  const int result = Connect(socket, 0, port);
  autoConnectError = saved;
  return result;
}

int FakeSocketApi::Send(int socket, const char* data, int length) {
  if (sendError != 0) return Fail(sendError);
  if (sendLimit == 0) return Fail(kWsaeWouldBlock);
  const int n = sendLimit < 0 ? length : std::min(length, sendLimit);
  sockets.at(socket).sent.append(data, n);
  return n;
}

int FakeSocketApi::Recv(int socket, char* buffer, int length) {
  if (recvError != 0) return Fail(recvError);
  auto& in = sockets.at(socket).incoming;
  const int n = std::min<int>(length, static_cast<int>(in.size()));
  std::memcpy(buffer, in.data(), n);
  in.erase(0, n);
  return n;
}

int FakeSocketApi::OpenDatagram(bool v6, Readable readable) {
  if (datagramError != 0) return Fail(datagramError);
  lastSocket = nextHandle_++;
  DatagramSock& made = datagrams[lastSocket];
  made.v6 = v6;
  made.readable = std::move(readable);
  return lastSocket;
}

int FakeSocketApi::SendTo(int socket, const char* data, int length, const SocketAddress& to, uint16_t port) {
  auto it = datagrams.find(socket);
  if (it == datagrams.end() || !it->second.open || to.v6 != it->second.v6) return Fail(10038);
  it->second.sent.push_back({to, port, std::string(data, size_t(length))});
  return length;
}

int FakeSocketApi::RecvFrom(int socket, char* buffer, int length, SocketAddress& from, uint16_t& port) {
  auto it = datagrams.find(socket);
  if (it == datagrams.end() || !it->second.open) return Fail(10038);
  DatagramSock& s = it->second;
  s.told = false;
  if (s.incoming.empty()) return Fail(kWsaeWouldBlock);
  const Datagram d = std::move(s.incoming.front());
  s.incoming.pop_front();
  std::memcpy(buffer, d.bytes.data(), std::min<size_t>(size_t(length), d.bytes.size()));
  from = d.peer;
  port = d.port;
  // What is left is told again, as the real one re-arms its notifier.
  if (!s.incoming.empty()) TellReadable(socket);
  return static_cast<int>(d.bytes.size());
}

void FakeSocketApi::DeliverDatagram(int socket, const Datagram& datagram) {
  DatagramSock& s = datagrams.at(socket);
  if (!s.open) return;
  s.incoming.push_back(datagram);
  TellReadable(socket);
}

void FakeSocketApi::TellReadable(int socket) {
  if (std::exchange(datagrams.at(socket).told, true)) return;
  loop_.Post([this, socket] {
    DatagramSock& d = datagrams.at(socket);
    if (d.open && d.told) Readable(d.readable)();
  });
}

int FakeSocketApi::OpenDatagrams() const {
  return static_cast<int>(
      std::count_if(datagrams.begin(), datagrams.end(), [](const auto& d) { return d.second.open; }));
}

int FakeSocketApi::CloseSocket(int socket) {
  if (auto d = datagrams.find(socket); d != datagrams.end() && d->second.open) {
    d->second.open = false;
    closed.push_back(socket);
    return 0;
  }
  auto it = sockets.find(socket);
  if (it == sockets.end() || !it->second.open) return Fail(10038);
  it->second.open = false;
  closed.push_back(socket);
  return 0;
}

void FakeSocketApi::Deliver(int socket, const std::string& bytes) {
  sockets.at(socket).incoming += bytes;
  Post(socket, kFdRead);
}

void FakeSocketApi::Post(int socket, uint16_t event, uint16_t error) {
  loop_.Post([this, socket, event, error] {
    if (sockets.at(socket).open) handler_(kSocketMessage, socket, MakeEventWord(event, error));
  });
}

// ---- RecordingDesktop

int RecordingDesktop::Beeps() const {
  return static_cast<int>(std::count(events.begin(), events.end(), "beep"));
}

// ---- FakeTree

int FakeTree::AddNode(int parent, const std::string& text) {
  const int id = nextId_++;
  nodes[id] = Node{parent, text, {}, {}};
  (parent == 0 ? top : nodes.at(parent).children).push_back(id);
  return id;
}

void FakeTree::DeleteNode(int node) {
  bool selectionGone = false;
  std::function<void(int)> erase = [&](int id) {
    for (int child : nodes.at(id).children) erase(child);
    if (id == selected) selectionGone = true;
    nodes.erase(id);
  };
  const int parent = nodes.at(node).parent;
  auto& siblings = parent == 0 ? top : nodes.at(parent).children;
  const auto at = std::find(siblings.begin(), siblings.end(), node);
  // As a tree control moves it: to the next sibling, else the previous one, else the parent.
  const int successor = at + 1 != siblings.end() ? *(at + 1) : at != siblings.begin() ? *(at - 1) : parent;
  siblings.erase(at);
  erase(node);
  if (selectionGone) {
    selected = successor;
    if (onSelectionChanged) onSelectionChanged();
  }
}

void FakeTree::Select(int node) {
  selected = node;
  if (onSelectionChanged) onSelectionChanged();
}

std::vector<std::string> FakeTree::Texts(int parent) const {
  std::vector<std::string> out;
  for (int id : parent == 0 ? top : nodes.at(parent).children) out.push_back(nodes.at(id).text);
  return out;
}

// ---- FakeWindowSystem

ConsoleView* FakeWindowSystem::CreateConsoleView(Console& window) {
  views.push_back(std::make_unique<FakeConsoleView>(window));
  views.back()->onClose = onClose;
  return views.back().get();
}

// ---- TestClient

TestClient::TestClient(const std::string& commandLine) {
  tree.onSelectionChanged = [this] { client.Selection().UpdateSelection(); };
  windows.onClose = [this](Console& window) { client.Consoles().CloseWindow(window); };
  client.InitClient(commandLine);
}

int TestClient::Connect(const std::string& address, int port, int count) {
  const int saved = sockets.autoConnectError;
  if (saved < 0) sockets.autoConnectError = 0;
  const int slot = client.Sessions().FreeSlot();  // the one the attempt takes
  client.Connections().ConnectToServer(address, port, count);
  sockets.autoConnectError = saved;
  return slot;
}

int TestClient::SlotOf(int socket) const {
  const Session* session = client.Sessions().Find(socket);
  return session != nullptr ? session->Slot() : -1;
}

int TestClient::Socket(int slot) const {
  const Session* session = client.Sessions().AtSlot(slot);
  return session != nullptr ? session->Socket() : 0;
}

void TestClient::Receive(int socket, const std::string& bytes) {
  sockets.Deliver(socket, bytes);
  loop.RunPending();
}

std::vector<Frame> TestClient::SentFrames(int socket) {
  FrameAssembler assembler;
  return assembler.Feed(sockets.sockets.at(socket).sent).frames;
}

void TestClient::AnswerLogin(bool ok, const std::string& f1, const std::string& f2, int afterMs) {
  loop.After(afterMs, [this, ok, f1, f2] {
    login.field1 = f1;
    login.field2 = f2;
    if (ok) {
      client.Prompts().Answer();
    } else {
      client.Prompts().Cancel();
    }
  });
}

void TestClient::ProcessCloseRequests() {
  for (auto& v : windows.views) {
    if (v->closeRequests > 0 && v->window != nullptr) {
      Console* w = v->window;
      v->window = nullptr;
      v->closeRequests = 0;
      client.Consoles().CloseWindow(*w);
    }
  }
}

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

std::string FrameOf(const std::string& code, const std::string& payload) {
  return std::string(1, kFrameStart) + code + payload + std::string(1, kFrameEnd);
}

}  // namespace ov::test
