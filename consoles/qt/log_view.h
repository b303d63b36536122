#pragma once
// A console log on screen: a read-only, selectable view of a log's text that draws only the rows it
// shows. It keeps a copy of the text with an index of its lines, brought up to date from the log's
// counters (an append indexes the new tail only, a cut re-indexes), and word-wraps lines at the view's
// width in a monospaced grid (LineLayout), so a redraw costs the visible rows whatever the log holds,
// however long its lines. Bytes are shown as Latin-1; control characters show as a middle dot, and
// copies give the exact bytes. New text is announced to assistive technology as it arrives.
#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QRawFont>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "consoles/log_layout.h"

namespace ov {

class ConsoleLog;

class LogView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // New text is announced to assistive technology at most every kAnnounceMs, the newest
  // kAnnounceChars characters of it, as shown (codes hidden when colours are on).
  static constexpr int kAnnounceMs = 400;
  static constexpr int kAnnounceChars = 300;

  explicit LogView(QWidget* parent = nullptr);

  // Brings the view up to the log: the new tail when nothing was cut since the last call, else all.
  void CatchUp(const ConsoleLog& log);
  // Text arrived in the log: told to assistive technology whether or not the view is drawn, so that a
  // console covered by others or not focused is heard too. Costs the newest kAnnounceChars at most.
  void Heard(const ConsoleLog& log);
  // Shows the codes "^0".."^7" as colours and hides them, or shows the text as it is.
  void SetColours(bool on);
  bool Colours() const { return colours_; }

  // The text held, as copied: Latin-1, each CR LF as one "\n".
  QString Text() const;
  // The rows drawn now, top to bottom, as shown (codes hidden when colours are on).
  QStringList VisibleRows() const;
  // Whether the view keeps to the end of the text as it grows; scrolling up stops it, back down resumes.
  bool FollowsEnd() const { return followEnd_; }

  // The selection as byte offsets into the text, begin <= end.
  size_t SelectionBegin() const { return std::min(anchor_, cursor_); }
  size_t SelectionEnd() const { return std::max(anchor_, cursor_); }
  QString SelectedText() const;
  void Select(size_t begin, size_t end);
  void SelectAll();
  void Copy() const;

  // Finds text after the selection (or before it), wrapping at the end, selects the match and scrolls
  // to it. Case-insensitive unless asked. Looks at the exact text, codes included. False if none.
  bool Find(const QString& needle, bool backward = false, Qt::CaseSensitivity cs = Qt::CaseInsensitive);

  // For the accessibility interface: character offsets in Text() and byte offsets in the text.
  int CharOffset(size_t byte) const;
  size_t ByteOffset(int chars) const;
  void ScrollToByte(size_t byte);

 signals:
  // New text told to assistive technology (as a text insertion of the view, while one listens).
  void announced(const QString& text);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  struct Line {
    size_t begin, end;  // bytes of the line, its break excluded
  };
  struct Cell {
    size_t byte;
    int colour;
  };
  // A row as laid out: its line, its bytes [begin, end) in the text and its cells.
  struct RowCells {
    size_t line = 0;
    bool lastOfLine = true;
    size_t begin = 0, end = 0;
    std::vector<Cell> cells;
  };
  struct Position {
    int row;
    size_t column;
  };
  using RowVisitor = std::function<void(int row, const RowCells& cells)>;
  // Long lines keep where every kRowsPerMark-th row starts, so that any row is laid out from a mark
  // at most this many rows above it.
  static constexpr int kRowsPerMark = 32;

  void IndexFrom(size_t lineIndex);  // re-indexes the lines from this one to the text's end
  void Rewrap();                     // the rows of every line, after a change of width or colours
  LineLayout LayoutOf(size_t lineIndex) const;
  int LayOut(size_t lineIndex);  // the rows of a line, keeping the marks of a long one
  RowStart RowStartOf(size_t lineIndex, int within) const;
  // Lays out count rows from first on, each once, and hands them to visit.
  void VisitRows(int first, int count, const RowVisitor& visit) const;
  RowCells RowAt(int row) const;
  Position PositionOf(size_t byte) const;  // the row and column where a byte is drawn
  size_t ByteAt(int row, size_t column) const;
  size_t LineOf(size_t byte) const;
  size_t LineAtRow(int row) const;
  size_t HitTest(const QPoint& point) const;
  int VisibleRowCount() const;
  void UpdateScrollBar();
  void SetTopRow(int row);
  void MoveCursor(size_t to, bool extend);
  void UpdateMetrics();
  void KeepBeforeHeard(std::string_view gone);  // the last two bytes before what is still to be read
  QString HeardAsShown();                       // what is still to be read, as shown; then nothing is
  void SendAnnouncement();

  std::string text_;
  std::vector<Line> lines_{Line{0, 0}};
  std::vector<int> firstRow_{0, 1};                // the first row of each line, then the number of rows
  std::map<size_t, std::vector<RowStart>> marks_;  // by line, for lines of more than kRowsPerMark rows
  int columns_ = 80;
  int cellWidth_ = 8, rowHeight_ = 16, ascent_ = 12;
  QRawFont rawFont_;
  std::array<quint32, 256> glyphs_{};
  bool colours_ = false;
  bool followEnd_ = true;
  bool movingView_ = false;  // the view moves by our own doing, not the user's
  bool selecting_ = false;
  size_t anchor_ = 0, cursor_ = 0;
  uint64_t shownCuts_ = 0, shownAppended_ = 0;
  uint64_t heardAppended_ = 0;
  std::string heardBytes_;   // arrived and not yet read, the newest 4 * kAnnounceChars bytes at most
  std::string beforeHeard_;  // the two bytes before them
  QTimer announceTimer_;
  QElapsedTimer sinceAnnounced_;
};

}  // namespace ov
