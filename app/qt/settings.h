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

#include "core/endpoint.h"

namespace ov {

enum class SettingsFile { Missing, Readable, Unreadable };
constexpr qint64 kMaxSettingsBytes = 64 * 1024;  // far beyond what the client ever writes
// Looks at the file without waiting on it: a FIFO or a device is never read.
SettingsFile CheckSettingsFile(const QString& path);
QString UserSettingsPath();
// The user's settings, or none when the file is there but cannot be read.
std::unique_ptr<QSettings> UserSettings();

std::vector<Endpoint> ReadRecentServers(QSettings& settings);
void WriteRecentServers(QSettings& settings, const std::vector<Endpoint>& entries);

// The login names whose passwords the desktop's keyring keeps, by OV server ("address:port"). Never a
// password: those are in the keyring only.
std::map<std::string, std::string> ReadSavedLogins(QSettings& settings);
void WriteSavedLogins(QSettings& settings, const std::map<std::string, std::string>& logins);

// Whether colour codes are drawn as colours and hidden in logs, captions and tree nodes. Off by default.
bool ReadColourCodes();
void WriteColourCodes(bool on);
// Whether every console's text is also kept in files under the user's data folder. Off by default.
bool ReadKeepLogs();
void WriteKeepLogs(bool on);

// Whether Quake servers' console windows show their players and map. Off by default.
bool ReadPlayersPanel();
void WritePlayersPanel(bool on);
// The status query address the user set for a Quake server, by its OV server's address and its title
// ("HOST:PORT"), or empty; at most kMaxStatusQueries are kept, the latest set first.
constexpr int kMaxStatusQueries = 100;
QString ReadStatusQuery(const QString& ovServer, const QString& title);
void WriteStatusQuery(const QString& ovServer, const QString& title, const QString& query);

}  // namespace ov
