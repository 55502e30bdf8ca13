// CompressLayer: the innermost envelope layer, a CompactMode codec with
//   201 version (1002 written; 1001 accepted)   204 uncompressed length
//   202 method: 1 zlib, 2 stored                 205 the data
//   203 length of the data in 205
// Version 1001 allows only method 1.
#ifndef QUILL_PROTOCOL_COMPRESS_LAYER_H_
#define QUILL_PROTOCOL_COMPRESS_LAYER_H_

#include <cstdint>

#include "platform/bytes.h"
#include "protocol/envelope_status.h"

namespace quill {
namespace protocol {

enum CompressMethod : int {
  kCompressAuto = 0,    // zlib unless that does not shrink the data (1002 only)
  kCompressZlib = 1,
  kCompressStored = 2,
};

constexpr int kCompressVersion1001 = 1001;
constexpr int kCompressVersion1002 = 1002;
// The largest uncompressed length a received layer may declare.
constexpr uint32_t kMaxUncompressedLength = 16u << 20;

// `out` may alias `data`'s storage: the result is built aside first.
int SealCompressed(ByteView data, Bytes* out, int method = kCompressAuto,
                   int version = kCompressVersion1002);

// Restores the data of a layer image. zlib must produce exactly the declared
// uncompressed length, which is capped at kMaxUncompressedLength.
int OpenCompressed(ByteView image, Bytes* out, int* version);

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_PROTOCOL_COMPRESS_LAYER_H_
