#pragma once
// New console windows come into the frame a few at a time. Laying out, showing and painting a window
// costs milliseconds, and a server can open windows by the hundred: shown all at once, they would hold
// the event loop for as long as that takes. A window exists, and takes its text, from the moment it is
// made; it shows at the next turn of the event loop with room, kPerTurn windows a turn, in the order
// they were opened. A window the user asks for (ConsoleWindow::TakeFocus) does not wait.
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <functional>
#include <vector>

namespace ov {

class ConsoleWindow;

class ShowPacer : public QObject {
 public:
  static constexpr int kPerTurn = 2;
  using Show = std::function<void(ConsoleWindow&)>;  // brings one window into the frame

  explicit ShowPacer(Show show);
  ~ShowPacer() override;  // the windows still waiting go with it

  void Add(ConsoleWindow& window);  // shown at a later turn, or as soon as it is asked for
  std::vector<ConsoleWindow*> Waiting() const;

 private:
  void ShowNow(ConsoleWindow* window);  // out of the queue, at once
  void Turn();

  Show show_;
  std::deque<QPointer<ConsoleWindow>> waiting_;
  QTimer timer_;
};

}  // namespace ov
