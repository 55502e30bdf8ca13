#include "protocol/list_codec.h"

namespace quill {
namespace protocol {

int ListReader::Open(const TagCodec& parent, uint32_t count_tag, uint32_t list_tag, bool exact) {
  count_ = 0;
  list_.Reset();
  int32_t count = 0;
  int status = parent.GetInt(count_tag, &count);
  if (status != CodecOk) return status;
  if (count < 0) return ErrMalformed;
  if (count == 0) {
    // An empty list may be absent; one that is present must be empty.
    if (exact && parent.GetCodec(list_tag, &list_) == CodecOk && list_.FieldCount() != 0) {
      return ErrMalformed;
    }
    list_.Reset();
    return CodecOk;
  }
  status = parent.GetCodec(list_tag, &list_);
  if (status != CodecOk) return ErrMalformed;
  if (static_cast<uint64_t>(count) > list_.FieldCount()) return ErrMalformed;
  if (exact && static_cast<uint64_t>(count) != list_.FieldCount()) return ErrMalformed;
  count_ = count;
  return CodecOk;
}

int ListReader::Item(int32_t i, TagCodec* out) const {
  if (i < 1 || i > count_) return ErrBadArgument;
  return list_.GetCodec(static_cast<uint32_t>(i), out) == CodecOk ? CodecOk : ErrMalformed;
}

int ListWriter::Add(TagCodec* item) {
  if (count_ == INT32_MAX) return ErrBadSize;
  const int status = list_.PutCodec(static_cast<uint32_t>(count_) + 1, item);
  if (status == CodecOk) ++count_;
  return status;
}

}  // namespace protocol
}  // namespace quill
