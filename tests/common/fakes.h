#pragma once
// Fakes of the platform's seams, and a harness that wires a whole Client to them.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/client.h"

namespace ov::test {

// A queue of events and a clock that only moves when a wait finds nothing to do.
class FakeEventLoop : public EventLoop {
 public:
  Clock::time_point Now() override { return now_; }
  // Runs every event that is due; when none is, moves the clock to the next scheduled event or the
  // deadline. Throws when it would wait forever with nothing scheduled (a test that forgot an answer).
  void WaitForEvents(Clock::time_point deadline) override;

  void Post(std::function<void()> event) override { At(now_, std::move(event)); }
  void After(int ms, std::function<void()> event) override {
    At(now_ + std::chrono::milliseconds(ms), std::move(event));
  }
  void At(Clock::time_point when, std::function<void()> event);
  void RunPending();     // everything due now, including what those events post
  void Advance(int ms);  // moves the clock, running what falls due on the way
  size_t waits = 0;      // WaitForEvents calls
  size_t Queued() const { return events_.size(); }

 private:
  struct Scheduled {
    Clock::time_point when;
    uint64_t order;
    std::function<void()> run;
  };
  bool RunOneDue();
  Clock::time_point now_{std::chrono::hours(1000)};
  uint64_t nextOrder_ = 0;
  std::vector<Scheduled> events_;
};

// A scripted socket library: every call is recorded, every result can be set.
class FakeSocketApi : public SocketApi {
 public:
  struct Sock {
    bool open = true;
    long events = 0;
    uint32_t address = 0;
    uint16_t port = 0;  // network byte order, as given
    std::string sent;
    std::string incoming;
  };

  explicit FakeSocketApi(FakeEventLoop& loop) : loop_(loop) {}

  int Startup(uint16_t version) override;
  void Cleanup() override { cleanedUp = true; }
  int Socket(int family, int type, int protocol) override;
  int AsyncSelect(int socket, long events) override;
  int Connect(int socket, uint32_t address, uint16_t port) override;
  int Send(int socket, const char* data, int length) override;
  int Recv(int socket, char* buffer, int length) override;
  int CloseSocket(int socket) override;
  int LastError() const override { return lastError_; }
  void SetEventHandler(EventHandler handler) override { handler_ = std::move(handler); }
  // Answers from hosts after lookupDelayMs (none for a name it lacks); lookupDelayMs < 0 never answers.
  int AsyncGetHostByName(const std::string& host, bool numericOnly, LookupDone done) override;
  void CancelLookup(int id) override { cancelledLookups.push_back(id); }
  int ConnectTo(int socket, const SocketAddress& address, uint16_t port) override;
  int OpenDatagram(bool v6, Readable readable) override;
  int SendTo(int socket, const char* data, int length, const SocketAddress& to, uint16_t port) override;
  int RecvFrom(int socket, char* buffer, int length, SocketAddress& from, uint16_t& port) override;

  // Datagram sockets: what each sent, and what waits to be read.
  struct Datagram {
    SocketAddress peer;
    uint16_t port = 0;  // network byte order
    std::string bytes;
  };
  struct DatagramSock {
    bool open = true;
    bool v6 = false;
    Readable readable;
    bool told = false;  // readable posted and not read since
    std::vector<Datagram> sent;
    std::deque<Datagram> incoming;
  };
  std::map<int, DatagramSock> datagrams;
  int datagramError = 0;  // OpenDatagram() fails with it when not 0
  // A datagram arrives at a socket (one closed since takes nothing): readable is posted.
  void DeliverDatagram(int socket, const Datagram& datagram);
  int OpenDatagrams() const;  // open now

  // Script.
  std::map<std::string, std::vector<SocketAddress>> hosts;
  int lookupDelayMs = 5;
  std::vector<std::string> lookedUp;  // "host" or "host numeric", in order
  std::vector<int> cancelledLookups;
  std::vector<SocketAddress> connectedTo;  // what ConnectTo was given, in order
  // When not empty, each ConnectTo's autoConnectError in turn; -e fails that ConnectTo at once with e.
  std::deque<int> connectToErrors;
  int startupError = 0;
  int socketError = 0;     // Socket() fails with it when not 0
  int selectError = 0;     // AsyncSelect() fails with it when not 0
  int connectResult = -1;  // Connect(): 0 at once, or -1 with connectError
  int connectError = kWsaeWouldBlock;
  int recvError = 0;          // Recv() fails with it when not 0
  int sendError = 0;          // Send() fails with it when not 0
  int sendLimit = -1;         // at most this many bytes per Send; 0 = would block; -1 = all
  bool reuseHandles = false;  // Socket() gives the lowest closed handle again, as descriptors are
  // When set, a connect under way completes with this error (0 = success) after connectDelayMs.
  int autoConnectError = -1;
  int connectDelayMs = 10;

  // Delivers bytes to a socket and posts its read event.
  void Deliver(int socket, const std::string& bytes);
  // Posts a notification of a socket to the event loop.
  void Post(int socket, uint16_t event, uint16_t error = 0);

  std::map<int, Sock> sockets;
  std::vector<int> closed;
  int lastSocket = 0;
  uint16_t startupVersion = 0;
  bool cleanedUp = false;

