#include "consoles/qt/log_view_accessible.h"

#include <QAccessibleWidget>

#include "consoles/qt/log_view.h"

namespace ov {

namespace {

// The view's text for assistive technology: its characters, selection and scrolling.
class LogViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit LogViewAccessible(LogView* view) : QAccessibleWidget(view, QAccessible::EditableText) {}
  LogView* View() const { return static_cast<LogView*>(widget()); }

  void* interface_cast(QAccessible::InterfaceType t) override {
    if (t == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
  }
  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.multiLine = true;
    s.selectableText = true;
    return s;
  }
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return View()->Text();
    return QAccessibleWidget::text(t);
  }

  void selection(int index, int* start, int* end) const override {
    *start = *end = 0;
    if (index != 0 || View()->SelectionBegin() == View()->SelectionEnd()) return;
    *start = View()->CharOffset(View()->SelectionBegin());
    *end = View()->CharOffset(View()->SelectionEnd());
  }
  int selectionCount() const override { return View()->SelectionBegin() == View()->SelectionEnd() ? 0 : 1; }
  void addSelection(int start, int end) override { setSelection(0, start, end); }
  void removeSelection(int) override { View()->Select(View()->SelectionEnd(), View()->SelectionEnd()); }
  void setSelection(int, int start, int end) override {
    View()->Select(View()->ByteOffset(start), View()->ByteOffset(end));
  }
  int cursorPosition() const override { return View()->CharOffset(View()->SelectionEnd()); }
  void setCursorPosition(int position) override {
    const size_t b = View()->ByteOffset(position);
    View()->Select(b, b);
  }
  QString text(int start, int end) const override { return View()->Text().mid(start, end - start); }
  int characterCount() const override { return static_cast<int>(View()->Text().size()); }
  QRect characterRect(int) const override { return QRect(); }
  int offsetAtPoint(const QPoint&) const override { return -1; }
  void scrollToSubstring(int start, int) override { View()->ScrollToByte(View()->ByteOffset(start)); }
  QString attributes(int offset, int* start, int* end) const override {
    *start = *end = offset;
    return QString();
  }
};

}  // namespace

QAccessibleInterface* LogViewFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("ov::LogView") && object && object->isWidgetType())
    return new LogViewAccessible(static_cast<LogView*>(object));
  return nullptr;
}

}  // namespace ov
