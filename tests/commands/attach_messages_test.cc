// The getmailattach and getmailimg messages: the sub-requests pinned as
// bytes, and answers that lie about their lengths, kinds or totals.
#include <gtest/gtest.h>

#include "commands/attach_message.h"
#include "commands/image_message.h"
#include "platform/hex.h"
#include "protocol/codec_status.h"

namespace quill {
namespace commands {
namespace {

using protocol::CodecOk;
using protocol::TagCodec;
using protocol::WireMessage;

// The fields of a codec image after its 12-byte header.
std::string Fields(TagCodec* c) {
  Bytes image;
  EXPECT_EQ(c->Detach(&image), CodecOk);
  return HexEncode(ByteView(image)).substr(24);
}

TEST(AttachMessage, PictureSubRequestIsSixIntegersInTagOrder) {
  AttachRequest r;
  r.kind = AttachKind::kPicture;
  r.server_id = 9;
  r.name = "照片.png";
  r.width = 240;
  r.height = 320;
  r.offset = 18432;
  r.version = 77;
  WireMessage m;
  ASSERT_TRUE(EncodeAttachRequest(r, &m));
  EXPECT_EQ(m.GetType(), 106);
  int32_t v = 0;
  ASSERT_EQ(m.Body().GetInt(6, &v), CodecOk);
  EXPECT_EQ(v, 3);
  std::string name;
  ASSERT_EQ(m.Body().GetString(5, &name), CodecOk);
  EXPECT_EQ(name, "照片.png");
  TagCodec sub;
  ASSERT_EQ(m.Body().GetCodec(7, &sub), CodecOk);
  EXPECT_EQ(Fields(&sub),
            "00000001000000040000" "00F0"    // 1 width
            "00000002000000040000" "0140"    // 2 height
            "00000003000000040000" "4800"    // 3 offset
            "0000000400000004" "7FFFFFFF"    // 4 length wanted
            "00000005000000040000" "004D"    // 5 version held
            "000000060000000400000000");     // 6 0
  // A name over 128 bytes is not sent.
  r.name = std::string(129, 'a');
  EXPECT_FALSE(EncodeAttachRequest(r, &m));
}

WireMessage Answer(int32_t kind, TagCodec* sub) {
  WireMessage m;
  m.SetType(protocol::MessageType::GetMailAttach);
  m.Body().PutInt(1, 0);
  m.Body().PutInt(2, 0);
  m.Body().PutInt(3, kind);
  m.Body().PutCodec(4, sub);
  return m;
}

TEST(AttachMessage, AnswersMustAgreeWithThemselves) {
  auto text = [](int32_t length, const std::string& slice, int32_t total) {
    TagCodec sub;
    sub.PutInt(1, 0);
    sub.PutInt(2, total);
    sub.PutInt(3, 0);
    sub.PutInt(4, length);
    sub.PutInt(6, 5);
    sub.PutBytes(5, ByteView(slice));
    return sub;
  };
  AttachResponse r;
  TagCodec good = text(3, "a😀", 10);  // three UTF-16 units in five bytes
  WireMessage m = Answer(2, &good);
  ASSERT_EQ(DecodeAttachResponse(m, AttachKind::kText, &r), CodecOk);
  EXPECT_EQ(r.total, 10);
  EXPECT_EQ(r.version, 5);
  // Another kind than asked, a length that is not the slice's, a negative total.
  EXPECT_NE(DecodeAttachResponse(m, AttachKind::kDownload, &r), CodecOk);
  TagCodec lying = text(5, "a😀", 10);
  m = Answer(2, &lying);
  EXPECT_NE(DecodeAttachResponse(m, AttachKind::kText, &r), CodecOk);
  TagCodec negative = text(3, "a😀", -1);
  m = Answer(2, &negative);
  EXPECT_NE(DecodeAttachResponse(m, AttachKind::kText, &r), CodecOk);
  // A refusal needs no data; its total is read when present.
  TagCodec done;
  done.PutInt(1, kAttachComplete);
  done.PutInt(2, 70);
  m = Answer(1, &done);
  ASSERT_EQ(DecodeAttachResponse(m, AttachKind::kDownload, &r), CodecOk);
  EXPECT_EQ(r.sub_result, kAttachComplete);
  EXPECT_TRUE(r.has_total);
  EXPECT_EQ(r.total, 70);
}

TEST(ImageMessage, NotReadyCarriesItsDelayAndPiecesTheirLength) {
  WireMessage m;
  m.SetType(protocol::MessageType::GetMailImg);
  m.Body().PutInt(1, kImageNotReady);
  m.Body().PutUInt(11, 30);
  MailImageResponse r;
  ASSERT_EQ(DecodeImageResponse(m, &r), CodecOk);
  EXPECT_EQ(r.retry_delay, 30u);

  WireMessage piece;
  piece.SetType(protocol::MessageType::GetMailImg);
  piece.Body().PutInt(1, 0);
  piece.Body().PutInt(2, 4);
  piece.Body().PutBytes(4, ByteView(std::string(".png")));
  piece.Body().PutInt(7, 3);
  piece.Body().PutInt(9, 4);  // says 4, holds 3
  piece.Body().PutBytes(10, ByteView(std::string("abc")));
  EXPECT_NE(DecodeImageResponse(piece, &r), CodecOk);

  MailImageRequest q;
  q.url = std::string(kMaxImageUrlBytes + 1, 'u');
  WireMessage out;
  EXPECT_FALSE(EncodeImageRequest(q, &out));
}

}  // namespace
}  // namespace commands
}  // namespace quill
