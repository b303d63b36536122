#pragma once
// The desktop's notification service (org.freedesktop.Notifications) on the session bus. Nothing is
// asked of D-Bus until the first notice, and never when no session bus is named: a bus is never started
// for a notice. Without a service that answers, a notice is dropped.
#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <utility>

#include "app/desktop_notices.h"

namespace ov {

class DBusNotifier : public QObject, public Notifier {
  Q_OBJECT

 public:
  explicit DBusNotifier(QObject* parent = nullptr);
  ~DBusNotifier() override;

  void Show(int handle, const Notice& notice) override;
  // A click on a notice (its default action) goes here, with the handle it was shown with.
  void SetClickHandler(std::function<void(int handle)> onClick) { onClick_ = std::move(onClick); }

  // The session bus's address, or empty when none is named. An address that would start a bus
  // ("autolaunch:") counts as none.
  static QString SessionBusAddress();

 private slots:
  void OnActionInvoked(uint id, const QString& action);
  void OnClosed(uint id, uint reason);

 private:
  bool Connect();  // once; false when there is no session bus to talk to
  void Send(int handle, const Notice& notice, uint replaces);
  void Answered(int handle, bool shown, uint id);
  void Shown(int handle, uint id);

  std::function<void(int)> onClick_;
  QString busName_;
  bool tried_ = false;
  bool connected_ = false;
  enum class Markup { Unknown, Yes, No } markup_ = Markup::Unknown;  // whether the body is read as markup
  std::deque<std::pair<int, uint>> ids_;  // our handle, the service's id: the latest kMaxClickable
  // Notices sent whose id the service has not given yet (each call ends within kCallTimeoutMs), and
  // the latest update of each, held until that id is known so that it replaces the notice in place.
  std::set<int> unanswered_;
  std::map<int, std::pair<int, Notice>> held_;  // by the handle it updates: its own handle and notice
};

}  // namespace ov
