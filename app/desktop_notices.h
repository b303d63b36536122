#pragma once
// Desktop notices: a game server that ended or crashed, a connection to an OV server that ended without
// the user asking, a console line holding one of the user's watch words. The rules live here (what
// triggers, the rate per server, the matching, the text); the desktop's notification service is behind
// the Notifier seam. Off until enabled: then nothing is looked at, and nothing ever runs while idle.
#include <chrono>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/event_loop.h"

namespace ov {

class Client;
class Console;
class Consoles;
class Selection;
class Sessions;

// Whose console a notice or a list of watch words belongs to: an OV server by its "address:port", a game
// server also by its title, as the other settings of a server are kept.
struct NoticeKey {
  std::string ovServer;
  std::string title;  // empty for the OV server's own console
  bool game = false;
  auto operator<=>(const NoticeKey&) const = default;
};

struct Notice {
  std::string summary;  // one line, Latin-1 as received
  std::string body;
  int replaces = 0;  // the handle of the notice this one updates in place, or 0
};

// The desktop's notification service. A notice is known by the handle given with it (never 0); a click
// on it comes back, by that handle, to DesktopNotices::Clicked.
class Notifier {
 public:
  virtual ~Notifier() = default;
  virtual void Show(int handle, const Notice& notice) = 0;
};

// A server's watch words: matched in any letter case anywhere in a whole line, colour codes aside.
constexpr size_t kMaxWatchWords = 10;
constexpr size_t kMaxWatchWordChars = 40;
// The servers whose words are kept, the latest set first (the settings file must stay small).
constexpr size_t kMaxWatchedServers = 40;
// Words as the user types them, separated by commas: trimmed, in lower case, each once, within the
// bounds above; control characters and empty words are dropped.
std::vector<std::string> ParseWatchWords(std::string_view text);
std::string JoinWatchWords(const std::vector<std::string>& words);
// The first of the words the line holds, or nullptr. Only the first kMaxLineChars of a line are looked at.
const std::string* FindWatchWord(const std::vector<std::string>& words, std::string_view line);

class WatchList {
 public:
  // No words forgets the server; a server beyond kMaxWatchedServers pushes out the longest unchanged.
  void Set(const NoticeKey& key, std::vector<std::string> words);
  const std::vector<std::string>* Find(const NoticeKey& key) const;
  const std::deque<std::pair<NoticeKey, std::vector<std::string>>>& Entries() const { return entries_; }

 private:
  std::deque<std::pair<NoticeKey, std::vector<std::string>>> entries_;  // latest set first
};

class DesktopNotices {
 public:
  // A line is looked at up to this many characters; the rest of a longer line is passed over.
  static constexpr size_t kMaxLineChars = 512;
  // At most kBurst notices per server within kSpan; those beyond are counted and said in the next.
  static constexpr int kBurst = 3;
  static constexpr std::chrono::seconds kSpan{60};
  // The notices a click can still open, the latest; older ones open nothing.
  static constexpr size_t kMaxClickable = 64;

  DesktopNotices(const Sessions& sessions, Selection& selection, Consoles& consoles, Notifier& notifier,
                 EventLoop& clock)
      : sessions_(sessions), selection_(selection), consoles_(consoles), notifier_(notifier), clock_(clock) {}

  void SetEnabled(bool on);
  bool Enabled() const { return enabled_; }
  WatchList& Watch() { return watch_; }
  // The key of a console window's server; false for a dead window, whose server is gone.
  bool KeyOf(const Console& window, NoticeKey& key) const;

  // What the client tells: a game server about to be removed (message 28), a connection that ended
  // without the user asking (why: the reason the status line gave), text a console window received.
  void ServerRemoved(int slot, int serverId);
  void ConnectionLost(int slot, const std::string& why);
  void ConsoleText(int socket, int serverId, const Console& window, std::string_view text);
  // The user clicked the notice: its console comes to the front, opened again when its server lives.
  void Clicked(int handle);

 private:
  struct Clickable {
    int handle;
    NoticeKey key;
    int socket, serverId;   // the server's connection and id when told
    const Console* window;  // its window then, compared by address and caption only
    std::string caption;
  };
  struct Rate {
    std::deque<Clock::time_point> shown;  // at most kBurst
    int dropped = 0;
  };
  struct Removed {  // a game server removed just now: its OV server's word on it updates that notice
    int socket, serverId, handle;
    NoticeKey key;
    std::string title;
    Clock::time_point at;
  };

  // Shows the notice unless the server's rate is spent; returns its handle, or 0.
  int Tell(const NoticeKey& key, int socket, int serverId, const Console* window, Notice notice);
  bool Allowed(const NoticeKey& key, int& dropped);
  void Remember(int handle, const NoticeKey& key, int socket, int serverId, const Console* window);
  void Line(int socket, int serverId, const Console& window, std::string_view line);
  void ServerEndedLine(int socket, int slot, std::string_view line);
  static void Follow(Clickable& c, const Console* window);
  bool OpenLive(Clickable& c);  // and then follows the window opened, should it be closed again
  std::string OvName(int slot) const;

  const Sessions& sessions_;
  Selection& selection_;
  Consoles& consoles_;
  Notifier& notifier_;
  EventLoop& clock_;
  bool enabled_ = false;
  WatchList watch_;
  int nextHandle_ = 1;
  std::map<NoticeKey, Rate> rates_;                     // bounded: see Allowed
  std::deque<Clickable> clickable_;                     // at most kMaxClickable
  std::deque<Removed> removed_;                         // at most a few, for a few seconds
  std::map<std::pair<int, int>, std::string> partial_;  // by socket and server id: a line not yet ended
};

// Hands the client's removals, lost connections and console text to the notices; none hands nothing.
void AttachNotices(Client& client, DesktopNotices* notices);

}  // namespace ov
