#include "app/desktop_notices.h"

#include <algorithm>
#include <climits>

#include "app/client.h"
#include "consoles/colour_codes.h"
#include "consoles/consoles.h"
#include "net/session.h"
#include "registry/selection.h"

namespace ov {

namespace {

// Lower case for ASCII and the Latin-1 letters, so that a word matches in any letter case.
char Fold(char c) {
  const auto b = static_cast<unsigned char>(c);
  if ((b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDE && b != 0xD7)) return static_cast<char>(b + 0x20);
  return c;
}

bool IsControl(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b < 0x20 || (b >= 0x7F && b < 0xA0);
}

std::string Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

// What a notice shows of a server's text: no colour codes, no control characters, one bounded line.
std::string Shown(std::string_view text) {
  std::string shown = Trimmed(StripColourCodes(text.substr(0, DesktopNotices::kMaxLineChars)));
  for (char& c : shown)
    if (IsControl(c)) c = ' ';
  return shown;
}

// "Server 3 ended: ..." or "Server 3 crashed ...": the OV server's word that one of its game servers
// stopped. The id, or -1 for any other line.
int EndedServerId(std::string_view line) {
  constexpr std::string_view kServer = "Server ";
  if (!line.starts_with(kServer)) return -1;
  size_t at = kServer.size();
  int id = 0;
  const size_t digits = at;
  while (at < line.size() && at - digits < 9 && line[at] >= '0' && line[at] <= '9')
    id = id * 10 + (line[at++] - '0');
  if (at == digits || at >= line.size() || line[at] != ' ') return -1;
  const std::string_view rest = line.substr(at + 1);
  return rest.starts_with("ended") || rest.starts_with("crashed") ? id : -1;
}

constexpr size_t kMaxPartials = 64;
constexpr size_t kMaxRates = 64;
constexpr size_t kMaxRemoved = 8;
constexpr std::chrono::seconds kRemovedSpan{10};

}  // namespace

std::vector<std::string> ParseWatchWords(std::string_view text) {
  std::vector<std::string> words;
  while (!text.empty() && words.size() < kMaxWatchWords) {
    const size_t comma = text.find(',');
    std::string word;
    for (const char c : text.substr(0, comma))
      if (!IsControl(c)) word += Fold(c);
    word = Trimmed(word).substr(0, kMaxWatchWordChars);
    if (!word.empty() && std::find(words.begin(), words.end(), word) == words.end()) words.push_back(word);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  return words;
}

std::string JoinWatchWords(const std::vector<std::string>& words) {
  std::string joined;
  for (const std::string& word : words) joined += (joined.empty() ? "" : ", ") + word;
  return joined;
}

const std::string* FindWatchWord(const std::vector<std::string>& words, std::string_view line) {
  std::string folded = StripColourCodes(line.substr(0, DesktopNotices::kMaxLineChars));
  std::transform(folded.begin(), folded.end(), folded.begin(), Fold);
  for (const std::string& word : words)
    if (folded.find(word) != std::string::npos) return &word;
  return nullptr;
}

void WatchList::Set(const NoticeKey& key, std::vector<std::string> words) {
  std::erase_if(entries_, [&](const auto& e) { return e.first == key; });
  if (words.empty()) return;
  if (words.size() > kMaxWatchWords) words.resize(kMaxWatchWords);
  entries_.emplace_front(key, std::move(words));
  if (entries_.size() > kMaxWatchedServers) entries_.pop_back();
}

const std::vector<std::string>* WatchList::Find(const NoticeKey& key) const {
  for (const auto& [k, words] : entries_)
    if (k == key) return &words;
  return nullptr;
}

// ---- DesktopNotices

void DesktopNotices::SetEnabled(bool on) {
  enabled_ = on;
  if (on) return;
  partial_.clear();
  removed_.clear();
}

bool DesktopNotices::KeyOf(const Console& window, NoticeKey& key) const {
  const std::shared_ptr<Session> session = window.connection.Lock();
  if (session == nullptr || window.IsDead()) return false;
  if (window.kind == ConsoleKind::OVServer) {
    key = {session->Where().Text(), {}, false};
    return true;
  }
  const std::optional<GameServerView> game = sessions_.Game(session->Slot(), window.ServerId);
  if (!game) return false;
  key = {session->Where().Text(), game->title, true};
  return true;
}

std::string DesktopNotices::OvName(int slot) const {
  const Session& ov = *sessions_.AtSlot(slot);
  const std::string name = Shown(ov.Name());
  return name.empty() ? ov.Where().Text() : name + " (" + ov.Where().Text() + ")";
}

void DesktopNotices::ServerRemoved(int slot, int serverId) {
  if (!enabled_) return;
  const Session* ov = sessions_.AtSlot(slot);
  const std::optional<GameServerView> server = sessions_.Game(slot, serverId);
  if (ov == nullptr || !server) return;
  const std::string title =
      Shown(server->title).empty() ? "Server " + std::to_string(serverId) : Shown(server->title);
  const NoticeKey key{ov->Where().Text(), server->title, true};
  const int handle = Tell(key, ov->Socket(), serverId, server->window,
                          {title + " ended", title + " on " + OvName(slot) + " has ended.", 0});
  if (handle == 0) return;
  const Clock::time_point now = clock_.Now();
  std::erase_if(removed_, [&](const Removed& r) { return now - r.at > kRemovedSpan; });
  if (removed_.size() == kMaxRemoved) removed_.pop_front();
  removed_.push_back({ov->Socket(), serverId, handle, key, title, now});
}

void DesktopNotices::ConnectionLost(int slot, const std::string& why) {
  // Only an OV server that took the client in: a failed attempt or login is told where the user is.
  const Session* ov = sessions_.AtSlot(slot);
  if (!enabled_ || ov == nullptr || !ov->Introduced()) return;
  const std::string name = Shown(ov->Name()).empty() ? ov->Where().Text() : Shown(ov->Name());
  Tell({ov->Where().Text(), {}, false}, ov->Socket(), 0, ov->Window(),
       {"Connection to " + name + " lost", OvName(slot) + ": " + Shown(why), 0});
}

void DesktopNotices::ConsoleText(int socket, int serverId, const Console& window, std::string_view text) {
  if (!enabled_) return;
  // A game server's text is split into lines only while it has words to watch for.
  NoticeKey key;
  if (serverId != 0 && (!KeyOf(window, key) || watch_.Find(key) == nullptr)) return;
  const std::pair<int, int> source{socket, serverId};
  auto it = partial_.find(source);
  if (it == partial_.end()) {
    if (partial_.size() >= kMaxPartials) {
      std::erase_if(partial_, [&](const auto& p) { return sessions_.Find(p.first.first) == nullptr; });
      if (partial_.size() >= kMaxPartials) partial_.clear();
    }
    it = partial_.emplace(source, std::string()).first;
  }
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view piece = text.substr(0, end);
    std::string& line = it->second;
    line.append(piece.substr(0, kMaxLineChars - std::min(kMaxLineChars, line.size())));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
    std::string whole = std::move(line);
    line.clear();
    if (whole.ends_with('\r')) whole.pop_back();
    Line(socket, serverId, window, whole);
  }
}

void DesktopNotices::Line(int socket, int serverId, const Console& window, std::string_view line) {
  const Session* session = sessions_.Find(socket);
  if (session == nullptr) return;
  const int slot = session->Slot();
  if (serverId == 0 && EndedServerId(line) != -1) {
    ServerEndedLine(socket, slot, line);
    return;
  }
  NoticeKey key;
  const std::vector<std::string>* words = KeyOf(window, key) ? watch_.Find(key) : nullptr;
  const std::string* word = words ? FindWatchWord(*words, line) : nullptr;
  if (word == nullptr) return;
  const std::string ovName = Shown(session->Name());
  const std::string name = key.game ? Shown(key.title) : ovName.empty() ? key.ovServer : ovName;
  const std::string where = key.game ? name + " on " + OvName(slot) : "OV server " + OvName(slot);
  Tell(key, socket, serverId, &window, {name + ": \"" + *word + "\"", Shown(line) + "\n(" + where + ")", 0});
}

void DesktopNotices::ServerEndedLine(int socket, int slot, std::string_view line) {
  const int id = EndedServerId(line);
  std::string folded(line.substr(0, kMaxLineChars));
  std::transform(folded.begin(), folded.end(), folded.begin(), Fold);
  const std::string how = folded.find("crash") != std::string::npos ? " crashed" : " ended";
  const Clock::time_point now = clock_.Now();
  // The removal came first and was told: that notice now says how the server ended.
  for (auto r = removed_.begin(); r != removed_.end(); ++r) {
    if (r->socket != socket || r->serverId != id || now - r->at > kRemovedSpan) continue;
    notifier_.Show(r->handle,
                   {r->title + how, r->title + " on " + OvName(slot) + ": " + Shown(line), r->handle});
    removed_.erase(r);
    return;
  }
  const Session& ov = *sessions_.AtSlot(slot);
  if (const std::optional<GameServerView> server = sessions_.Game(slot, id)) {
    const std::string title = Shown(server->title);
    Tell({ov.Where().Text(), server->title, true}, socket, id, server->window,
         {title + how, title + " on " + OvName(slot) + ": " + Shown(line), 0});
    return;
  }
  // A server this client never saw: the OV server's console is where its word was.
  Tell({ov.Where().Text(), {}, false}, socket, 0, ov.Window(),
       {"Server " + std::to_string(id) + how, OvName(slot) + ": " + Shown(line), 0});
}

int DesktopNotices::Tell(const NoticeKey& key, int socket, int serverId, const Console* window,
                         Notice notice) {
  int dropped = 0;
  if (!Allowed(key, dropped)) return 0;
  if (dropped > 0)
    notice.body += "\n(and " + std::to_string(dropped) + " more of this server not shown within a minute)";
  const int handle = nextHandle_;
  nextHandle_ = nextHandle_ == INT_MAX ? 1 : nextHandle_ + 1;
  Remember(handle, key, socket, serverId, window);
  notifier_.Show(handle, notice);
  return handle;
}

bool DesktopNotices::Allowed(const NoticeKey& key, int& dropped) {
  const Clock::time_point now = clock_.Now();
  auto it = rates_.find(key);
  if (it == rates_.end()) {
    if (rates_.size() >= kMaxRates) {
      // Servers quiet for a span have nothing left to count; failing that the first goes.
      std::erase_if(rates_, [&](const auto& r) {
        return r.second.shown.empty() || now - r.second.shown.back() > kSpan;
      });
      if (rates_.size() >= kMaxRates) rates_.erase(rates_.begin());
    }
    it = rates_.emplace(key, Rate{}).first;
  }
  Rate& rate = it->second;
  while (!rate.shown.empty() && now - rate.shown.front() >= kSpan) rate.shown.pop_front();
  if (rate.shown.size() >= size_t(kBurst)) {
    ++rate.dropped;
    return false;
  }
  rate.shown.push_back(now);
  dropped = std::exchange(rate.dropped, 0);
  return true;
}

void DesktopNotices::Remember(int handle, const NoticeKey& key, int socket, int serverId,
                              const Console* window) {
  if (clickable_.size() == kMaxClickable) clickable_.pop_front();
  clickable_.push_back({handle, key, socket, serverId, window, window ? window->caption : std::string()});
}

bool DesktopNotices::OpenLive(Clickable& c) {
  // The same connection, or one made since to the same OV server; the same game server by its title.
  for (int slot = 1; slot < kSlotCount; ++slot) {
    const Session* ov = sessions_.AtSlot(slot);
    if (ov == nullptr || (ov->Socket() != c.socket && ov->Where().Text() != c.key.ovServer)) continue;
    if (!c.key.game) {
      selection_.OpenServerWindow(slot, 0, Opener::User);
      Follow(c, sessions_.WindowOf(slot, 0));
      return true;
    }
    for (const GameServerView& server : sessions_.Games()) {
      if (server.ovSlot != slot || server.title != c.key.title) continue;
      selection_.OpenServerWindow(slot, server.serverId, Opener::User);
      Follow(c, sessions_.WindowOf(slot, server.serverId));
      return true;
    }
  }
  return false;
}

void DesktopNotices::Follow(Clickable& c, const Console* window) {
  // A window opened again is another window: a later click on a gone server finds this one.
  if (window == nullptr) return;
  c.window = window;
  c.caption = window->caption;
}

void DesktopNotices::Clicked(int handle) {
  const auto c = std::find_if(clickable_.begin(), clickable_.end(),
                              [&](const Clickable& k) { return k.handle == handle; });
  if (c == clickable_.end() || OpenLive(*c) || c->window == nullptr) return;
  // The server is gone: its window, dead now, if it is still open.
  for (const auto& window : consoles_.Windows()) {
    if (window.get() != c->window || window->view == nullptr) continue;
    if (window->caption != c->caption && window->caption != c->caption + "[Dead]") return;
    window->view->BringToFront();
    window->view->TakeFocus();
    return;
  }
}

void AttachNotices(Client& client, DesktopNotices* notices) {
  if (notices == nullptr) {
    client.Consoles().SetTextListener(nullptr);
    client.Registry().SetRemovingHandler(nullptr);
    client.Connections().SetLostHandler(nullptr);
    return;
  }
  client.Consoles().SetTextListener(
      [notices](int socket, int serverId, const Console& window, std::string_view text) {
        notices->ConsoleText(socket, serverId, window, text);
      });
  client.Registry().SetRemovingHandler(
      [notices](int slot, int serverId) { notices->ServerRemoved(slot, serverId); });
  client.Connections().SetLostHandler(
      [notices](int slot, const std::string& why) { notices->ConnectionLost(slot, why); });
}

}  // namespace ov
