#include "app/qt/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <cerrno>

#include "core/qt/latin1_text.h"

namespace ov {

namespace {
constexpr const char* kRecentServers = "RecentServers";
constexpr const char* kColourCodes = "view/colourCodes";
constexpr const char* kPlayersPanel = "view/playersPanel";
constexpr const char* kNotifications = "view/notifications";
constexpr const char* kWatchWords = "WatchWords";
constexpr const char* kStatusQueries = "StatusQueries";
constexpr const char* kKeepLogs = "view/keepLogs";
constexpr const char* kSavedLogins = "SavedLogins";
constexpr int kMaxSavedLogins = 50;
}  // namespace

SettingsFile CheckSettingsFile(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd == -1) return errno == ENOENT ? SettingsFile::Missing : SettingsFile::Unreadable;
  struct stat st {};
  QByteArray bytes;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxSettingsBytes;
  if (ok) {
    // Read to the end, whatever the size said: the file may have grown since.
    char buffer[4096];
    ssize_t got = 0;
    while (ok && (got = ::read(fd, buffer, sizeof buffer)) > 0) {
      bytes.append(buffer, got);
      ok = bytes.size() <= kMaxSettingsBytes;
    }
    ok = ok && got == 0;
  }
  ::close(fd);
  if (!ok) return SettingsFile::Unreadable;
  // Text as the client writes it: UTF-8 without control characters other than line ends and tabs.
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 && byte != '\n' && byte != '\r' && byte != '\t') return SettingsFile::Unreadable;
  }
  QStringDecoder utf8(QStringDecoder::Utf8);
  const QString text = utf8(bytes);
  if (utf8.hasError()) return SettingsFile::Unreadable;
  // And in the settings' shape: every line blank, a comment, a [section] or a key=value. QSettings
  // would read most anything as keys, and write back what it made of it.
  for (const QStringView line : QStringView(text).split(u'\n')) {
    const QStringView l = line.trimmed();
    const bool shaped = l.isEmpty() || l.startsWith(u';') || l.startsWith(u'#') ||
                        (l.startsWith(u'[') && l.endsWith(u']')) || l.contains(u'=');
    if (!shaped) return SettingsFile::Unreadable;
  }
  return SettingsFile::Readable;
}

QString UserSettingsPath() {
  // Where QSettings keeps the organisation's and application's user settings in its native format.
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         "/Orvane/orvane-client.conf";
}

std::unique_ptr<QSettings> UserSettings() {
  if (CheckSettingsFile(UserSettingsPath()) == SettingsFile::Unreadable) return nullptr;
  // Named here rather than by the application's names: the application name is the window title.
  auto settings =
      std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Orvane", "orvane-client");
  // Only the user's own file: the organisation's and the system's files are not read either.
  settings->setFallbacksEnabled(false);
  // A file QSettings could not parse would be written back as what it made of it.
  if (settings->status() != QSettings::NoError) return nullptr;
  return settings;
}

Settings::Settings(std::unique_ptr<QSettings> file) : file_(std::move(file)) {}

Settings::~Settings() = default;

std::string Settings::ServerKey(const Endpoint& server) {
  return Endpoint{server.address, server.port}.Text();
}

std::vector<Endpoint> Settings::RecentServers() const {
  std::vector<Endpoint> entries;
  if (!file_) return entries;
  const int size = file_->beginReadArray(kRecentServers);
  for (int i = 0; i < size && i < 100; ++i) {
    file_->setArrayIndex(i);
    bool portOk = false;
    bool countOk = false;
    Endpoint e;
    e.address = FromQt(file_->value("address").toString());
    e.port = file_->value("port").toString().toInt(&portOk);
    e.count = file_->value("count").toString().toInt(&countOk);
    // A value that is not a number is a file someone broke: that entry is passed over.
    if (portOk && countOk) entries.push_back(e);
  }
  file_->endArray();
  return entries;
}

void Settings::SetRecentServers(const std::vector<Endpoint>& entries) {
  if (!file_) return;
  file_->remove(kRecentServers);
  file_->beginWriteArray(kRecentServers, static_cast<int>(entries.size()));
  for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
    file_->setArrayIndex(i);
    file_->setValue("address", ToQt(entries[i].address));
    file_->setValue("port", entries[i].port);
    file_->setValue("count", entries[i].count);
  }
  file_->endArray();
  file_->sync();
}

std::map<std::string, std::string> Settings::SavedLogins() const {
  std::map<std::string, std::string> logins;
  if (!file_) return logins;
  const int size = file_->beginReadArray(kSavedLogins);
  for (int i = 0; i < size && i < kMaxSavedLogins; ++i) {
    file_->setArrayIndex(i);
    const QString server = file_->value("server").toString();
    const QString login = file_->value("login").toString();
    if (!server.isEmpty() && IsLatin1(server) && IsLatin1(login)) logins[FromQt(server)] = FromQt(login);
  }
  file_->endArray();
  return logins;
}

