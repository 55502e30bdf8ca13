// Typed lists: a nested record whose fields are tagged 1, 2, 3 ... in
// order, one per element, with no count of their own; each element is a
// record of tag 1 = the element's type (integer) and tag 2 = a record with
// the element's content (an empty record for elements without content).
// A reader walks the tags from 1 upwards and stops at the first absent one.
//
// Elements come from the network: a reader never trusts a count, stops at
// kMaxTypedListElements, and fails (and stays failed) on an element that is
// present but not a valid element record.
#ifndef QUILL_PROTOCOL_TYPED_LIST_H_
#define QUILL_PROTOCOL_TYPED_LIST_H_

#include <cstdint>

#include "protocol/tag_codec.h"

namespace quill {
namespace protocol {

// More elements than a list of any command holds; a longer list is cut here.
constexpr uint32_t kMaxTypedListElements = 4096;

class TypedListWriter {
 public:
  // Appends an element of `type` whose content is `content` (finalised);
  // null content writes an empty record.
  int Add(int32_t type, TagCodec* content = nullptr);

  uint32_t count() const { return count_; }
  bool empty() const { return count_ == 0; }
  // The list record, to be put into the parent with PutCodec.
  TagCodec* list() { return &list_; }

 private:
  TagCodec list_;       // elements tagged 1..count_
  uint32_t count_ = 0;  // elements added
};

class TypedListReader {
 public:
  // Reads the list record at `tag` of `parent`. An absent field is an empty
  // list (CodecOk); a field that is not a valid record is ErrMalformed.
  int Open(const TagCodec& parent, uint32_t tag);

  // The next element: its type and content. False at the end of the list
  // or on a fault (failed() tells which; a fault is sticky).
  bool Next(int32_t* type, TagCodec* content);
  bool failed() const { return failed_; }

 private:
  TagCodec list_;        // the list record
  uint32_t next_ = 1;    // tag of the next element
  bool failed_ = false;  // an element was malformed
};

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_PROTOCOL_TYPED_LIST_H_
