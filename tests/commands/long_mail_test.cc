// The client's side of a delivery without a network: the messages against
// records built field by field, and the conversation against a scripted
// service, including hostile ones that name files the mail does not hold,
// repeat instructions, ask for huge pieces or never finish.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "commands/long_mail_conversation.h"
#include "commands/long_mail_message.h"
#include "platform/crypto.h"
#include "platform/hex.h"
#include "protocol/codec_status.h"
#include "protocol/typed_list.h"
#include "tests/temp_dir.h"

namespace quill {
namespace commands {
namespace {

using protocol::CodecOk;
using protocol::TagCodec;
using protocol::TypedListReader;
using protocol::TypedListWriter;
using Next = LongMailConversation::Next;

std::string Md5Hex(const std::string& bytes) {
  uint8_t d[16];
  crypto::Md5(ByteView(bytes), d);
  return HexEncodeLower(ByteView(d, 16));
}

std::string WriteFile(const std::string& path, const std::string& bytes) {
  EXPECT_TRUE(DefaultFileSystem()->ReplaceAtomically(path, ByteView(bytes)));
  return path;
}

LongMailResponse Continue(const std::string& key, LongMailInstruction in, int32_t percent = 0) {
  LongMailResponse r;
  r.head.result = 0;
  r.key = key;
  r.status = LongMailStatus{kStatusContinue, "", 0, 0, percent};
  r.instruction = std::move(in);
  return r;
}

LongMailInstruction Ask(int32_t type, int32_t offset = 0, int32_t length = 0, std::string name = "") {
  return LongMailInstruction{type, offset, length, std::move(name)};
}

class LongMailConversationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    attachment_ = WriteFile(dir_.path() + "/报告.pdf", std::string(50000, 'x') + "end");
    other_ = WriteFile(dir_.path() + "/diary.txt", "my private diary");
    draft_.mail_id = 7;
    draft_.sender_name = "爱丽丝";
    draft_.sender_address = "alice@example.com";
    draft_.subject = "主题";
    draft_.body = "<html><body>正文</body></html>";
    draft_.body_chars = 26;
    draft_.to = {{"鲍勃", "bob@example.com"}};
    draft_.attachments = {{attachment_, 50003, kLocalFileKind}};
  }

  // A conversation over draft_; every report is kept, and keys are saved
  // while save_keys_ says so.
  std::unique_ptr<LongMailConversation> Make() {
    return std::make_unique<LongMailConversation>(
        draft_, DefaultFileSystem(), [this](const LongMailProgress& p, bool* saved) {
          reports_.push_back(p);
          *saved = save_keys_ && !p.key_to_save.empty();
          return true;
        });
  }

  // The protocol name the client gives the attachment.
  std::string NameOf(const std::string& path) {
    Bytes bytes;
    EXPECT_TRUE(DefaultFileSystem()->ReadFile(path, &bytes));
    return Md5Hex(std::string(bytes.begin(), bytes.end())) + "\\" + path;
  }

