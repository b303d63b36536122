#pragma once
// New console windows come into the frame a turn of the event loop after they open (ShowPacer): what
// a test does with them next waits for that.
#include <algorithm>
#include <vector>

#include "app/qt/main_window.h"
#include "consoles/qt/console_window.h"
#include "tests/common/qt_wait.h"

namespace ov::test {

inline bool AllShown(const MainWindow& main) {
  const std::vector<ConsoleWindow*> all = main.ConsoleWindows();
  return std::all_of(all.begin(), all.end(), [](const ConsoleWindow* w) { return w->mdiArea() != nullptr; });
}

// Runs Qt's events until every console window opened so far is in the frame.
inline void ShowOpened(const MainWindow& main) {
  if (!AllShown(main))
    PumpQt("the new console windows to come into the frame", [&] { return AllShown(main); });
}

}  // namespace ov::test
