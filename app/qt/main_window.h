#pragma once
// The main window: the multiple-document frame with the menu, the tool bar, the debug pane and the status
// bar. It runs the client's start-up and shut-down and the menu commands.
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "consoles/qt/show_pacer.h"
#include "core/desktop.h"

class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QPlainTextEdit;
class QPushButton;

namespace ov {

class ConsoleWindow;
class DebugLog;
class Settings;
class ConnectDialog;
class StartServerDialog;
class ServersWindow;

// The status bar's line for a text: at most kMaxStatusChars of it, control characters as blanks.
constexpr size_t kMaxStatusChars = 1024;
QString StatusBarLine(std::string_view text);

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // settings: where the View menu's switches are remembered.
  explicit MainWindow(Settings& settings, QWidget* parent = nullptr);
  ~MainWindow() override;

  // After a successful start: the debug pane shows from here on what the debug log appends (the root hands on
  // its growth to DebugLogGrew), or stays hidden.
  void ShowDebugPane(const DebugLog& log, bool shown);
  void DebugLogGrew();                         // the debug log appended a line
  void AppendDebugLines(const DebugLog& log);  // brings the debug pane up to the log
  // The windows created after the main window, which its commands show.
  void SetWindows(ConnectDialog* connectDialog, ServersWindow* servers, StartServerDialog* start);

  QMdiArea* MdiArea() const { return mdi_; }
  void SetStatusText(std::string_view text);  // one line, elided to the bar's width
  // The one place the logic's commands are enabled and disabled: each is one action, shared by its menu
  // item and its tool-bar button.
  void SetCommandEnabled(Command command, bool enabled);
  // A new child of the frame: shown at once, or for a console window at its turn (ShowPacer).
  void AddConsoleWindow(QMdiSubWindow* window);
  // The console windows in the frame and those waiting for their turn to show.
  std::vector<ConsoleWindow*> ConsoleWindows() const;
  bool ShuttingDown() const { return shuttingDown_; }
  // Asks for the debug pane to be brought up to the log now (a timer does it otherwise).
  void FlushDebugPane();
  // View > Colour Codes: on, colour codes are drawn as colours in the logs and hidden in captions and tree
  // nodes. Remembered between runs.
  bool ColourCodes() const;
  // View > Players and Map: Quake servers' console windows show their players and map. Remembered.
  bool PlayersShown() const;
  void SetPlayersShown(bool shown);
  // View > Keep Logs: every console's text is also written to disk. Remembered.
  bool KeepLogs() const;

 signals:
  // The user's requests and the frame's moments, which the root connects to the client.
  void connectRequested(const std::string& address, int port, int count);
  void openWindowRequested();  // for the selected server
  void disconnectRequested();  // the selected OV server
  void killRequested();
  void cleanupRequested();  // close the dead console windows
  void hintShown(const std::string& hint);
  void firstShown();
  void closing();           // the frame closes: the program shuts down
  void debugLinesWanted();  // AppendDebugLines, please
  void colourCodesChanged(bool on);
  void playersShownChanged(bool on);
  void keepLogsChanged(bool on);
  void openLogFolderRequested();
  void sendToServersRequested();  // Server > Send to Servers

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  Settings& settings_;
  // Commands, shared by the menu items and their tool-bar buttons.
  void Connect();
  void StartServer();
  void ShowServers();
  void OpenWindow();
  void Disconnect();
  void Kill();
  void Cascade();
  void Tile();
  void Arrange(bool cascade);
  int WindowStep() const;             // the offset between two windows of a cascade
  void Open(ConsoleWindow* console);  // a step from the last one opened
  void ArrangeIcons();
  void MinimizeAll();
  void CleanUp();
  void ShowAbout();
  void Exit();
  void EnableArrangeItems();
  void Reconnect();        // the active console window connects again
  void EnableReconnect();  // enabled while the active window is a dead OV server's

  QMenu* systemMenu_;
  QAction* connectItem_;
  QAction* startItem_;
  QAction* showServersItem_;
  QAction* exitItem_;
  QMenu* serverMenu_;
  QAction* openWindowItem_;
  QAction* disconnectItem_;
  QAction* killItem_;
  QAction* evilKillItem_;
  QAction* reconnectItem_;
  QMenu* windowMenu_;
  QAction* cascadeItem_;
  QAction* tileItem_;
  QAction* arrangeItem_;
  QAction* minimizeItem_;
  QMenu* helpMenu_;
  QAction* aboutItem_;

  QPushButton* connectButton_;
  QPushButton* startButton_;
  QPushButton* serversButton_;
  QPushButton* windowButton_;
  QPushButton* disconnectButton_;
  QPushButton* killButton_;

  QLabel* statusText_;  // the status bar's one text

  QAction* AddItem(QMenu* menu, const char* name, const QString& caption, const QString& hint);
  QPushButton* AddButton(const char* name, const QString& caption);
  void AddServerMenu();
  void AddCentralArea();  // the tool bar over the frame's client area and the debug pane
  void FillWindowMenu();
  void AddViewMenu();
  void AddPlayersItem();
  void AddLogItems(QMenu* view);
  void ElideStatusText();

  QMdiArea* mdi_;
  ConnectDialog* connectDialog_ = nullptr;
  ServersWindow* servers_ = nullptr;
  StartServerDialog* start_ = nullptr;
  bool connectDefaultsSet_ = false;
  bool shown_ = false;
  bool shuttingDown_ = false;
  QList<QAction*> windowListActions_;
  QString statusLine_;  // what the bar shows, before eliding
  QTimer debugTimer_;
  uint64_t debugShown_ = 0;  // debug lines ever appended that the debug pane shows
  QAction* separator_;       // in the System menu
  QAction* cleanupItem_;     // close the dead console windows
  QAction* colourCodesItem_ = nullptr;
  QAction* playersItem_ = nullptr;
  QAction* keepLogsItem_ = nullptr;
  std::array<QAction*, 5> commands_{};  // by Command
  QWidget* toolBar_;
  QPlainTextEdit* debugPane_;
  QPointer<ConsoleWindow> lastOpened_;
  ShowPacer showPacer_{[this](ConsoleWindow& console) { Open(&console); }};
};

}  // namespace ov
