// quillpost-cli attachments, fetch and images: a mail's attachments and the
// images its body refers to, through the mail service.
#include <optional>
#include <set>

#include "commands/image_message.h"
#include "html/html_document_builder.h"
#include "html/image_element.h"
#include "platform/utf.h"
#include "tools/cli/command_groups.h"
#include "tools/cli/text_fields.h"

namespace quill {
namespace cli {
namespace {

// Text slices asked for at a time, as the reader does.
constexpr int32_t kTextSlice = 1024;

// Opens the saved store and finds the mail; false (said on err) otherwise.
bool OpenMail(Invocation& run, uint32_t mail_id, store::MailRecord* mail) {
  if (!run.OpenSaved()) return false;
  if (!run.service()->store()->mails()->ReadMail(mail_id, mail)) {
    run.err() << "quillpost-cli: no mail " << mail_id << "\n";
    return false;
  }
  return true;
}

// The mail's attachment list, with its brief fetched when none is held.
std::vector<store::AttachmentEntry> Attachments(Invocation& run, uint32_t mail_id) {
  store::MailStore* mails = run.service()->store()->mails();
  store::MailRecord mail;
  if (mails->ReadMail(mail_id, &mail) && mail.body_state() == store::kNoBody &&
      mail.server_id() != store::kLocalServerId) {
    HoldWholeBody(run, mail_id);
  }
  store::MailFiles files;
  mails->files()->LoadMailFiles(mail_id, &files);
  return files.attachments;
}

int ListAttachments(Invocation& run) {
  const std::vector<std::string>& command = run.command();
  const uint32_t mail_id = command.size() == 2 ? MailIdArg(command[1]) : 0;
  if (mail_id == 0) return run.Usage();
  store::MailRecord mail;
  if (!OpenMail(run, mail_id, &mail)) return kExitFailed;
  const std::vector<store::AttachmentEntry> list = Attachments(run, mail_id);
  for (size_t i = 0; i < list.size(); ++i) {
    run.out() << i + 1 << '\t' << Field(list[i].name) << '\t' << list[i].size << '\t'
              << list[i].kind << '\n';
  }
  return kExitOk;
}

// Waits for the end of one attachment request started by `start`,
// reporting each progress event to `progress`.
std::optional<facade::AttachOutcome> AwaitAttach(
    Invocation& run, int kind, const std::function<bool()>& start,
    const std::function<void(const facade::AttachOutcome&)>& progress = nullptr) {
  facade::MailService* service = run.service();
  std::optional<facade::AttachOutcome> end;
  auto handler = [&](const facade::AttachOutcome& o) {
    if (o.progress) {
      if (progress) progress(o);
    } else {
      end = o;
    }
  };
  int id = 0;
  if (kind == engine::kJobAttachDownload) id = service->SubscribeAttachDownloadDone(handler);
  if (kind == engine::kJobAttachPicture) id = service->SubscribeAttachPicDone(handler);
  if (kind == engine::kJobAttachText) id = service->SubscribeAttachTextDone(handler);
  const bool started = start();
  const bool done = started && run.WaitFor([&] { return end.has_value(); });
  if (kind == engine::kJobAttachDownload) service->UnsubscribeAttachDownloadDone(id);
  if (kind == engine::kJobAttachPicture) service->UnsubscribeAttachPicDone(id);
  if (kind == engine::kJobAttachText) service->UnsubscribeAttachTextDone(id);
  if (!started) {
    run.err() << "quillpost-cli: the attachment could not be asked for\n";
    return std::nullopt;
  }
  if (!done) {
    service->CancelDownloadMailAttach();
    run.err() << "quillpost-cli: no answer within " << run.options().timeout_seconds << " s\n";
    return std::nullopt;
  }
  if (!end->ok) {
    run.err() << "quillpost-cli: the attachment could not be fetched (" << end->code;
    if (end->step != 0) run.err() << ", step " << end->step;
    run.err() << ")\n";
    return std::nullopt;
  }
  return end;
}

int Fetch(Invocation& run) {
  const std::vector<std::string>& command = run.command();
  if (command.size() < 3) return run.Usage();
  const uint32_t mail_id = MailIdArg(command[1]);
  uint32_t number = 0;
  if (mail_id == 0 || !ParseU32(command[2], &number) || number == 0) return run.Usage();
  std::string out_path;
  bool text = false, picture = false;
  uint32_t width = 0, height = 0;
  for (size_t i = 3; i < command.size(); ++i) {
    const std::string& a = command[i];
    if (a == "--out" && i + 1 < command.size()) {
      out_path = command[++i];
    } else if (a == "--text") {
      text = true;
    } else if (a == "--picture" && i + 2 < command.size() && ParseU32(command[i + 1], &width) &&
               ParseU32(command[i + 2], &height) && width <= INT32_MAX && height <= INT32_MAX) {
      picture = true;
      i += 2;
    } else {
      return run.Usage();
    }
  }
  if ((text && picture) || (!text && out_path.empty())) return run.Usage();
  store::MailRecord mail;
  if (!OpenMail(run, mail_id, &mail)) return kExitFailed;
  const std::vector<store::AttachmentEntry> list = Attachments(run, mail_id);
  if (number > list.size()) {
    run.err() << "quillpost-cli: mail " << mail_id << " has no attachment " << number << "\n";
    return kExitFailed;
  }
  const std::u16string name = list[number - 1].name;
  const uint32_t server_id = mail.server_id();
  if (!run.SignInSaved()) return kExitFailed;
  facade::MailService* service = run.service();

  if (text) {
    // Slice after slice from 0 until the whole text is out.
    uint64_t offset = 0;
    for (;;) {
      const auto slice = AwaitAttach(run, engine::kJobAttachText, [&] {
        return service->DoGetMailAttachText(server_id, name, number, static_cast<int32_t>(offset),
                                            kTextSlice);
      });
      if (!slice) return kExitFailed;
      if (slice->offset != offset) offset = 0;  // the text changed: it starts over
      if (slice->offset == offset) {
        run.out() << Utf16ToUtf8(slice->text);
        offset += slice->text.size();
      }
      if (slice->text.empty() || offset >= slice->total || offset > INT32_MAX) break;
    }
    run.out() << "\n";
    return kExitOk;
  }
  if (picture) {
    const auto done = AwaitAttach(run, engine::kJobAttachPicture, [&] {
      return service->DoGetMailAttachPic(server_id, name, number, static_cast<int32_t>(width),
                                         static_cast<int32_t>(height));
    });
    if (!done) return kExitFailed;
    Bytes bytes;
    if (!run.fs()->ReadFile(done->path, &bytes) ||
        !run.fs()->ReplaceAtomically(out_path, ByteView(bytes))) {
      run.err() << "quillpost-cli: cannot write " << out_path << "\n";
      return kExitFailed;
    }
    return kExitOk;
  }
  const auto done = AwaitAttach(
      run, engine::kJobAttachDownload,
      [&] { return service->DoDownloadMailAttach(server_id, name, number, out_path); },
      [&](const facade::AttachOutcome& o) {
        run.err() << "fetch: " << o.offset << " of " << o.total << " bytes\n";
      });
  if (!done) return kExitFailed;
  run.err() << "fetch: " << done->total << " bytes\n";
  return kExitOk;
}

// The image addresses a body refers to, each once, in order.
std::vector<std::u16string> ImageSources(const std::u16string& body) {
  html::HtmlDocumentBuilder builder;
  html::ElementList elements;
  builder.LoadDocument(body, &elements);
  builder.FinishDocument(&elements);
  std::vector<std::u16string> out;
  std::set<std::u16string> seen;
  for (const auto& e : elements) {
    if (e->type() != html::ElementType::kImage) continue;
    const std::u16string& source = static_cast<const html::ImageElement&>(*e).source();
    if (!source.empty() && seen.insert(source).second) out.push_back(source);
  }
  return out;
}

int Images(Invocation& run) {
  const std::vector<std::string>& command = run.command();
  const uint32_t mail_id = command.size() == 2 ? MailIdArg(command[1]) : 0;
  if (mail_id == 0) return run.Usage();
  store::MailRecord mail;
  if (!OpenMail(run, mail_id, &mail) || !HoldWholeBody(run, mail_id)) return kExitFailed;
  store::MailFiles files;
  run.service()->store()->mails()->files()->LoadMailFiles(mail_id, &files);
  const std::vector<std::u16string> sources = ImageSources(files.body);
  if (sources.empty()) return kExitOk;
  if (!run.SignInSaved()) return kExitFailed;
  facade::MailService* service = run.service();
  size_t ended = 0, asked = 0;
  bool all_ok = true;
  const int id = service->SubscribeMailImgDone([&](const facade::MailImageOutcome& o) {
    if (o.retrying) return;  // asked again after the delay
    ++ended;
    if (o.ok) {
      run.out() << o.path << '\n';
      return;
    }
    all_ok = false;
    run.err() << Utf16ToUtf8(o.url) << ": ";
    if (o.code == commands::kImageRemoteRefused) {
      run.err() << "image not available\n";
    } else {
      run.err() << "the image could not be fetched (" << o.code << ")\n";
    }
  });
  for (const std::u16string& source : sources) {
    if (service->DoMailGetImg(mail_id, source, 0, 0)) {
      ++asked;
    } else {
      all_ok = false;
      run.err() << Utf16ToUtf8(source) << ": the image could not be asked for\n";
    }
  }
  const bool done = run.WaitFor([&] { return ended == asked; });
  service->UnsubscribeMailImgDone(id);
  if (!done) {
    run.err() << "quillpost-cli: no answer within " << run.options().timeout_seconds << " s\n";
    return kExitFailed;
  }
  return all_ok ? kExitOk : kExitFailed;
}

}  // namespace

std::vector<CommandEntry> AttachmentCommands() {
  using Needs = CommandEntry::Needs;
  return {
      {"attachments",
       "  attachments MAILID       one line per attachment: number, name, size, kind\n"
       "                           (tab-separated)\n",
       Needs::kStore, ListAttachments},
      {"fetch",
       "  fetch MAILID NUMBER --out PATH\n"
       "                           download an attachment (progress on stderr); a download\n"
       "                           cut short continues on the next call\n"
       "  fetch MAILID NUMBER --text\n"
       "                           print a text attachment\n"
       "  fetch MAILID NUMBER --picture W H --out FILE\n"
       "                           a picture's preview, at most W x H (0: no limit)\n",
       Needs::kNetwork, Fetch},
      {"images",
       "  images MAILID            fetch every image the body refers to into the cache and\n"
       "                           print the cached paths\n",
       Needs::kNetwork, Images},
  };
}

}  // namespace cli
}  // namespace quill
