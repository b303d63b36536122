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

// The switch and the watch words in the user's settings; words of at most kMaxWatchedServers servers.
bool ReadNotifications();
void WriteNotifications(bool on);
std::deque<std::pair<ServerKey, std::vector<std::string>>> ReadWatchWords();
void WriteWatchWords(const WatchList& list);

class Notifications : public QObject {
 public:
  // Built once the client has started, destroyed before it: it lets go of the client's handlers.
  Notifications(MainWindow& main, Client& client, Notifier* notifier = nullptr);
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
  void EditWatchWords(const ServerKey& key, const QString& name);

  MainWindow& main_;
  Client& client_;
  DBusNotifier bus_;
  DesktopNotices notices_;
  QPointer<QAction> item_;  // in the main window's View menu, while this lives
};

}  // namespace ov
