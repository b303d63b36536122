#pragma once
// What assistive technology reads of a console's log: its text, selection and scrolling, as an editable
// text that cannot be edited.
#include <QAccessibleInterface>
#include <QString>

class QObject;

namespace ov {

// For QAccessible::installFactory: the interface of a LogView, none for any other object.
QAccessibleInterface* LogViewFactory(const QString& className, QObject* object);

}  // namespace ov
