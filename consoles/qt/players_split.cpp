#include "consoles/qt/players_split.h"

#include <QResizeEvent>
#include <algorithm>

namespace ov {

PlayersSplit::PlayersSplit(QWidget* page, QWidget* panel, QWidget* parent)
    : QSplitter(Qt::Horizontal, parent), page_(page), panel_(panel) {
  setObjectName("PlayersSplit");
  setChildrenCollapsible(false);
  addWidget(page_);
  addWidget(panel_);
  page_->setMinimumWidth(kMinPage);
  panel_->setMinimumWidth(kMinPanel);
  setStretchFactor(0, 1);
  setStretchFactor(1, 0);
  panel_->hide();
  connect(this, &QSplitter::splitterMoved, this, [this] {
    const QList<int> now = sizes();
    const int total = now.value(0) + now.value(1);
    if (total > 0) share_ = double(now.value(1)) / total;
  });
}

void PlayersSplit::ShowPanel(bool shown, int grownBy, int width) {
  panel_->setVisible(shown);
  if (!shown) return;
  const int total = std::max(1, width - handleWidth());
  const int first = std::min(kFirstWidth, std::max(grownBy - handleWidth(), total / 3));
  share_ = double(first) / total;
  Apply();
}

void PlayersSplit::resizeEvent(QResizeEvent* event) {
  QSplitter::resizeEvent(event);
  Apply();
}

void PlayersSplit::Apply() {
  if (panel_->isHidden() || share_ <= 0) return;
  const int total = width() - handleWidth();
  if (total <= 0) return;
  const int panel = std::clamp(int(total * share_ + 0.5), std::min(kMinPanel, total / 2),
                               std::max(total - kMinPage, total / 2));
  setSizes({total - panel, panel});
}

}  // namespace ov
