#include <gtest/gtest.h>
#include <zlib.h>

#include "platform/crypto.h"
#include "protocol/cipher_layer.h"
#include "protocol/compress_layer.h"
#include "protocol/envelope.h"
#include "protocol/envelope_cipher.h"
#include "protocol/message_heads.h"
#include "protocol/response_wrapper.h"
#include "protocol/tag_codec.h"
#include "protocol/wire_message.h"
#include "tests/protocol/test_util.h"

namespace quill {
namespace protocol {
namespace {

// A CompactMode layer with the given fields, for hand-made bad layers.
struct LayerField {
  uint32_t tag;
  Bytes value;
};
Bytes Layer(const std::vector<LayerField>& fields) {
  TagCodec c;
  c.SetMode(CompactMode);
  for (const LayerField& f : fields) EXPECT_EQ(c.PutBytes(f.tag, f.value), CodecOk);
  Bytes out;
  c.Detach(&out);
  return out;
}
Bytes Le32(uint32_t v) {
  return Bytes{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
               static_cast<uint8_t>(v >> 24)};
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// --- CompressLayer ---------------------------------------------------------------------

TEST(CompressLayer, StoredWhenZlibDoesNotShrink) {
  Bytes out;
  ASSERT_EQ(SealCompressed(Text("ab"), &out), kEnvOk);
  EXPECT_EQ(HexOf(out),
            "81013B002100000000000000" "C90104EA030000" "CC010402000000" "CA010402000000"
            "CB010402000000" "CD01026162");
  Bytes back;
  int version = 0;
  ASSERT_EQ(OpenCompressed(out, &back, &version), kEnvOk);
  EXPECT_EQ(back, Text("ab"));
  EXPECT_EQ(version, 1002);
}

TEST(CompressLayer, ZlibWhenItShrinksAndRoundTrips) {
  const Bytes data(5000, 'q');
  Bytes out;
  ASSERT_EQ(SealCompressed(data, &out), kEnvOk);
  TagCodec layer;
  ASSERT_EQ(layer.Attach(out.data(), static_cast<int32_t>(out.size())), CodecOk);
  int32_t method = 0;
  uint32_t raw = 0, stored = 0;
  ASSERT_EQ(layer.GetInt(202, &method), CodecOk);
  EXPECT_EQ(method, 1);
  ASSERT_EQ(layer.GetUInt(204, &raw), CodecOk);
  EXPECT_EQ(raw, 5000u);
  ASSERT_EQ(layer.GetUInt(203, &stored), CodecOk);
  EXPECT_LT(stored, 100u);
  // The data is what zlib's compress makes at the default level.
  Bytes expect(compressBound(5000));
  uLongf n = expect.size();
  ASSERT_EQ(compress(expect.data(), &n, data.data(), data.size()), Z_OK);
  expect.resize(n);
  ByteView payload;
  ASSERT_EQ(layer.GetView(205, &payload), CodecOk);
  EXPECT_EQ(payload.ToBytes(), expect);

  Bytes back;
  int version = 0;
  ASSERT_EQ(OpenCompressed(out, &back, &version), kEnvOk);
  EXPECT_EQ(back, data);
  // In place: the output may replace the input buffer.
  ASSERT_EQ(OpenCompressed(out, &out, &version), kEnvOk);
  EXPECT_EQ(out, data);
}

// Long payloads are sampled at their tail, where a piece's bulk sits: noise
// there is stored without being deflated whole, text is deflated as usual.
TEST(CompressLayer, LongPayloadsAreSampledAtTheirTail) {
  Bytes noise_tail(8 * 1024, 'h');  // a compressible head does not decide
  uint32_t x = 12345;
  for (size_t i = 0; i < 16 * 1024; ++i) {
    x = x * 1103515245u + 12345u;
    noise_tail.push_back(static_cast<uint8_t>(x >> 24));
  }
  Bytes text_tail(16 * 1024, 'q');
  // Chinese text in UTF-16 spreads its bytes widely and still shrinks.
  Bytes chinese;
  for (size_t i = 0; i < 8 * 1024; ++i) {
    x = x * 1103515245u + 12345u;
    const uint16_t c = static_cast<uint16_t>(0x4E00 + (x >> 16) % 3000);
    chinese.push_back(static_cast<uint8_t>(c));
    chinese.push_back(static_cast<uint8_t>(c >> 8));
  }
  for (const auto& [data, method] :
       {std::pair<Bytes, int>{noise_tail, 2}, {text_tail, 1}, {chinese, 1}}) {
    Bytes out;
    ASSERT_EQ(SealCompressed(data, &out), kEnvOk);
    TagCodec layer;
    ASSERT_EQ(layer.Attach(out.data(), static_cast<int32_t>(out.size())), CodecOk);
    int32_t got = 0;
    ASSERT_EQ(layer.GetInt(202, &got), CodecOk);
    EXPECT_EQ(got, method);
    Bytes back;
    int version = 0;
    ASSERT_EQ(OpenCompressed(out, &back, &version), kEnvOk);
    EXPECT_EQ(back, data);
  }
}

TEST(CompressLayer, VersionAndMethodRules) {
  Bytes out;
  EXPECT_EQ(SealCompressed(Text("x"), &out, kCompressAuto, 1003), kEnvBadVersion);
  EXPECT_EQ(SealCompressed(Text("x"), &out, kCompressStored, 1001), kEnvMethodNotAllowed);
  EXPECT_EQ(SealCompressed(Text("x"), &out, 3, 1002), kEnvMethodNotAllowed);
  EXPECT_EQ(SealCompressed(Text("x"), nullptr), kEnvBadArgument);
  // Version 1001 always compresses, even when that grows the data.
  ASSERT_EQ(SealCompressed(Text("ab"), &out, kCompressAuto, 1001), kEnvOk);
  TagCodec layer;
  ASSERT_EQ(layer.Attach(out.data(), static_cast<int32_t>(out.size())), CodecOk);
  int32_t method = 0;
  ASSERT_EQ(layer.GetInt(202, &method), CodecOk);
  EXPECT_EQ(method, 1);
  ASSERT_EQ(SealCompressed(Text("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"), &out, kCompressStored), kEnvOk);
  Bytes back;
  int version;
  ASSERT_EQ(OpenCompressed(out, &back, &version), kEnvOk);
  EXPECT_EQ(back.size(), 41u);
  // The empty message survives both methods.
  for (int m : {kCompressAuto, kCompressZlib, kCompressStored}) {
    ASSERT_EQ(SealCompressed(ByteView(), &out, m), kEnvOk);
    ASSERT_EQ(OpenCompressed(out, &back, &version), kEnvOk);
    EXPECT_TRUE(back.empty());
  }
}

TEST(CompressLayer, OpenRejections) {
  Bytes z(compressBound(10));
  uLongf zn = z.size();
  const Bytes ten(10, 'z');
  ASSERT_EQ(compress(z.data(), &zn, ten.data(), ten.size()), Z_OK);
  z.resize(zn);
  const uint32_t zl = static_cast<uint32_t>(z.size());
  struct Case {
    const char* name;
    Bytes image;
    int status;
  };
  const Case cases[] = {
      {"not a codec", Text("garbage garbage"), kEnvMalformed},
      {"no version", Layer({{202, Le32(2)}, {203, Le32(1)}, {204, Le32(1)}, {205, Text("a")}}), kEnvMalformed},
      {"bad version", Layer({{201, Le32(1000)}, {202, Le32(2)}, {203, Le32(1)}, {204, Le32(1)}, {205, Text("a")}}), kEnvBadVersion},
      {"stored under 1001", Layer({{201, Le32(1001)}, {202, Le32(2)}, {203, Le32(1)}, {204, Le32(1)}, {205, Text("a")}}), kEnvMalformed},
      {"unknown method", Layer({{201, Le32(1002)}, {202, Le32(3)}, {203, Le32(1)}, {204, Le32(1)}, {205, Text("a")}}), kEnvMalformed},
      {"no 203", Layer({{201, Le32(1002)}, {202, Le32(2)}, {204, Le32(1)}, {205, Text("a")}}), kEnvMalformed},
      {"no 204", Layer({{201, Le32(1002)}, {202, Le32(2)}, {203, Le32(1)}, {205, Text("a")}}), kEnvMalformed},
      {"no 205", Layer({{201, Le32(1002)}, {202, Le32(2)}, {203, Le32(1)}, {204, Le32(1)}}), kEnvMalformed},
      {"205 shorter than 203", Layer({{201, Le32(1002)}, {202, Le32(2)}, {203, Le32(2)}, {204, Le32(2)}, {205, Text("a")}}), kEnvMalformed},
      {"205 longer than 203", Layer({{201, Le32(1002)}, {202, Le32(2)}, {203, Le32(1)}, {204, Le32(1)}, {205, Text("ab")}}), kEnvMalformed},
      {"stored 203 != 204", Layer({{201, Le32(1002)}, {202, Le32(2)}, {203, Le32(1)}, {204, Le32(2)}, {205, Text("a")}}), kEnvMalformed},
      {"203 not 4 bytes", Layer({{201, Le32(1002)}, {202, Le32(2)}, {203, Text("a")}, {204, Le32(1)}, {205, Text("a")}}), kEnvMalformed},
      {"raw length above the cap", Layer({{201, Le32(1002)}, {202, Le32(1)}, {203, Le32(zl)}, {204, Le32(kMaxUncompressedLength + 1)}, {205, z}}), kEnvMalformed},
      {"zlib makes fewer bytes", Layer({{201, Le32(1002)}, {202, Le32(1)}, {203, Le32(zl)}, {204, Le32(11)}, {205, z}}), kEnvDecompressFailed},
      {"zlib makes more bytes", Layer({{201, Le32(1002)}, {202, Le32(1)}, {203, Le32(zl)}, {204, Le32(9)}, {205, z}}), kEnvDecompressFailed},
      {"not a zlib stream", Layer({{201, Le32(1002)}, {202, Le32(1)}, {203, Le32(3)}, {204, Le32(3)}, {205, Text("abc")}}), kEnvDecompressFailed},
  };
  for (const Case& c : cases) {
    Bytes out = Text("untouched");
    int version = 0;
    EXPECT_EQ(OpenCompressed(c.image, &out, &version), c.status) << c.name;
    EXPECT_EQ(out, Text("untouched")) << c.name;
  }
  Bytes out;
  int version = 0;
  const Bytes good = Layer({{201, Le32(1001)}, {202, Le32(1)}, {203, Le32(zl)}, {204, Le32(10)}, {205, z}});
  EXPECT_EQ(OpenCompressed(good, &out, &version), kEnvOk);
  EXPECT_EQ(out, ten);
  EXPECT_EQ(version, 1001);
}

// --- Session cipher layer ---------------------------------------------------------------

TEST(SessionLayer, PaddingAndLengths) {
  const Bytes key = Text("session-key");
  for (size_t n = 0; n <= 40; ++n) {
    const Bytes data(n, static_cast<uint8_t>(n));
    Bytes sealed;
    ASSERT_EQ(SealSession(data, key, &sealed, ByteView()), kEnvOk);
    TagCodec layer;
    ASSERT_EQ(layer.Attach(sealed.data(), static_cast<int32_t>(sealed.size())), CodecOk);
    EXPECT_EQ(layer.Mode(), CompactMode);
    ByteView ct;
    ASSERT_EQ(layer.GetView(302, &ct), CodecOk);
    EXPECT_EQ(ct.size, 8 * (n / 8 + 1) + 8) << n;
    EXPECT_EQ(layer.GetView(303, &ct), ErrNotPresent);  // an empty ticket is omitted
    // The raw plaintext ends in p bytes of value p; a multiple of 8 gains 8 x 08.
    uint8_t material[8];
    EnvelopeKeyMaterial(key, material);
    Bytes plain;
    ASSERT_EQ(layer.GetView(302, &ct), CodecOk);
    ASSERT_TRUE(EnvelopeCipher(material).Decipher(ct, &plain));
    const size_t pad = 8 - n % 8;
    ASSERT_EQ(plain.size(), n + pad);
    for (size_t i = n; i < plain.size(); ++i) EXPECT_EQ(plain[i], pad);
    Bytes back;
    int version = 0;
    ASSERT_EQ(OpenSession(sealed, key, &back, &version), kEnvOk);
    EXPECT_EQ(back, data);
    EXPECT_EQ(version, 1001);
  }
}

TEST(SessionLayer, KeyMaterialRules) {
  const Bytes data = Text("hello, mail");
  Bytes a, b;
  ASSERT_EQ(SealSession(data, Text("12345678"), &a, ByteView()), kEnvOk);
  ASSERT_EQ(SealSession(data, Text("12345678-and-more"), &b, ByteView()), kEnvOk);
  EXPECT_EQ(a, b);
  ASSERT_EQ(SealSession(data, Text("12345"), &a, ByteView()), kEnvOk);
  ASSERT_EQ(SealSession(data, Bytes{'1', '2', '3', '4', '5', 0, 0, 0}, &b, ByteView()), kEnvOk);
  EXPECT_EQ(a, b);
  EXPECT_EQ(SealSession(data, ByteView(), &a, ByteView()), kEnvBadArgument);
  Bytes out;
  int version;
  EXPECT_EQ(OpenSession(a, ByteView(), &out, &version), kEnvBadArgument);
  // The same plaintext and key always give the same text (the first block is E(K)).
  ASSERT_EQ(SealSession(data, Text("12345"), &b, ByteView()), kEnvOk);
  EXPECT_EQ(a, b);
}

TEST(SessionLayer, OpenRejections) {
  const Bytes key = Text("k");
  uint8_t material[8];
  EnvelopeKeyMaterial(key, material);
  const EnvelopeCipher cipher(material);
  auto with_plain = [&](const Bytes& padded) {
    Bytes ct;
    EXPECT_TRUE(cipher.Encipher(padded, &ct));
    return Layer({{301, Le32(1001)}, {302, ct}});
  };
  Bytes pad0(8, 1);
  pad0[7] = 0;
  Bytes pad9(16, 9);
  struct Case {
    const char* name;
    Bytes image;
    int status;
  };
  const Case cases[] = {
      {"not a codec", Text("0123456789abcdef"), kEnvMalformed},
      {"no version", Layer({{302, Bytes(16, 0)}}), kEnvMalformed},
      {"version 1002", Layer({{301, Le32(1002)}, {302, Bytes(16, 0)}}), kEnvBadVersion},
      {"no ciphertext", Layer({{301, Le32(1001)}}), kEnvMalformed},
      {"8-byte ciphertext", Layer({{301, Le32(1001)}, {302, Bytes(8, 0)}}), kEnvMalformed},
      {"17-byte ciphertext", Layer({{301, Le32(1001)}, {302, Bytes(17, 0)}}), kEnvMalformed},
      {"empty ciphertext", Layer({{301, Le32(1001)}, {302, Bytes()}}), kEnvMalformed},
      {"pad byte 0", with_plain(pad0), kEnvBadPadding},
      {"pad byte 9", with_plain(pad9), kEnvBadPadding},
  };
  for (const Case& c : cases) {
    Bytes out = Text("untouched");
    int version = 0;
    EXPECT_EQ(OpenSession(c.image, key, &out, &version), c.status) << c.name;
    EXPECT_EQ(out, Text("untouched")) << c.name;
  }
  // Padding bytes before the last are not checked.
  Bytes loose(8, 0xEE);
  loose[7] = 3;
  Bytes out;
  int version;
  ASSERT_EQ(OpenSession(with_plain(loose), key, &out, &version), kEnvOk);
  EXPECT_EQ(out, Bytes(5, 0xEE));
}

TEST(SessionLayer, Tickets) {
  const Bytes key = Text("key");
  const Bytes ticket = Text("T1");
  Bytes sealed;
  ASSERT_EQ(SealSession(Text("x"), key, &sealed, ticket), kEnvOk);
  Bytes got;
  ASSERT_EQ(ReadTicket(sealed, &got), kEnvOk);
  EXPECT_EQ(got, ticket);
  ASSERT_EQ(SealSession(Text("x"), key, &sealed, ByteView()), kEnvOk);
  EXPECT_EQ(ReadTicket(sealed, &got), kEnvNoTicket);
  const ByteView empty;
  ASSERT_EQ(SealSessionWithTicket(Text("x"), key, &sealed, &empty), kEnvOk);
  got = Text("old");
  ASSERT_EQ(ReadTicket(sealed, &got), kEnvOk);
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(ReadTicket(Text("nonsense-bytes!!"), &got), kEnvMalformed);
}

// --- Public-key seal ---------------------------------------------------------------------

class PublicSeal : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pair_ = new crypto::RsaKeyPair;
    ASSERT_TRUE(pair_->Generate(1024));
    modulus_ = new std::string(pair_->ModulusHex());
    exponent_ = new std::string(pair_->ExponentHex());
  }
  static void TearDownTestSuite() {
    delete pair_;
    delete modulus_;
    delete exponent_;
  }
  static PublicKeyText Key() { return PublicKeyText{*modulus_, *exponent_}; }

