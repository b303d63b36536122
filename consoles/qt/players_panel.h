#pragma once
// The players and map of a Quake server, beside its console: it shows what the server's StatusQuery
// (consoles/status_query.h) heard, and starts that query while it shows. A hidden panel costs nothing:
// the query then holds no socket and no timer.
#include <QTime>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "consoles/server_status.h"
#include "consoles/status_query.h"

class QLabel;
class QToolButton;
class QTreeWidget;

namespace ov {

class PlayersPlot;

class PlayersPanel : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kRefreshMs = StatusQuery::kRefreshMs;
  static constexpr const char* kNoAnswer = "no answer";

  explicit PlayersPanel(QWidget* parent = nullptr);
  ~PlayersPanel() override;

  // The query the panel shows and starts while shown; none, and the panel shows nothing.
  void Attach(std::unique_ptr<StatusQuery> query);
  void Detach();
  void End();  // the server is gone: its query stops for good

  void SetTarget(const StatusTarget& target);  // queries it from now on
  const StatusTarget& Target() const;
  void SetColourCodes(bool on);
  // The answer's summary ("3/16 players on oa_dm1"), "no answer", or empty before the first.
  QString Summary() const;
  QTreeWidget* List() const { return list_; }
  bool Querying() const { return query_ && query_->Started(); }
  const StatusQuery* Query() const { return query_.get(); }
  // Kick for a listed player, by the name shown: asks, then emits kickRequested. Nothing for a name not
  // listed, nor for one that cannot be kicked by name (the context menu says why).
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

 private:
  void Refresh();  // from the query's state
  void ShowPlayers(const ServerStatus& status);
  void SetSummary(const QString& text);
  void OpenMenu(const QPoint& at);
  void Confirm(const PlayerStatus& player, const std::string& line);  // asks, then emits kickRequested

  std::unique_ptr<StatusQuery> query_;
  StatusTarget target_;                // while no query is attached
  std::vector<PlayerStatus> players_;  // as listed, row by row
  QLabel* summary_;
  QToolButton* address_;
  QTreeWidget* list_;
  PlayersPlot* plot_;
  bool colours_ = false;
};

// The player counts of the last 24 hours, a column per few minutes, under the list; its tool tip gives
// the peak and the average. Painted only when seen.
class PlayersPlot : public QWidget {
 public:
  explicit PlayersPlot(QWidget* parent);
  void SetQuery(const StatusQuery* query) { query_ = query; }
  QString Figures() const;  // "Last 24 hours: peak 5, average 2.3 players"
  // The time axis's label, at the plot's left: "since 14:05" (the clock's time of the first count heard,
  // now being the clock's time now) while the counts cover less than a day, so that a nearly empty
  // plot reads as one just started; "last 24 hours" after that; empty before the first count.
  QString TimeLabel(const QTime& now) const;
  void Changed();  // a count was heard

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  const StatusQuery* query_ = nullptr;
};

}  // namespace ov
