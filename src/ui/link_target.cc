#include "ui/link_target.h"

namespace quill {
namespace ui {

LinkAction ClassifyLink(const QString& target) {
  LinkAction action;
  const QString t = target.trimmed();
  if (t == QLatin1String(kAttachmentTag)) {
    action.kind = LinkAction::kAttachments;
    return action;
  }
  if (t.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive)) {
    QString address = t.mid(7);
    const qsizetype query = address.indexOf(u'?');
    if (query >= 0) address.truncate(query);
    address = QUrl::fromPercentEncoding(address.toUtf8()).trimmed();
    // One address, and nothing that could smuggle a header or a second line.
    for (QChar c : address) {
      if (c.unicode() < 0x20 || c == u',' || c == u';') return action;
    }
    if (address.isEmpty()) return action;
    action.kind = LinkAction::kMail;
    action.address = address;
    return action;
  }
  if (t.startsWith(QLatin1String("http:"), Qt::CaseInsensitive) ||
      t.startsWith(QLatin1String("https:"), Qt::CaseInsensitive)) {
    const QUrl url(t);
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && !url.host().isEmpty() &&
        (scheme == QLatin1String("http") || scheme == QLatin1String("https"))) {
      action.kind = LinkAction::kWeb;
      action.url = url;
    }
  }
  return action;
}

}  // namespace ui
}  // namespace quill
