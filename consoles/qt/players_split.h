#pragma once
// A Quake server's console page and its players panel side by side, split where the user drags. The
// panel's first share leaves the log most of the window; after that its share of the width is kept when
// the window is resized (Tile, Cascade, a drag of the frame), so a small window keeps a usable log.
#include <QSplitter>

namespace ov {

class PlayersSplit : public QSplitter {
 public:
  static constexpr int kFirstWidth = 221;  // the panel at most, when first shown
  static constexpr int kMinPanel = 80;
  static constexpr int kMinPage = 120;

  PlayersSplit(QWidget* page, QWidget* panel, QWidget* parent);
  // Shows or hides the panel; shown, it takes what the window grew by for it, at least a third of the
  // width (the split's, once laid out) and at most kFirstWidth.
  void ShowPanel(bool shown, int grownBy, int width);
  double Share() const { return share_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Apply();  // the sizes for share_
  QWidget* page_;
  QWidget* panel_;
  double share_ = 0;  // the panel's part of the width
};

}  // namespace ov