  static crypto::RsaKeyPair* pair_;
  static std::string* modulus_;
  static std::string* exponent_;
};
crypto::RsaKeyPair* PublicSeal::pair_;
std::string* PublicSeal::modulus_;
std::string* PublicSeal::exponent_;

TEST_F(PublicSeal, BlocksAndPrivateDecryption) {
  ASSERT_EQ(modulus_->size(), 256u);
  for (size_t n : {0u, 1u, 115u, 116u, 117u, 232u, 233u, 500u}) {
    Bytes data(n);
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i * 7);
    Bytes sealed;
    ASSERT_EQ(SealPublic(Key(), data, &sealed), kEnvOk) << n;
    TagCodec layer;
    ASSERT_EQ(layer.Attach(sealed.data(), static_cast<int32_t>(sealed.size())), CodecOk);
    ByteView ct;
    ASSERT_EQ(layer.GetView(302, &ct), CodecOk);
    const size_t blocks = n <= 116 ? 1 : (n + 115) / 116;
    EXPECT_EQ(ct.size, 128 * blocks) << n;
    EXPECT_EQ(layer.GetView(303, &ct), ErrNotPresent);
    // Each block decrypts on its own with mbed TLS's private-key operation.
    ASSERT_EQ(layer.GetView(302, &ct), CodecOk);
    Bytes joined, chunk;
    for (size_t b = 0; b < blocks; ++b) {
      ASSERT_TRUE(pair_->DecryptPkcs1(ByteView(ct.data + 128 * b, 128), &chunk));
      EXPECT_EQ(chunk.size(), b + 1 < blocks ? 116u : n - 116 * b);
      joined.insert(joined.end(), chunk.begin(), chunk.end());
    }
    EXPECT_EQ(joined, data);
    Bytes opened;
    ASSERT_EQ(OpenPublic(*pair_, sealed, &opened), kEnvOk);
    EXPECT_EQ(opened, data);
  }
}

TEST_F(PublicSeal, PaddingIsFreshEveryTime) {
  Bytes a, b;
  ASSERT_EQ(SealPublic(Key(), Text("same"), &a), kEnvOk);
  ASSERT_EQ(SealPublic(Key(), Text("same"), &b), kEnvOk);
  EXPECT_NE(a, b);
}

TEST_F(PublicSeal, KeyTextsAndSizes) {
  Bytes out;
  EXPECT_EQ(SealPublic(PublicKeyText{"XYZ", "010001"}, Text("a"), &out), kEnvBadModulus);
  EXPECT_EQ(SealPublic(PublicKeyText{"", "010001"}, Text("a"), &out), kEnvBadModulus);
  EXPECT_EQ(SealPublic(PublicKeyText{*modulus_, "01000G"}, Text("a"), &out), kEnvBadExponent);
  // A modulus of 12 bytes or less leaves no room for a chunk.
  EXPECT_EQ(SealPublic(PublicKeyText{"C5A7E3D1B9F70315C5A7E3D1", "010001"}, Text("a"), &out), kEnvEncryptFailed);
  EXPECT_EQ(SealPublic(PublicKeyText{"0", "010001"}, Text("a"), &out), kEnvEncryptFailed);
  EXPECT_EQ(SealPublic(Key(), Text("a"), &out, nullptr, 1002), kEnvBadVersion);
  EXPECT_EQ(SealPublic(Key(), Text("a"), nullptr), kEnvBadArgument);
  // Lower-case digits are read too.
  std::string lower = *modulus_;
  for (char& c : lower) c = static_cast<char>(tolower(c));
  EXPECT_EQ(SealPublic(PublicKeyText{lower, *exponent_}, Text("a"), &out), kEnvOk);
}

// --- Wrapper and pipelines -----------------------------------------------------------------

TEST(ResponseWrapper, ReadRules) {
  Bytes body, payload;
  int32_t result = 99;
  ASSERT_EQ(WriteWrapper(0, Text("payload"), &body), kEnvOk);
  ASSERT_EQ(ReadWrapper(body, &result, &payload), kEnvOk);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(payload, Text("payload"));
  ASSERT_EQ(WriteWrapper(-3, ByteView(), &body), kEnvOk);
  EXPECT_EQ(HexOf(body), "810100000600000000000000" "0104FDFFFFFF");
  ASSERT_EQ(ReadWrapper(body, &result, &payload), kEnvOk);
  EXPECT_EQ(result, -3);
  EXPECT_TRUE(payload.empty());
  // Result 0 with no payload is not readable; a FixedMode wrapper is.
  EXPECT_EQ(ReadWrapper(Layer({{1, Le32(0)}}), &result, &payload), kEnvMalformed);
  EXPECT_EQ(ReadWrapper(Layer({{2, Text("p")}}), &result, &payload), kEnvMalformed);
  TagCodec fixed;
  ASSERT_EQ(fixed.PutInt(1, 0), CodecOk);
  ASSERT_EQ(fixed.PutBytes(2, Text("p")), CodecOk);
  ASSERT_EQ(ReadWrapper(ImageOf(&fixed), &result, &payload), kEnvOk);
  EXPECT_EQ(payload, Text("p"));
}

TEST(Envelope, NarrowLoginKey) {
  EXPECT_EQ(NarrowLoginKey(u"0123abcdef"), "0123abcdef");
  EXPECT_EQ(NarrowLoginKey(u"ab\u4e2d\u00e9z"), "ab__z");
  EXPECT_EQ(NarrowLoginKey(u"\U0001F600"), "__");  // one byte per UTF-16 unit
}

// A login request as the client builds it, opened and answered as the
// service would, then a session request echoing the ticket.
class Pipeline : public PublicSeal {};

TEST_F(Pipeline, LoginThenSessionRequests) {
  ServerTicket ticket;
  RequestHead head;
  head.uin = 10001;
  for (int i = 0; i < 16; ++i) head.data_id[i] = static_cast<uint8_t>(i);

  WireMessage request;
  StartRequest(MessageType::Auth, head, &request);
  ASSERT_EQ(request.Body().PutBytes(1, ByteView(std::string_view("user@example.test"))), CodecOk);
  ASSERT_EQ(request.Body().PutBytes(3, ByteView(head.data_id.data(), 16)), CodecOk);
  ASSERT_EQ(request.Body().PutUInt(4, head.client_version), CodecOk);
  ASSERT_EQ(request.Body().PutBytes(5, ByteView(head.platform)), CodecOk);
  Bytes body;
  ASSERT_EQ(request.Pack(&body), CodecOk);
  const Bytes packed_request = body;

  RequestKeys login;
  login.public_key = Key();
  login.ticket = &ticket;
  ticket.Replace(Text("stale"));  // the login request never carries a ticket
  ASSERT_EQ(WrapRequest(&body, login), kEnvOk);

  // The service opens it with its private key.
  Bytes opened, echoed;
  ASSERT_EQ(OpenRequest(body, pair_, ByteView(), &opened, &echoed), kEnvOk);
  EXPECT_EQ(opened, packed_request);
  EXPECT_TRUE(echoed.empty());
  WireMessage seen;
  ASSERT_EQ(seen.Unpack(opened.data(), static_cast<int64_t>(opened.size())), CodecOk);
  EXPECT_EQ(seen.GetType(), 101);
  EXPECT_EQ(seen.Header().GetUin(), 10001u);

  // It answers under the narrowed password, handing out a ticket.
  const std::string login_key = NarrowLoginKey(u"5f4dcc3b5aa765d61d8327deb882cf99");
  WireMessage answer;
  answer.SetType(MessageType::Auth);
  ASSERT_EQ(answer.Body().PutInt(1, 0), CodecOk);
  ASSERT_EQ(answer.Body().PutBytes(2, ByteView(std::string_view("SESSION-KEY-0001"))), CodecOk);
  Bytes packed_answer;
  ASSERT_EQ(answer.Pack(&packed_answer), CodecOk);
  const ByteView new_ticket(std::string_view("TICKET-A"));
  Bytes response;
  ASSERT_EQ(WrapResponse(packed_answer, ByteView(login_key), &new_ticket, &response), kEnvOk);

  int32_t result = 99;
  ASSERT_EQ(UnwrapResponse(&response, ByteView(login_key), &ticket, &result), kEnvOk);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(response, packed_answer);
  EXPECT_EQ(ticket.Get(), Text("TICKET-A"));
  WireMessage decoded;
  ASSERT_EQ(decoded.Unpack(response.data(), static_cast<int64_t>(response.size())), CodecOk);
  ResponseHead rh;
  ASSERT_EQ(DecodeResponseHead(decoded, MessageType::Auth, &rh), CodecOk);
  EXPECT_EQ(rh.result, 0);
  std::string session_key;
  ASSERT_EQ(decoded.Body().GetString(2, &session_key), CodecOk);

  // A session request echoes the ticket.
  RequestKeys session;
  session.use_session = true;
  session.session_key = ByteView(session_key);
  session.ticket = &ticket;
  WireMessage sync;
  head.session_key = session_key;
  StartRequest(MessageType::Sync, head, &sync);
  sync.SetFlag(1);
  ASSERT_EQ(sync.Body().PutBytes(1, ByteView(head.session_key)), CodecOk);
  Bytes sync_body;
  ASSERT_EQ(sync.Pack(&sync_body), CodecOk);
  const Bytes packed_sync = sync_body;
  ASSERT_EQ(WrapRequest(&sync_body, session), kEnvOk);
  ASSERT_EQ(OpenRequest(sync_body, nullptr, ByteView(session_key), &opened, &echoed), kEnvOk);
  EXPECT_EQ(opened, packed_sync);
  EXPECT_EQ(echoed, Text("TICKET-A"));

  // A response without tag 303 keeps the ticket; an empty one clears it.
  ASSERT_EQ(WrapResponse(packed_answer, ByteView(session_key), nullptr, &response), kEnvOk);
  ASSERT_EQ(UnwrapResponse(&response, ByteView(session_key), &ticket, &result), kEnvOk);
  EXPECT_EQ(ticket.Get(), Text("TICKET-A"));
  const ByteView cleared;
  ASSERT_EQ(WrapResponse(packed_answer, ByteView(session_key), &cleared, &response), kEnvOk);
  ASSERT_EQ(UnwrapResponse(&response, ByteView(session_key), &ticket, &result), kEnvOk);
  EXPECT_TRUE(ticket.Get().empty());
  sync_body = packed_sync;
  ASSERT_EQ(WrapRequest(&sync_body, session), kEnvOk);
  Bytes probe;
  EXPECT_EQ(ReadTicket(sync_body, &probe), kEnvNoTicket);  // no tag 303 at all
}

TEST(Envelope, UnwrapOutcomes) {
  ServerTicket ticket;
  ticket.Replace(Text("KEEP"));
  const Bytes key = Text("sess");
  int32_t result = 0;

  Bytes body;
  ASSERT_EQ(WriteWrapper(-3, ByteView(), &body), kEnvOk);
  ASSERT_EQ(UnwrapResponse(&body, key, &ticket, &result), kEnvOk);
  EXPECT_EQ(result, -3);
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(ticket.Get(), Text("KEEP"));

  ASSERT_EQ(WriteWrapper(-5, ByteView(), &body), kEnvOk);
  EXPECT_NE(UnwrapResponse(&body, key, &ticket, &result), kEnvOk);
  body = Layer({{1, Le32(0)}});
  EXPECT_NE(UnwrapResponse(&body, key, &ticket, &result), kEnvOk);
  body = Text("<html>502 Bad Gateway</html>");
  EXPECT_NE(UnwrapResponse(&body, key, &ticket, &result), kEnvOk);

  // Enciphered under another key: fails, but the new ticket is already kept.
  const ByteView t(std::string_view("NEW"));
  ASSERT_EQ(WrapResponse(Text("packed"), Text("other key"), &t, &body), kEnvOk);
  EXPECT_NE(UnwrapResponse(&body, key, &ticket, &result), kEnvOk);
  EXPECT_EQ(ticket.Get(), Text("NEW"));
}

TEST(Envelope, WrapFailureLeavesInputAndSendsNothing) {
  Bytes packed = Text("message");
  RequestKeys keys;
  keys.public_key = PublicKeyText{"not hex", "010001"};
  EXPECT_EQ(WrapRequest(&packed, keys), kEnvBadModulus);
  EXPECT_EQ(packed, Text("message"));
  keys.use_session = true;  // with no session key
  EXPECT_EQ(WrapRequest(&packed, keys), kEnvBadArgument);
  EXPECT_EQ(packed, Text("message"));
}

}  // namespace
}  // namespace protocol
}  // namespace quill