void Settings::SetSavedLogins(const std::map<std::string, std::string>& logins) {
  if (!file_) return;
  file_->remove(kSavedLogins);
  file_->beginWriteArray(kSavedLogins, static_cast<int>(logins.size()));
  int i = 0;
  for (const auto& [server, login] : logins) {
    file_->setArrayIndex(i++);
    file_->setValue("server", ToQt(server));
    file_->setValue("login", ToQt(login));
  }
  file_->endArray();
  file_->sync();
}

bool Settings::Switch(const char* key) const {
  if (!file_) return false;
  // Only a value written as on counts: anything else a hand or a damaged file left is the default.
  const QString value = file_->value(key).toString().trimmed().toLower();
  return value == "true" || value == "1";
}

void Settings::SetSwitch(const char* key, bool on) {
  if (!file_) return;
  file_->setValue(key, on);
  file_->sync();
}

bool Settings::ColourCodes() const { return Switch(kColourCodes); }

void Settings::SetColourCodes(bool on) { SetSwitch(kColourCodes, on); }

bool Settings::KeepLogs() const { return Switch(kKeepLogs); }

void Settings::SetKeepLogs(bool on) { SetSwitch(kKeepLogs, on); }

bool Settings::PlayersPanel() const { return Switch(kPlayersPanel); }

void Settings::SetPlayersPanel(bool on) { SetSwitch(kPlayersPanel, on); }

bool Settings::NotificationsOn() const { return Switch(kNotifications); }

void Settings::SetNotificationsOn(bool on) { SetSwitch(kNotifications, on); }

std::vector<std::pair<NoticeKey, std::vector<std::string>>> Settings::WatchWords() const {
  std::vector<std::pair<NoticeKey, std::vector<std::string>>> entries;
  if (!file_) return entries;
  const int size = file_->beginReadArray(kWatchWords);
  for (int i = 0; i < size && entries.size() < kMaxWatchedServers; ++i) {
    file_->setArrayIndex(i);
    const QString server = file_->value("server").toString();
    const QString title = file_->value("title").toString();
    const QString words = file_->value("words").toString();
    if (server.isEmpty() || !IsLatin1(server) || !IsLatin1(title) || !IsLatin1(words)) continue;
    NoticeKey key{FromQt(server), FromQt(title), file_->value("console").toString() == "game"};
    std::vector<std::string> parsed = ParseWatchWords(FromQt(words));
    if (!parsed.empty()) entries.emplace_back(std::move(key), std::move(parsed));
  }
  file_->endArray();
  return entries;
}

void Settings::SetWatchWords(const WatchList& list) {
  if (!file_) return;
  file_->remove(kWatchWords);
  file_->beginWriteArray(kWatchWords, int(list.Entries().size()));
  int i = 0;
  for (const auto& [key, words] : list.Entries()) {
    file_->setArrayIndex(i++);
    file_->setValue("server", ToQt(key.ovServer));
    file_->setValue("title", ToQt(key.title));
    file_->setValue("console", key.game ? "game" : "ov");
    file_->setValue("words", ToQt(JoinWatchWords(words)));
  }
  file_->endArray();
  file_->sync();
}

namespace {
struct StatusQueryEntry {
  QString server, title, query;
};

std::vector<StatusQueryEntry> ReadStatusQueries(QSettings& settings) {
  std::vector<StatusQueryEntry> entries;
  const int size = settings.beginReadArray(kStatusQueries);
  for (int i = 0; i < size && i < Settings::kMaxStatusQueries; ++i) {
    settings.setArrayIndex(i);
    entries.push_back({settings.value("server").toString(), settings.value("title").toString(),
                       settings.value("query").toString()});
  }
  settings.endArray();
  return entries;
}
}  // namespace

std::string Settings::StatusQuery(const Endpoint& server, const std::string& title) const {
  if (!file_) return {};
  const QString key = ToQt(ServerKey(server));
  const QString name = ToQt(title);
  for (const StatusQueryEntry& e : ReadStatusQueries(*file_))
    if (e.server == key && e.title == name && IsLatin1(e.query)) return FromQt(e.query);
  return {};
}

void Settings::SetStatusQuery(const Endpoint& server, const std::string& title, const std::string& query) {
  if (!file_) return;
  std::vector<StatusQueryEntry> entries{{ToQt(ServerKey(server)), ToQt(title), ToQt(query)}};
  for (StatusQueryEntry& e : ReadStatusQueries(*file_)) {
    if ((e.server != entries[0].server || e.title != entries[0].title) &&
        entries.size() < size_t(kMaxStatusQueries))
      entries.push_back(std::move(e));
  }
  file_->remove(kStatusQueries);
  file_->beginWriteArray(kStatusQueries, int(entries.size()));
  for (int i = 0; i < int(entries.size()); ++i) {
    file_->setArrayIndex(i);
    file_->setValue("server", entries[i].server);
    file_->setValue("title", entries[i].title);
    file_->setValue("query", entries[i].query);
  }
  file_->endArray();
  file_->sync();
}

}  // namespace ov
