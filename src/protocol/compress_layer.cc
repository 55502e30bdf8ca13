#include "protocol/compress_layer.h"

#include <cmath>
#include <zlib.h>

#include "protocol/tag_codec.h"

namespace quill {
namespace protocol {
namespace {

enum : uint32_t {
  kTagVersion = 201,
  kTagMethod = 202,
  kTagDataLength = 203,
  kTagRawLength = 204,
  kTagData = 205,
};

bool MethodAllowed(int version, int method) {
  if (method == kCompressZlib) return true;
  return version == kCompressVersion1002 && method == kCompressStored;
}

// A payload this long or longer is sampled before it is compressed whole.
constexpr size_t kSampleThreshold = 8192;
constexpr size_t kSampleLength = 4096;

// Whether a payload looks incompressible (already compressed or enciphered,
// as attachment and package pieces mostly are): the bytes of its last
// kSampleLength, where a message's bulk field sits, carry more than 7.8
// bits each (their order-0 entropy), so neither Huffman coding nor the
// rare match in such bytes would shrink them by a 32nd. Deflating such a
// piece whole at the default level only to store it cost about a quarter
// of a download's CPU; deflating a sample at the fastest level still cost
// a tenth of that, counting the bytes a fifth.
bool LooksIncompressible(ByteView data) {
  if (data.size < kSampleThreshold) return false;
  uint32_t counts[256] = {};
  const uint8_t* sample = data.data + data.size - kSampleLength;
  for (size_t i = 0; i < kSampleLength; ++i) ++counts[sample[i]];
  double bits = 0;  // the sample's entropy, in bits per byte
  for (uint32_t c : counts) {
    if (c == 0) continue;
    const double p = static_cast<double>(c) / kSampleLength;
    bits -= p * std::log2(p);
  }
  return bits > 7.8;
}

}  // namespace

int SealCompressed(ByteView data, Bytes* out, int method, int version) {
  if (out == nullptr || (data.data == nullptr && data.size > 0)) return kEnvBadArgument;
  if (data.size > static_cast<size_t>(TagCodec::kMaxFieldLength)) return kEnvBadArgument;
  if (version == 0) version = kCompressVersion1002;
  if (version != kCompressVersion1001 && version != kCompressVersion1002) return kEnvBadVersion;
  if (method == kCompressAuto && version == kCompressVersion1001) method = kCompressZlib;
  if (method != kCompressAuto && !MethodAllowed(version, method)) return kEnvMethodNotAllowed;

  const uint32_t raw_length = static_cast<uint32_t>(data.size);
  Bytes compressed;
  bool stored = method == kCompressStored || (method == kCompressAuto && LooksIncompressible(data));
  if (!stored) {
    uLongf size = compressBound(static_cast<uLong>(data.size));
    compressed.resize(size);
    if (compress(compressed.data(), &size, data.data, static_cast<uLong>(data.size)) != Z_OK) {
      return kEnvCompressFailed;
    }
    compressed.resize(size);
    stored = method == kCompressAuto && compressed.size() >= data.size;
  }
  const ByteView payload = stored ? data : ByteView(compressed);

  TagCodec layer;
  layer.SetMode(CompactMode);
  if (layer.PutInt(kTagVersion, version) != CodecOk ||
      layer.PutUInt(kTagRawLength, raw_length) != CodecOk ||
      layer.PutInt(kTagMethod, stored ? kCompressStored : kCompressZlib) != CodecOk ||
      layer.PutUInt(kTagDataLength, static_cast<uint32_t>(payload.size)) != CodecOk ||
      layer.PutBytes(kTagData, payload) != CodecOk) {
    return kEnvWriteFailed;
  }
  layer.Detach(out);
  return kEnvOk;
}

int OpenCompressed(ByteView image, Bytes* out, int* version) {
  if (out == nullptr || version == nullptr || image.data == nullptr) return kEnvBadArgument;
  if (image.size > static_cast<size_t>(TagCodec::kMaxFieldLength)) return kEnvMalformed;
  TagCodec layer;
  if (layer.Attach(image.data, static_cast<int32_t>(image.size)) != CodecOk) return kEnvMalformed;
  int32_t v = 0, method = 0;
  uint32_t data_length = 0, raw_length = 0;
  ByteView data;
  if (layer.GetInt(kTagVersion, &v) != CodecOk) return kEnvMalformed;
  if (v != kCompressVersion1001 && v != kCompressVersion1002) return kEnvBadVersion;
  if (layer.GetInt(kTagMethod, &method) != CodecOk || !MethodAllowed(v, method) ||
      layer.GetUInt(kTagDataLength, &data_length) != CodecOk ||
      layer.GetUInt(kTagRawLength, &raw_length) != CodecOk ||
      layer.GetView(kTagData, &data) != CodecOk || data.size != data_length) {
    return kEnvMalformed;
  }
  if (method == kCompressStored) {
    if (data_length != raw_length) return kEnvMalformed;
    *out = data.ToBytes();  // copied out of the borrowed image
  } else {
    if (raw_length > kMaxUncompressedLength) return kEnvMalformed;
    Bytes raw(raw_length);
    uLongf produced = raw_length;
    // A zero-length target still needs a valid pointer for zlib.
    Bytef spare = 0;
    const int z = uncompress(raw.empty() ? &spare : raw.data(), &produced, data.data,
                             static_cast<uLong>(data.size));
    if (z != Z_OK || produced != raw_length) return kEnvDecompressFailed;
    *out = std::move(raw);
  }
  *version = v;
  return kEnvOk;
}

}  // namespace protocol
}  // namespace quill
