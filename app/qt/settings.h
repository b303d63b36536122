#pragma once
// What the client keeps between runs, in the user's configuration folder
// (~/.config/Orvane/orvane-client.conf). A missing file reads as nothing kept. A file that cannot be read
// safely (not a regular file, too large, not text, or not in the settings' format) is left as it is: the
// client then keeps nothing for the run and never writes over it.
#include <QSettings>
#include <QString>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/desktop_notices.h"
#include "core/endpoint.h"

namespace ov {

enum class SettingsFile { Missing, Readable, Unreadable };
constexpr qint64 kMaxSettingsBytes = 64 * 1024;  // far beyond what the client ever writes
// Looks at the file without waiting on it: a FIFO or a device is never read.
SettingsFile CheckSettingsFile(const QString& path);
QString UserSettingsPath();
// The user's settings, or none when the file is there but cannot be read.
std::unique_ptr<QSettings> UserSettings();

// Everything the client keeps between runs, typed, in one file opened once. Whatever is kept for an OV
// server is kept under one key, ServerKey. A store without a file (one that cannot be read safely)
// reads the defaults and writes nothing.
class Settings {
 public:
  explicit Settings(std::unique_ptr<QSettings> file = nullptr);
  ~Settings();
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;
  bool Kept() const { return file_ != nullptr; }

  // An OV server as its settings are keyed, "ADDRESS:PORT" ("[::1]:4044"): its time-out count aside.
  static std::string ServerKey(const Endpoint& server);

  // The Connect dialog's recent servers, the latest first.
  std::vector<Endpoint> RecentServers() const;
  void SetRecentServers(const std::vector<Endpoint>& entries);

  // The login names whose passwords the desktop's keyring keeps, by ServerKey. Never a password: those
  // are in the keyring only.
  std::map<std::string, std::string> SavedLogins() const;
  void SetSavedLogins(const std::map<std::string, std::string>& logins);

  // Whether colour codes are drawn as colours and hidden in logs, captions and tree nodes. Off by default.
  bool ColourCodes() const;
  void SetColourCodes(bool on);
  // Whether every console's text is also kept in files under the user's data folder. Off by default.
  bool KeepLogs() const;
  void SetKeepLogs(bool on);
  // Whether Quake servers' console windows show their players and map. Off by default.
  bool PlayersPanel() const;
  void SetPlayersPanel(bool on);

  // Whether the desktop is told of ended servers, lost connections and watch words. Off by default.
  bool NotificationsOn() const;
  void SetNotificationsOn(bool on);
  // Each server's watch words, the latest set first; at most kMaxWatchedServers servers are read.
  std::vector<std::pair<NoticeKey, std::vector<std::string>>> WatchWords() const;
  void SetWatchWords(const WatchList& list);

  // The status query address ("HOST:PORT") the user set for a Quake server, by its OV server and its
  // title, or empty; at most kMaxStatusQueries are kept, the latest set first.
  static constexpr int kMaxStatusQueries = 100;
  std::string StatusQuery(const Endpoint& server, const std::string& title) const;
  void SetStatusQuery(const Endpoint& server, const std::string& title, const std::string& query);

 private:
  bool Switch(const char* key) const;
  void SetSwitch(const char* key, bool on);

  std::unique_ptr<QSettings> file_;
};

}  // namespace ov
