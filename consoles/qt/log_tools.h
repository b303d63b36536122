#pragma once
// What a console window offers on its log besides reading it: the find bar (Ctrl+F), Save Log As…,
// Clear Log, and the log's context menu with these and Copy and Select All. The log view only draws and
// selects; the log's text is the window's ConsoleLog, which saving writes and clearing empties.
#include <QObject>
#include <QString>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QToolButton;
class QWidget;

namespace ov {

class ConsoleWindow;
class LogView;

class LogTools : public QObject {
  Q_OBJECT

 public:
  // The find bar is a child of bar's parent, laid over the top of the log; input gets the focus back.
  LogTools(ConsoleWindow& window, LogView& log, QLineEdit& input);

  QWidget* FindBar() const { return bar_; }
  QLineEdit* FindText() const { return findText_; }
  QToolButton* MatchCase() const { return matchCase_; }
  QLabel* FindStatus() const { return findStatus_; }

  void OpenFindBar();
  void CloseFindBar();  // the focus goes back to the input line
  bool FindNext(bool backward);
  // Writes the log's exact bytes to path, readable by the user only; false with the reason in error.
  bool SaveTo(const QString& path, QString& error) const;
  void SaveAs();  // asks for the file, reports a failure in a box
  void ClearLog();
  QMenu* BuildContextMenu(QWidget* parent);  // the log's context menu, for the caller to show

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void PlaceBar();

  ConsoleWindow& window_;
  LogView& log_;
  QLineEdit& input_;
  QAction* find_;
  QAction* save_;
  QAction* clear_;
  QAction* copy_;
  QAction* selectAll_;
  QWidget* bar_;
  QLineEdit* findText_;
  QToolButton* previous_;
  QToolButton* next_;
  QToolButton* matchCase_;
  QToolButton* closeBar_;
  QLabel* findStatus_;
};

}  // namespace ov
