#pragma once
// The main window fMain: the multiple-document frame with the menu, the tool bar SpeedPanel, the debug
// pane Memo1 and the status bar. It runs the client's start-up and shut-down and the menu commands.
#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>
#include <cstdint>
#include <string>
#include <string_view>

#include "ui/desktop.h"

class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QPlainTextEdit;
class QPushButton;

namespace ov {

class Client;
class TConnDlg;
class TfStart;
class TfSvrs;

// The status bar's line for a text: at most kMaxStatusChars of it, control characters as blanks.
constexpr size_t kMaxStatusChars = 1024;
QString StatusBarLine(std::string_view text);

class TfMain : public QMainWindow {
  Q_OBJECT

 public:
  explicit TfMain(QWidget* parent = nullptr);
  ~TfMain() override;

  // FormCreate: hooks the hints and the active-window change, then runs InitClient. False when the
  // socket library did not start: the program then ends.
  bool Attach(Client& client, const std::string& commandLine);
  // The windows created after the main window, which its commands show.
  void SetWindows(TConnDlg* connDlg, TfSvrs* servers, TfStart* start);

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
  void FlushDebugPane();  // brings Memo1 up to the debug log now (a timer does it otherwise)

  QMenu* mnuSys;
  QAction* mnuCon;
  QAction* mnuStart;
  QAction* mnuSrvWin;
  QAction* N1;
  QAction* mnuExit;
  QMenu* mnuSrv;
  QAction* mnuWnd;
  QAction* mnuDis;
  QAction* mnuKill;
  QAction* mnuEKill;
  QMenu* mnuWindow;
  QAction* WindowCascadeItem;
  QAction* WindowTileItem;
  QAction* WindowArrangeItem;
  QAction* WindowMinimizeItem;
  QAction* Cleanup1;
  QMenu* mnuHelp;
  QAction* HelpAboutItem;

  QWidget* SpeedPanel;
  QPushButton* tbConnect;
  QPushButton* tbStart;
  QPushButton* tbSvrs;
  QPushButton* tbWnd;
  QPushButton* tbDis;
  QPushButton* tbKill;

  QPlainTextEdit* Memo1;
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
  void DebugLogGrew();
  void ElideStatusText();

  QMdiArea* mdi_;
  Client* client_ = nullptr;
  TConnDlg* connDlg_ = nullptr;
  TfSvrs* servers_ = nullptr;
  TfStart* start_ = nullptr;
  bool ConnDefaultsSet = false;
  bool shown_ = false;
  bool started_ = false;  // InitClient succeeded
  bool shuttingDown_ = false;
  QList<QAction*> windowListActions_;
  QString statusLine_;  // what the bar shows, before eliding
  QTimer debugTimer_;
  uint64_t debugShown_ = 0;  // debug lines ever appended that Memo1 shows
};

}  // namespace ov
