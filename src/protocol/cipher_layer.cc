#include "protocol/cipher_layer.h"

#include "protocol/envelope_cipher.h"
#include "protocol/tag_codec.h"

namespace quill {
namespace protocol {
namespace {

enum : uint32_t {
  kTagVersion = 301,
  kTagCiphertext = 302,
  kTagTicket = 303,
};

constexpr size_t kBlock = 8;

// Writes version, optional ticket and ciphertext, in that order.
int WriteLayer(const ByteView* ticket, ByteView ciphertext, Bytes* out) {
  TagCodec layer;
  layer.SetMode(CompactMode);
  if (layer.PutInt(kTagVersion, kCipherVersion) != CodecOk) return kEnvWriteFailed;
  if (ticket != nullptr && layer.PutBytes(kTagTicket, *ticket) != CodecOk) return kEnvWriteFailed;
  if (layer.PutBytes(kTagCiphertext, ciphertext) != CodecOk) return kEnvWriteFailed;
  layer.Detach(out);
  return kEnvOk;
}

// Attaches a received layer and finds its version-checked ciphertext.
int ReadCiphertext(ByteView image, TagCodec* layer, ByteView* ciphertext) {
  if (image.data == nullptr || image.size > static_cast<size_t>(TagCodec::kMaxFieldLength) ||
      layer->Attach(image.data, static_cast<int32_t>(image.size)) != CodecOk) {
    return kEnvMalformed;
  }
  int32_t version = 0;
  if (layer->GetInt(kTagVersion, &version) != CodecOk) return kEnvMalformed;
  if (version != kCipherVersion) return kEnvBadVersion;
  if (layer->GetView(kTagCiphertext, ciphertext) != CodecOk) return kEnvMalformed;
  return kEnvOk;
}

}  // namespace

int SealPublic(const PublicKeyText& key, ByteView data, Bytes* out, const ByteView* ticket,
               int version) {
  if (out == nullptr || (data.data == nullptr && data.size > 0)) return kEnvBadArgument;
  if (ticket != nullptr && ticket->data == nullptr && ticket->size > 0) return kEnvBadArgument;
  if (version == 0) version = kCipherVersion;
  if (version != kCipherVersion) return kEnvBadVersion;

  crypto::RsaPublicKey rsa;
  switch (rsa.Parse(key.modulus_hex, key.exponent_hex)) {
    case crypto::RsaPublicKey::ParseStatus::kBadModulus: return kEnvBadModulus;
    case crypto::RsaPublicKey::ParseStatus::kBadExponent: return kEnvBadExponent;
    case crypto::RsaPublicKey::ParseStatus::kOk: break;
  }
  const size_t k = rsa.ModulusBytes();
  if (k <= 12) return kEnvEncryptFailed;
  const size_t chunk = k - 12;
  const size_t blocks = data.size <= chunk ? 1 : (data.size + chunk - 1) / chunk;
  if (blocks > static_cast<size_t>(TagCodec::kMaxFieldLength) / k) return kEnvBadArgument;

  Bytes sealed(blocks * k);
  for (size_t i = 0; i < blocks; ++i) {
    const size_t begin = i * chunk;
    const size_t end = begin + chunk < data.size ? begin + chunk : data.size;
    const ByteView part(data.size == 0 ? nullptr : data.data + begin, end - begin);
    if (!rsa.EncryptPkcs1(part, sealed.data() + i * k)) return kEnvEncryptFailed;
  }
  return WriteLayer(ticket, sealed, out);
}

int SealSession(ByteView data, ByteView key, Bytes* out, ByteView ticket, int version) {
  return SealSessionWithTicket(data, key, out, ticket.empty() ? nullptr : &ticket, version);
}

int SealSessionWithTicket(ByteView data, ByteView key, Bytes* out, const ByteView* ticket,
                          int version) {
  if (out == nullptr || key.data == nullptr || key.size == 0 ||
      (data.data == nullptr && data.size > 0) ||
      (ticket != nullptr && ticket->data == nullptr && ticket->size > 0)) {
    return kEnvBadArgument;
  }
  if (version == 0) version = kCipherVersion;
  if (version != kCipherVersion) return kEnvBadVersion;
  if (data.size > static_cast<size_t>(TagCodec::kMaxFieldLength) - 2 * kBlock) return kEnvBadArgument;

  const size_t pad = kBlock - data.size % kBlock;
  Bytes padded;
  padded.reserve(data.size + pad);
  padded.assign(data.begin(), data.end());
  padded.insert(padded.end(), pad, static_cast<uint8_t>(pad));

  uint8_t material[8];
  EnvelopeKeyMaterial(key, material);
  Bytes ciphertext;
  if (!EnvelopeCipher(material).Encipher(padded, &ciphertext)) return kEnvCipherFailed;
  return WriteLayer(ticket, ciphertext, out);
}

int OpenSession(ByteView image, ByteView key, Bytes* out, int* version) {
  if (out == nullptr || version == nullptr || image.data == nullptr || key.data == nullptr ||
      key.size == 0) {
    return kEnvBadArgument;
  }
  TagCodec layer;
  ByteView ciphertext;
  const int status = ReadCiphertext(image, &layer, &ciphertext);
  if (status != kEnvOk) return status;
  if (ciphertext.size < 2 * kBlock || ciphertext.size % kBlock != 0) return kEnvMalformed;

  uint8_t material[8];
  EnvelopeKeyMaterial(key, material);
  Bytes plain;
  if (!EnvelopeCipher(material).Decipher(ciphertext, &plain)) return kEnvMalformed;
  const uint8_t pad = plain.back();
  if (pad < 1 || pad > kBlock) return kEnvBadPadding;
  plain.resize(plain.size() - pad);
  *out = std::move(plain);
  *version = kCipherVersion;
  return kEnvOk;
}

int ReadTicket(ByteView image, Bytes* ticket) {
  if (ticket == nullptr || image.data == nullptr) return kEnvBadArgument;
  TagCodec layer;
  if (image.size > static_cast<size_t>(TagCodec::kMaxFieldLength) ||
      layer.Attach(image.data, static_cast<int32_t>(image.size)) != CodecOk) {
    return kEnvMalformed;
  }
  ByteView value;
  const int status = layer.GetView(kTagTicket, &value);
  if (status == ErrNotPresent) return kEnvNoTicket;
  if (status != CodecOk) return kEnvMalformed;
  *ticket = value.ToBytes();  // copied out of the borrowed image
  return kEnvOk;
}

int OpenPublic(const crypto::RsaKeyPair& key, ByteView image, Bytes* out) {
  if (out == nullptr) return kEnvBadArgument;
  TagCodec layer;
  ByteView ciphertext;
  const int status = ReadCiphertext(image, &layer, &ciphertext);
  if (status != kEnvOk) return status;
  const size_t k = key.ModulusBytes();
  if (k <= 12 || ciphertext.size == 0 || ciphertext.size % k != 0) return kEnvMalformed;
  Bytes plain, chunk;
  for (size_t at = 0; at < ciphertext.size; at += k) {
    if (!key.DecryptPkcs1(ByteView(ciphertext.data + at, k), &chunk)) return kEnvMalformed;
    plain.insert(plain.end(), chunk.begin(), chunk.end());
  }
  *out = std::move(plain);
  return kEnvOk;
}

}  // namespace protocol
}  // namespace quill
