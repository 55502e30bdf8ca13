// Hexadecimal text <-> bytes, for tools, configuration and tests.
#ifndef QUILL_PLATFORM_HEX_H_
#define QUILL_PLATFORM_HEX_H_

#include <string>
#include <string_view>

#include "platform/bytes.h"

namespace quill {

// Upper-case digits, no separators.
std::string HexEncode(ByteView bytes);
// Lower-case digits, no separators (digests, identifiers, file names).
std::string HexEncodeLower(ByteView bytes);

// Reads pairs of hexadecimal digits (either case); ASCII whitespace between
// digits is ignored. False on any other character or an odd digit count,
// with *bad_offset (if given) at the offending character of the text.
bool HexDecode(std::string_view text, Bytes* out, size_t* bad_offset = nullptr);

}  // namespace quill

#endif  // QUILL_PLATFORM_HEX_H_
