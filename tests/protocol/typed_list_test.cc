#include "protocol/typed_list.h"

#include <gtest/gtest.h>

#include "tests/protocol/test_util.h"

namespace quill {
namespace protocol {
namespace {

// One element of type 3 whose content is {1: 5}, byte for byte.
constexpr char kOneElementList[] =
    "81001A004000000000000000" "0000000100000038"
    "810052002C00000000000000" "000000010000000400000003" "0000000200000018"
    "8100F5FF0C00000000000000" "000000010000000400000005";

TEST(TypedList, GoldenImage) {
  TypedListWriter writer;
  TagCodec content;
  ASSERT_EQ(content.PutInt(1, 5), CodecOk);
  ASSERT_EQ(writer.Add(3, &content), CodecOk);
  EXPECT_EQ(HexOf(ImageOf(writer.list())), kOneElementList);

  TagCodec parent;
  const Bytes image = Hex(kOneElementList);
  TagCodec list;
  ASSERT_EQ(list.Load(image.data(), static_cast<int32_t>(image.size())), CodecOk);
  ASSERT_EQ(parent.PutCodec(7, &list), CodecOk);
  TypedListReader reader;
  ASSERT_EQ(reader.Open(parent, 7), CodecOk);
  int32_t type = 0;
  TagCodec got;
  ASSERT_TRUE(reader.Next(&type, &got));
  EXPECT_EQ(type, 3);
  int32_t value = 0;
  EXPECT_EQ(got.GetInt(1, &value), CodecOk);
  EXPECT_EQ(value, 5);
  EXPECT_FALSE(reader.Next(&type, &got));
  EXPECT_FALSE(reader.failed());
}

TEST(TypedList, ElementsWithoutContentAndAbsentLists) {
  TypedListWriter writer;
  ASSERT_EQ(writer.Add(3), CodecOk);
  ASSERT_EQ(writer.Add(1), CodecOk);
  TagCodec parent;
  ASSERT_EQ(parent.PutCodec(4, writer.list()), CodecOk);
  TypedListReader reader;
  ASSERT_EQ(reader.Open(parent, 4), CodecOk);
  int32_t type = 0;
  TagCodec content;
  ASSERT_TRUE(reader.Next(&type, &content));
  EXPECT_EQ(type, 3);
  EXPECT_TRUE(content.IsEmpty());
  ASSERT_TRUE(reader.Next(&type, &content));
  EXPECT_EQ(type, 1);
  EXPECT_FALSE(reader.Next(&type, &content));

  // An absent list is empty.
  ASSERT_EQ(reader.Open(parent, 9), CodecOk);
  EXPECT_FALSE(reader.Next(&type, &content));
  EXPECT_FALSE(reader.failed());
}

TEST(TypedList, WalkStopsAtTheFirstGapAndFailsOnBadElements) {
  // Elements 1 and 3: the walk ends after 1.
  TagCodec element;
  ASSERT_EQ(element.PutInt(1, 2), CodecOk);
  TagCodec list;
  ASSERT_EQ(list.PutCodec(1, &element), CodecOk);
  TagCodec element3;
  ASSERT_EQ(element3.PutInt(1, 4), CodecOk);
  ASSERT_EQ(list.PutCodec(3, &element3), CodecOk);
  TagCodec parent;
  ASSERT_EQ(parent.PutCodec(1, &list), CodecOk);
  TypedListReader reader;
  ASSERT_EQ(reader.Open(parent, 1), CodecOk);
  int32_t type = 0;
  TagCodec content;
  ASSERT_TRUE(reader.Next(&type, &content));
  EXPECT_EQ(type, 2);
  EXPECT_FALSE(reader.Next(&type, &content));
  EXPECT_FALSE(reader.failed());

  // An element without its type, or a list that is no record, fails and
  // stays failed.
  TagCodec typeless;
  ASSERT_EQ(typeless.PutInt(2, 1), CodecOk);
  TagCodec bad_list;
  ASSERT_EQ(bad_list.PutCodec(1, &typeless), CodecOk);
  TagCodec bad_parent;
  ASSERT_EQ(bad_parent.PutCodec(1, &bad_list), CodecOk);
  ASSERT_EQ(bad_parent.PutBytes(2, ByteView(std::string_view("not a record"))), CodecOk);
  ASSERT_EQ(reader.Open(bad_parent, 1), CodecOk);
  EXPECT_FALSE(reader.Next(&type, &content));
  EXPECT_TRUE(reader.failed());
  EXPECT_FALSE(reader.Next(&type, &content));
  EXPECT_EQ(reader.Open(bad_parent, 2), ErrMalformed);
  EXPECT_TRUE(reader.failed());
}

}  // namespace
}  // namespace protocol
}  // namespace quill
