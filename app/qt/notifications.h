#pragma once
// View > Notifications and each console window's Watch Words: the desktop notices' rules joined to the
// client and shown through the desktop's notification service. Off by default, remembered between runs;
// while off the client hands it nothing.
#include <QObject>
#include <QPointer>
#include <QString>
#include <deque>
#include <utility>
#include <vector>

#include "app/desktop_notices.h"
#include "app/qt/dbus_notifier.h"

class QAction;

namespace ov {

class Client;
class ConsoleWindow;
class MainWindow;
class Settings;

class Notifications : public QObject {
 public:
  // Built once the client has started, destroyed before it: it lets go of the client's handlers.
  Notifications(MainWindow& main, Client& client, Settings& settings, Notifier* notifier = nullptr);
  ~Notifications() override;
  Notifications(const Notifications&) = delete;
  Notifications& operator=(const Notifications&) = delete;

  // The window's own Watch Words item, for its server.
  void AddWatchItem(ConsoleWindow& view);
  // A click on a notice, as the notification service reports it.
  void Clicked(int handle);
  DesktopNotices& Notices() { return notices_; }

 private:
  void SetEnabled(bool on);
  void EditWatchWords(const NoticeKey& key, const QString& name);

  MainWindow& main_;
  Settings& settings_;  // the switch and the watch words
  Client& client_;
  DBusNotifier bus_;
  DesktopNotices notices_;
  QPointer<QAction> item_;  // in the main window's View menu, while this lives
};

}  // namespace ov
