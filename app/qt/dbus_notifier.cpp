#include "app/qt/dbus_notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>

#include "core/qt/latin1_text.h"

namespace ov {

namespace {
const QString kService = "org.freedesktop.Notifications";
const QString kPath = "/org/freedesktop/Notifications";
const QString kInterface = "org.freedesktop.Notifications";
constexpr int kCallTimeoutMs = 5000;  // a service that hangs drops the notice, it never holds the program
}  // namespace

DBusNotifier::DBusNotifier(QObject* parent)
    : QObject(parent), busName_(QString("orvane-notices-%1").arg(quintptr(this), 0, 16)) {}

DBusNotifier::~DBusNotifier() {
  if (tried_) QDBusConnection::disconnectFromBus(busName_);
}

QString DBusNotifier::SessionBusAddress() {
  const QString named = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
  if (!named.isEmpty()) return named.contains("autolaunch:") ? QString() : named;
  // The socket a systemd user session keeps in the runtime folder, where libdbus looks too.
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo(runtime + "/bus").exists()) return "unix:path=" + runtime + "/bus";
  return {};
}

bool DBusNotifier::Connect() {
  if (tried_) return connected_;
  tried_ = true;
  const QString address = SessionBusAddress();
  if (address.isEmpty()) return false;
  // A connection of our own to the named address: the shared session connection would start a bus.
  QDBusConnection bus = QDBusConnection::connectToBus(address, busName_);
  connected_ = bus.isConnected();
  if (!connected_) return false;
  bus.connect(kService, kPath, kInterface, "ActionInvoked", this, SLOT(OnActionInvoked(uint, QString)));
  bus.connect(kService, kPath, kInterface, "NotificationClosed", this, SLOT(OnClosed(uint, uint)));
  auto* asked = new QDBusPendingCallWatcher(
      bus.asyncCall(QDBusMessage::createMethodCall(kService, kPath, kInterface, "GetCapabilities"),
                    kCallTimeoutMs),
      this);
  connect(asked, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
    const QDBusPendingReply<QStringList> reply = *call;
    if (!reply.isError()) markup_ = reply.value().contains("body-markup") ? Markup::Yes : Markup::No;
    call->deleteLater();
  });
  return true;
}

void DBusNotifier::Show(int handle, const Notice& notice) {
  if (!Connect()) return;
  if (unanswered_.contains(notice.replaces)) {
    // The notice it updates is on its way: an update sent now would come as a second notice.
    held_.insert_or_assign(notice.replaces, std::pair{handle, notice});
    return;
  }
  uint replaces = 0;
  for (const auto& [h, id] : ids_)
    if (h == notice.replaces) replaces = id;
  Send(handle, notice, replaces);
}

void DBusNotifier::Send(int handle, const Notice& notice, uint replaces) {
  // A server's text is never read as markup: escaped unless the service is known to show it as it is.
  const QString body = markup_ == Markup::No ? ToQt(notice.body) : ToQt(notice.body).toHtmlEscaped();
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  call << QString("Orvane Client") << replaces << QString("orvane-client") << ToQt(notice.summary) << body
       << QStringList{"default", "Open console"} << QVariantMap{{"desktop-entry", QString("orvane-client")}}
       << int(-1);
  unanswered_.insert(handle);
  auto* pending =
      new QDBusPendingCallWatcher(QDBusConnection(busName_).asyncCall(call, kCallTimeoutMs), this);
  connect(pending, &QDBusPendingCallWatcher::finished, this, [this, handle](QDBusPendingCallWatcher* w) {
    const QDBusPendingReply<uint> reply = *w;
    Answered(handle, !reply.isError(), reply.isError() ? 0 : reply.value());
    w->deleteLater();
  });
}

void DBusNotifier::Answered(int handle, bool shown, uint id) {
  unanswered_.erase(handle);
  if (shown) Shown(handle, id);
  const auto held = held_.find(handle);
  if (held == held_.end()) return;
  const auto [own, notice] = held->second;
  held_.erase(held);
  Send(own, notice, shown ? id : 0);  // a notice that was never shown leaves its update a new one
}

void DBusNotifier::Shown(int handle, uint id) {
  std::erase_if(ids_, [&](const auto& e) { return e.first == handle || e.second == id; });
  if (ids_.size() >= DesktopNotices::kMaxClickable) ids_.pop_front();
  ids_.emplace_back(handle, id);
}

void DBusNotifier::OnActionInvoked(uint id, const QString& action) {
  if (action != "default") return;
  for (const auto& [handle, shown] : ids_) {
    if (shown != id) continue;
    if (onClick_) onClick_(handle);
    return;
  }
}

void DBusNotifier::OnClosed(uint id, uint) {
  std::erase_if(ids_, [&](const auto& e) { return e.second == id; });
}

}  // namespace ov
