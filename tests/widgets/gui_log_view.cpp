// The log view on the offscreen platform: it shows exactly the log's text after appends and cuts,
// follows the end until scrolled up, selects and copies the exact bytes with mouse and keyboard, finds
// text, draws colour codes as colours and gives its text to assistive technology.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "consoles/console_log.h"
#include "consoles/qt/log_view.h"

namespace ov {
namespace {

QString Shown(const std::string& logText) {
  QString s = QString::fromLatin1(logText.data(), static_cast<qsizetype>(logText.size()));
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  return s;
}

struct Viewed {
  ConsoleLog log;
  LogView view;
  Viewed() {
    view.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view.resize(320, 180);
    view.show();
    QApplication::processEvents();
  }
  void Append(const std::string& text) {
    log.Append(text, 1);
    view.CatchUp(log);
    view.Heard(log);
  }
  int CellWidth() const { return QFontMetrics(view.font()).horizontalAdvance(QLatin1Char('M')); }
  int RowHeight() const { return QFontMetrics(view.font()).lineSpacing(); }
  QPoint Cell(int column, int row) const {
    return {column * CellWidth() + 1, row * RowHeight() + RowHeight() / 2};
  }
  void Mouse(QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    QMouseEvent e(type, at, view.viewport()->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &e);
  }
  void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent e(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(&view, &e);
  }
};

TEST(LogView, ShowsExactlyTheLogThroughAppendsAndCutsAndFollowsTheEnd) {
  Viewed v;
  std::mt19937 random(7);
  for (int step = 0; step < 300; ++step) {
    std::string text = "line " + std::to_string(step) + std::string(random() % 120, 'x');
    text += step % 7 == 0 ? "\r" : "\n";
    if (random() % 50 == 0) {
      v.log.Append(text, 2);  // replaced
      v.view.CatchUp(v.log);
    } else {
      v.Append(text);
    }
    ASSERT_EQ(v.view.Text(), Shown(v.log.Text())) << "step " << step;
  }
  ASSERT_GT(v.log.Cuts(), 0u);
  // At the end: the last row drawn is the (empty) line after the last break, the one above ends it.
  v.Append("tail without break");
  const QStringList rows = v.view.VisibleRows();
  ASSERT_GE(rows.size(), 2);
  EXPECT_EQ(rows.last(), "tail without break");
  EXPECT_TRUE(v.view.FollowsEnd());
  EXPECT_EQ(v.view.verticalScrollBar()->value(), v.view.verticalScrollBar()->maximum());
  // Long lines wrap: no row is wider than the view.
  for (const QString& row : rows) EXPECT_LE(row.size() * v.CellWidth(), v.view.viewport()->width());
}

TEST(LogView, ScrolledUpStaysOnItsTextThroughAppendsAndCuts) {
  Viewed v;
  for (int i = 0; i < 1600; ++i) v.Append("row " + std::to_string(i) + "\n");
  QScrollBar* bar = v.view.verticalScrollBar();
  bar->setValue(bar->maximum() - 3);  // the user scrolls up a little
  EXPECT_FALSE(v.view.FollowsEnd());
  const QString top = v.view.VisibleRows().first();
  const uint64_t cutsBefore = v.log.Cuts();
  for (int i = 1600; i < 1800; ++i) v.Append("row " + std::to_string(i) + "\n");  // a cut happens meanwhile
  ASSERT_GT(v.log.Cuts(), cutsBefore);
  ASSERT_NE(v.log.Text().find(top.toStdString() + "\r\n"), std::string::npos);
  EXPECT_FALSE(v.view.FollowsEnd());
  EXPECT_EQ(v.view.VisibleRows().first(), top);
  bar->setValue(bar->maximum());  // back at the end: follows again
  EXPECT_TRUE(v.view.FollowsEnd());
  v.Append("last\n");
  EXPECT_EQ(v.view.VisibleRows().at(v.view.VisibleRows().size() - 2), "last");
}

// Counts the paints a widget gets.
struct PaintCounter : QObject {
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    paints += event->type() == QEvent::Paint;
    return false;
  }
};

TEST(LogView, ScrollBarRepaintsWhenItsSliderMovesAndOnlyThen) {
  Viewed v;
  for (int i = 0; i < 1600; ++i) v.Append("row " + std::to_string(i) + "\n");
  QScrollBar* bar = v.view.verticalScrollBar();
  PaintCounter counter;
  bar->installEventFilter(&counter);
  QApplication::processEvents();
  counter.paints = 0;
  // Following the end of a long log, the shortest slider stays at the bottom: nothing to repaint.
  for (int i = 0; i < 20; ++i) {
    v.Append("more " + std::to_string(i) + "\n");
    QApplication::processEvents();
  }
  EXPECT_EQ(counter.paints, 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  // Scrolled to the middle, the same appends move the slider up: each catch-up repaints the bar.
  bar->setValue(bar->maximum() / 2);
  QApplication::processEvents();
  counter.paints = 0;
  v.Append(std::string(40, '\n'));
  QApplication::processEvents();
  EXPECT_GE(counter.paints, 1);
  // Back at the end: the slider moves down, so the bar repaints.
  counter.paints = 0;
  v.Key(Qt::Key_End, Qt::ControlModifier);
  v.Append("last\n");
  QApplication::processEvents();
  EXPECT_GE(counter.paints, 1);
  EXPECT_EQ(bar->value(), bar->maximum());
}

TEST(LogView, MouseAndKeyboardSelectionCopiesTheExactBytes) {
  Viewed v;
  v.view.SetColours(true);
  v.Append("^1Red^7White \xE9t\xE9\nsecond line\nthird");
  v.view.verticalScrollBar()->setValue(0);
  // Drag from the first row's fourth shown character to the second row's third: the code in between
  // is copied, hidden as it is, and the break is one line feed.
  v.Mouse(QEvent::MouseButtonPress, v.Cell(3, 0), Qt::LeftButton);
  v.Mouse(QEvent::MouseMove, v.Cell(2, 1), Qt::LeftButton);
  v.Mouse(QEvent::MouseButtonRelease, v.Cell(2, 1), Qt::NoButton);
  EXPECT_EQ(v.view.SelectedText(), QString::fromLatin1("^7White \xE9t\xE9\nse"));
  QApplication::clipboard()->clear();
  v.Key(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), QString::fromLatin1("^7White \xE9t\xE9\nse"));

  // From a click at the start of the second row: Shift+Right twice and Shift+Down.
  v.Mouse(QEvent::MouseButtonPress, v.Cell(0, 1), Qt::LeftButton);
  v.Mouse(QEvent::MouseButtonRelease, v.Cell(0, 1), Qt::NoButton);
  v.Key(Qt::Key_Right, Qt::ShiftModifier);
  v.Key(Qt::Key_Right, Qt::ShiftModifier);
  v.Key(Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(v.view.SelectedText(), "second line\nth");
  v.Key(Qt::Key_A, Qt::ControlModifier);
  v.Key(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(),
            QString::fromLatin1("^1Red^7White \xE9t\xE9\nsecond line\nthird"));
}

TEST(LogView, FindWrapsAndIgnoresCaseUnlessAsked) {
  Viewed v;
  v.Append("Alpha one\n");
  for (int i = 0; i < 200; ++i) v.Append("filler " + std::to_string(i) + "\n");
  v.Append("ALPHA two\nend");
  const size_t second = v.log.Text().find("ALPHA");
  EXPECT_TRUE(v.view.Find("alpha"));  // from the end: wraps to the first
  EXPECT_EQ(v.view.SelectionBegin(), 0u);
  EXPECT_EQ(v.view.SelectedText(), "Alpha");
  EXPECT_EQ(v.view.verticalScrollBar()->value(), 0);  // scrolled to it
  EXPECT_FALSE(v.view.FollowsEnd());
  EXPECT_TRUE(v.view.Find("alpha"));
  EXPECT_EQ(v.view.SelectionBegin(), second);
  EXPECT_TRUE(v.view.Find("alpha"));  // wraps again
  EXPECT_EQ(v.view.SelectionBegin(), 0u);
  EXPECT_TRUE(v.view.Find("alpha", true));  // backwards, wrapping to the last
  EXPECT_EQ(v.view.SelectionBegin(), second);
  EXPECT_TRUE(v.view.Find("alpha", true));
  EXPECT_EQ(v.view.SelectionBegin(), 0u);
  EXPECT_FALSE(v.view.Find("alpha", false, Qt::CaseSensitive));
  EXPECT_TRUE(v.view.Find("ALPHA", false, Qt::CaseSensitive));
  EXPECT_EQ(v.view.SelectionBegin(), second);
  const QStringList rows = v.view.VisibleRows();
  EXPECT_TRUE(rows.contains("ALPHA two"));
  // What is not found leaves no match highlighted; the next search starts where the last match was.
  for (const QString& missing : {QString("nowhere"), QString(QChar(0x263A)), QString(20000, 'x')}) {
    EXPECT_TRUE(v.view.Find("ALPHA", false, Qt::CaseSensitive));
    EXPECT_FALSE(v.view.Find(missing));
    EXPECT_EQ(v.view.SelectedText(), "") << missing.left(10).toStdString();
    EXPECT_EQ(v.view.SelectionBegin(), second);
  }
}

// Cleared while scrolled up, the log follows what comes next again.
TEST(LogView, AfterClearingTheLogFollowsNewText) {
  Viewed v;
  for (int i = 0; i < 300; ++i) v.Append("row " + std::to_string(i) + "\n");
  v.view.verticalScrollBar()->setValue(10);
  ASSERT_FALSE(v.view.FollowsEnd());
  v.log.Clear();
  v.view.CatchUp(v.log);
  for (int i = 0; i < 100; ++i) v.Append("new " + std::to_string(i) + "\n");
  EXPECT_TRUE(v.view.FollowsEnd());
  const QStringList rows = v.view.VisibleRows();
  ASSERT_GE(rows.size(), 2);
  EXPECT_EQ(rows.at(rows.size() - 2), "new 99");
}

TEST(LogView, ColoursHideTheCodesAndDrawTheColours) {
  Viewed v;
  v.view.setStyleSheet("");
  QPalette p = v.view.palette();
  p.setColor(QPalette::Base, Qt::white);
  p.setColor(QPalette::Text, Qt::black);
  v.view.setPalette(p);
  v.Append("^1RRRRRRRRRR ^^7 a^9b\nnext");
  v.view.verticalScrollBar()->setValue(0);
  EXPECT_EQ(v.view.VisibleRows().first(), "^1RRRRRRRRRR ^^7 a^9b");
  auto reddish = [&] {
    const QImage image = v.view.viewport()->grab().toImage();
    int count = 0;
    for (int y = 0; y < v.RowHeight(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, y);
        count += c.red() > 120 && c.green() < 80 && c.blue() < 80;
      }
    return count;
  };
  EXPECT_EQ(reddish(), 0);
  v.view.SetColours(true);
  EXPECT_EQ(v.view.VisibleRows().first(), "RRRRRRRRRR ^^7 a^9b");
  EXPECT_GT(reddish(), 10);
  EXPECT_EQ(v.view.Text(), "^1RRRRRRRRRR ^^7 a^9b\nnext");  // the text stays exact
}

// What a user sees of wrapping and selecting: words wrap whole, a line exactly as wide as the log
// takes one row, and the highlight covers exactly the selected cells.
TEST(LogView, WrapsWordsAndHighlightsExactlyTheSelectedCells) {
  Viewed v;
  QPalette p = v.view.palette();
  p.setColor(QPalette::Base, Qt::white);
  p.setColor(QPalette::Text, Qt::black);
  p.setColor(QPalette::Highlight, QColor(0, 0, 255));
  p.setColor(QPalette::HighlightedText, Qt::white);
  v.view.setPalette(p);
  const int columns = v.view.viewport()->width() / v.CellWidth();
  ASSERT_GT(columns, 12);
  const std::string full(static_cast<size_t>(columns), 'w');
  const std::string words = "lost " + std::string(static_cast<size_t>(columns) - 8, 'x') + " connection";
  for (bool colours : {false, true}) {
    v.view.SetColours(colours);
    v.log.Clear();
    v.Append(full + "\n^2" + full + "\n" + words + "\nend");
    v.view.verticalScrollBar()->setValue(0);
    const QStringList rows = v.view.VisibleRows();
    // Codes shown as text make the second line two cells wider than the log.
    const QStringList expected =
        colours ? QStringList{QString::fromStdString(full), QString::fromStdString(full)}
                : QStringList{QString::fromStdString(full), "^2" + QString::fromStdString(full).mid(2), "ww"};
    ASSERT_GE(rows.size(), expected.size() + 3);
    EXPECT_EQ(rows.mid(0, expected.size()), expected);
    EXPECT_EQ(rows.at(expected.size()), QString::fromStdString(words.substr(0, words.size() - 10)));
    EXPECT_EQ(rows.at(expected.size() + 1), "connection");
    EXPECT_EQ(rows.at(expected.size() + 2), "end");
  }
  // Three cells of the first row selected: the highlight spans exactly those three.
  v.view.SetColours(false);
  v.view.verticalScrollBar()->setValue(0);
  v.view.Select(2, 5);
  const QImage image = v.view.viewport()->grab().toImage();
  int left = image.width(), right = -1;
  for (int x = 0; x < image.width(); ++x) {
    const QColor c = image.pixelColor(x, 1);  // above the letters
    if (c.blue() > 200 && c.red() < 60 && c.green() < 60) {
      left = std::min(left, x);
      right = std::max(right, x);
    }
  }
  EXPECT_EQ(left, 2 * v.CellWidth());
  EXPECT_EQ(right, 5 * v.CellWidth() - 1);
}

// Each colour keeps its hue on a light and on a dark background; it is not the text colour.
TEST(LogView, ColourCodesKeepTheirHueOnLightAndDarkBackgrounds) {
  Viewed v;
  v.view.SetColours(true);
  v.Append("^1MMMMM^2MMMMM^4MMMMM");
  for (bool dark : {false, true}) {
    QPalette p = v.view.palette();
    p.setColor(QPalette::Base, dark ? Qt::black : Qt::white);
    p.setColor(QPalette::Text, dark ? Qt::white : Qt::black);
    v.view.setPalette(p);
    const QImage image = v.view.viewport()->grab().toImage();
    for (int group = 0; group < 3; ++group) {
      long channel[3] = {0, 0, 0};  // red, green and blue, of the pixels that are not background
      for (int y = 0; y < v.RowHeight(); ++y)
        for (int x = group * 5 * v.CellWidth(); x < (group + 1) * 5 * v.CellWidth(); ++x) {
          const QColor c = image.pixelColor(x, y);
          if (c == p.color(QPalette::Base)) continue;
          channel[0] += dark ? c.red() : 255 - c.green() - c.blue() + c.red();
          channel[1] += dark ? c.green() : 255 - c.red() - c.blue() + c.green();
          channel[2] += dark ? c.blue() : 255 - c.red() - c.green() + c.blue();
        }
      const int strongest = static_cast<int>(std::max_element(channel, channel + 3) - channel);
      EXPECT_EQ(strongest, group) << (dark ? "dark" : "light") << " background, colour "
                                  << "124"[group];
    }
  }
}

TEST(LogView, AssistiveTechnologyReadsTheTextAndSelection) {
  Viewed v;
  v.view.setAccessibleName("Console");
  v.Append("first\nsecond\nthird");
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(&v.view);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->text(QAccessible::Name), "Console");
  QAccessibleTextInterface* t = a->textInterface();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->characterCount(), 18);
  EXPECT_EQ(t->text(0, 18), "first\nsecond\nthird");
  t->setSelection(0, 6, 15);  // character offsets: "second\nth"
  EXPECT_EQ(v.view.SelectedText(), "second\nth");
  int start = -1, end = -1;
  t->selection(0, &start, &end);
  EXPECT_EQ(start, 6);
  EXPECT_EQ(end, 15);
  EXPECT_TRUE(a->state().readOnly);
}

