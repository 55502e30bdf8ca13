// Conversions between the UTF-16 strings below the screens and Qt's.
#ifndef QUILL_UI_WIDE_TEXT_H_
#define QUILL_UI_WIDE_TEXT_H_

#include <QString>
#include <string>
#include <string_view>

namespace quill {
namespace ui {

inline QString Qs(std::u16string_view s) {
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

inline std::u16string Us(const QString& s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()),
                        static_cast<size_t>(s.size()));
}

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_WIDE_TEXT_H_
