// Text fields of command messages have fixed byte capacities.
#ifndef QUILL_COMMANDS_TEXT_LIMITS_H_
#define QUILL_COMMANDS_TEXT_LIMITS_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/tag_codec.h"

namespace quill {
namespace commands {

// A mandatory text field of at most `capacity` bytes: the lookup's status
// when absent, ErrMalformed when longer.
int GetBoundedText(const protocol::TagCodec& codec, uint32_t tag, size_t capacity, std::string* out);
// A mandatory text field kept to at most `capacity` bytes: a longer one is
// cut at a UTF-8 character boundary. The lookup's status when absent.
int GetCutText(const protocol::TagCodec& codec, uint32_t tag, size_t capacity, std::string* out);

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_TEXT_LIMITS_H_
