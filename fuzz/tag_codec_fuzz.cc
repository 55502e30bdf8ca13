// Loads arbitrary bytes as a codec image and reads it with every getter,
// recursing into nested images; then writes to the loaded codec.
#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/field_reader.h"
#include "protocol/list_codec.h"
#include "protocol/tag_codec.h"

using quill::ByteView;
using quill::protocol::CodecOk;
using quill::protocol::FieldInfo;
using quill::protocol::FieldReader;
using quill::protocol::ListReader;
using quill::protocol::TagCodec;

namespace {

void ReadAll(const TagCodec& c, int depth) {
  if (c.IsEmpty() || c.Mode() > 1) {
    int32_t v;
    (void)c.GetInt(1, &v);
    return;
  }
  FieldReader reader(c.Data(), static_cast<size_t>(c.Size()), c.Mode());
  FieldInfo f;
  int fields = 0;
  while (reader.Next(&f) && fields++ < 64) {
    int32_t i;
    uint32_t u;
    int64_t l;
    std::string s;
    ByteView v;
    (void)c.GetInt(f.tag, &i);
    (void)c.GetUInt(f.tag, &u);
    (void)c.GetInt64(f.tag, &l);
    (void)c.GetString(f.tag, &s);
    (void)c.GetView(f.tag, &v);
    int32_t len = 0;
    (void)c.GetBytes(f.tag, nullptr, &len);
    uint8_t buf[16];
    len = sizeof(buf);
    (void)c.GetBytes(f.tag, buf, &len);
    (void)c.GetInt(f.tag + 1, &i);  // usually absent: exercises the index
    if (depth < 4) {
      TagCodec child;
      if (c.GetCodec(f.tag, &child) == CodecOk) ReadAll(child, depth + 1);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const int32_t n = static_cast<int32_t>(size);
  TagCodec attached;
  if (attached.Attach(data, n) == CodecOk) {
    ReadAll(attached, 0);
    (void)attached.PutInt(1, 1);  // must refuse, the bytes are borrowed
  }
  TagCodec loaded;
  if (loaded.Load(data, n) == CodecOk) {
    ReadAll(loaded, 0);
    ListReader list;
    if (list.Open(loaded, 1, 2) == CodecOk) {
      TagCodec item;
      for (int32_t i = 1; i <= list.count(); ++i) (void)list.Item(i, &item);
    }
    if (loaded.PutInt(7, 7) == CodecOk && loaded.PutBytes(8, ByteView(data, size)) == CodecOk) {
      quill::Bytes image;
      loaded.Detach(&image);
      if (TagCodec::Validate(image.data(), static_cast<int64_t>(image.size())) != CodecOk) __builtin_trap();
    }
  }
  return 0;
}
