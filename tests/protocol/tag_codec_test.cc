#include "protocol/tag_codec.h"

#include <gtest/gtest.h>

#include <cstring>

#include "protocol/list_codec.h"
#include "tests/protocol/test_util.h"

namespace quill {
namespace protocol {
namespace {

// --- Golden images --------------------------------------------------------------

TEST(TagCodecGolden, EmptyCodecInBothModes) {
  TagCodec fixed;
  EXPECT_EQ(HexOf(ImageOf(&fixed)), "8100FFFF0000000000000000");
  TagCodec compact;
  ASSERT_EQ(compact.SetMode(CompactMode), CodecOk);
  EXPECT_EQ(HexOf(ImageOf(&compact)), "8101FFFF0000000000000000");
  uint8_t buf[12];
  int32_t len = sizeof(buf);
  ASSERT_EQ(fixed.CopyTo(buf, &len), CodecOk);
  EXPECT_EQ(len, 12);
  EXPECT_EQ(HexOf(ByteView(buf, 12)), "8100FFFF0000000000000000");
}

TEST(TagCodecGolden, FieldsInBothModes) {
  struct Case {
    const char* name;
    uint8_t mode;
    int (*put)(TagCodec*);
    const char* image;
  };
  const Case cases[] = {
      {"int fixed", FixedMode, [](TagCodec* c) { return c->PutInt(1, 7); },
       "8100F3FF0C00000000000000" "000000010000000400000007"},
      {"int compact", CompactMode, [](TagCodec* c) { return c->PutInt(1, 7); },
       "8101F3FF0600000000000000" "010407000000"},
      {"bytes fixed", FixedMode, [](TagCodec* c) { return c->PutBytes(300, ByteView(std::string_view("ab"))); },
       "81000DFF0A00000000000000" "0000012C000000026162"},
      {"bytes compact", CompactMode, [](TagCodec* c) { return c->PutBytes(300, ByteView(std::string_view("ab"))); },
       "81018CFF0500000000000000" "AC02026162"},
      {"bool fixed is not swapped", FixedMode, [](TagCodec* c) { return c->PutBool(2, true); },
       "8100F8FF0C00000000000000" "000000020000000401000000"},
      {"bool compact", CompactMode, [](TagCodec* c) { return c->PutBool(2, false); },
       "8101F9FF0600000000000000" "020400000000"},
      {"negative int fixed", FixedMode, [](TagCodec* c) { return c->PutInt(1, -3); },
       "810000000C00000000000000" "0000000100000004FFFFFFFD"},
      {"empty bytes compact", CompactMode, [](TagCodec* c) { return c->PutBytes(5, ByteView()); },
       "8101FAFF0200000000000000" "0500"},
  };
  for (const Case& c : cases) {
    TagCodec codec;
    ASSERT_EQ(codec.SetMode(c.mode), CodecOk);
    ASSERT_EQ(c.put(&codec), CodecOk) << c.name;
    const Bytes image = ImageOf(&codec);
    EXPECT_EQ(HexOf(image), c.image) << c.name;
    // Every golden image loads and reads back.
    TagCodec back;
    EXPECT_EQ(back.Load(image.data(), static_cast<int32_t>(image.size())), CodecOk) << c.name;
    EXPECT_EQ(back.Mode(), c.mode);
  }
}

TEST(TagCodecGolden, ChecksumCountsBytesAsSigned) {
  const uint8_t ff = 0xFF;
  EXPECT_EQ(TagCodec::Checksum(&ff, 1), 0x0000);  // -1, not 255
  EXPECT_EQ(TagCodec::Checksum(nullptr, 0), 0xFFFF);
  // The fast path agrees with the definition over many lengths and bytes.
  Bytes body(5000);
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i * 131 + 7);
  for (size_t n : {1u, 7u, 8u, 9u, 1023u, 1024u, 1031u, 5000u}) {
    uint16_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum = static_cast<uint16_t>(sum + static_cast<int8_t>(body[i]));
    EXPECT_EQ(TagCodec::Checksum(body.data(), n), static_cast<uint16_t>(~sum)) << n;
  }
}

TEST(TagCodecGolden, NestedRecordCarriesItsOwnHeader) {
  TagCodec child;
  ASSERT_EQ(child.PutInt(1, 7), CodecOk);
  TagCodec parent;
  ASSERT_EQ(parent.PutCodec(9, &child), CodecOk);
  EXPECT_EQ(HexOf(ImageOf(&parent)),
            "810053002000000000000000" "0000000900000018"
            "8100F3FF0C00000000000000" "000000010000000400000007");
}

// --- Reading ------------------------------------------------------------------------

TEST(TagCodecRead, IntegersInBothModes) {
  for (uint8_t mode : {FixedMode, CompactMode}) {
    TagCodec c;
    c.SetMode(mode);
    ASSERT_EQ(c.PutInt(1, -123456), CodecOk);
    ASSERT_EQ(c.PutUInt(2, 0xFEDCBA98u), CodecOk);
    ASSERT_EQ(c.PutBool(3, true), CodecOk);
    int32_t i = 0;
    uint32_t u = 0;
    EXPECT_EQ(c.GetInt(1, &i), CodecOk);
    EXPECT_EQ(i, -123456);
    EXPECT_EQ(c.GetUInt(2, &u), CodecOk);
    EXPECT_EQ(u, 0xFEDCBA98u);
    EXPECT_EQ(c.GetInt(3, &i), CodecOk);
    EXPECT_NE(i, 0);
    // Wrong width: a 4-byte value is not a 64-bit integer, and vice versa.
    int64_t wide = 99;
    EXPECT_EQ(c.GetInt64(1, &wide), ErrMalformed);
    EXPECT_EQ(wide, 0);
    EXPECT_EQ(c.GetInt(9, &i), ErrNotPresent);
    EXPECT_EQ(i, 0);
  }
}

TEST(TagCodecRead, Int64InBothModes) {
  const uint8_t value[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  for (uint8_t mode : {FixedMode, CompactMode}) {
    TagCodec c;
    c.SetMode(mode);
    ASSERT_EQ(c.PutBytes(4, ByteView(value, 8)), CodecOk);
    int64_t v = 0;
    ASSERT_EQ(c.GetInt64(4, &v), CodecOk);
    EXPECT_EQ(v, mode == FixedMode ? 0x0102030405060708 : 0x0807060504030201);
    int32_t narrow = 5;
    EXPECT_EQ(c.GetInt(4, &narrow), ErrMalformed);
  }
}

TEST(TagCodecRead, GetBytesSizeProtocol) {
  TagCodec c;
  ASSERT_EQ(c.PutBytes(7, ByteView(std::string_view("hello"))), CodecOk);
  ASSERT_EQ(c.PutBytes(8, ByteView()), CodecOk);
  int32_t len = 0;
  EXPECT_EQ(c.GetBytes(7, nullptr, &len), ErrTooSmall);
  EXPECT_EQ(len, 5);
  uint8_t buf[8];
  std::memset(buf, 0xAA, sizeof(buf));
  len = 3;
  EXPECT_EQ(c.GetBytes(7, buf, &len), ErrTooSmall);
  EXPECT_EQ(len, 5);
  EXPECT_EQ(buf[0], 0);  // zeroed up to the capacity
  EXPECT_EQ(buf[3], 0xAA);
  len = sizeof(buf);
  EXPECT_EQ(c.GetBytes(7, buf, &len), CodecOk);
  EXPECT_EQ(len, 5);
  EXPECT_EQ(std::memcmp(buf, "hello\0\0\0", 8), 0);
  len = 0;
  EXPECT_EQ(c.GetBytes(8, nullptr, &len), ErrTooSmall);
  EXPECT_EQ(len, 0);
  len = sizeof(buf);
  EXPECT_EQ(c.GetBytes(8, buf, &len), CodecOk);
  EXPECT_EQ(len, 0);
  len = 0;
  EXPECT_EQ(c.GetBytes(9, nullptr, &len), ErrNotPresent);
  EXPECT_EQ(c.GetBytes(7, nullptr, nullptr), ErrBadArgument);
  len = 4;
  EXPECT_EQ(c.GetBytes(7, nullptr, &len), ErrBadArgument);
  TagCodec empty;
  for (uint32_t tag : {0u, 1u, 300u}) {
    len = 0;
    EXPECT_EQ(empty.GetBytes(tag, nullptr, &len), ErrNotPresent);
  }
}

TEST(TagCodecRead, StringsKeepEveryByte) {
  TagCodec c;
  const std::string text("a\0b\xE4\xB8\xAD", 6);
  ASSERT_EQ(c.PutBytes(1, ByteView(text)), CodecOk);
  std::string out = "stale";
  EXPECT_EQ(c.GetString(1, &out), CodecOk);
  EXPECT_EQ(out, text);
  EXPECT_LT(c.GetString(2, &out), 0);
  EXPECT_EQ(out, "");
}

TEST(TagCodecRead, FirstOccurrenceWinsAtEverySize) {
  // Below and above the size at which lookups switch to an index.
  for (int fields : {3, 16, 17, 40, 500}) {
    TagCodec c;
    for (int i = 0; i < fields; ++i) ASSERT_EQ(c.PutInt(static_cast<uint32_t>(i % 7), i), CodecOk);
    for (uint32_t tag = 0; tag < 7 && tag < static_cast<uint32_t>(fields); ++tag) {
      int32_t v = -1;
      EXPECT_EQ(c.GetInt(tag, &v), CodecOk);
      EXPECT_EQ(v, static_cast<int32_t>(tag)) << fields;
    }
    int32_t v;
    EXPECT_EQ(c.GetInt(7, &v), ErrNotPresent);
  }
}

TEST(TagCodecRead, ListOfRecordsRoundTrip) {
  TagCodec list;
  constexpr int kItems = 300;
  for (int i = 1; i <= kItems; ++i) {
    TagCodec item;
    ASSERT_EQ(item.PutInt(1, i * 3), CodecOk);
    ASSERT_EQ(item.PutBytes(2, ByteView(std::string(static_cast<size_t>(i % 5), 'x'))), CodecOk);
    ASSERT_EQ(list.PutCodec(static_cast<uint32_t>(i), &item), CodecOk);
  }
  TagCodec message;
  ASSERT_EQ(message.PutInt(1, kItems), CodecOk);
  ASSERT_EQ(message.PutCodec(2, &list), CodecOk);
  const Bytes image = ImageOf(&message);

  TagCodec read;
  ASSERT_EQ(read.Load(image.data(), static_cast<int32_t>(image.size())), CodecOk);
  TagCodec items;
  ASSERT_EQ(read.GetCodec(2, &items), CodecOk);
  TagCodec item;  // reused for every item
  for (int i = kItems; i >= 1; --i) {  // any order
    ASSERT_EQ(items.GetCodec(static_cast<uint32_t>(i), &item), CodecOk);
    int32_t v = 0;
    EXPECT_EQ(item.GetInt(1, &v), CodecOk);
    EXPECT_EQ(v, i * 3);
    std::string s;
    EXPECT_EQ(item.GetString(2, &s), CodecOk);
    EXPECT_EQ(s.size(), static_cast<size_t>(i % 5));
  }
  EXPECT_EQ(items.GetCodec(kItems + 1, &item), ErrNotPresent);
}

TEST(TagCodecRead, GetCodecOfEmptyValueAndBadValue) {
  TagCodec c;
  ASSERT_EQ(c.PutBytes(1, ByteView()), CodecOk);
  ASSERT_EQ(c.PutBytes(2, ByteView(std::string_view("not a codec at all"))), CodecOk);
  TagCodec out;
  out.SetMode(CompactMode);
  ASSERT_EQ(c.GetCodec(1, &out), CodecOk);
  EXPECT_TRUE(out.IsEmpty());
  EXPECT_EQ(out.Mode(), FixedMode);
  ASSERT_EQ(out.PutInt(5, 5), CodecOk);
  EXPECT_EQ(c.GetCodec(2, &out), ErrMalformed);
  int32_t v = 0;
  EXPECT_EQ(out.GetInt(5, &v), CodecOk);  // unchanged on failure
  EXPECT_EQ(c.GetCodec(3, &out), ErrNotPresent);
  EXPECT_EQ(c.GetCodec(1, nullptr), ErrBadArgument);
}

// --- Rejection of bad images --------------------------------------------------------

Bytes WithHeader(uint8_t mode, const Bytes& body) {
  Bytes image(12, 0);
  image[0] = 0x81;
  image[1] = mode;
  const uint16_t sum = TagCodec::Checksum(body.data(), body.size());
  image[2] = static_cast<uint8_t>(sum);
  image[3] = static_cast<uint8_t>(sum >> 8);
  const uint32_t n = static_cast<uint32_t>(body.size());
  for (int i = 0; i < 4; ++i) image[4 + i] = static_cast<uint8_t>(n >> (8 * i));
  image.insert(image.end(), body.begin(), body.end());
  return image;
}

TEST(TagCodecReject, EveryValidationRule) {
  const Bytes good = WithHeader(FixedMode, Hex("000000010000000400000007"));
  struct Case {
    const char* name;
    Bytes image;
  };
  Bytes bad_magic = good;
  bad_magic[0] = 0x80;
  Bytes bad_length = good;
  bad_length[4] = 13;
  Bytes bad_sum = good;
  bad_sum[2] ^= 1;
  Bytes flipped_body = good;
  flipped_body[20] ^= 0x10;
  const Case cases[] = {
      {"bad magic", bad_magic},
      {"length field", bad_length},
      {"checksum", bad_sum},
      {"body bit flipped", flipped_body},
      {"truncated header", Bytes(good.begin(), good.begin() + 11)},
      {"bad mode", WithHeader(2, Hex("000000010000000400000007"))},
      {"field overrun fixed", WithHeader(FixedMode, Hex("000000010000000500000007"))},
      {"field header cut", WithHeader(FixedMode, Hex("0000000100"))},
      {"length >= 2^31 fixed", WithHeader(FixedMode, Hex("0000000180000000"))},
      {"varint off the end", WithHeader(CompactMode, Hex("0180"))},
      {"tag varint off the end", WithHeader(CompactMode, Hex("FFFF"))},
      {"length >= 2^31 compact", WithHeader(CompactMode, Hex("0180808080080000"))},
      {"field overrun compact", WithHeader(CompactMode, Hex("010407000000" "0205AA"))},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TagCodec::Validate(c.image.data(), static_cast<int64_t>(c.image.size())), ErrMalformed)
        << c.name;
    TagCodec codec;
    ASSERT_EQ(codec.PutInt(42, 1), CodecOk);
    const int32_t n = static_cast<int32_t>(c.image.size());
    EXPECT_EQ(codec.Load(c.image.data(), n), n < 1 ? ErrBadArgument : ErrMalformed) << c.name;
    EXPECT_EQ(codec.Attach(c.image.data(), n), ErrMalformed) << c.name;
    int32_t v = 0;
    EXPECT_EQ(codec.GetInt(42, &v), CodecOk) << c.name << ": a failed load changed the codec";
    // Nested, the same image is rejected by GetCodec.
    TagCodec parent;
    ASSERT_EQ(parent.PutBytes(1, c.image), CodecOk);
    TagCodec child;
    EXPECT_EQ(parent.GetCodec(1, &child), ErrMalformed) << c.name;
  }
  EXPECT_EQ(TagCodec::Validate(good.data(), static_cast<int64_t>(good.size())), CodecOk);
}

TEST(TagCodecReject, EmptyImageWithAnyModeIsValid) {
  // The mode byte of an empty image is not checked; gets still see no field
  // and puts refuse the unknown mode.
  Bytes image = WithHeader(7, Bytes());
  TagCodec c;
  ASSERT_EQ(c.Load(image.data(), 12), CodecOk);
  int32_t v;
  EXPECT_EQ(c.GetInt(1, &v), ErrNotPresent);
  EXPECT_EQ(c.PutInt(1, 1), ErrBadMode);
}

TEST(TagCodecReject, LoadArguments) {
  const Bytes good = WithHeader(FixedMode, Bytes());
  TagCodec c;
  EXPECT_EQ(c.Load(nullptr, 12), ErrBadArgument);
  EXPECT_EQ(c.Load(good.data(), 0), ErrBadArgument);
  EXPECT_EQ(c.Load(good.data(), -1), ErrBadArgument);
  EXPECT_EQ(c.Load(good.data(), 12, 11), ErrBadArgument);
  EXPECT_EQ(c.Load(good.data(), 12, 4096), CodecOk);
  EXPECT_EQ(c.Capacity(), 4096);
  EXPECT_EQ(c.Attach(nullptr, 12), ErrBadArgument);
}

TEST(TagCodecRead, LongVarintKeepsLowBits) {
  // Tag 1 written with seven bytes: groups past bit 32 contribute nothing.
  const Bytes image = WithHeader(CompactMode, Hex("81808080F0FF7F" "0401000000"));
  TagCodec c;
  ASSERT_EQ(c.Load(image.data(), static_cast<int32_t>(image.size())), CodecOk);
  int32_t v = 0;
  EXPECT_EQ(c.GetInt(1, &v), CodecOk);
  EXPECT_EQ(v, 1);
}

// --- Writing --------------------------------------------------------------------------

TEST(TagCodecWrite, GrowsInWholeSteps) {
  TagCodec c;
  EXPECT_EQ(c.Capacity(), 1024);
  ASSERT_EQ(c.PutBytes(1, ByteView(Bytes(1004, 1))), CodecOk);  // 12 + 8 + 1004 = 1024
  EXPECT_EQ(c.Capacity(), 1024);
  ASSERT_EQ(c.PutBytes(2, ByteView(Bytes(3000, 2))), CodecOk);
  EXPECT_EQ(c.Capacity(), 1024 + 3 * 1024);
  EXPECT_EQ(c.Size(), 1024 + 3008);
}

TEST(TagCodecWrite, BadArgumentsLeaveFieldsIntact) {
  TagCodec c;
  ASSERT_EQ(c.PutInt(1, 1), CodecOk);
  EXPECT_EQ(c.PutBytes(2, ByteView(nullptr, 3)), ErrBadArgument);
  EXPECT_EQ(c.PutCodec(3, nullptr), ErrBadArgument);
  EXPECT_EQ(c.Size(), 24);
  EXPECT_EQ(c.SetMode(2), ErrBadMode);
}

TEST(TagCodecWrite, SelfAppendAndSelfLoad) {
  TagCodec c;
  ASSERT_EQ(c.PutBytes(1, ByteView(Bytes(1000, 3))), CodecOk);
  ASSERT_EQ(c.PutCodec(2, &c), CodecOk);  // the source moves as the buffer grows
  TagCodec inner;
  ASSERT_EQ(c.GetCodec(2, &inner), CodecOk);
  EXPECT_EQ(inner.Size(), 12 + 1008);
  ASSERT_EQ(c.GetCodec(2, &c), CodecOk);  // load from its own buffer
  EXPECT_EQ(c.Size(), 12 + 1008);
}

TEST(TagCodecWrite, AttachedImageIsReadOnly) {
  TagCodec source;
  ASSERT_EQ(source.PutInt(1, 5), CodecOk);
  const Bytes image = ImageOf(&source);
  const Bytes before = image;
  TagCodec c;
  ASSERT_EQ(c.Attach(image.data(), static_cast<int32_t>(image.size())), CodecOk);
  EXPECT_TRUE(c.IsAttached());
  EXPECT_EQ(c.PutInt(2, 1), ErrBadArgument);
  EXPECT_EQ(c.PutBytes(2, ByteView()), ErrBadArgument);
  EXPECT_EQ(c.Reset(), ErrBadArgument);
  EXPECT_EQ(c.SetMode(CompactMode), ErrBadArgument);
  c.Finalize();
  int32_t v = 0;
  EXPECT_EQ(c.GetInt(1, &v), CodecOk);
  EXPECT_EQ(v, 5);
  Bytes copy;
  ASSERT_EQ(c.Detach(&copy), CodecOk);
  EXPECT_EQ(copy, image);
  EXPECT_FALSE(c.IsAttached());
  EXPECT_TRUE(c.IsEmpty());
  EXPECT_EQ(image, before);
  ASSERT_EQ(c.PutInt(3, 3), CodecOk);  // owned again
}

TEST(TagCodecWrite, DetachHandsOverAndResets) {
  TagCodec c;
  c.SetMode(CompactMode);
  ASSERT_EQ(c.PutInt(1, 7), CodecOk);
  Bytes image;
  ASSERT_EQ(c.Detach(&image), CodecOk);
  EXPECT_EQ(HexOf(image), "8101F3FF0600000000000000010407000000");
  EXPECT_TRUE(c.IsEmpty());
  EXPECT_EQ(c.Mode(), CompactMode);
  uint8_t small[4];
  int32_t len = sizeof(small);
  ASSERT_EQ(c.PutInt(1, 7), CodecOk);
  EXPECT_EQ(c.CopyTo(small, &len), ErrTooSmall);
  EXPECT_EQ(len, 18);
  EXPECT_EQ(c.CopyTo(small, nullptr), ErrBadArgument);
}

}  // namespace
}  // namespace protocol
}  // namespace quill