  TempDir dir_;
  std::string attachment_, other_;
  LongMailDraft draft_;
  std::vector<LongMailProgress> reports_;
  bool save_keys_ = true;
};

TEST_F(LongMailConversationTest, SmallMailGoesInOneRequestUpTo4999Characters) {
  draft_.attachments.clear();
  draft_.body = std::string(4999, 'a');
  draft_.body_chars = 4999;
  auto c = Make();
  ASSERT_EQ(c->Start(), Next::kSend);
  EXPECT_EQ(reports_.back().stage, kStageSmallMail);
  const LongMailRequest& r = c->request();
  ASSERT_TRUE(r.description.has_value());
  EXPECT_EQ(r.description->body_length, 4999u);
  EXPECT_TRUE(r.description->files.empty());
  ASSERT_EQ(r.parts.size(), 3u);
  EXPECT_EQ(r.parts[2].type, kPartBody);
  EXPECT_EQ(r.parts[2].data.size(), 4999u);
  EXPECT_TRUE(r.key.empty());

  draft_.body = std::string(5000, 'a');
  draft_.body_chars = 5000;
  reports_.clear();
  auto big = Make();
  ASSERT_EQ(big->Start(), Next::kSend);
  EXPECT_EQ(reports_.back().stage, kStageDescribing);
  EXPECT_TRUE(big->request().parts.empty());
}

TEST_F(LongMailConversationTest, DescriptionNamesOnlyLocalFilesByDigestAndPath) {
  draft_.attachments.push_back({"from-the-service.doc", 100, 0});
  auto c = Make();
  ASSERT_EQ(c->Start(), Next::kSend);
  // Stage 1, the digest of the one local file (4), the description (3).
  ASSERT_EQ(reports_.size(), 3u);
  EXPECT_EQ(reports_[1].stage, kStageScanning);
  EXPECT_EQ(reports_[1].file_name, attachment_);
  EXPECT_EQ(reports_[2].stage, kStageDescribing);
  const LongMailDescription& d = *c->request().description;
  ASSERT_EQ(d.files.size(), 1u);
  EXPECT_EQ(d.files[0].protocol_name, NameOf(attachment_));
  EXPECT_EQ(d.files[0].size, 50003u);
  EXPECT_EQ(d.body_length, draft_.body.size());
}

TEST_F(LongMailConversationTest, FollowsInstructionsClampsPiecesAndSavesTheKeyOnce) {
  auto c = Make();
  ASSERT_EQ(c->Start(), Next::kSend);
  const std::string name = NameOf(attachment_);
  // A piece of 1 GB asked for is one of at most 20480 bytes.
  ASSERT_EQ(c->Handle(Continue("K1", Ask(kAskAttachment, 0, 1 << 30, name), 1500)), Next::kSend);
  ASSERT_EQ(c->request().parts.size(), 1u);
  EXPECT_EQ(c->request().parts[0].data.size(), kMaxPieceBytes);
  EXPECT_EQ(c->request().key, "K1");
  EXPECT_EQ(reports_.back().stage, kStageAttachment);
  EXPECT_EQ(reports_.back().key_to_save, "K1");
  EXPECT_EQ(reports_.back().percent, 1500);
  // The last piece ends at the file's end.
  ASSERT_EQ(c->Handle(Continue("", Ask(kAskAttachment, 40960, 20480, name))), Next::kSend);
  EXPECT_EQ(c->request().parts[0].data.size(), 50003u - 40960u);
  EXPECT_TRUE(reports_.back().key_to_save.empty());  // saved already
  ASSERT_EQ(c->Handle(Continue("", Ask(kAskBody, 0, 20480))), Next::kSend);
  EXPECT_EQ(c->request().parts[0].data.size(), draft_.body.size());
  ASSERT_EQ(c->Handle(Continue("", Ask(kAskHeader))), Next::kSend);
  ASSERT_EQ(c->request().parts.size(), 2u);
  LongMailResponse delivered;
  delivered.head.result = 0;
  delivered.status = LongMailStatus{kStatusDelivered, "", 4242, 3, 10000};
  ASSERT_EQ(c->Handle(delivered), Next::kDelivered);
  EXPECT_EQ(c->server_id(), 4242u);
  EXPECT_EQ(c->second_value(), 3u);
}

TEST_F(LongMailConversationTest, AKeyNotSavedIsOfferedAgain) {
  save_keys_ = false;
  auto c = Make();
  ASSERT_EQ(c->Start(), Next::kSend);
  ASSERT_EQ(c->Handle(Continue("K", Ask(kAskBody, 0, 10))), Next::kSend);
  ASSERT_EQ(c->Handle(Continue("", Ask(kAskBody, 10, 10))), Next::kSend);
  EXPECT_EQ(reports_.back().key_to_save, "K");
}

TEST_F(LongMailConversationTest, NeverOpensAFileTheMailDoesNotHold) {
  for (const std::string& path : {std::string("/etc/passwd"), other_, std::string("")}) {
    reports_.clear();
    auto c = Make();
    ASSERT_EQ(c->Start(), Next::kSend);
    const std::string hostile = path.empty() ? "no-backslash" : NameOf(path);
    EXPECT_EQ(c->Handle(Continue("K", Ask(kAskAttachment, 0, 100, hostile))), Next::kFailed) << path;
    EXPECT_EQ(c->step(), kLongStepOpenNamedFile);
    EXPECT_EQ(c->code(), kCodeCannotOpen);
    EXPECT_TRUE(c->request().parts.empty());
  }
  // The mail's own path with a digest it does not have: read, compared, refused.
  auto c = Make();
  ASSERT_EQ(c->Start(), Next::kSend);
  const std::string forged = std::string(32, 'a') + "\\" + attachment_;
  EXPECT_EQ(c->Handle(Continue("K", Ask(kAskAttachment, 0, 100, forged))), Next::kFailed);
  EXPECT_EQ(c->step(), kLongStepDigestDiffers);
  EXPECT_EQ(c->code(), kCodeContentChanged);
}

TEST_F(LongMailConversationTest, InstructionsThatDoNotAdvanceEndTheDelivery) {
  const std::string name = NameOf(attachment_);
  struct Case {
    const char* what;
    std::vector<LongMailInstruction> asks;
    uint32_t step;
  };
  const Case cases[] = {
      {"body again", {Ask(kAskBody, 0, 5), Ask(kAskBody, 0, 5)}, kLongStepInstruction},
      {"body backwards", {Ask(kAskBody, 10, 5), Ask(kAskBody, 5, 5)}, kLongStepInstruction},
      {"attachment again",
       {Ask(kAskAttachment, 100, 5, name), Ask(kAskAttachment, 100, 5, name)},
       kLongStepInstruction},
      {"header twice", {Ask(kAskHeader), Ask(kAskHeaderToo)}, kLongStepInstruction},
      {"unknown type", {Ask(9)}, kLongStepInstruction},
      {"negative offset", {Ask(kAskBody, -1, 5)}, kLongStepInstruction},
      {"zero length", {Ask(kAskAttachment, 0, 0, name)}, kLongStepInstruction},
      {"body past its end", {Ask(kAskBody, 1 << 20, 5)}, kLongStepBodyOffset},
      {"file past its end", {Ask(kAskAttachment, 50003, 5, name)}, kLongStepFileOffset},
  };
  for (const Case& k : cases) {
    auto c = Make();
    ASSERT_EQ(c->Start(), Next::kSend);
    Next next = Next::kSend;
    for (const LongMailInstruction& in : k.asks) next = c->Handle(Continue("K", in));
    EXPECT_EQ(next, Next::kFailed) << k.what;
    EXPECT_EQ(c->step(), k.step) << k.what;
  }
}

TEST_F(LongMailConversationTest, AServiceThatAlternatesForeverIsCutOffByTheBound) {
  auto c = Make();
  ASSERT_EQ(c->Start(), Next::kSend);
  Next next = Next::kSend;
  int answers = 0;
  for (; next == Next::kSend && answers < 100000; ++answers) {
    next = c->Handle(Continue("K", answers % 2 == 0 ? Ask(kAskBody, 0, 1) : Ask(kAskHeader)));
  }
  EXPECT_EQ(next, Next::kFailed);
  EXPECT_EQ(c->step(), kLongStepInstruction);
  EXPECT_LE(c->requests(), c->max_requests());
  EXPECT_LT(answers, 200);  // 16 + 4 x (2 + 1 + 3 pieces)
}

TEST_F(LongMailConversationTest, AnswersThatFailAndTheirSteps) {
  struct Case {
    const char* what;
    std::function<void(LongMailResponse*)> change;
    uint32_t step;
    int32_t code;
  };
  const Case cases[] = {
      {"result", [](LongMailResponse* r) { r->head.result = -7; }, kLongStepResult, -7},
      {"item 1", [](LongMailResponse* r) { r->item1_error = LongMailServiceError{-853, "x"}; },
       kLongStepServiceError, -853},
      {"item 2", [](LongMailResponse* r) { r->item2_error = LongMailServiceError{-30, "y"}; },
       kLongStepServiceEntry, -30},
      {"no status", [](LongMailResponse* r) { r->status.reset(); }, kLongStepNoStatus, 0},
      {"other status", [](LongMailResponse* r) { r->status->status = 5; }, kLongStepStatus, 5},
      {"no key", [](LongMailResponse* r) { r->key.clear(); }, kLongStepNoKey, 0},
      {"no instruction", [](LongMailResponse* r) { r->instruction.reset(); },
       kLongStepInstruction, 0},
  };
  for (const Case& k : cases) {
    auto c = Make();
    ASSERT_EQ(c->Start(), Next::kSend);
    LongMailResponse r = Continue("K", Ask(kAskHeader));
    k.change(&r);
    EXPECT_EQ(c->Handle(r), Next::kFailed) << k.what;
    EXPECT_EQ(c->step(), k.step) << k.what;
    EXPECT_EQ(c->code(), k.code) << k.what;
  }
  EXPECT_EQ(std::u16string(LongMailErrorText(-853)), u"附件大小已改变");
  EXPECT_EQ(std::u16string(LongMailErrorText(-854)), u"附件内容已改变");
  EXPECT_EQ(std::u16string(LongMailErrorText(-855)), u"要发送的附件文件无法打开");
  EXPECT_EQ(std::u16string(LongMailErrorText(-30)), u"内部错误");
}

TEST_F(LongMailConversationTest, ResumeChecksEveryFileAgainstItsName) {
  const std::string name = NameOf(attachment_);
  draft_.key = "K9";
  {
    auto c = Make();
    ASSERT_EQ(c->Start(), Next::kSend);
    EXPECT_EQ(reports_.back().stage, kStageResuming);
    EXPECT_FALSE(c->request().description.has_value());
    EXPECT_TRUE(c->request().parts.empty());
    EXPECT_EQ(c->request().key, "K9");
    ASSERT_EQ(c->Handle(Continue("", Ask(kAskAttachment, 20480, 20480, name))), Next::kSend);
    EXPECT_EQ(c->request().parts[0].offset, 20480u);
  }
  // Edited since: the digest differs.
  WriteFile(attachment_, std::string(50000, 'y') + "end");
  {
    auto c = Make();
    ASSERT_EQ(c->Start(), Next::kSend);
    EXPECT_EQ(c->Handle(Continue("", Ask(kAskAttachment, 20480, 20480, name))), Next::kFailed);
    EXPECT_EQ(c->step(), kLongStepDigestDiffers);
    EXPECT_EQ(c->code(), kCodeContentChanged);
  }
  // Deleted since.
  ASSERT_TRUE(DefaultFileSystem()->Delete(attachment_));
  {
    auto c = Make();
    ASSERT_EQ(c->Start(), Next::kSend);
    EXPECT_EQ(c->Handle(Continue("", Ask(kAskAttachment, 20480, 20480, name))), Next::kFailed);
    EXPECT_EQ(c->step(), kLongStepOpenNamedFile);
    EXPECT_EQ(c->code(), kCodeCannotOpen);
  }
}

TEST_F(LongMailConversationTest, ALostAnswerIsNeverSentBlindly) {
  // Without a key the service cannot tell a second copy: the delivery fails.
  draft_.attachments.clear();
  auto small = Make();
  ASSERT_EQ(small->Start(), Next::kSend);
  EXPECT_EQ(small->AnswerLost(kLongStepRead, 12030), Next::kFailed);
  EXPECT_EQ(small->step(), kLongStepRead);

  // With one, the next request asks where the delivery stands, and the
  // service may then ask for the piece it asked for before.
  auto c = Make();
  ASSERT_EQ(c->Start(), Next::kSend);
  ASSERT_EQ(c->Handle(Continue("K", Ask(kAskBody, 0, 10))), Next::kSend);
  ASSERT_EQ(c->AnswerLost(kLongStepRead, 12030), Next::kSend);
  EXPECT_EQ(reports_.back().stage, kStageResuming);
  EXPECT_TRUE(c->request().parts.empty());
  EXPECT_EQ(c->request().key, "K");
  EXPECT_EQ(c->Handle(Continue("", Ask(kAskBody, 0, 10))), Next::kSend);
}

// --- The messages --------------------------------------------------------

TEST(LongMailMessages, RequestCarriesTheHeadKeyAndTypedItems) {
  LongMailRequest r;
  r.head.session_key = "S";
  r.head.sync_key = 12;
  r.key = "KEY";
  LongMailDescription d;
  d.compose_mode = 2;
  d.source_server_id = 99;
  d.sender_name = "爱丽丝";
  d.sender_address = "a@x.cn";
  d.body_length = 30;
  d.files.push_back({"abc\\/f", 5, std::string(32, 'e')});
  r.description = d;
  LongMailPart part;
  part.type = kPartAttachment;
  part.name = "abc\\/f";
  part.offset = 2;
  part.data = Bytes{1, 2, 3};
  r.parts.push_back(part);
  protocol::WireMessage m;
  ASSERT_TRUE(EncodeLongMailRequest(r, &m));
  EXPECT_EQ(m.GetType(), 111);
  const TagCodec& body = m.Body();
  std::string text;
  int32_t n = 0;
  EXPECT_EQ(body.GetString(1, &text), CodecOk);
  EXPECT_EQ(text, "S");
  EXPECT_EQ(body.GetInt(2, &n), CodecOk);
  EXPECT_EQ(n, 12);
  EXPECT_EQ(body.GetInt(4, &n), CodecOk);
  EXPECT_EQ(n, 0x10030);
  EXPECT_EQ(body.GetString(6, &text), CodecOk);
  EXPECT_EQ(text, "KEY");
  TypedListReader items;
  ASSERT_EQ(items.Open(body, 7), CodecOk);
  std::vector<int32_t> types;
  int32_t type = 0;
  TagCodec item;
  while (items.Next(&type, &item)) {
    types.push_back(type);
    if (type == kItemDescription) {
      EXPECT_EQ(item.GetInt(2, &n), CodecOk);
      EXPECT_EQ(n, 99);
      TypedListReader entries;
      ASSERT_EQ(entries.Open(item, 5), CodecOk);
      TagCodec entry;
      ASSERT_TRUE(entries.Next(&type, &entry));
      EXPECT_EQ(type, kEntryBodyLength);
      ASSERT_TRUE(entries.Next(&type, &entry));
      EXPECT_EQ(type, kEntryFile);
      EXPECT_EQ(entry.GetString(3, &text), CodecOk);
      EXPECT_EQ(text, std::string(32, 'e'));
    }
    if (type == kItemUpload) {
      TypedListReader parts;
      ASSERT_EQ(parts.Open(item, 1), CodecOk);
      TagCodec p;
      ASSERT_TRUE(parts.Next(&type, &p));
      EXPECT_EQ(type, kPartAttachment);
      EXPECT_EQ(p.GetInt(3, &n), CodecOk);
      EXPECT_EQ(n, 3);
      EXPECT_EQ(p.GetString(4, &text), CodecOk);
      EXPECT_EQ(text, std::string("\x01\x02\x03"));
    }
  }
  EXPECT_EQ(types, (std::vector<int32_t>{kItemDescription, kItemUpload, kItemClosing}));
}

TEST(LongMailMessages, ResponseDecodesTheFirstOfEachAndBoundsItsTexts) {
  protocol::WireMessage m;
  m.SetType(protocol::MessageType::SendLongMail);
  TagCodec& body = m.Body();
  ASSERT_EQ(body.PutInt(1, 0), CodecOk);
  ASSERT_EQ(body.PutBytes(2, ByteView(std::string("K"))), CodecOk);
  TypedListWriter results, entries, instructions;
  TagCodec ok_error, named, status, ask;
  ASSERT_EQ(ok_error.PutInt(1, 0), CodecOk);
  ASSERT_EQ(results.Add(kResultError, &ok_error), CodecOk);
  ASSERT_EQ(named.PutBytes(1, ByteView(std::string("bob"))), CodecOk);
  ASSERT_EQ(named.PutInt(2, -20), CodecOk);
  ASSERT_EQ(named.PutBytes(3, ByteView(std::string(2000, 'z'))), CodecOk);
  ASSERT_EQ(entries.Add(1, &named), CodecOk);
  TagCodec list;
  ASSERT_EQ(list.PutCodec(1, entries.list()), CodecOk);
  ASSERT_EQ(results.Add(kResultEntries, &list), CodecOk);
  ASSERT_EQ(status.PutInt(1, kStatusContinue), CodecOk);
  ASSERT_EQ(status.PutInt(5, 2500), CodecOk);
  ASSERT_EQ(results.Add(kResultStatus, &status), CodecOk);
  ASSERT_EQ(ask.PutInt(1, 5), CodecOk);
  ASSERT_EQ(ask.PutInt(2, 6), CodecOk);
  ASSERT_EQ(ask.PutBytes(3, ByteView(std::string("n"))), CodecOk);
  ASSERT_EQ(instructions.Add(kAskAttachment, &ask), CodecOk);
  ASSERT_EQ(instructions.Add(kAskHeader), CodecOk);
  ASSERT_EQ(body.PutCodec(3, results.list()), CodecOk);
  ASSERT_EQ(body.PutCodec(4, instructions.list()), CodecOk);
  LongMailResponse r;
  ASSERT_EQ(DecodeLongMailResponse(m, &r), CodecOk);
  EXPECT_EQ(r.key, "K");
  EXPECT_FALSE(r.item1_error.has_value());  // code 0
  ASSERT_TRUE(r.item2_error.has_value());
  EXPECT_EQ(r.item2_error->code, -20);
  EXPECT_EQ(r.item2_error->text.size(), kMaxServiceTextBytes);
  ASSERT_TRUE(r.status.has_value());
  EXPECT_EQ(r.status->percent, 2500);
  ASSERT_TRUE(r.instruction.has_value());
  EXPECT_EQ(r.instruction->type, kAskAttachment);
  EXPECT_EQ(r.instruction->name, "n");

  // A key over its capacity fails the decode.
  protocol::WireMessage bad;
  bad.SetType(protocol::MessageType::SendLongMail);
  ASSERT_EQ(bad.Body().PutInt(1, 0), CodecOk);
  ASSERT_EQ(bad.Body().PutBytes(2, ByteView(std::string(kMaxLongMailKeyBytes + 1, 'k'))), CodecOk);
  EXPECT_NE(DecodeLongMailResponse(bad, &r), CodecOk);
}

}  // namespace
}  // namespace commands
}  // namespace quill
