// Lists: a nested record whose fields are the items, tagged 1..N, each item
// itself a record; the count N travels in a separate integer field of the
// parent.
//
// The count comes from the network: it is never used to preallocate, and a
// count larger than the fields present is a decode failure.
#ifndef QUILL_PROTOCOL_LIST_CODEC_H_
#define QUILL_PROTOCOL_LIST_CODEC_H_

#include <cstdint>

#include "protocol/tag_codec.h"

namespace quill {
namespace protocol {

class ListReader {
 public:
  // Reads the count from `count_tag` and the list record from `list_tag` of
  // `parent`. A negative count, a count above the list's field count, or a
  // missing list with a non-zero count: ErrMalformed. A zero count needs no
  // list field. With `exact`, a list holding more fields than the count is
  // ErrMalformed too.
  int Open(const TagCodec& parent, uint32_t count_tag, uint32_t list_tag, bool exact = false);

  int32_t count() const { return count_; }

  // Item i (1..count) into *out; a missing or invalid item is ErrMalformed.
  int Item(int32_t i, TagCodec* out) const;

 private:
  TagCodec list_;      // the list record
  int32_t count_ = 0;  // items promised by the parent, checked against list_
};

class ListWriter {
 public:
  // Appends `item` (finalised) as the next item.
  int Add(TagCodec* item);

  int32_t count() const { return count_; }
  // The list record, to be put into the parent with PutCodec.
  TagCodec* list() { return &list_; }

 private:
  TagCodec list_;      // items tagged 1..count_
  int32_t count_ = 0;  // items added
};

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_PROTOCOL_LIST_CODEC_H_
