#include "consoles/qt/log_view.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>
#include <utility>

#include "consoles/colour_codes.h"
#include "consoles/console_log.h"
#include "consoles/qt/log_view_accessible.h"
#include "consoles/qt/quiet_scroll_bar.h"

namespace ov {

namespace {

// What a byte shows as: Latin-1, with the control characters as a middle dot so that every byte keeps
// one cell of the grid.
QChar Shown(unsigned char c) { return (c < 0x20 || (c >= 0x7F && c < 0xA0)) ? QChar(0xB7) : QChar(c); }

QString Latin1WithLineFeeds(std::string_view bytes) {
  QString out = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  return out;
}

// The glyph of each shown byte in a font, looked up once per font rather than once per window: every
// console window uses the same one or two fonts.
struct Glyphs {
  QRawFont font;  // invalid: drawn as text
  std::array<quint32, 256> indexes{};
};
const Glyphs& GlyphsOf(const QFont& font) {
  static std::map<QString, Glyphs> known;
  const QString key = font.key();
  if (const auto found = known.find(key); found != known.end()) return found->second;
  if (known.size() >= 8) known.clear();  // fonts changed again and again keep no more than a few
  Glyphs& glyphs = known[key];
  glyphs.font = QRawFont::fromFont(font);
  if (glyphs.font.isValid()) {
    QString all;
    for (int c = 0; c < 256; ++c) all += Shown(static_cast<unsigned char>(c));
    const QList<quint32> indexes = glyphs.font.glyphIndexesForString(all);
    if (indexes.size() == 256) {
      std::copy(indexes.begin(), indexes.end(), glyphs.indexes.begin());
    } else {
      glyphs.font = QRawFont();
    }
  }
  return glyphs;
}

QRgb Rgb(uint32_t c) { return qRgb((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }

}  // namespace

LogView::LogView(QWidget* parent) : QAbstractScrollArea(parent) {
  static const bool factoryInstalled = [] {
    QAccessible::installFactory(LogViewFactory);
    return true;
  }();
  (void)factoryInstalled;
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBar(new QuietScrollBar);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(false);
  // paintEvent fills all of the viewport, so the widgets beneath it (the window's frame and title among
  // them) are not painted first at every redraw.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  announceTimer_.setSingleShot(true);
  connect(&announceTimer_, &QTimer::timeout, this, &LogView::SendAnnouncement);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
    if (!movingView_) followEnd_ = verticalScrollBar()->value() >= verticalScrollBar()->maximum();
  });
  UpdateMetrics();
}

// ---- the text and its index

void LogView::CatchUp(const ConsoleLog& log) {
  const std::string& text = log.Text();
  if (log.Cuts() != shownCuts_) {
    // Cut from the front: what is kept moves up by the cut, and the view stays on the same text.
    const uint64_t cut = log.Cuts() - shownCuts_;
    auto moved = [&](size_t byte) {
      return static_cast<size_t>(std::min<uint64_t>(byte > cut ? byte - cut : 0, text.size()));
    };
    const size_t topByte = lines_[LineAtRow(verticalScrollBar()->value())].begin;
    anchor_ = moved(anchor_);
    cursor_ = moved(cursor_);
    // A copy that once held a long text gives its memory back.
    if (text_.capacity() > 4 * std::max<size_t>(text.size(), kLogTrimAbove)) std::string().swap(text_);
    text_ = text;
    IndexFrom(0);
    Rewrap();
    if (!followEnd_) SetTopRow(PositionOf(moved(topByte)).row);
  } else if (log.Appended() != shownAppended_) {
    const size_t tail = static_cast<size_t>(log.Appended() - shownAppended_);
    text_.append(text, text.size() - tail, tail);
    const size_t from = lines_.size() - 1;  // the last line may go on
    IndexFrom(from);
    firstRow_.resize(from + 1);
    for (size_t i = from; i < lines_.size(); ++i) firstRow_.push_back(firstRow_.back() + LayOut(i));
    UpdateScrollBar();
  } else {
    return;
  }
  shownCuts_ = log.Cuts();
  shownAppended_ = log.Appended();
  viewport()->update();
}

// ---- announcing new text to assistive technology

void LogView::Heard(const ConsoleLog& log) {
  const std::string& text = log.Text();
  const uint64_t added = log.Appended() - heardAppended_;
  heardAppended_ = log.Appended();
  if (added == 0) return;
  // Only the newest characters are read: a flood must not queue minutes of speech. Codes may hide
  // some of the bytes kept.
  const size_t kept = 4 * static_cast<size_t>(kAnnounceChars);
  const size_t tail = static_cast<size_t>(std::min<uint64_t>({added, text.size(), kept}));
  heardBytes_.append(text, text.size() - tail, tail);
  if (heardBytes_.size() > kept) {
    const size_t drop = heardBytes_.size() - kept;
    KeepBeforeHeard(std::string_view(heardBytes_).substr(0, drop));
    heardBytes_.erase(0, drop);
  }
  if (announceTimer_.isActive()) return;
  const qint64 since = sinceAnnounced_.isValid() ? sinceAnnounced_.elapsed() : kAnnounceMs;
  if (since >= kAnnounceMs) {
    SendAnnouncement();
  } else {
    announceTimer_.start(static_cast<int>(kAnnounceMs - since));
  }
}

void LogView::KeepBeforeHeard(std::string_view gone) {
  beforeHeard_.append(gone.substr(gone.size() > 2 ? gone.size() - 2 : 0));
  if (beforeHeard_.size() > 2) beforeHeard_.erase(0, beforeHeard_.size() - 2);
}

QString LogView::HeardAsShown() {
  // A code whose caret came with the text before: read from the caret, which was read already.
  const size_t n = beforeHeard_.size();
  const bool caretBefore =
      colours_ && n > 0 && beforeHeard_[n - 1] == '^' && (n < 2 || beforeHeard_[n - 2] != '^');
  std::string bytes = caretBefore ? "^" + heardBytes_ : heardBytes_;
  KeepBeforeHeard(heardBytes_);
  heardBytes_.clear();
  std::string shown = colours_ ? StripColourCodes(bytes) : bytes;
  if (caretBefore && !shown.empty() && shown.front() == '^') shown.erase(0, 1);
  QString text = Latin1WithLineFeeds(shown);
  for (QChar& c : text)
    if (c != QLatin1Char('\n')) c = Shown(static_cast<unsigned char>(c.unicode()));
  return text.right(kAnnounceChars);
}

void LogView::SendAnnouncement() {
  if (heardBytes_.empty()) return;
  sinceAnnounced_.start();
  const QString text = HeardAsShown();
  if (text.isEmpty()) return;
  // Inserted at the end of what the view holds, which a covered view brings up to date only when it is
  // next drawn: the text read is the text that arrived, as it will be shown. Qt passes it on only while
  // assistive technology listens.
  const int end = CharOffset(text_.size());
  QAccessibleTextInsertEvent event(this, std::max(0, end - static_cast<int>(text.size())), text);
  QAccessible::updateAccessibility(&event);
  emit announced(text);
}

void LogView::IndexFrom(size_t lineIndex) {
  size_t begin = lines_[lineIndex].begin;
  lines_.resize(lineIndex);
  marks_.erase(marks_.lower_bound(lineIndex), marks_.end());
  if (lineIndex == 0 && lines_.capacity() > 4 * std::max<size_t>(text_.size() / 16, 1024)) {
    std::vector<Line>().swap(lines_);
    std::vector<int>().swap(firstRow_);
  }
  // A break is LF, with the CR before it; a lone CR shows as a character.
  for (;;) {
    const size_t lf = text_.find('\n', begin);
    if (lf == std::string::npos) break;
    const size_t end = lf > begin && text_[lf - 1] == '\r' ? lf - 1 : lf;
    lines_.push_back({begin, end});
    begin = lf + 1;
  }
  lines_.push_back({begin, text_.size()});
}

LineLayout LogView::LayoutOf(size_t lineIndex) const {
  const Line& line = lines_[lineIndex];
  return LineLayout(std::string_view(text_.data() + line.begin, line.end - line.begin), colours_,
                    static_cast<size_t>(columns_));
}

int LogView::LayOut(size_t lineIndex) {
  const LineLayout layout = LayoutOf(lineIndex);
  RowStart at;
  std::vector<RowStart> marks;
  int rows = 0;
  do {
    if (rows % kRowsPerMark == 0 && rows > 0) {
      if (marks.empty()) marks.push_back(RowStart{});
      marks.push_back(at);
    }
    at = layout.Row(at, nullptr);
    ++rows;
  } while (!layout.AtEnd(at));
  if (!marks.empty()) marks_[lineIndex] = std::move(marks);
  return rows;
}

RowStart LogView::RowStartOf(size_t lineIndex, int within) const {
  RowStart at;
  int row = 0;
  if (const auto marks = marks_.find(lineIndex); marks != marks_.end()) {
    const size_t m = std::min(static_cast<size_t>(within / kRowsPerMark), marks->second.size() - 1);
    at = marks->second[m];
    row = static_cast<int>(m) * kRowsPerMark;
  }
  const LineLayout layout = LayoutOf(lineIndex);
  for (; row < within; ++row) at = layout.Row(at, nullptr);
  return at;
}

void LogView::Rewrap() {
  marks_.clear();
  firstRow_.assign(1, 0);
  firstRow_.reserve(lines_.size() + 1);
  for (size_t i = 0; i < lines_.size(); ++i) firstRow_.push_back(firstRow_.back() + LayOut(i));
  UpdateScrollBar();
}

void LogView::VisitRows(int first, int count, const RowVisitor& visit) const {
  if (first < 0 || first >= firstRow_.back() || count <= 0) return;
  size_t li = LineAtRow(first);
  RowStart at = RowStartOf(li, first - firstRow_[li]);
  std::vector<LaidCell> laid;
  RowCells row;
  for (int r = first; r < std::min(first + count, firstRow_.back()); ++r) {
    const Line& line = lines_[li];
    const RowStart next = LayoutOf(li).Row(at, &laid);
    row.line = li;
    row.lastOfLine = r == firstRow_[li + 1] - 1;
    row.begin = line.begin + at.byte;
    row.end = row.lastOfLine ? line.end : line.begin + next.byte;
    row.cells.clear();
    for (const LaidCell& c : laid) row.cells.push_back({line.begin + c.byte, c.colour});
    visit(r, row);
    if (row.lastOfLine) {
      ++li;
      at = RowStart{};
    } else {
      at = next;
    }
  }
}

LogView::RowCells LogView::RowAt(int row) const {
  RowCells cells;
  VisitRows(row, 1, [&](int, const RowCells& r) { cells = r; });
  return cells;
}

LogView::Position LogView::PositionOf(size_t byte) const {
  byte = std::min(byte, text_.size());
  const size_t li = LineOf(byte);
  const Line& line = lines_[li];
  const size_t local = std::clamp(byte, line.begin, line.end) - line.begin;
  // From the last mark at or before the byte, the rows up to the one that holds it.
  RowStart at;
  int within = 0;
  if (const auto marks = marks_.find(li); marks != marks_.end()) {
    const auto after = std::upper_bound(marks->second.begin(), marks->second.end(), local,
                                        [](size_t b, const RowStart& m) { return b < m.byte; });
    const size_t m = static_cast<size_t>(std::max<std::ptrdiff_t>(0, after - marks->second.begin() - 1));
    at = marks->second[m];
    within = static_cast<int>(m) * kRowsPerMark;
  }
  const LineLayout layout = LayoutOf(li);
  const int rows = firstRow_[li + 1] - firstRow_[li];
  std::vector<LaidCell> laid;
  for (;; ++within) {
    const RowStart next = layout.Row(at, &laid);
    if (within >= rows - 1 || local < next.byte) break;
    at = next;
  }
  size_t column = 0;
  while (column < laid.size() && laid[column].byte < local) ++column;
  return {firstRow_[li] + within, column};
}

size_t LogView::ByteAt(int row, size_t column) const {
  const RowCells r = RowAt(std::clamp(row, 0, firstRow_.back() - 1));
  // Right after the cell before: the codes between two cells go with the text after them.
  if (column == 0) return r.begin;
  if (column <= r.cells.size()) return r.cells[column - 1].byte + 1;
  // Past a row's end: the line's end, or, where the line goes on below, before the row's last cell.
  return r.lastOfLine ? r.end : r.cells.back().byte;
}

size_t LogView::LineOf(size_t byte) const {
  auto it = std::upper_bound(lines_.begin(), lines_.end(), byte,
                             [](size_t b, const Line& line) { return b < line.begin; });
  return it == lines_.begin() ? 0 : static_cast<size_t>(it - lines_.begin() - 1);
}

size_t LogView::LineAtRow(int row) const {
  auto it = std::upper_bound(firstRow_.begin(), firstRow_.end() - 1, row);
  const size_t line = it == firstRow_.begin() ? 0 : static_cast<size_t>(it - firstRow_.begin() - 1);
  return std::min(line, lines_.size() - 1);
}

QString LogView::Text() const { return Latin1WithLineFeeds(text_); }

QString LogView::SelectedText() const {
  return Latin1WithLineFeeds(
      std::string_view(text_).substr(SelectionBegin(), SelectionEnd() - SelectionBegin()));
}

QStringList LogView::VisibleRows() const {
  QStringList rows;
  VisitRows(verticalScrollBar()->value(), VisibleRowCount(), [&](int, const RowCells& row) {
    QString s;
    for (const Cell& c : row.cells) s += Shown(static_cast<unsigned char>(text_[c.byte]));
    rows << s;
  });
  return rows;
}

int LogView::CharOffset(size_t byte) const {
  byte = std::min(byte, text_.size());
  const size_t line = LineOf(byte);
  // Every break before the line is one character, whatever its bytes.
  size_t breakBytes = 0;
  for (size_t i = 0; i < line; ++i) breakBytes += lines_[i + 1].begin - lines_[i].end - 1;
  return static_cast<int>(byte - breakBytes);
}

size_t LogView::ByteOffset(int chars) const {
  size_t left = static_cast<size_t>(std::max(chars, 0));
  for (const Line& line : lines_) {
    const size_t length = line.end - line.begin;
    if (left <= length || &line == &lines_.back()) return std::min(line.begin + left, line.end);
    left -= length + 1;
  }
  return text_.size();
}

// ---- selection and find

void LogView::Select(size_t begin, size_t end) {
  anchor_ = std::min(begin, text_.size());
  cursor_ = std::min(end, text_.size());
  viewport()->update();
}

void LogView::SelectAll() { Select(0, text_.size()); }

void LogView::Copy() const {
  if (SelectionBegin() != SelectionEnd()) QApplication::clipboard()->setText(SelectedText());
}

bool LogView::Find(const QString& needle, bool backward, Qt::CaseSensitivity cs) {
  if (needle.isEmpty()) return false;
  auto notFound = [this] {
    Select(SelectionBegin(), SelectionBegin());  // the last match is no longer shown as one
    return false;
  };
  // Latin-1 text holds no character above 0xFF: such a needle is nowhere.
  std::string key;
  for (QChar c : needle) {
    if (c.unicode() > 0xFF) return notFound();
    key += static_cast<char>(c.unicode());
  }
  auto fold = [cs](unsigned char c) {
    return cs == Qt::CaseSensitive ? c : static_cast<unsigned char>(QChar(c).toLower().unicode() & 0xFF);
  };
  auto equal = [&](char a, char b) {
    return fold(static_cast<unsigned char>(a)) == fold(static_cast<unsigned char>(b));
  };
  auto matchAt = [&](size_t at) {
    return at + key.size() <= text_.size() && std::equal(key.begin(), key.end(), text_.begin() + at, equal);
  };
  const size_t size = text_.size();
  if (key.size() > size) return notFound();
  const size_t last = size - key.size();  // the last place a match can start
  size_t found = std::string::npos;
  if (!backward) {
    const size_t start = SelectionBegin() != SelectionEnd() ? SelectionBegin() + 1 : SelectionEnd();
    for (size_t n = 0; n <= last && found == std::string::npos; ++n) {
      const size_t at = (start + n) % (last + 1);
      if (matchAt(at)) found = at;
    }
  } else {
    const size_t start = SelectionBegin() + last;  // one before the selection, wrapped
    for (size_t n = 0; n <= last && found == std::string::npos; ++n) {
      const size_t at = (start + (last + 1) - n % (last + 1)) % (last + 1);
      if (matchAt(at)) found = at;
    }
  }
  if (found == std::string::npos) return notFound();
  Select(found, found + key.size());
  ScrollToByte(found);
  return true;
}

// ---- scrolling

int LogView::VisibleRowCount() const { return std::max(1, viewport()->height() / rowHeight_); }

void LogView::UpdateScrollBar() {
  auto* bar = static_cast<QuietScrollBar*>(verticalScrollBar());
  const bool wasMoving = movingView_;
  movingView_ = true;
  bar->Hold();
  bar->setRange(0, std::max(0, firstRow_.back() - VisibleRowCount()));
  bar->setPageStep(VisibleRowCount());
  bar->setSingleStep(1);
  // Text that fits leaves nothing to scroll back to: the view is at the end, as after Clear Log.
  if (bar->maximum() == 0) followEnd_ = true;
  if (followEnd_) bar->setValue(bar->maximum());
  bar->Release();
  movingView_ = wasMoving;
}

void LogView::SetTopRow(int row) {
  const bool wasMoving = movingView_;
  movingView_ = true;
  verticalScrollBar()->setValue(row);
  movingView_ = wasMoving;
}

void LogView::ScrollToByte(size_t byte) {
  const int row = PositionOf(byte).row;
  QScrollBar* bar = verticalScrollBar();
  if (row < bar->value() || row >= bar->value() + VisibleRowCount())
    bar->setValue(row - VisibleRowCount() / 2);  // a move of the user's kind: following follows the bar
  viewport()->update();
}

void LogView::scrollContentsBy(int, int) { viewport()->update(); }

// ---- metrics and events

void LogView::UpdateMetrics() {
  const QFontMetrics m(font());
  cellWidth_ = std::max(1, m.horizontalAdvance(QLatin1Char('M')));
  rowHeight_ = std::max(1, m.lineSpacing());
  ascent_ = m.ascent();
  const Glyphs& glyphs = GlyphsOf(font());
  rawFont_ = glyphs.font;
  glyphs_ = glyphs.indexes;
  const int columns = std::max(1, viewport()->width() / cellWidth_);
  columns_ = columns;
  Rewrap();
}

void LogView::SetColours(bool on) {
  if (on == colours_) return;
  colours_ = on;
  Rewrap();
  viewport()->update();
}

void LogView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  const int columns = std::max(1, viewport()->width() / cellWidth_);
  if (columns != columns_) {
    columns_ = columns;
    Rewrap();
  } else {
    UpdateScrollBar();
  }
}

