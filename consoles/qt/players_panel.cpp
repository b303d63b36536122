#include "consoles/qt/players_panel.h"

#include <QAccessible>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <vector>

#include "consoles/colour_codes.h"
#include "consoles/log_layout.h"
#include "core/qt/latin1_text.h"

namespace ov {

namespace {

constexpr int kNameRole = Qt::UserRole;  // the name's exact bytes, as Latin-1

// Draws a name's colour codes as the logs draw them: the codes hidden, the text in their colours.
class ColourNameDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  bool colours = false;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (!colours) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const std::string name = FromQt(index.data(kNameRole).toString());
    opt.text.clear();
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : nullptr;
    if (style) style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    const QRect text = style ? style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget) : opt.rect;
    const bool selected = opt.state & QStyle::State_Selected;
    const QColor base = opt.palette.color(QPalette::Base);
    const QColor plain = opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    std::vector<LaidCell> cells;
    LineLayout(name, true, name.size() + 1).Row(RowStart{}, &cells);
    painter->save();
    painter->setClipRect(text);
    painter->setFont(opt.font);
    const QFontMetrics metrics(opt.font);
    int x = text.left() + 2;
    const int y = text.top() + (text.height() + metrics.ascent() - metrics.descent()) / 2;
    for (size_t i = 0; i < cells.size();) {
      size_t j = i;
      QString run;
      while (j < cells.size() && cells[j].colour == cells[i].colour)
        run += QChar(uchar(name[cells[j++].byte]));
      const int colour = cells[i].colour;
      painter->setPen(
          selected || colour == kNoColour
              ? plain
              : QColor(QRgb(ReadableColour(colour, base.rgb() & 0xFFFFFF, plain.rgb() & 0xFFFFFF))));
      painter->drawText(x, y, run);
      x += metrics.horizontalAdvance(run);
      i = j;
    }
    painter->restore();
  }
};

}  // namespace

PlayersPanel::PlayersPanel(QWidget* parent) : QWidget(parent) {
  setObjectName("PlayersPanel");
  setAccessibleName("Players and map");
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(2);
  auto* row = new QHBoxLayout;
  summary_ = new QLabel(this);
  summary_->setObjectName("PlayersSummary");
  summary_->setTextFormat(Qt::PlainText);
  summary_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  address_ = new QToolButton(this);
  address_->setObjectName("PlayersQueryAddress");
  address_->setText("Query…");
  address_->setToolTip("Where the game server answers its status query");
  address_->setFocusPolicy(Qt::NoFocus);
  row->addWidget(summary_, 1);
  row->addWidget(address_);
  column->addLayout(row);
  list_ = new QTreeWidget(this);
  list_->setObjectName("PlayersList");
  list_->setAccessibleName("Players");
  list_->setColumnCount(3);
  list_->setHeaderLabels({"Name", "Score", "Ping"});
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  list_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  list_->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  list_->setItemDelegateForColumn(0, new ColourNameDelegate(list_));
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  list_->setMinimumWidth(0);
  column->addWidget(list_, 1);
  plot_ = new PlayersPlot(this);
  column->addWidget(plot_);

  connect(address_, &QToolButton::clicked, this, &PlayersPanel::AskTarget);
  connect(list_, &QWidget::customContextMenuRequested, this, &PlayersPanel::OpenMenu);
}

PlayersPanel::~PlayersPanel() = default;

void PlayersPanel::Attach(std::unique_ptr<StatusQuery> query) {
  Detach();
  query_ = std::move(query);
  if (!query_) return;
  query_->SetTarget(target_);
  query_->SetChangedHandler([this] { Refresh(); });
  plot_->SetQuery(query_.get());
  if (isVisible()) query_->Start();
}

void PlayersPanel::Detach() {
  if (!query_) return;
  target_ = query_->Target();
  plot_->SetQuery(nullptr);
  query_.reset();
  Refresh();
}

void PlayersPanel::End() {
  if (query_) query_->End();
}

void PlayersPanel::SetTarget(const StatusTarget& target) {
  target_ = target;
  if (query_) query_->SetTarget(target);
}

const StatusTarget& PlayersPanel::Target() const { return query_ ? query_->Target() : target_; }

