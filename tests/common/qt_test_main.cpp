// Tests that need Qt run inside one QApplication on the offscreen platform, with a configuration folder
// of their own: settings the tests change never reach the user's.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include "protocol/qt/keyring_store.h"
#include "tests/common/qt_wait.h"

namespace {

// A modal window that nobody answers holds the run in its own loop, where no wait of the test runs:
// one that stays up for the patience ends its test with a failure that names it, and is closed.
class ModalWatch : public QObject {
 public:
  ModalWatch() {
    qApp->installEventFilter(this);
    QObject::connect(&tick_, &QTimer::timeout, this, [this] { Check(); });
    tick_.start(100);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    // Every modal window shown starts the patience again, though it was the same window as before.
    if (event->type() == QEvent::Show && watched->isWidgetType() && static_cast<QWidget*>(watched)->isModal())
      since_.start();
    return false;
  }

 private:
  void Check() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) {
      since_.invalidate();
      return;
    }
    if (!since_.isValid()) since_.start();
    if (!::testing::UnitTest::GetInstance()->current_test_info()) return;
    // Once the test gave up, no modal window of it is waited for.
    if (since_.elapsed() < ov::test::kPatienceMs && !ov::test::GaveUp()) return;
    since_.invalidate();
    ov::test::GiveUp("gave up waiting for someone to answer the modal window \"" +
                     modal->windowTitle().toStdString() + "\" (after " +
                     std::to_string(ov::test::kPatienceMs) + " ms)");
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      dialog->reject();
    } else {
      modal->close();
    }
  }

  QTimer tick_;
  QElapsedTimer since_;
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QTemporaryDir config;
  if (!config.isValid()) return 2;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  ov::NeverStartASessionBus();  // as the program does: a test on a display leaves no bus behind
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  ModalWatch watch;
  return RUN_ALL_TESTS();
}