void LogView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) UpdateMetrics();
  if (event->type() == QEvent::PaletteChange) viewport()->update();
}

void LogView::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  const QPalette& pal = palette();
  const QColor base = pal.color(QPalette::Base);
  const QColor textColour = pal.color(QPalette::Text);
  p.fillRect(viewport()->rect(), base);
  const uint32_t baseRgb = base.rgb() & 0xFFFFFF, textRgb = textColour.rgb() & 0xFFFFFF;
  const size_t selBegin = SelectionBegin(), selEnd = SelectionEnd();
  const int top = verticalScrollBar()->value();
  const Position cursor = hasFocus() ? PositionOf(cursor_) : Position{-1, 0};
  QList<quint32> glyphs;
  QList<QPointF> positions;
  VisitRows(top, VisibleRowCount() + 1, [&](int row, const RowCells& laid) {
    const std::vector<Cell>& cells = laid.cells;
    const size_t li = laid.line;
    const int y = (row - top) * rowHeight_;
    // The selection, then the text in runs of one colour; selected text in the highlight's colour.
    for (size_t i = 0; i < cells.size(); ++i) {
      if (cells[i].byte >= selBegin && cells[i].byte < selEnd)
        p.fillRect(static_cast<int>(i) * cellWidth_, y, cellWidth_, rowHeight_,
                   pal.color(QPalette::Highlight));
    }
    // A selected line break shows as one cell at the line's end.
    const Line& line = lines_[li];
    if (laid.lastOfLine && line.end >= selBegin && line.end < selEnd && li + 1 < lines_.size())
      p.fillRect(static_cast<int>(cells.size()) * cellWidth_, y, cellWidth_, rowHeight_,
                 pal.color(QPalette::Highlight));
    size_t i = 0;
    while (i < cells.size()) {
      const bool selected = cells[i].byte >= selBegin && cells[i].byte < selEnd;
      const int colour = cells[i].colour;
      size_t j = i;
      glyphs.clear();
      positions.clear();
      QString run;
      while (j < cells.size() && cells[j].colour == colour &&
             (cells[j].byte >= selBegin && cells[j].byte < selEnd) == selected) {
        const auto byte = static_cast<unsigned char>(text_[cells[j].byte]);
        if (rawFont_.isValid()) {
          glyphs.append(glyphs_[byte]);
          positions.append(QPointF(static_cast<double>(j - i) * cellWidth_, 0));
        } else {
          run += Shown(byte);
        }
        ++j;
      }
      QColor pen = selected              ? pal.color(QPalette::HighlightedText)
                   : colour == kNoColour ? textColour
                                         : QColor(Rgb(ReadableColour(colour, baseRgb, textRgb)));
      p.setPen(pen);
      const QPointF at(static_cast<double>(i) * cellWidth_, y + ascent_);
      if (rawFont_.isValid()) {
        QGlyphRun glyphRun;
        glyphRun.setRawFont(rawFont_);
        glyphRun.setGlyphIndexes(glyphs);
        glyphRun.setPositions(positions);
        p.drawGlyphRun(at, glyphRun);
      } else {
        p.drawText(at, run);
      }
      i = j;
    }
    // The cursor, for selecting with the keyboard.
    if (cursor.row == row)
      p.fillRect(static_cast<int>(cursor.column) * cellWidth_, y, 1, rowHeight_, textColour);
  });
}