void PlayersPanel::SetColourCodes(bool on) {
  colours_ = on;
  static_cast<ColourNameDelegate*>(list_->itemDelegateForColumn(0))->colours = on;
  list_->viewport()->update();
}

QString PlayersPanel::Summary() const { return summary_->text(); }

void PlayersPanel::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  address_->setToolTip("Status query to " + ToQt(Target().Text()));
  if (query_) query_->Start();
}

void PlayersPanel::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (query_) query_->Stop();
  Refresh();
}

void PlayersPanel::Refresh() {
  const StatusQuery::Shown shown = query_ ? query_->State() : StatusQuery::Shown::Nothing;
  if (shown == StatusQuery::Shown::Answer) {
    SetSummary(ToQt(PlayerCountText(query_->Status())));
    ShowPlayers(query_->Status());
    plot_->Changed();
    return;
  }
  SetSummary(shown == StatusQuery::Shown::NoAnswer ? kNoAnswer : QString());
  players_.clear();
  list_->clear();
}

void PlayersPanel::ShowPlayers(const ServerStatus& status) {
  players_ = status.players;
  list_->setUpdatesEnabled(false);
  // The rows are kept where the same players stay, so a selection and an open menu keep their place.
  while (list_->topLevelItemCount() > int(players_.size()))
    delete list_->takeTopLevelItem(list_->topLevelItemCount() - 1);
  for (size_t i = 0; i < players_.size(); ++i) {
    const PlayerStatus& p = players_[i];
    QTreeWidgetItem* item = list_->topLevelItem(int(i));
    if (!item) {
      item = new QTreeWidgetItem(list_);
      item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
      item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    }
    item->setData(0, kNameRole, ToQt(p.name));
    item->setText(0, ToQt(p.name));
    item->setText(1, QString::number(p.score));
    item->setText(2, QString::number(p.ping));
  }
  list_->setUpdatesEnabled(true);
}

void PlayersPanel::SetSummary(const QString& text) {
  // The map's name is the game server's: a tool tip shows it as plain text, never as markup.
  summary_->setToolTip(Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap)
                                                 : text);
  if (text == summary_->text()) return;
  summary_->setText(text);
  emit summaryChanged(text);
}

void PlayersPanel::OpenMenu(const QPoint& at) {
  QTreeWidgetItem* item = list_->itemAt(at);
  const int row = item ? list_->indexOfTopLevelItem(item) : -1;
  if (row < 0 || row >= int(players_.size())) return;
  // The list may change while the menu is open: the kick is for the player it was opened on.
  const PlayerStatus player = players_[size_t(row)];
  const KickVerdict verdict = KickPlayer(player, players_);
  QMenu menu;  // not the panel's: the panel may go while the menu is open
  menu.setToolTipsVisible(true);
  QAction* kick = menu.addAction("&Kick");
  kick->setObjectName("mnuKickPlayer");
  kick->setEnabled(verdict.line.has_value());
  if (!verdict.line) {
    // Why not, where the eye and a screen reader both find it: on the item and as a line of its own.
    kick->setToolTip(ToQt(verdict.refusal));
    kick->setStatusTip(ToQt(verdict.refusal));
    QAction* why = menu.addAction(ToQt(verdict.refusal));
    why->setObjectName("mnuKickRefusal");
    why->setEnabled(false);
  }
  QPointer<PlayersPanel> self(this);
  if (menu.exec(list_->viewport()->mapToGlobal(at)) == kick && self && verdict.line)
    Confirm(player, *verdict.line);
}

void PlayersPanel::AskKick(const std::string& name) {
  const auto player =
      std::find_if(players_.begin(), players_.end(), [&](const PlayerStatus& p) { return p.name == name; });
  if (player == players_.end()) return;
  const KickVerdict verdict = KickPlayer(*player, players_);
  if (verdict.line) Confirm(*player, *verdict.line);
}

void PlayersPanel::Confirm(const PlayerStatus& player, const std::string& line) {
  const std::string shown = colours_ ? StripColourCodes(player.name) : player.name;
  QMessageBox box(QMessageBox::Question, "Kick", QString("Kick %1 from the server?").arg(ToQt(shown)),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::No);
  QPointer<PlayersPanel> self(this);
  if (box.exec() != QMessageBox::Yes || !self) return;
  emit kickRequested(line);
}