 private:
  int Fail(int error) {
    lastError_ = error;
    return -1;
  }
  void TellReadable(int socket);  // posts readable once until the next RecvFrom
  FakeEventLoop& loop_;
  EventHandler handler_;
  int nextHandle_ = 100;
  int lastError_ = 0;
};

class RecordingDesktop : public Desktop {
 public:
  void SetStatusBarText(const std::string& text) override { bar.push_back(text); }
  void StartStatusTimer(int ms) override {
    timerRunning = true;
    timerStarts.push_back(ms);
  }
  void StopStatusTimer() override {
    timerRunning = false;
    ++timerStops;
  }
  bool BeepsAllowed() override {
    ++beepRequests;
    return allowBeeps;
  }
  void Beep() override { events.push_back("beep"); }
  void MessageBox(const std::string& text) override {
    boxes.push_back(text);
    if (onMessageBox) onMessageBox();
  }
  void SetCommandEnabled(Command command, bool enabled) override { commands[command] = enabled; }
  void SetConnectEnabled(bool enabled) override { connectEnabled.push_back(enabled); }
  void Quit() override { quit = true; }
  std::string LocalTime() override { return localTime; }

  std::string Bar() const { return bar.empty() ? std::string() : bar.back(); }
  int Beeps() const;
  void Clear() {
    bar.clear();
    events.clear();
    boxes.clear();
  }

  std::vector<std::string> bar;
  std::vector<int> timerStarts;
  int timerStops = 0;
  int beepRequests = 0;
  bool allowBeeps = true;
  bool timerRunning = false;
  std::vector<std::string> events;  // "beep"
  std::vector<std::string> boxes;
  std::function<void()> onMessageBox;  // runs inside the modal box, as its nested loop would
  std::map<Command, bool> commands;
  std::vector<bool> connectEnabled;
  bool quit = false;
  std::string localTime = "2001-02-03 04:05:06";
};

class FakeTree : public ServersTreeView {
 public:
  int AddNode(int parent, const std::string& text) override;
  void DeleteNode(int node) override;
  int SelectedNode() const override { return selected; }
  void SetNodeTip(int node, const std::string& tip) override { nodes.at(node).tip = tip; }
  void SetNodeText(int node, const std::string& text) override { nodes.at(node).text = text; }

  void Select(int node);  // as the user would: the change runs onSelectionChanged
  std::vector<std::string> Texts(int parent = 0) const;  // children of parent, in order
  bool Exists(int node) const { return nodes.count(node) != 0; }
  int Parent(int node) const { return nodes.at(node).parent; }

  struct Node {
    int parent;
    std::string text;
    std::vector<int> children;
    std::string tip;
  };
  std::map<int, Node> nodes;
  std::vector<int> top;
  int selected = 0;
  std::function<void()> onSelectionChanged;

 private:
  int nextId_ = 1;
};

class FakeConsoleView : public ConsoleView {
 public:
  explicit FakeConsoleView(Console& w) : window(&w) {}
  void CaptionChanged() override { ++captionChanges; }
  void LogChanged() override { ++logChanges; }
  void BringToFront() override { ++broughtToFront; }
  void TakeFocus() override { ++focusTaken; }
  void CloseLater() override { ++closeRequests; }
  void Close() override {  // the close handling runs now, as the frame's would
    ++closes;
    if (Console* w = std::exchange(window, nullptr); w != nullptr && onClose) onClose(*w);
  }
  Console* window;
  std::function<void(Console&)> onClose;
  int captionChanges = 0, logChanges = 0, broughtToFront = 0, focusTaken = 0, closeRequests = 0, closes = 0;
};

class FakeWindowSystem : public WindowSystem {
 public:
  ConsoleView* CreateConsoleView(Console& window) override;
  std::vector<std::unique_ptr<FakeConsoleView>> views;  // every view ever created, in order
  std::function<void(Console&)> onClose;                // what a view's Close runs
};

class FakeLoginDialog : public LoginDialogView {
 public:
  void ShowStep(const LoginStep& step) override {
    steps.push_back(step);
    field1.clear();
    field2.clear();
    visible = true;
  }
  void HideDialog() override { visible = false; }
  std::string Field1() const override { return field1; }
  std::string Field2() const override { return field2; }

  std::vector<LoginStep> steps;
  std::string field1, field2;
  bool visible = false;
};

// A whole client on fakes. Socket events, dialog answers and timer expiries are events of the loop.
class TestClient {
 public:
  explicit TestClient(const std::string& commandLine = "orvane-client");

  // Connects a new slot (the fake completes the connect) and returns it; its socket is Socket(slot).
  int Connect(const std::string& address = "127.0.0.1", int port = 4044, int count = 10);
  int Socket(int slot) const;  // 0 once the connection has ended
  // A server's console window (serverId 0: the OV server's own), or nullptr.
  Console* Window(int slot, int serverId = 0) const { return client.Sessions().WindowOf(slot, serverId); }
  int SlotOf(int socket) const;  // the slot of the connection open on socket, or -1
  // Feeds bytes to a socket as one read and handles it.
  void Receive(int socket, const std::string& bytes);
  // Frames that the client sent on a socket, each as "code payload" with the payload as it went out.
  std::vector<Frame> SentFrames(int socket);
  // Answers the login dialog's next step from inside its wait.
  void AnswerLogin(bool ok, const std::string& f1, const std::string& f2, int afterMs = 1);
  // Runs close handling of the windows whose view asked to be closed, as the frame would.
  void ProcessCloseRequests();

  FakeEventLoop loop;
  FakeSocketApi sockets{loop};
  RecordingDesktop desktop;
  FakeTree tree;
  FakeWindowSystem windows;
  FakeLoginDialog login;
  Client client{Platform{sockets, loop, desktop, tree, windows, login}};
};

std::string Bytes(std::initializer_list<int> values);                      // Bytes({0xFD, '1', ...})
std::string FrameOf(const std::string& code, const std::string& payload);  // 0xFD code payload 0xFE

}  // namespace ov::test
