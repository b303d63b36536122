#pragma once
// How a failing check prints Qt's values: texts as quoted text, flags by their number.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QFlags>
#include <QString>
#include <QStringList>
#include <ostream>
#include <string>
#include <vector>

#include "tests/common/printers.h"

inline void PrintTo(const QString& text, std::ostream* os) {
  *os << ::testing::PrintToString(text.toStdString());
}

inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
  *os << ::testing::PrintToString(bytes.toStdString());
}

inline void PrintTo(const QStringList& texts, std::ostream* os) {
  std::vector<std::string> all;
  for (const QString& text : texts) all.push_back(text.toStdString());
  *os << ::testing::PrintToString(all);
}

template <typename E>
void PrintTo(const QFlags<E>& flags, std::ostream* os) {
  *os << "0x" << std::hex << flags.toInt() << std::dec;
}
