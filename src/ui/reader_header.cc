#include "ui/reader_header.h"

#include <QDateTime>
#include <algorithm>
#include <memory>

#include "html/bar_element.h"
#include "html/labelled_block_element.h"
#include "store/address_book.h"
#include "store/filetime.h"
#include "ui/link_target.h"
#include "ui/texts.h"
#include "ui/wide_text.h"

namespace quill {
namespace ui {
namespace {

constexpr int kSubjectLines = 5;
constexpr int kValueLineGap = 2;
constexpr int kFirstRowTopSpace = 3;
constexpr int kBottomSpace = 7;
constexpr int kLabelGap = 7;

const char* const kLabels[] = {text::kToLabel, text::kCcLabel, text::kDateLabel,
                               text::kFromLabel, text::kSubjectLabel};

QString OneLine(QString s) {
  for (QChar& c : s) {
    if (c == u'\n' || c == u'\r' || c == u'\t') c = u' ';
  }
  return s;
}

void AddAddressRows(const char* label, const std::vector<std::u16string>& list,
                    QStringList* shown, std::vector<HeaderRow>* rows) {
  for (const std::u16string& display : list) {
    HeaderRow row;
    QString address;
    row.label = T(label);
    row.value = ShownAddress(display, &address);
    if (row.value.isEmpty()) continue;
    if (!address.isEmpty()) row.target = "mailto:" + address;
    row.shows_label = shown->isEmpty();
    shown->append(row.value);
    rows->push_back(row);
  }
}

const std::u16string& Longer(const std::u16string& a, const std::u16string& b) {
  return b.size() > a.size() ? b : a;
}

}  // namespace

QString ShownAddress(const std::u16string& display, QString* address) {
  std::u16string name, addr;
  store::AddressBook::SplitDisplayAddress(display, &name, &addr);
  *address = OneLine(Qs(addr)).trimmed();
  const QString n = OneLine(Qs(name)).trimmed();
  if (address->isEmpty()) return n.isEmpty() ? OneLine(Qs(display)).trimmed() : n;
  return n.isEmpty() ? *address : n + " <" + *address + ">";
}

MailHeader ReadHeader(const store::MailRecord& mail, const store::MailFiles& files) {
  MailHeader header;
  AddAddressRows(text::kToLabel, files.to, &header.to, &header.rows);
  AddAddressRows(text::kCcLabel, files.cc, &header.cc, &header.rows);

  HeaderRow date;
  date.label = T(text::kDateLabel);
  date.shows_label = true;
  date.value = QDateTime::fromSecsSinceEpoch(store::SecondsFromFiletime(mail.date()))
                   .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
  header.rows.push_back(date);

  HeaderRow from;
  from.label = T(text::kFromLabel);
  from.shows_label = true;
  QString address;
  from.value = ShownAddress(Longer(mail.sender, files.sender), &address);
  if (!address.isEmpty()) from.target = "mailto:" + address;
  header.rows.push_back(from);

  HeaderRow subject;
  subject.label = T(text::kSubjectLabel);
  subject.shows_label = true;
  subject.value = OneLine(Qs(Longer(mail.subject, files.subject)));
  subject.max_lines = kSubjectLines;
  header.subject = subject.value;
  header.rows.push_back(subject);

  const size_t attachments = std::max<size_t>(mail.attach_count(), files.attachments.size());
  if (attachments > 0) {
    HeaderRow row;
    row.value = T(text::kAttachmentCount).arg(attachments);
    row.target = QLatin1String(kAttachmentTag);
    header.rows.push_back(row);
  }
  return header;
}

int LabelColumnWidth(const html::TextFont& font) {
  int widest = 0;
  std::vector<int> advances;
  for (const char* label : kLabels) {
    font.Advances(Us(T(label)), &advances);
    int width = 0;
    for (int a : advances) width += a;
    widest = std::max(widest, width);
  }
  return widest;
}

html::ElementList HeaderElements(const MailHeader& header, int label_width,
                                 const html::ViewColours& colours) {
  html::ElementList elements;
  for (size_t i = 0; i < header.rows.size(); ++i) {
    const HeaderRow& row = header.rows[i];
    auto block = std::make_unique<html::LabelledBlockElement>();
    block->background = colours.window;
    block->label_colour = kHeaderLabelColour;
    block->value_colour = row.disabled ? kHeaderDisabledColour : colours.window_text;
    if (row.shows_label) block->label = Us(row.label);
    block->value = Us(row.value);
    block->target = Us(row.target);
    block->label_width = label_width;
    block->line_gap = kValueLineGap;
    block->max_lines = row.max_lines;
    block->top_space = i == 0 ? kFirstRowTopSpace : 0;
    block->bottom_space = kBottomSpace;
    block->label_gap = kLabelGap;
    elements.push_back(std::move(block));
  }
  elements.push_back(std::make_unique<html::BarElement>(kHeaderSeparatorColour));
  elements.push_back(std::make_unique<html::BarElement>(colours.window, kHeaderSpacerHeight));
  return elements;
}

}  // namespace ui
}  // namespace quill
