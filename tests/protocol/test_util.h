// Helpers shared by the protocol tests.
#ifndef QUILL_TESTS_PROTOCOL_TEST_UTIL_H_
#define QUILL_TESTS_PROTOCOL_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <string>

#include "platform/hex.h"
#include "protocol/tag_codec.h"

namespace quill {
namespace protocol {

inline Bytes Hex(const std::string& text) {
  Bytes out;
  EXPECT_TRUE(HexDecode(text, &out)) << text;
  return out;
}

inline std::string HexOf(ByteView b) { return HexEncode(b); }

// The finalised image of a codec.
inline Bytes ImageOf(TagCodec* codec) {
  codec->Finalize();
  return codec->Image().ToBytes();
}

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_TESTS_PROTOCOL_TEST_UTIL_H_
