#pragma once
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <array>

namespace ov {

// A scroll bar that repaints only when what it draws changes. A log that follows its end changes its
// range and value at every redraw, yet the slider (shortest, at the bottom) mostly stays where it was;
// repainting a styled bar each time cost more than drawing the log. Between Hold and Release the changes
// are taken without repainting, and Release repaints once if the bar looks different.
class QuietScrollBar : public QScrollBar {
 public:
  QuietScrollBar() : QScrollBar(Qt::Vertical) {}
  void Hold() { held_ = true; }
  void Release() {
    held_ = false;
    if (Look() != drawn_) update();
  }

 protected:
  void sliderChange(SliderChange change) override {
    if (!held_) QScrollBar::sliderChange(change);
  }
  void paintEvent(QPaintEvent* event) override {
    drawn_ = Look();
    QScrollBar::paintEvent(event);
  }

 private:
  // The slider's rectangle, and whether the bar is at either end (the arrows' look may depend on it).
  std::array<int, 6> Look() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect r = style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    return {r.y(), r.height(), r.x(), r.width(), value() == minimum(), value() == maximum()};
  }
  bool held_ = false;
  std::array<int, 6> drawn_{};
};

}  // namespace ov
