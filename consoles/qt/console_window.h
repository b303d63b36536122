#pragma once
// The console windows on screen: a child of the frame with the log log_ and the input line input_ on
// the page "Console". The log follows the client's ConsoleLog, redrawing at most every kRedrawMs (less
// often while many windows are being written) and only while it can be seen.
#include <QElapsedTimer>
#include <QMdiSubWindow>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <optional>
#include <unordered_map>

#include "consoles/consoles.h"

class QAction;
class QLineEdit;
class QMdiArea;
class QTabWidget;

namespace ov {

class LogTools;
class LogView;
class PlayersPanel;
class PlayersSplit;

// The lines sent from one input line, walked with Up and Down as in any console.
class InputHistory {
 public:
  static constexpr int kMaxLines = 500;
  void Add(const QString& line);
  // Up: the previous line (the line being typed is kept to come back to). False at the oldest.
  bool Up(const QString& current, QString& shown);
  bool Down(QString& shown);  // False when already back at the line being typed

 private:
  QStringList lines_;
  qsizetype pos_ = 0;  // lines_.size() = the line being typed
  QString draft_;
};

class ConsoleWindow;

// The redraws of all console windows, coalesced as a terminal emulator's are: a window redraws at most
// every kRedrawMs, and the more windows have redrawn within the last second, the longer each waits
// (kBusyMsPerWindow for each of them), so that many logs written at once cost a bounded number of
// redraws a second in all. A window that has not redrawn for that long shows its new text at the next
// turn. A turn redraws the windows that are due, in the order they asked, until kBudgetMs have gone;
// the rest wait for the next turn.
class RedrawPacer : public QObject {
 public:
  static constexpr int kRedrawMs = 30;
  static constexpr int kBusyMsPerWindow = 6;
  static constexpr int kBusySpanMs = 1000;
  static constexpr int kBudgetMs = 8;

  RedrawPacer();
  void Request(ConsoleWindow& view);  // once until its redraw
  void Forget(ConsoleWindow& view);   // the window goes

 private:
  int IntervalMs() const;  // the time a window waits between two redraws now
  void Turn();
  void Schedule();
  qint64 DueAt(ConsoleWindow* view) const;
  QTimer timer_;
  QElapsedTimer clock_;
  std::deque<ConsoleWindow*> waiting_;
  std::unordered_map<ConsoleWindow*, qint64> drawnAt_;  // the windows redrawn within kBusySpanMs
};

// A console window, with the OV server's and the Quake server's below.
class ConsoleWindow : public QMdiSubWindow, public ConsoleView {
  Q_OBJECT

 public:
  static constexpr int kRedrawMs = RedrawPacer::kRedrawMs;
  // The designed sizes count a frame of 8 pixels across and 27 down (borders and caption).
  static constexpr int kFrameWidth = 8;
  static constexpr int kFrameHeight = 27;
  static constexpr int kPlayersWidth = 230;  // the players panel, with its margin

  ConsoleWindow(RedrawPacer& pacer, Console& window, int designWidth, QWidget* parent = nullptr);
  ~ConsoleWindow() override;

  void CaptionChanged() override;
  void LogChanged() override;
  void BringToFront() override;
  void TakeFocus() override;
  void CloseLater() override;
  void Close() override;

  // The program ends: the window goes with the frame, without its close handling.
  void Detach();
  // Adds the window to the frame at its designed size and shows it, leaving the keyboard focus where
  // it was: a window a server opens must not catch the rest of a line being typed elsewhere.
  // place: where it opens, else where the frame puts it.
  void ShowInFrame(QMdiArea& area, std::optional<QPoint> place = std::nullopt);
  QSize DesignedSize() const;  // with its frame, and its players panel while shown
  // Brings log_ up to the log at once; the pacer's turns do it otherwise.
  void RedrawNow();
  // A turn of the pacer: redraws unless no part of the log can be seen, which then catches up when it
  // is next painted. False when it did not redraw.
  bool RedrawIfSeen();
  Console* Window() const { return window_; }
  // Colour codes on: drawn as colours in the log, hidden in the caption; off, both show the exact text.
  void SetColourCodes(bool on);
  LogTools* Tools() const { return tools_; }  // find bar, save, clear and the log's context menu

  // A dead OV server's window can connect again to where its connection went.
  bool CanReconnect() const;
  void RequestReconnect();                               // emits reconnectRequested when it can
  QAction* ReconnectItem() const { return reconnect_; }  // in the window's own menu
  // Text arrived since the window was last the active one; cleared when it becomes active.
  bool HasUnseenText() const;

  // A Quake server's players and map, beside the log while shown; none in an OV server's window.
  PlayersPanel* Players() const { return players_; }
  void SetPlayersShown(bool shown);
  // The line goes as if typed into the input line and sent with Enter; what was being typed stays.
  void EnterLine(const QString& line);

  LogView* Log() const { return log_; }
  QLineEdit* Input() const { return input_; }

 signals:
  // Enter in the input line: the whole line, whatever it holds; a dead window sends nothing.
  void lineEntered(ov::Console* window, const std::string& line);
  void closing(ov::Console* window);  // the user closed it: the model goes after this
  void notLatin1();                   // a line was refused: it holds a character beyond Latin-1
  void reconnectRequested(const ov::Endpoint& where);
  void playersToggled(bool shown);  // the window's own Players and Map item
  void wanted();                    // asked for before it was in a frame: it should show now

 protected:
  void AddPlayersPanel();  // a Quake server's window has one
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QTabWidget* pages_;
  QWidget* consolePage_;
  bool CanDraw() const;
  int SplitWidth() const;     // the page's and the players panel's, from the window's width
  void SetUpServerExtras();   // the address tooltip, Reconnect, the unseen-text mark
  uint64_t LogCount() const;  // grows with every text the log takes
  bool InputKey(int key);
  QString ShownCaption() const;

  LogView* log_;      // the console's text
  QLineEdit* input_;  // the line typed to the server
  LogTools* tools_;
  bool colourCodes_ = false;
  RedrawPacer& pacer_;
  Console* window_;
  QWidget* clientArea_;
  int designWidth_;
  InputHistory history_;
  QAction* reconnect_ = nullptr;
  PlayersPanel* players_ = nullptr;
  PlayersSplit* split_ = nullptr;  // the page and the panel, in a Quake server's window
  int grownBy_ = 0;                // what the window widened by when the panel showed
  QAction* playersItem_ = nullptr;
  uint64_t seenUpTo_ = 0;  // LogCount when the window last became active or inactive
  bool dirty_ = false;
  bool requested_ = false;        // waiting for a turn of the pacer
  bool waitingForSight_ = false;  // covered by other windows at its turn: redrawn when next painted
};

class OVConsoleWindow : public ConsoleWindow {
  Q_OBJECT
 public:
  OVConsoleWindow(RedrawPacer& pacer, Console& window, QWidget* parent = nullptr);
};

class QuakeConsoleWindow : public ConsoleWindow {
  Q_OBJECT
 public:
  QuakeConsoleWindow(RedrawPacer& pacer, Console& window, QWidget* parent = nullptr);
};

}  // namespace ov
