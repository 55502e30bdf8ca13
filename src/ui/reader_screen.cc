#include "ui/reader_screen.h"

#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QMessageBox>
#include <QVBoxLayout>
#include <cstdint>

#include "html/html_text_extractor.h"
#include "store/global_settings.h"
#include "ui/commands.h"
#include "ui/handheld_screen.h"
#include "ui/handheld_style.h"
#include "ui/link_target.h"
#include "ui/main_window.h"
#include "ui/texts.h"
#include "ui/wide_text.h"

namespace quill {
namespace ui {
namespace {

// "PICSHOW" value that shows no pictures.
constexpr int kNoPictures = 1;
// Units of the body read before the first screen (many screens' worth).
constexpr size_t kFirstBodyUnits = 16384;

QString PlainText(const std::u16string& html) {
  QString text = Qs(html::HtmlToText(html));
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  return text;
}

}  // namespace

ReaderScreen::ReaderScreen(facade::MailService* service, MessageLoop* loop,
                           const html::TextFont* font, ReaderHooks hooks, QWidget* parent)
    : QDialog(parent),
      service_(service),
      font_(font),
      hooks_(std::move(hooks)),
      slices_([this](int32_t offset, int32_t version) {
        return service_->DoGetMailBody(mail_id_, offset, version);
      }) {
  setWindowTitle(T(text::kProduct));
  resize(parent != nullptr && parent->isVisible() ? parent->size() : HandheldSize());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  body_ = new BodyView(loop, font, this);
  layout->addWidget(body_, 1);
  status_ = AddStatusLine(layout, this);
  keys_ = new SoftKeyBar(this);
  layout->addWidget(keys_);
  BuildMenu();
  keys_->left()->setText(T(text::kBack));
  keys_->right()->setText(T(text::kMenu));
  keys_->SetRightMenu(menu_);
  QObject::connect(keys_->left(), &QPushButton::clicked, this, [this] { reject(); });
  label_width_ = LabelColumnWidth(*font_);
  body_->SetImageDisplay(service_->settings().Get(store::global_keys::kPicShow) != kNoPictures);
  body_->on_scrolled = [this](int64_t position) {
    slices_.Scrolled(position, body_->max_position());
  };
  // Once the first page shows, the rest of the body is read.
  body_->on_first_page = [this] {
    if (!catch_up_pending_) return;
    QTimer::singleShot(0, this, [this] {
      if (!catch_up_pending_) return;
      catch_up_pending_ = false;
      store::MailRecord now;
      store::MailFiles unused;
      if (ReadMail(&now, &unused)) CatchUp(now);
    });
  };
  body_->on_activate = [this](html::TapKind kind, const std::u16string& target) {
    Activate(kind, target);
  };
  slices_.on_blocking = [this](bool blocking) {
    body_->setEnabled(!blocking);
    status_->setText(blocking ? T(text::kFetchingBody) : QString());
    if (!blocking) body_->setFocus();
  };
  brief_sub_ = service_->SubscribeBriefDone(
      [this](const facade::FetchOutcome& outcome) { OnBriefDone(outcome); });
  body_sub_ = service_->SubscribeBodyDone(
      [this](const facade::FetchOutcome& outcome) { OnBodyDone(outcome); });
  layout->activate();  // the body's width is known before the first layout
  body_->setFocus();
}

ReaderScreen::~ReaderScreen() {
  service_->UnsubscribeBriefDone(brief_sub_);
  service_->UnsubscribeBodyDone(body_sub_);
  // The body outlives this object's members (Qt deletes children later).
  body_->on_scrolled = nullptr;
  body_->on_activate = nullptr;
  body_->on_first_page = nullptr;
}

QAction* ReaderScreen::AddCommand(uint32_t command, const char* label) {
  QAction* a = menu_->addAction(T(label));
  a->setData(command);
  QObject::connect(a, &QAction::triggered, this, [this, command] { RunMenuCommand(command); });
  return a;
}

void ReaderScreen::BuildMenu() {
  menu_ = new QMenu(this);
  AddCommand(kCmdReply, text::kReply);
  AddCommand(kCmdReplyAll, text::kReplyAll);
  AddCommand(kCmdForward, text::kForward);
  AddCommand(kCmdDelete, text::kDelete);
  menu_->addSeparator();
  AddCommand(kCmdPreviousMail, text::kPreviousMail);
  AddCommand(kCmdNextMail, text::kNextMail);
  menu_->addSeparator();
  AddCommand(kCmdCopyTo, text::kCopyTo);
  AddCommand(kCmdCopyCc, text::kCopyCc);
  AddCommand(kCmdCopySubject, text::kCopySubject);
  AddCommand(kCmdCopyBody, text::kCopyBody);
  menu_->addSeparator();
  AddCommand(kCmdDownloadBody, text::kDownloadBody);
  AddCommand(kCmdCloseReader, text::kBack);
  QObject::connect(menu_, &QMenu::aboutToShow, this, [this] { PrepareMenu(); });
}

void ReaderScreen::PrepareMenu() {
  for (QAction* a : menu_->actions()) {
    if (a->isSeparator()) continue;
    bool enabled = true;
    switch (a->data().toUInt()) {
      case kCmdReply:
      case kCmdReplyAll:
      case kCmdForward:
        enabled = static_cast<bool>(hooks_.compose);
        break;
      case kCmdPreviousMail:
      case kCmdNextMail:
        enabled = static_cast<bool>(hooks_.adjacent);
        break;
      case kCmdCopyTo:
        enabled = !header_.to.isEmpty();
        break;
      case kCmdCopyCc:
        enabled = !header_.cc.isEmpty();
        break;
      default:
        break;
    }
    a->setEnabled(enabled);
  }
}

BodySlices::Held ReaderScreen::HeldOf(const store::MailRecord& mail) {
  BodySlices::Held held;
  held.held = mail.local_body_length();
  held.total = mail.server_body_length();
  held.version = mail.body_version();
  return held;
}

bool ReaderScreen::ReadMail(store::MailRecord* mail, store::MailFiles* files) {
  store::AccountStore* store = service_->store();
  if (store == nullptr || mail_id_ == 0 || !store->mails()->ReadMail(mail_id_, mail)) return false;
  store->mails()->files()->LoadMailFiles(mail_id_, files, /*with_body=*/false);
  return true;
}

bool ReaderScreen::Open(uint32_t mail_id) {
  store::AccountStore* store = service_->store();
  if (store == nullptr || mail_id == 0 || !store->mails()->Contains(mail_id)) return false;
  mail_id_ = mail_id;
  store->MarkRead(mail_id);
  store::MailRecord mail;
  if (!store->mails()->ReadMail(mail_id, &mail)) return false;
  local_ = mail.server_id() == store::kLocalServerId;
  ShowAll();
  if (!local_ && mail.body_state() == store::kNoBody) {
    brief_outstanding_ = service_->DoGetMailBrief(mail_id);
  }
  return true;
}

void ReaderScreen::ShowAll() {
  store::MailRecord mail;
  store::MailFiles files;
  if (!ReadMail(&mail, &files)) return;
  header_ = ReadHeader(mail, files);
  for (HeaderRow& row : header_.rows) {
    if (row.target == QLatin1String(kAttachmentTag)) row.disabled = !hooks_.attachments;
  }
  slices_.SetHeld(HeldOf(mail));
  shown_version_ = mail.body_version();
  // The first screen needs only the beginning of a long body; the rest is
  // read once that screen shows.
  std::u16string first;
  service_->store()->mails()->files()->ReadBody(mail_id_, 0, kFirstBodyUnits, &first);
  catch_up_pending_ = true;
  body_->SetDocument(HeaderMaker(), std::move(first));
}

BodyView::HeaderMaker ReaderScreen::HeaderMaker() {
  return [this] { return HeaderElements(header_, label_width_, html::ViewColours()); };
}

void ReaderScreen::CatchUp(const store::MailRecord& mail) {
  catch_up_pending_ = false;
  std::u16string stored;
  service_->store()->mails()->files()->ReadBody(mail_id_, 0, SIZE_MAX, &stored);
  const std::u16string& shown = body_->body();
  if (mail.body_version() != shown_version_ || stored.size() < shown.size() ||
      stored.compare(0, shown.size(), shown) != 0) {
    shown_version_ = mail.body_version();
    body_->SetDocument(HeaderMaker(), std::move(stored));
  } else if (stored.size() > shown.size()) {
    body_->Append(std::u16string_view(stored).substr(shown.size()));
  }
  // A mail written here holds all of its body.
  if (local_) {
    const auto size = static_cast<uint32_t>(body_->body().size());
    slices_.SetHeld({size, size, mail.body_version()});
  }
}

void ReaderScreen::OnBriefDone(const facade::FetchOutcome& outcome) {
  if (outcome.mail_id != mail_id_) return;
  brief_outstanding_ = false;
  if (outcome.ok) ShowAll();
}

void ReaderScreen::OnBodyDone(const facade::FetchOutcome& outcome) {
  if (outcome.mail_id != mail_id_) return;
  store::MailRecord mail;
  store::MailFiles head;
  if (!ReadMail(&mail, &head)) {
    slices_.SliceDone(false, slices_.held());
    return;
  }
  CatchUp(mail);
  slices_.SliceDone(outcome.ok, HeldOf(mail));
}

void ReaderScreen::Activate(html::TapKind kind, const std::u16string& target) {
  if (kind != html::TapKind::kLink) return;
  const LinkAction action = ClassifyLink(Qs(target));
  switch (action.kind) {
    case LinkAction::kWeb:
      if (hooks_.open_url) {
        hooks_.open_url(action.url);
      } else {
        QDesktopServices::openUrl(action.url);
      }
      break;
    case LinkAction::kMail:
      if (hooks_.compose_to) {
        hooks_.compose_to(this, action.address);
        accept();
      }
      break;
    case LinkAction::kAttachments:
      if (hooks_.attachments) hooks_.attachments(this, mail_id_);
      break;
    case LinkAction::kNone:
      break;
  }
}

void ReaderScreen::Copy(const QString& text) {
  if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}

void ReaderScreen::AskDelete() {
  QMessageBox box(QMessageBox::Question, T(text::kProduct), T(text::kAskDelete),
                  QMessageBox::Yes | QMessageBox::No, this);
  if (box.exec() != QMessageBox::Yes) return;
  store::AccountStore* store = service_->store();
  if (store != nullptr && store->mails()->Contains(mail_id_)) {
    store->DeleteMailsAndQueue({mail_id_});
  }
  accept();
}

void ReaderScreen::Leave(int delta) {
  if (!hooks_.adjacent) return;
  hooks_.adjacent(delta);
  accept();
}

void ReaderScreen::RunMenuCommand(uint32_t command) {
  switch (command) {
    case kCmdReply:
    case kCmdReplyAll:
    case kCmdForward:
      if (hooks_.compose) {
        hooks_.compose(this, command, mail_id_);
        accept();
      }
      break;
    case kCmdDelete:
      AskDelete();
      break;
    case kCmdPreviousMail:
      Leave(-1);
      break;
    case kCmdNextMail:
      Leave(+1);
      break;
    case kCmdCopyTo:
      Copy(header_.to.join(QStringLiteral("; ")));
      break;
    case kCmdCopyCc:
      Copy(header_.cc.join(QStringLiteral("; ")));
      break;
    case kCmdCopySubject:
      Copy(header_.subject);
      break;
    case kCmdCopyBody:
      Copy(PlainText(body_->body()));
      break;
    case kCmdDownloadBody:
      slices_.FetchAll();
      break;
    case kCmdCloseReader:
      reject();
      break;
    default:
      break;
  }
}

void ReaderScreen::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Back) {
    reject();
    return;
  }
  QDialog::keyPressEvent(event);  // Escape closes
}

