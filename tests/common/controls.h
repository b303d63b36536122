#pragma once
// Controls found as the user finds them: by the name the window gives them. A control that is not there,
// or not there once, fails the test at once, naming it, instead of crashing it.
#include <gtest/gtest.h>

#include <QObject>
#include <QString>
#include <stdexcept>
#include <string>

namespace ov::test {

// The one T named name within root (root itself is not looked at).
template <class T>
T* Find(const QObject& root, const QString& name) {
  const QList<T*> found = root.findChildren<T*>(name);
  if (found.size() == 1) return found.front();
  const std::string what = std::string(found.isEmpty() ? "no " : "more than one ") +
                           T::staticMetaObject.className() + " \"" + name.toStdString() + "\" in " +
                           root.metaObject()->className() + " \"" + root.objectName().toStdString() + "\"";
  ADD_FAILURE() << what;
  throw std::logic_error(what);  // the test goes no further
}

}  // namespace ov::test
