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

std::vector<Endpoint> ReadRecentServers(QSettings& settings) {
  std::vector<Endpoint> entries;
  const int size = settings.beginReadArray(kRecentServers);
  for (int i = 0; i < size && i < 100; ++i) {
    settings.setArrayIndex(i);
    bool portOk = false;
    bool countOk = false;
    Endpoint e;
    e.address = FromQt(settings.value("address").toString());
    e.port = settings.value("port").toString().toInt(&portOk);
    e.count = settings.value("count").toString().toInt(&countOk);
    // A value that is not a number is a file someone broke: that entry is passed over.
    if (portOk && countOk) entries.push_back(e);
  }
  settings.endArray();
  return entries;
}

void WriteRecentServers(QSettings& settings, const std::vector<Endpoint>& entries) {
  settings.remove(kRecentServers);
  settings.beginWriteArray(kRecentServers, static_cast<int>(entries.size()));
  for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
    settings.setArrayIndex(i);
    settings.setValue("address", ToQt(entries[i].address));
    settings.setValue("port", entries[i].port);
    settings.setValue("count", entries[i].count);
  }
  settings.endArray();
  settings.sync();
}

std::map<std::string, std::string> ReadSavedLogins(QSettings& settings) {
  std::map<std::string, std::string> logins;
  const int size = settings.beginReadArray(kSavedLogins);
  for (int i = 0; i < size && i < kMaxSavedLogins; ++i) {
    settings.setArrayIndex(i);
    const QString server = settings.value("server").toString();
    const QString login = settings.value("login").toString();
    if (!server.isEmpty() && IsLatin1(server) && IsLatin1(login)) logins[FromQt(server)] = FromQt(login);
  }
  settings.endArray();
  return logins;
}

void WriteSavedLogins(QSettings& settings, const std::map<std::string, std::string>& logins) {
  settings.remove(kSavedLogins);
  settings.beginWriteArray(kSavedLogins, static_cast<int>(logins.size()));
  int i = 0;
  for (const auto& [server, login] : logins) {
    settings.setArrayIndex(i++);
    settings.setValue("server", ToQt(server));
    settings.setValue("login", ToQt(login));
  }
  settings.endArray();
  settings.sync();
}

namespace {

bool ReadSwitch(const char* key) {
  const std::unique_ptr<QSettings> settings = UserSettings();
  if (!settings) return false;
  // Only a value written as on counts: anything else a hand or a damaged file left is the default.
  const QString value = settings->value(key).toString().trimmed().toLower();
  return value == "true" || value == "1";
}

void WriteSwitch(const char* key, bool on) {
  if (const std::unique_ptr<QSettings> settings = UserSettings()) settings->setValue(key, on);
}

}  // namespace

bool ReadColourCodes() { return ReadSwitch(kColourCodes); }

void WriteColourCodes(bool on) { WriteSwitch(kColourCodes, on); }

bool ReadKeepLogs() { return ReadSwitch(kKeepLogs); }

void WriteKeepLogs(bool on) { WriteSwitch(kKeepLogs, on); }

bool ReadPlayersPanel() { return ReadSwitch(kPlayersPanel); }

void WritePlayersPanel(bool on) { WriteSwitch(kPlayersPanel, on); }

namespace {
struct StatusQuery {
  QString server, title, query;
};

std::vector<StatusQuery> ReadStatusQueries(QSettings& settings) {
  std::vector<StatusQuery> entries;
  const int size = settings.beginReadArray(kStatusQueries);
  for (int i = 0; i < size && i < kMaxStatusQueries; ++i) {
    settings.setArrayIndex(i);
    entries.push_back({settings.value("server").toString(), settings.value("title").toString(),
                       settings.value("query").toString()});
  }
  settings.endArray();
  return entries;
}
}  // namespace

QString ReadStatusQuery(const QString& ovServer, const QString& title) {
  const std::unique_ptr<QSettings> settings = UserSettings();
  if (!settings) return QString();
  for (const StatusQuery& e : ReadStatusQueries(*settings))
    if (e.server == ovServer && e.title == title) return e.query;
  return QString();
}

void WriteStatusQuery(const QString& ovServer, const QString& title, const QString& query) {
  const std::unique_ptr<QSettings> settings = UserSettings();
  if (!settings) return;
  std::vector<StatusQuery> entries{{ovServer, title, query}};
  for (StatusQuery& e : ReadStatusQueries(*settings)) {
    if ((e.server != ovServer || e.title != title) && entries.size() < size_t(kMaxStatusQueries))
      entries.push_back(std::move(e));
  }
  settings->remove(kStatusQueries);
  settings->beginWriteArray(kStatusQueries, int(entries.size()));
  for (int i = 0; i < int(entries.size()); ++i) {
    settings->setArrayIndex(i);
    settings->setValue("server", entries[i].server);
    settings->setValue("title", entries[i].title);
    settings->setValue("query", entries[i].query);
  }
  settings->endArray();
}
}  // namespace ov
