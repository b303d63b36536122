#pragma once
#include <QString>

namespace ov {

// A caption as the window system must be given it to show it unchanged: Qt takes "[*]" in a title for
// the modified-document mark and drops it, "[*][*]" for a literal "[*]".
inline QString LiteralTitle(QString caption) {
  caption.replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
  return caption;
}
// What a window set with LiteralTitle shows.
inline QString ShownTitle(QString title) {
  title.replace(QLatin1String("[*][*]"), QLatin1String("[*]"));
  return title;
}

}  // namespace ov
