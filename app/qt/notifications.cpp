#include "app/qt/notifications.h"

#include <QAction>
#include <QInputDialog>
#include <QMenu>
#include <QMenuBar>

#include "app/client.h"
#include "app/qt/main_window.h"
#include "app/qt/settings.h"
#include "consoles/qt/console_window.h"
#include "core/qt/latin1_text.h"

namespace ov {

Notifications::Notifications(MainWindow& main, Client& client, Settings& settings, Notifier* notifier)
    : main_(main),
      settings_(settings),
      client_(client),
      notices_(client.Sessions(), client.Selection(), client.Consoles(), notifier ? *notifier : bus_,
               client.Loop()) {
  auto entries = settings_.WatchWords();
  // Set oldest first, so that the latest set stays first.
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) notices_.Watch().Set(it->first, it->second);
  bus_.SetClickHandler([this](int handle) { Clicked(handle); });

  QMenu* view = main.menuBar()->findChild<QMenu*>("mnuView");
  if (view == nullptr) view = main.menuBar()->addMenu("&View");  // a frame without one gets one
  view->addSeparator();
  item_ = new QAction("&Notifications", view);
  item_->setObjectName("mnuNotifications");
  item_->setStatusTip("Tell the desktop when a game server ends, a connection is lost or a watch word shows");
  item_->setCheckable(true);
  item_->setChecked(settings_.NotificationsOn());
  view->addAction(item_);
  connect(item_, &QAction::toggled, this, [this](bool on) {
    settings_.SetNotificationsOn(on);
    SetEnabled(on);
  });
  SetEnabled(item_->isChecked());
}

Notifications::~Notifications() {
  SetEnabled(false);
  delete item_;
}

void Notifications::SetEnabled(bool on) {
  notices_.SetEnabled(on);
  AttachNotices(client_, on ? &notices_ : nullptr);
}

void Notifications::Clicked(int handle) {
  // The program comes to the front with the console, as a desktop program does for its notices.
  if (main_.isMinimized()) main_.showNormal();
  main_.raise();
  main_.activateWindow();
  notices_.Clicked(handle);
}

void Notifications::AddWatchItem(ConsoleWindow& view) {
  auto* item = new QAction("&Watch Words...", &view);
  item->setObjectName("mnuWatchWords");
  item->setStatusTip(
      "Words that bring a notice when a line of this console holds one (View > Notifications)");
  view.systemMenu()->addAction(item);
  // A dead window's server is gone: it has no words to set.
  connect(view.systemMenu(), &QMenu::aboutToShow, item, [this, &view, item] {
    NoticeKey key;
    item->setEnabled(view.Window() != nullptr && notices_.KeyOf(*view.Window(), key));
  });
  connect(item, &QAction::triggered, this, [this, &view] {
    NoticeKey key;
    if (view.Window() == nullptr || !notices_.KeyOf(*view.Window(), key)) return;
    EditWatchWords(key, ToQt(key.game ? key.title : view.Window()->caption));
  });
}

void Notifications::EditWatchWords(const NoticeKey& key, const QString& name) {
  // Not modal to the program: the servers go on being served while the user types.
  auto* dialog = new QInputDialog(&main_);
  dialog->setObjectName("WatchWordsDlg");
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle("Watch Words");
  dialog->setLabelText(QString("A line of %1 that holds one of these words brings a notice\n"
                               "(separated by commas, in any letter case):")
                           .arg(name));
  const std::vector<std::string>* words = notices_.Watch().Find(key);
  dialog->setTextValue(words ? ToQt(JoinWatchWords(*words)) : QString());
  connect(dialog, &QInputDialog::textValueSelected, this, [this, key](const QString& text) {
    if (!IsLatin1(text)) {
      client_.Status().ShowStatus("Watch words: only Latin-1 characters can match a server's text", 5000, 1);
      return;
    }
    notices_.Watch().Set(key, ParseWatchWords(FromQt(text)));
    settings_.SetWatchWords(notices_.Watch());
  });
  dialog->open();
}

}  // namespace ov
