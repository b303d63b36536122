#include "ui/qt/settings.h"

#include "ui/qt/latin1_text.h"

namespace ov {

namespace {
constexpr const char* kRecentServers = "RecentServers";
constexpr const char* kColourCodes = "view/colourCodes";
}  // namespace

std::unique_ptr<QSettings> UserSettings() {
  // Named here rather than by the application's names: the application name is the window title.
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Orvane",
                                     "orvane-client");
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

bool ReadColourCodes() {
  const std::unique_ptr<QSettings> settings = UserSettings();
  if (settings->status() != QSettings::NoError) return false;
  // Only a value written as on counts: anything else a hand or a damaged file left is the default.
  const QString value = settings->value(kColourCodes).toString().trimmed().toLower();
  return value == "true" || value == "1";
}

void WriteColourCodes(bool on) { UserSettings()->setValue(kColourCodes, on); }

}  // namespace ov
