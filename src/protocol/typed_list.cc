#include "protocol/typed_list.h"

namespace quill {
namespace protocol {

int TypedListWriter::Add(int32_t type, TagCodec* content) {
  if (count_ == kMaxTypedListElements) return ErrBadSize;
  TagCodec element;
  TagCodec empty;
  int status = element.PutInt(1, type);
  if (status == CodecOk) status = element.PutCodec(2, content != nullptr ? content : &empty);
  if (status == CodecOk) status = list_.PutCodec(count_ + 1, &element);
  if (status == CodecOk) ++count_;
  return status;
}

int TypedListReader::Open(const TagCodec& parent, uint32_t tag) {
  list_.Reset();
  next_ = 1;
  failed_ = false;
  const int status = parent.GetCodec(tag, &list_);
  if (status == ErrNotPresent) return CodecOk;
  if (status != CodecOk) {
    failed_ = true;
    return ErrMalformed;
  }
  return CodecOk;
}

bool TypedListReader::Next(int32_t* type, TagCodec* content) {
  if (failed_ || next_ > kMaxTypedListElements) return false;
  TagCodec element;
  const int status = list_.GetCodec(next_, &element);
  if (status == ErrNotPresent) return false;
  if (status != CodecOk || element.GetInt(1, type) != CodecOk) {
    failed_ = true;
    return false;
  }
  // Content is optional in what we read: an absent one is empty.
  content->Reset();
  const int got = element.GetCodec(2, content);
  if (got != CodecOk && got != ErrNotPresent) {
    failed_ = true;
    return false;
  }
  ++next_;
  return true;
}

}  // namespace protocol
}  // namespace quill