void ReaderScreen::DumpText(QStringList* lines) {
  lines->append("title: " + windowTitle());
  lines->append("keys: " + keys_->Text());
  lines->append("status: " + status_->text());
  for (const HeaderRow& row : header_.rows) {
    lines->append(row.label.isEmpty() ? row.value : row.label + " " + row.value);
  }
  const BodySlices::Held& held = slices_.held();
  lines->append(QStringLiteral("body: %1/%2").arg(held.held).arg(held.total));
  // The dump ends at its first empty line: the body's blank lines are left out.
  for (const QString& line : PlainText(body_->body()).split(u'\n')) {
    if (!line.trimmed().isEmpty()) lines->append(line);
  }
}

bool ReaderScreen::Busy() const {
  return body_->html().loading() || catch_up_pending_ || brief_outstanding_ ||
         slices_.outstanding();
}

bool ReaderScreen::RunCommand(uint32_t command, QString* why) {
  PrepareMenu();
  return TriggerCommand(menu_, command, QStringLiteral("menu 207"), why);
}

std::function<void(MainWindow*, uint32_t)> ReaderOpener(facade::MailService* service,
                                                        MessageLoop* loop,
                                                        const html::TextFont* font) {
  return [service, loop, font](MainWindow* window, uint32_t mail_id) {
    ReaderHooks hooks;
    hooks.adjacent = [window](int delta) { window->PostAdjacentMail(delta); };
    ReaderScreen reader(service, loop, font, std::move(hooks), window);
    if (reader.Open(mail_id)) reader.exec();
  };
}

}  // namespace ui
}  // namespace quill
