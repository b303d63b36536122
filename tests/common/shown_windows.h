#pragma once
// New console windows come into the frame a turn of the event loop after they open (ShowPacer).
#include "app/qt/main_window.h"
#include "consoles/qt/console_window.h"
#include "tests/common/qt_wait.h"

namespace ov::test {

inline void ShowOpened(const MainWindow& main) {
  PumpQt("the new console windows to come into the frame", [&] {
    for (const ConsoleWindow* w : main.ConsoleWindows())
      if (!w->mdiArea()) return false;
    return true;
  });
}

}  // namespace ov::test
