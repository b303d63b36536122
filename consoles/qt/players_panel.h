#pragma once
// The players and map of a Quake server, beside its console: the game server's own status query over
// UDP, sent every kRefreshMs while the panel shows. A hidden panel holds no socket and no timer.
#include <QHostAddress>
#include <QWidget>
#include <string>

#include "consoles/server_status.h"

class QLabel;
class QToolButton;
class QTreeWidget;
class QUdpSocket;

namespace ov {

class PlayersPanel : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kRefreshMs = 3000;  // a query unanswered by the next one is "no answer"
  static constexpr const char* kNoAnswer = "no answer";

  explicit PlayersPanel(QWidget* parent = nullptr);
  ~PlayersPanel() override;

  void SetTarget(const StatusTarget& target);  // queries it from now on
  const StatusTarget& Target() const { return target_; }
  void SetColourCodes(bool on);
  // The answer's summary ("3/16 players on oa_dm1"), "no answer", or empty before the first.
  QString Summary() const;
  QTreeWidget* List() const { return list_; }
  bool Querying() const { return socket_ != nullptr; }
  // Kick from a player's context menu, for the name the row held when the menu opened: asks, then emits
  // kickRequested.
  void AskKick(const std::string& name);
  // The query address field: asks for HOST or HOST:PORT.
  void AskTarget();

 signals:
  void summaryChanged(const QString& summary);        // empty once the panel hides
  void kickRequested(const std::string& line);        // confirmed: kick NAME
  void targetChosen(const ov::StatusTarget& target);  // the user set the query address

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  void Start();
  void Stop();
  void Query();
  void Resolved(const QHostAddress& address);
  void ReadAnswers();
  void Show(const ServerStatus& status);
  void ShowNoAnswer();
  void SetSummary(const QString& text);

  StatusTarget target_;
  QLabel* summary_;
  QToolButton* address_;
  QTreeWidget* list_;
  QUdpSocket* socket_ = nullptr;  // only while shown
  int timer_ = 0;
  int lookup_ = -1;  // the host name lookup under way
  QHostAddress resolved_;
  bool asked_ = false;  // a query went out that no answer has met yet
  bool colours_ = false;
};

}  // namespace ov
