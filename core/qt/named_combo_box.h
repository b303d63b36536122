#pragma once
// A combo box that assistive technology names by its label (its accessible name), with its text as its
// value. A plain combo box is named by the text it holds on this platform, so that a screen reader would
// announce "localhost" or "standin" where the user needs to hear what the box is for.
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>

namespace ov {

class NamedComboBox : public QComboBox {
 public:
  explicit NamedComboBox(QWidget* parent = nullptr) : QComboBox(parent) {
    static const bool installed = (QAccessible::installFactory(Factory), true);
    (void)installed;
  }

 private:
  class Accessible : public QAccessibleWidget {
   public:
    explicit Accessible(QWidget* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}
    QString text(QAccessible::Text t) const override {
      if (t == QAccessible::Name) return widget()->accessibleName();
      if (t == QAccessible::Value) return static_cast<QComboBox*>(widget())->currentText();
      return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override {
      return QAccessibleWidget::actionNames() << QAccessibleActionInterface::showMenuAction();
    }
    void doAction(const QString& action) override {
      if (action == QAccessibleActionInterface::showMenuAction()) {
        static_cast<QComboBox*>(widget())->showPopup();
      } else {
        QAccessibleWidget::doAction(action);
      }
    }
  };
  static QAccessibleInterface* Factory(const QString& className, QObject* object) {
    if (className == QLatin1String("QComboBox") && dynamic_cast<NamedComboBox*>(object) != nullptr)
      return new Accessible(static_cast<QWidget*>(object));
    return nullptr;
  }
};

}  // namespace ov