namespace quill {
namespace protocol {
namespace {

Bytes ParentWithList(int32_t count, int items, bool put_list = true) {
  ListWriter writer;
  for (int i = 0; i < items; ++i) {
    TagCodec item;
    EXPECT_EQ(item.PutInt(1, i + 1), CodecOk);
    EXPECT_EQ(writer.Add(&item), CodecOk);
  }
  TagCodec parent;
  EXPECT_EQ(parent.PutInt(3, count), CodecOk);
  if (put_list) {
    EXPECT_EQ(parent.PutCodec(4, writer.list()), CodecOk);
  }
  return ImageOf(&parent);
}

TEST(ListCodec, ReadsEveryItemInOrder) {
  const Bytes image = ParentWithList(50, 50);
  TagCodec parent;
  ASSERT_EQ(parent.Load(image.data(), static_cast<int32_t>(image.size())), CodecOk);
  ListReader list;
  ASSERT_EQ(list.Open(parent, 3, 4), CodecOk);
  ASSERT_EQ(list.count(), 50);
  TagCodec item;
  for (int32_t i = 1; i <= list.count(); ++i) {
    ASSERT_EQ(list.Item(i, &item), CodecOk);
    int32_t v = 0;
    EXPECT_EQ(item.GetInt(1, &v), CodecOk);
    EXPECT_EQ(v, i);
  }
  EXPECT_EQ(list.Item(51, &item), ErrBadArgument);
  EXPECT_EQ(list.Item(0, &item), ErrBadArgument);
}

TEST(ListCodec, CountThatLiesIsMalformed) {
  struct Case {
    const char* name;
    Bytes image;
    int status;
  };
  const Case cases[] = {
      {"count above the items", ParentWithList(4, 3), ErrMalformed},
      {"huge count, few items", ParentWithList(0x7FFFFFFF, 2), ErrMalformed},
      {"negative count", ParentWithList(-1, 2), ErrMalformed},
      {"count without a list", ParentWithList(2, 0, false), ErrMalformed},
      {"zero count without a list", ParentWithList(0, 0, false), CodecOk},
      {"fewer promised than present", ParentWithList(2, 3), CodecOk},
  };
  for (const Case& c : cases) {
    TagCodec parent;
    ASSERT_EQ(parent.Load(c.image.data(), static_cast<int32_t>(c.image.size())), CodecOk);
    ListReader list;
    EXPECT_EQ(list.Open(parent, 3, 4), c.status) << c.name;
    if (c.status != CodecOk) {
      EXPECT_EQ(list.count(), 0) << c.name;
    }
  }
  // Items tagged out of sequence: the count fits, an item is missing.
  TagCodec items, item, parent;
  ASSERT_EQ(item.PutInt(1, 1), CodecOk);
  ASSERT_EQ(items.PutCodec(1, &item), CodecOk);
  ASSERT_EQ(items.PutCodec(3, &item), CodecOk);
  ASSERT_EQ(parent.PutInt(3, 2), CodecOk);
  ASSERT_EQ(parent.PutCodec(4, &items), CodecOk);
  ListReader list;
  ASSERT_EQ(list.Open(parent, 3, 4), CodecOk);
  EXPECT_EQ(list.Item(1, &item), CodecOk);
  EXPECT_EQ(list.Item(2, &item), ErrMalformed);
}

}  // namespace
}  // namespace protocol
}  // namespace quill