// New text is announced, coalesced and bounded, as it is shown; a flood is not read out whole.
TEST(LogView, NewTextIsAnnouncedCoalescedAndAsShown) {
  Viewed v;
  v.view.SetColours(true);
  std::vector<QString> announced;
  QObject::connect(&v.view, &LogView::announced, [&](const QString& text) { announced.push_back(text); });
  v.Append("^1Server^7 ready\n");
  ASSERT_EQ(announced.size(), 1u);  // after a quiet time, at once
  EXPECT_EQ(announced.back(), "Server ready\n");
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < 200; ++i) {
    v.Append("^2line " + std::to_string(i) + std::string(i == 150 ? 5000 : 0, 'x') + "\n");
    QApplication::processEvents(QEventLoop::AllEvents, 2);
  }
  while (t.elapsed() < 3 * LogView::kAnnounceMs) QApplication::processEvents(QEventLoop::AllEvents, 5);
  const qint64 spent = t.elapsed();
  ASSERT_GE(announced.size(), 2u);
  EXPECT_LE(announced.size(), static_cast<size_t>(2 + spent / LogView::kAnnounceMs));
  for (const QString& text : announced) {
    EXPECT_LE(text.size(), LogView::kAnnounceChars);
    EXPECT_FALSE(text.contains("^2"));
  }
  EXPECT_TRUE(announced.back().endsWith("line 198\nline 199\n")) << announced.back().toStdString();
}

}  // namespace
}  // namespace ov