void PlayersPanel::AskTarget() {
  QInputDialog dialog(this);
  dialog.setWindowTitle("Status query");
  dialog.setLabelText("The game server's status query, HOST or HOST:PORT:");
  dialog.setTextValue(ToQt(Target().Text()));
  QPointer<PlayersPanel> self(this);
  if (dialog.exec() != QDialog::Accepted || !self) return;
  const std::optional<StatusTarget> target = ParseStatusTarget(FromQt(dialog.textValue()));
  if (!target) {
    QMessageBox::warning(this, "Status query", "Not an address: give HOST or HOST:PORT.");
    return;
  }
  SetTarget(*target);
  emit targetChosen(*target);
}

// ---- PlayersPlot

PlayersPlot::PlayersPlot(QWidget* parent) : QWidget(parent) {
  setObjectName("PlayersPlot");
  setAccessibleName("Players over the last 24 hours");
  setFixedHeight(36);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

QString PlayersPlot::Figures() const {
  if (!query_ || query_->History().Empty()) return "Last 24 hours: no player count heard yet";
  const PlayerHistory::Figures f = query_->History().Over24Hours(query_->Now());
  if (f.samples == 0) return "Last 24 hours: no player count heard yet";
  return QString("Last 24 hours: peak %1, average %2 players").arg(f.peak).arg(f.average, 0, 'f', 1);
}

QString PlayersPlot::TimeLabel(const QTime& now) const {
  if (!query_ || query_->History().Empty()) return QString();
  for (int ago = PlayerHistory::kMinutes - 1; ago >= 0; --ago) {
    if (query_->History().At(query_->Now(), ago).samples == 0) continue;
    return ago == PlayerHistory::kMinutes - 1 ? QString("last 24 hours")
                                              : "since " + now.addSecs(-60 * ago).toString("HH:mm");
  }
  return QString();
}

void PlayersPlot::Changed() {
  if (!isVisible()) return;
  update();
  setAccessibleDescription(Figures());
}

bool PlayersPlot::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), Figures(), this);
    return true;
  }
  return QWidget::event(event);
}

void PlayersPlot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect frame = rect().adjusted(0, 0, -1, -1);
  painter.fillRect(frame, palette().color(QPalette::Base));
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(frame);
  if (!query_ || query_->History().Empty() || frame.width() < 3) return;
  painter.setPen(palette().color(QPalette::PlaceholderText));
  QFont small = font();
  if (small.pointSizeF() > 0) small.setPointSizeF(small.pointSizeF() * 0.8);
  painter.setFont(small);
  painter.drawText(frame.adjusted(3, 1, -3, -1), Qt::AlignLeft | Qt::AlignTop,
                   TimeLabel(QTime::currentTime()));
  const PlayerHistory& history = query_->History();
  const Clock::time_point now = query_->Now();
  const int columns = frame.width() - 1;
  const int height = frame.height() - 2;
  // Each column the peak of its minutes, the oldest at the left; the scale is the limit when known.
  std::vector<int> peaks(size_t(columns), -1);
  int top = std::max(1, query_->Status().maxClients);
  for (int ago = 0; ago < PlayerHistory::kMinutes; ++ago) {
    const PlayerHistory::Minute m = history.At(now, ago);
    if (m.samples == 0) continue;
    const int column = columns - 1 - ago * columns / PlayerHistory::kMinutes;
    peaks[size_t(column)] = std::max<int>(peaks[size_t(column)], m.peak);
    top = std::max<int>(top, m.peak);
  }
  painter.setPen(palette().color(QPalette::Highlight));
  for (int x = 0; x < columns; ++x) {
    if (peaks[size_t(x)] < 0) continue;
    const int bar = std::max(1, peaks[size_t(x)] * height / top);
    painter.drawLine(frame.left() + 1 + x, frame.bottom() - 1, frame.left() + 1 + x, frame.bottom() - bar);
  }
}

}  // namespace ov
