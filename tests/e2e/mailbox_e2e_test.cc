// The client's sync, brief and body messages through the real exchange
// against the gateway serving a generated Maildir.
#include <gtest/gtest.h>

#include <map>

#include "commands/body_message.h"
#include "commands/brief_message.h"
#include "commands/sync_message.h"
#include "tests/e2e/client_rig.h"
#include "tests/gateway/maildir_writer.h"

namespace quill {
namespace {

using commands::BodyResponse;
using commands::BriefResponse;
using commands::SyncResponse;

// RFC 2047 "B" encoding of UTF-8 text.
std::string EncodedWord(const std::string& utf8) {
  static const char k[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < utf8.size(); i += 3) {
    uint32_t v = static_cast<uint8_t>(utf8[i]) << 16;
    if (i + 1 < utf8.size()) v |= static_cast<uint8_t>(utf8[i + 1]) << 8;
    if (i + 2 < utf8.size()) v |= static_cast<uint8_t>(utf8[i + 2]);
    out += k[v >> 18];
    out += k[(v >> 12) & 63];
    out += i + 1 < utf8.size() ? k[(v >> 6) & 63] : '=';
    out += i + 2 < utf8.size() ? k[v & 63] : '=';
  }
  return "=?UTF-8?B?" + out + "?=";
}

class MailboxEndToEnd : public ClientGatewayTest {
 protected:
  void SetUp() override {
    AddAccount("alice", "secret", 10001, "爱丽丝");
    StartGateway();
    SignIn("alice", "secret");
    maildir_ = gateway::MaildirPath(state_.path(), "alice");
  }

  template <typename T>
  const T* Run(engine::ExchangeCommand* command) {
    recorder_ = Recorder();
    EXPECT_EQ(engine::RunExchange(context_, engine::ExchangeRequest(), command, &recorder_),
              engine::ExchangeOutcome::kDelivered)
        << "step " << recorder_.step;
    auto* r = dynamic_cast<DecodedResult<T>*>(recorder_.result.get());
    return r == nullptr ? nullptr : &r->value;
  }

  SyncResponse SyncPage(int32_t key) {
    MessageCommand<SyncResponse> sync(
        "/cgi-bin/rb-bin/sync",
        [&](protocol::WireMessage* m) {
          commands::SyncRequest r;
          r.head.session_key = "";
          r.head.sync_key = key;
          r.reason = 5;
          return commands::EncodeSyncRequest(r, m);
        },
        commands::DecodeSyncResponse);
    const SyncResponse* r = Run<SyncResponse>(&sync);
    return r == nullptr ? SyncResponse() : *r;
  }

  std::string maildir_;
};

TEST_F(MailboxEndToEnd, PagedInitialSyncBriefAndBodyMatchTheMaildir) {
  std::map<std::string, std::string> subjects;  // unique name -> subject
  for (int i = 0; i < 240; ++i) {
    const std::string unique = std::to_string(1700000000 + i) + ".q" + std::to_string(i);
    const std::string subject =
        (i % 2 ? "周报 第" + std::to_string(i) + "期" : "Weekly report " + std::to_string(i));
    subjects[unique] = subject;
    const bool html = i % 3 == 0;
    const std::string body = html ? "<html><body><p>邮件 " + std::to_string(i) + "</p></body></html>"
                                  : "Plain text " + std::to_string(i) + " 😀";
    gateway::Deliver(maildir_, (i % 4 ? "cur/" + unique + ":2,S" : "new/" + unique),
            "From: " + EncodedWord("发件人" + std::to_string(i)) + " <s" + std::to_string(i) +
                "@example.cn>\r\nTo: alice@example.com\r\nSubject: " + EncodedWord(subject) +
                "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0000\r\nMIME-Version: 1.0\r\n"
                "Content-Type: text/" + (html ? "html" : "plain") + "; charset=utf-8\r\n\r\n" + body);
  }

  int32_t key = 0;
  int pages = 0, unread = 0;
  std::multiset<std::string> seen;
  for (;;) {
    SyncResponse page = SyncPage(key);
    ASSERT_EQ(page.head.result, 0);
    ++pages;
    for (const commands::SyncCommand& c : page.commands) {
      if (c.type != commands::kRbcmdAddMail) continue;
      ASSERT_EQ(c.texts.size(), 3u);
      seen.insert(c.texts[0]);
      unread += c.flags & 1;
      EXPECT_EQ(c.folder_id, 1);  // the inbox
      EXPECT_EQ(c.date, 1796637600u);
    }
    key = page.new_key;
    if (!page.more) break;
    ASSERT_LT(pages, 52);
  }
  EXPECT_GT(pages, 1);
  std::multiset<std::string> want;
  for (const auto& [unique, subject] : subjects) want.insert(subject);
  EXPECT_EQ(seen, want);
  EXPECT_EQ(unread, 60);
  EXPECT_TRUE(SyncPage(key).commands.empty());

  // Mail 2 (ServerID 2, the second file in cur/) through brief and body.
  MessageCommand<BriefResponse> brief(
      "/cgi-bin/rb-bin/getmailbrief",
      [](protocol::WireMessage* m) {
        commands::BriefRequest r;
        r.server_id = 2;
        return commands::EncodeBriefRequest(r, m);
      },
      commands::DecodeBriefResponse);
  const BriefResponse* answer = Run<BriefResponse>(&brief);
  ASSERT_NE(answer, nullptr);
  const BriefResponse kept = *answer;  // the next Run replaces the recorder's result
  const BriefResponse* b = &kept;
  ASSERT_EQ(b->head.result, 0);
  EXPECT_EQ(b->server_id, 2u);
  EXPECT_EQ(b->to_total, 1);
  ASSERT_EQ(b->to.size(), 1u);
  EXPECT_EQ(b->to[0].address, "alice@example.com");
  EXPECT_EQ(static_cast<size_t>(b->body_length), Utf8ToUtf16(b->brief_text).size());

  MessageCommand<BodyResponse> body(
      "/cgi-bin/rb-bin/getmailbody",
      [&](protocol::WireMessage* m) {
        commands::BodyRequest r;
        r.server_id = 2;
        r.offset = 2;
        r.version = b->body_version;
        return commands::EncodeBodyRequest(r, m);
      },
      commands::DecodeBodyResponse);
  const BodyResponse* slice = Run<BodyResponse>(&body);
  ASSERT_NE(slice, nullptr);
  ASSERT_EQ(slice->head.result, 0);
  EXPECT_EQ(slice->offset, 2);
  EXPECT_EQ(Utf8ToUtf16(b->brief_text).substr(2), Utf8ToUtf16(slice->text));
}

}  // namespace
}  // namespace quill
