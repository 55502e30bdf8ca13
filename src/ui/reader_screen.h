// The reader (dialog 202, menu 207): one mail, a header block of labelled
// rows (recipients, copy recipients, date, sender, subject, attachments)
// above the body, both laid out and painted by our HTML view. It asks the
// facade for the brief of a mail that has none, and for the rest of a long
// body in slices (see body_slices.h): quietly when scrolled two thirds
// down, as a blocking fetch with the view disabled when scrolled to the end
// or by "下载全部正文".
//
// Menu 207: reply, reply to all, forward (through the compose hook;
// disabled without it), delete (asks first, then deletes as the main
// window does and closes), copy recipients / copy recipients / subject /
// body to the clipboard, previous / next (asks the main window, then
// closes), "下载全部正文", and "返回". Escape (the back key) closes too.
//
// Links in the header and the body: see link_target.h. Web links open in
// the desktop's browser, mailto links in the compose screen (hook), the
// attachment row in the attachment list (hook; greyed and inert without
// it); anything else does nothing.
//
// Opening a mail marks it read. A reader closed while a slice request runs
// leaves it to complete into the store.
//
// Threading: UI thread only; service, loop and font outlive the screen.
#ifndef QUILL_UI_READER_SCREEN_H_
#define QUILL_UI_READER_SCREEN_H_

#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QUrl>
#include <cstdint>
#include <functional>

#include "facade/mail_service.h"
#include "html/text_font.h"
#include "platform/message_loop.h"
#include "ui/body_slices.h"
#include "ui/body_view.h"
#include "ui/reader_header.h"
#include "ui/screen.h"
#include "ui/soft_key_bar.h"

namespace quill {
namespace ui {

class MainWindow;

// Screens and services the reader reaches but does not own. An unset hook
// leaves its commands disabled and its links inert.
struct ReaderHooks {
  // The compose screen as reply (32794), reply to all (32814) or forward
  // (32795) of the mail.
  std::function<void(QWidget* parent, uint32_t command, uint32_t mail_id)> compose;
  // The compose screen addressed to one address (a mailto link).
  std::function<void(QWidget* parent, const QString& address)> compose_to;
  // The attachment list of the mail.
  std::function<void(QWidget* parent, uint32_t mail_id)> attachments;
  // The previous (-1) or next (+1) mail of the main window's list.
  std::function<void(int delta)> adjacent;
  // Opens a web address; unset: the desktop's browser (QDesktopServices).
  std::function<void(const QUrl& url)> open_url;
};

class ReaderScreen : public QDialog, public Screen {
 public:
  ReaderScreen(facade::MailService* service, MessageLoop* loop, const html::TextFont* font,
               ReaderHooks hooks, QWidget* parent);
  ~ReaderScreen() override;

  // Shows a mail of the open store and marks it read; asks for its brief
  // when it has none. False when there is no such mail.
  bool Open(uint32_t mail_id);

  uint32_t mail_id() const { return mail_id_; }
  BodyView* body() { return body_; }
  const BodySlices& slices() const { return slices_; }
  const MailHeader& header() const { return header_; }
  QMenu* menu() { return menu_; }
  QString status_text() const { return status_->text(); }
  // Enables menu 207's commands by what there is to do now.
  void PrepareMenu();

  // Screen.
  void DumpText(QStringList* lines) override;
  bool Busy() const override;
  bool RunCommand(uint32_t command, QString* why) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildMenu();
  QAction* AddCommand(uint32_t command, const char* label);
  void RunMenuCommand(uint32_t command);
  // Reads the record and the files but the body; false when the mail is
  // gone.
  bool ReadMail(store::MailRecord* mail, store::MailFiles* files);
  // Shows header and body from the store afresh: the beginning of the body
  // at once, the rest once the first page shows.
  void ShowAll();
  // Brings the view up to the body the store holds: appends what was added,
  // or shows it afresh when the stored text no longer begins with what is
  // shown (a new version).
  void CatchUp(const store::MailRecord& mail);
  // Makes the header block's elements for each layout of the body.
  BodyView::HeaderMaker HeaderMaker();
  void OnBriefDone(const facade::FetchOutcome& outcome);
  void OnBodyDone(const facade::FetchOutcome& outcome);
  void Activate(html::TapKind kind, const std::u16string& target);
  void Copy(const QString& text);
  void AskDelete();
  void Leave(int delta);
  static BodySlices::Held HeldOf(const store::MailRecord& mail);

  facade::MailService* const service_;
  const html::TextFont* const font_;
  ReaderHooks hooks_;
  BodyView* body_;
  QLabel* status_;
  SoftKeyBar* keys_;
  QMenu* menu_;
  BodySlices slices_;
  MailHeader header_;             // what the header block shows
  int label_width_ = 0;           // the header's label column
  uint32_t mail_id_ = 0;          // the mail shown; 0 before Open
  bool local_ = false;            // written on the device: nothing to fetch
  uint16_t shown_version_ = 0;    // body version of what the view shows
  bool brief_outstanding_ = false;  // a brief request runs for this mail
  bool catch_up_pending_ = false;   // the rest of the body is still to be read
  int brief_sub_ = 0, body_sub_ = 0;  // facade subscriptions
};

// The main window's open_reader hook: a modal reader on the mail, whose
// previous / next go back through the window. Borrows its arguments.
std::function<void(MainWindow*, uint32_t)> ReaderOpener(facade::MailService* service,
                                                        MessageLoop* loop,
                                                        const html::TextFont* font);

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_READER_SCREEN_H_
