// Byte buffers shared by every layer.
#ifndef QUILL_PLATFORM_BYTES_H_
#define QUILL_PLATFORM_BYTES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

using Bytes = std::vector<uint8_t>;

// A borrowed, read-only range of bytes. The owner keeps the bytes alive and
// unchanged for as long as the view is used.
struct ByteView {
  const uint8_t* data = nullptr;
  size_t size = 0;

  ByteView() = default;
  ByteView(const uint8_t* d, size_t n) : data(d), size(n) {}
  ByteView(const Bytes& b) : data(b.data()), size(b.size()) {}  // NOLINT: implicit by design
  ByteView(std::string_view s)                                  // NOLINT: implicit by design
      : data(reinterpret_cast<const uint8_t*>(s.data())), size(s.size()) {}

  bool empty() const { return size == 0; }
  const uint8_t* begin() const { return data; }
  const uint8_t* end() const { return data + size; }
  Bytes ToBytes() const { return Bytes(data, data + size); }
  std::string ToString() const { return std::string(reinterpret_cast<const char*>(data), size); }
};

}  // namespace quill

#endif  // QUILL_PLATFORM_BYTES_H_