size_t LogView::HitTest(const QPoint& point) const {
  const int row = std::clamp(verticalScrollBar()->value() + point.y() / rowHeight_, 0, firstRow_.back() - 1);
  return ByteAt(row, static_cast<size_t>(std::max(0, (point.x() + cellWidth_ / 2) / cellWidth_)));
}

void LogView::MoveCursor(size_t to, bool extend) {
  cursor_ = std::min(to, text_.size());
  if (!extend) anchor_ = cursor_;
  ScrollToByte(cursor_);
  viewport()->update();
}

void LogView::keyPressEvent(QKeyEvent* event) {
  if (event == QKeySequence::Copy) {
    Copy();
    return;
  }
  if (event == QKeySequence::SelectAll) {
    SelectAll();
    return;
  }
  const bool extend = event->modifiers() & Qt::ShiftModifier;
  const bool control = event->modifiers() & Qt::ControlModifier;
  const size_t li = LineOf(cursor_);
  const Line& line = lines_[li];
  const Position at = PositionOf(cursor_);
  auto vertical = [&](int rowsBy) {
    // The same column on the row above or below, or that row's end.
    return ByteAt(std::clamp(at.row + rowsBy, 0, firstRow_.back() - 1), at.column);
  };
  switch (event->key()) {
    case Qt::Key_Left:
      if (at.column > 0) {
        MoveCursor(ByteAt(at.row, at.column - 1), extend);
      } else if (at.row > firstRow_[li]) {
        const RowCells above = RowAt(at.row - 1);  // wrapped: the last cell of the row above
        MoveCursor(above.cells.empty() ? above.begin : above.cells.back().byte, extend);
      } else if (li > 0) {
        MoveCursor(lines_[li - 1].end, extend);
      }
      return;
    case Qt::Key_Right: {
      const RowCells row = RowAt(at.row);
      if (at.column < row.cells.size()) {
        MoveCursor(row.cells[at.column].byte + 1, extend);
      } else if (!row.lastOfLine) {
        MoveCursor(row.end, extend);
      } else if (li + 1 < lines_.size()) {
        MoveCursor(lines_[li + 1].begin, extend);
      }
      return;
    }
    case Qt::Key_Up:
      MoveCursor(vertical(-1), extend);
      return;
    case Qt::Key_Down:
      MoveCursor(vertical(1), extend);
      return;
    case Qt::Key_PageUp:
      MoveCursor(vertical(-VisibleRowCount()), extend);
      return;
    case Qt::Key_PageDown:
      MoveCursor(vertical(VisibleRowCount()), extend);
      return;
    case Qt::Key_Home:
      MoveCursor(control ? 0 : line.begin, extend);
      return;
    case Qt::Key_End:
      MoveCursor(control ? text_.size() : line.end, extend);
      return;
    default:
      QAbstractScrollArea::keyPressEvent(event);
  }
}

void LogView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  setFocus(Qt::MouseFocusReason);
  selecting_ = true;
  cursor_ = HitTest(event->position().toPoint());
  if (!(event->modifiers() & Qt::ShiftModifier)) anchor_ = cursor_;
  viewport()->update();
}

void LogView::mouseMoveEvent(QMouseEvent* event) {
  if (!selecting_) return;
  const QPoint at = event->position().toPoint();
  // Dragging past the top or bottom scrolls a row at a time.
  if (at.y() < 0) verticalScrollBar()->setValue(verticalScrollBar()->value() - 1);
  if (at.y() >= viewport()->height()) verticalScrollBar()->setValue(verticalScrollBar()->value() + 1);
  cursor_ = HitTest(at);
  viewport()->update();
}

void LogView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && selecting_) {
    selecting_ = false;
    // As on X11: what is selected with the mouse is also the primary selection.
    if (QApplication::clipboard()->supportsSelection() && SelectionBegin() != SelectionEnd())
      QApplication::clipboard()->setText(SelectedText(), QClipboard::Selection);
  }
}

}  // namespace ov
