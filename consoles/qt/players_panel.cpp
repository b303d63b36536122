#include "consoles/qt/players_panel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QHostInfo>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QTimerEvent>
#include <QToolButton>
#include <QTreeWidget>
#include <QUdpSocket>
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
  column->addWidget(list_, 1);

  connect(address_, &QToolButton::clicked, this, &PlayersPanel::AskTarget);
  connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QTreeWidgetItem* item = list_->itemAt(at);
    if (!item) return;
    // The list may change while the menu is open: the kick is for the player it was opened on.
    const std::string name = FromQt(item->data(0, kNameRole).toString());
    QMenu menu;  // not the panel's: the panel may go while the menu is open
    QAction* kick = menu.addAction("&Kick");
    kick->setObjectName("mnuKickPlayer");
    std::vector<std::string> names;
    for (int row = 0; row < list_->topLevelItemCount(); ++row)
      names.push_back(FromQt(list_->topLevelItem(row)->data(0, kNameRole).toString()));
    kick->setEnabled(KickLine(name).has_value() && !KickReachesAnother(name, names));
    QPointer<PlayersPanel> self(this);
    if (menu.exec(list_->viewport()->mapToGlobal(at)) == kick && self) AskKick(name);
  });
}

PlayersPanel::~PlayersPanel() = default;

void PlayersPanel::SetTarget(const StatusTarget& target) {
  if (target == target_) return;
  target_ = target;
  if (Querying()) {
    Stop();
    Start();
  }
}

void PlayersPanel::SetColourCodes(bool on) {
  colours_ = on;
  static_cast<ColourNameDelegate*>(list_->itemDelegateForColumn(0))->colours = on;
  list_->viewport()->update();
}

QString PlayersPanel::Summary() const { return summary_->text(); }

void PlayersPanel::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!Querying()) Start();
}

void PlayersPanel::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  Stop();
  SetSummary(QString());
  list_->clear();
}

void PlayersPanel::Start() {
  socket_ = new QUdpSocket(this);
  socket_->bind(QHostAddress(QHostAddress::AnyIPv4), 0);
  connect(socket_, &QUdpSocket::readyRead, this, &PlayersPanel::ReadAnswers);
  timer_ = startTimer(kRefreshMs);
  asked_ = false;
  resolved_.clear();
  address_->setToolTip("Status query to " + ToQt(target_.Text()));
  const QHostAddress literal(ToQt(target_.host));
  if (!literal.isNull()) {
    Resolved(literal);
    return;
  }
  // A host name is looked up without holding the window; the query goes once it is known.
  lookup_ = QHostInfo::lookupHost(ToQt(target_.host), this, [this](const QHostInfo& info) {
    if (info.lookupId() != lookup_) return;
    lookup_ = -1;
    for (const QHostAddress& a : info.addresses()) {
      if (a.protocol() == QAbstractSocket::IPv4Protocol) return Resolved(a);
    }
    if (!info.addresses().isEmpty()) return Resolved(info.addresses().front());  // IPv6 only
    ShowNoAnswer();
  });
}

void PlayersPanel::Stop() {
  if (lookup_ != -1) QHostInfo::abortHostLookup(lookup_);
  lookup_ = -1;
  if (timer_ != 0) killTimer(timer_);
  timer_ = 0;
  delete socket_;
  socket_ = nullptr;
}

void PlayersPanel::Resolved(const QHostAddress& address) {
  resolved_ = address;
  if (address.protocol() == QAbstractSocket::IPv6Protocol) {
    // The socket was bound for IPv4, which every machine has: an IPv6 server is asked from IPv6.
    socket_->close();
    socket_->bind(QHostAddress(QHostAddress::AnyIPv6), 0);
  }
  Query();
}

void PlayersPanel::timerEvent(QTimerEvent* event) {
  if (event->timerId() != timer_) return QWidget::timerEvent(event);
  if (asked_ || resolved_.isNull()) ShowNoAnswer();
  Query();
}

void PlayersPanel::Query() {
  if (!socket_ || resolved_.isNull()) return;
  socket_->writeDatagram(kStatusRequest.data(), qint64(kStatusRequest.size()), resolved_,
                         quint16(target_.port));
  asked_ = true;
}

void PlayersPanel::ReadAnswers() {
  // Every datagram is read, and dropped unless it comes from where the query went and meets a query not
  // yet answered: one answer per query, however many come. One larger than an answer can be is read only
  // as far as that. A flood is read a batch at a time: the window's other events run between batches.
  constexpr int kReadsAtOnce = 64;
  QByteArray buffer(qsizetype(kMaxStatusPacket) + 1, Qt::Uninitialized);
  for (int read = 0; read < kReadsAtOnce && socket_ && socket_->hasPendingDatagrams(); ++read) {
    QHostAddress from;
    quint16 port = 0;
    const qint64 got = socket_->readDatagram(buffer.data(), buffer.size(), &from, &port);
    if (got < 0 || !asked_ || port != target_.port ||
        !from.isEqual(resolved_, QHostAddress::ConvertV4MappedToIPv4))
      continue;
    if (std::optional<ServerStatus> status =
            ParseStatusResponse(std::string_view(buffer.constData(), size_t(got)))) {
      asked_ = false;
      Show(*status);
    }
  }
}

void PlayersPanel::Show(const ServerStatus& status) {
  SetSummary(ToQt(PlayerCountText(status)));
  list_->setUpdatesEnabled(false);
  // The rows are kept where the same players stay, so a selection and an open menu keep their place.
  while (list_->topLevelItemCount() > int(status.players.size()))
    delete list_->takeTopLevelItem(list_->topLevelItemCount() - 1);
  for (size_t i = 0; i < status.players.size(); ++i) {
    const PlayerStatus& p = status.players[i];
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

void PlayersPanel::ShowNoAnswer() {
  SetSummary(kNoAnswer);
  list_->clear();
}

void PlayersPanel::SetSummary(const QString& text) {
  // The map's name is the game server's: a tool tip shows it as plain text, never as markup.
  summary_->setToolTip(Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap)
                                                 : text);
  if (text == summary_->text()) return;
  summary_->setText(text);
  emit summaryChanged(text);
}

void PlayersPanel::AskKick(const std::string& name) {
  const std::optional<std::string> line = KickLine(name);
  if (!line) return;
  QMessageBox box(QMessageBox::Question, "Kick", QString("Kick %1 from the server?").arg(ToQt(name)),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::No);
  QPointer<PlayersPanel> self(this);
  if (box.exec() != QMessageBox::Yes || !self) return;
  emit kickRequested(*line);
}

void PlayersPanel::AskTarget() {
  QInputDialog dialog(this);
  dialog.setWindowTitle("Status query");
  dialog.setLabelText("The game server's status query, HOST or HOST:PORT:");
  dialog.setTextValue(ToQt(target_.Text()));
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

}  // namespace ov
