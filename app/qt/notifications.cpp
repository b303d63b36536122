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

namespace {
constexpr const char* kSwitch = "view/notifications";
constexpr const char* kWatchWords = "WatchWords";
}  // namespace

bool ReadNotifications() {
  const std::unique_ptr<QSettings> settings = UserSettings();
  if (!settings) return false;
  const QString value = settings->value(kSwitch).toString().trimmed().toLower();
  return value == "true" || value == "1";
}

void WriteNotifications(bool on) {
  if (const std::unique_ptr<QSettings> settings = UserSettings()) settings->setValue(kSwitch, on);
}

std::deque<std::pair<ServerKey, std::vector<std::string>>> ReadWatchWords() {
  std::deque<std::pair<ServerKey, std::vector<std::string>>> entries;
  const std::unique_ptr<QSettings> settings = UserSettings();
  if (!settings) return entries;
  const int size = settings->beginReadArray(kWatchWords);
  for (int i = 0; i < size && entries.size() < kMaxWatchedServers; ++i) {
    settings->setArrayIndex(i);
    const QString server = settings->value("server").toString();
    const QString title = settings->value("title").toString();
    const QString words = settings->value("words").toString();
    if (server.isEmpty() || !IsLatin1(server) || !IsLatin1(title) || !IsLatin1(words)) continue;
    ServerKey key{FromQt(server), FromQt(title), settings->value("console").toString() == "game"};
    std::vector<std::string> parsed = ParseWatchWords(FromQt(words));
    if (!parsed.empty()) entries.emplace_back(std::move(key), std::move(parsed));
  }
  settings->endArray();
  return entries;
}

void WriteWatchWords(const WatchList& list) {
  const std::unique_ptr<QSettings> settings = UserSettings();
  if (!settings) return;
  settings->remove(kWatchWords);
  settings->beginWriteArray(kWatchWords, int(list.Entries().size()));
  int i = 0;
  for (const auto& [key, words] : list.Entries()) {
    settings->setArrayIndex(i++);
    settings->setValue("server", ToQt(key.ovServer));
    settings->setValue("title", ToQt(key.title));
    settings->setValue("console", key.game ? "game" : "ov");
    settings->setValue("words", ToQt(JoinWatchWords(words)));
  }
  settings->endArray();
}

Notifications::Notifications(MainWindow& main, Client& client, Notifier* notifier)
    : main_(main),
      client_(client),
      notices_(client.Tables(), client.Selection(), client.Consoles(), notifier ? *notifier : bus_, client.Loop()) {
  auto entries = ReadWatchWords();
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
  item_->setChecked(ReadNotifications());
  view->addAction(item_);
  connect(item_, &QAction::toggled, this, [this](bool on) {
    WriteNotifications(on);
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
    ServerKey key;
    item->setEnabled(view.Window() != nullptr && notices_.KeyOf(*view.Window(), key));
  });
  connect(item, &QAction::triggered, this, [this, &view] {
    ServerKey key;
    if (view.Window() == nullptr || !notices_.KeyOf(*view.Window(), key)) return;
    EditWatchWords(key, ToQt(key.game ? key.title : view.Window()->caption));
  });
}

void Notifications::EditWatchWords(const ServerKey& key, const QString& name) {
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
    WriteWatchWords(notices_.Watch());
  });
  dialog->open();
}

}  // namespace ov
