// What the reader does with a link target taken from a mail (hostile input).
// Only three schemes are acted on, compared without regard to case after
// the blanks around the target are trimmed: "http:" and "https:" open in
// the desktop's browser, "mailto:" writes to the address. The header's
// attachment row carries a fixed tag. Anything else (javascript:, file:,
// data:, a relative path...) does nothing.
#ifndef QUILL_UI_LINK_TARGET_H_
#define QUILL_UI_LINK_TARGET_H_

#include <QString>
#include <QUrl>

namespace quill {
namespace ui {

// The target of the header row that lists the attachments.
inline constexpr char kAttachmentTag[] = "LUMAIL_ATTACHMENT_TAG";

struct LinkAction {
  enum Kind { kNone, kWeb, kMail, kAttachments };
  Kind kind = kNone;
  QUrl url;         // kWeb: a valid http or https URL
  QString address;  // kMail: the address (percent-decoding undone, no query)
};

LinkAction ClassifyLink(const QString& target);

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_LINK_TARGET_H_
