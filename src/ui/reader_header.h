// The reader's header block: what it shows of a mail above the body, as
// rows of text (for dumps and the copy commands) and as the display
// elements the HTML view lays out before the body.
//
// Rows, in order: one per recipient ("收件人:"), one per copy recipient
// ("抄送:"), the date, the sender, the subject, and "[有N个附件]" when the
// mail has attachments; a label shows only on the first row of its kind.
// The sender and the subject are the longer of the record's text and the
// one the brief stored beside it.
#ifndef QUILL_UI_READER_HEADER_H_
#define QUILL_UI_READER_HEADER_H_

#include <QString>
#include <QStringList>
#include <vector>

#include "html/display_element.h"
#include "html/text_font.h"
#include "html/view_colours.h"
#include "store/mail_file_store.h"
#include "store/mail_record.h"

namespace quill {
namespace ui {

struct HeaderRow {
  QString label;         // the label of the row's kind; empty for the attachment row
  QString value;         // the text shown
  QString target;        // link target ("mailto:..." or the attachment tag); may be empty
  bool shows_label = false;  // the first row of its kind
  int max_lines = 2;     // value lines shown at most
  bool disabled = false; // greyed: its target does nothing now
};

struct MailHeader {
  std::vector<HeaderRow> rows;
  QStringList to;   // recipients as shown
  QStringList cc;   // copy recipients as shown
  QString subject;  // as shown
};

// Label colour, gaps and spaces of the rows.
inline constexpr uint32_t kHeaderLabelColour = 0x00666666;
inline constexpr uint32_t kHeaderDisabledColour = 0x00999999;
inline constexpr uint32_t kHeaderSeparatorColour = 0x00CCCCCC;
inline constexpr int kHeaderSpacerHeight = 7;

MailHeader ReadHeader(const store::MailRecord& mail, const store::MailFiles& files);

// "name <address>", or the address alone when there is no name.
QString ShownAddress(const std::u16string& display, QString* address);

// The width of the label column: the widest label in `font`.
int LabelColumnWidth(const html::TextFont& font);

// The rows as labelled blocks, then a separator bar and a spacer.
html::ElementList HeaderElements(const MailHeader& header, int label_width,
                                 const html::ViewColours& colours);

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_READER_HEADER_H_
