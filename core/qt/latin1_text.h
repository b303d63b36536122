#pragma once
// Text is bytes; on screen each byte is one Latin-1 character, and typed text goes back the same way.
// A typed character beyond Latin-1 has no byte: such text is refused, never sent with a "?" for it.
// Text typed for a server (a console line, Send to Servers, the start dialog) is refused as well when it
// holds the bytes that start and end frames, 0xFE and 0xFD (thorn and y acute): the wire cannot carry them.
#include <QString>
#include <string>
#include <string_view>

#include "wire/frames.h"

namespace ov {

inline QString ToQt(std::string_view bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline bool IsLatin1(const QString& text) {
  for (const QChar c : text)
    if (c.unicode() > 0xFF) return false;
  return true;
}

// Only for text that IsLatin1 accepts, or whose other characters do not matter.
inline std::string FromQt(const QString& text) {
  const QByteArray bytes = text.toLatin1();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// Whether typed text can go to a server as it is.
inline bool IsSendable(const QString& text) { return IsLatin1(text) && IsPlainPayload(FromQt(text)); }

// The status note of a line or field that IsSendable refuses (bytes, shown as Latin-1).
inline constexpr const char* kNotLatin1Note =
    "Not sent - only Latin-1 characters other than \xFE and \xFD"
    " can be sent to the server";

}  // namespace ov
