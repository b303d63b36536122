#include "ui/qt/view_settings.h"

#include <QSettings>
#include <QString>

namespace ov {

namespace {

constexpr char kColourCodesKey[] = "view/colourCodes";

// The user's settings file, in the configuration folder (~/.config/Orvane/orvane-client.conf).
QSettings UserFile() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Orvane", "orvane-client");
}

}  // namespace

bool ReadColourCodes() {
  const QSettings settings = UserFile();
  if (settings.status() != QSettings::NoError) return false;
  // Only a value written as on counts: anything else a hand or a damaged file left is the default.
  const QString value = settings.value(kColourCodesKey).toString().trimmed().toLower();
  return value == "true" || value == "1";
}

void WriteColourCodes(bool on) {
  QSettings settings = UserFile();
  settings.setValue(kColourCodesKey, on);
}

}  // namespace ov
