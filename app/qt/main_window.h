#pragma once
// The main window fMain: the multiple-document frame with the menu, the tool bar SpeedPanel, the debug
// pane Memo1 and the status bar. It runs the client's start-up and shut-down and the menu commands.
#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/desktop.h"

class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QPlainTextEdit;
class QPushButton;

namespace ov {

class DebugLog;
class ConnectDialog;
class StartServerDialog;
class ServersWindow;

// The status bar's line for a text: at most kMaxStatusChars of it, control characters as blanks.
constexpr size_t kMaxStatusChars = 1024;
QString StatusBarLine(std::string_view text);

// The form TfMain.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // After a successful start: the debug pane shows from here on what the debug log appends (the root hands on
  // its growth to DebugLogGrew), or stays hidden.
  void ShowDebugPane(const DebugLog& log, bool shown);
  void DebugLogGrew();                         // the debug log appended a line
  void AppendDebugLines(const DebugLog& log);  // brings the debug pane up to the log
  // The windows created after the main window, which its commands show.
  void SetWindows(ConnectDialog* connDlg, ServersWindow* servers, StartServerDialog* start);

  QMdiArea* MdiArea() const { return mdi_; }
  void SetStatusText(std::string_view text);  // one line, elided to the bar's width
  QAction* ActionFor(Command command) const;
  QPushButton* ButtonFor(Command command) const;
  void AddConsoleWindow(QMdiSubWindow* window);  // a new child of the frame, shown at once
  bool ShuttingDown() const { return shuttingDown_; }

  // Commands, shared by the menu items and their tool-bar buttons.
  void mnuConClick();
  void mnuStartClick();
  void mnuSrvWinClick();
  void mnuWndClick();
  void mnuDisClick();
  void mnuKillClick();
  void WindowCascadeItemClick();
  void WindowTileItemClick();
  void WindowArrangeItemClick();
  void WindowMinimizeItemClick();
  void Cleanup1Click();
  void HelpAboutItemClick();
  void mnuExitClick();
  void UpdateMenuItems();
  void mnuReconnectClick();    // the active console window connects again
  void UpdateReconnectItem();  // enabled while the active window is a dead OV server's
  void
  FlushDebugPane();  // asks for the debug pane to be brought up to the log now (a timer does it otherwise)
  QPlainTextEdit* DebugPane() const { return debugPane_; }  // Memo1
  QAction* CleanupItem() const { return cleanupItem_; }     // Cleanup1
  // View > Colour Codes: on, colour codes are drawn as colours in the logs and hidden in captions and tree
  // nodes. Remembered between runs.
  QAction* ColourCodesItem() const { return colourCodesItem_; }
  bool ColourCodes() const;

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
  void sendToServersRequested();  // Server > Send to Servers

 public:
  QMenu* mnuSys;
  QAction* mnuCon;
  QAction* mnuStart;
  QAction* mnuSrvWin;
  QAction* mnuExit;
  QMenu* mnuSrv;
  QAction* mnuWnd;
  QAction* mnuDis;
  QAction* mnuKill;
  QAction* mnuEKill;
  QAction* mnuReconnect;
  QMenu* mnuWindow;
  QAction* WindowCascadeItem;
  QAction* WindowTileItem;
  QAction* WindowArrangeItem;
  QAction* WindowMinimizeItem;
  QMenu* mnuHelp;
  QAction* HelpAboutItem;

  QPushButton* tbConnect;
  QPushButton* tbStart;
  QPushButton* tbSvrs;
  QPushButton* tbWnd;
  QPushButton* tbDis;
  QPushButton* tbKill;

  QLabel* StatusText;  // the status bar's one text

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QAction* AddItem(QMenu* menu, const char* name, const QString& caption, const QString& hint);
  QPushButton* AddButton(const char* name, const QString& caption);
  void FillWindowMenu();
  void AddViewMenu();
  void ElideStatusText();

  QMdiArea* mdi_;
  ConnectDialog* connDlg_ = nullptr;
  ServersWindow* servers_ = nullptr;
  StartServerDialog* start_ = nullptr;
  bool ConnDefaultsSet = false;
  bool shown_ = false;
  bool shuttingDown_ = false;
  QList<QAction*> windowListActions_;
  QString statusLine_;  // what the bar shows, before eliding
  QTimer debugTimer_;
  uint64_t debugShown_ = 0;  // debug lines ever appended that the debug pane shows
  QAction* separator_;       // N1, in the System menu
  QAction* cleanupItem_;     // Cleanup1: close the dead console windows
  QAction* colourCodesItem_ = nullptr;
  QWidget* toolBar_;           // SpeedPanel
  QPlainTextEdit* debugPane_;  // Memo1
};

}  // namespace ov
