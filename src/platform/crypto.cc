#include "platform/crypto.h"

#include <mbedtls/bignum.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/md5.h>
#include <mbedtls/rsa.h>

#include <mutex>

namespace quill {
namespace crypto {
namespace {

// The process-wide generator. Seeded on first use; never torn down, so a
// worker that draws during exit still finds it alive.
struct Drbg {
  std::mutex mu;
  mbedtls_entropy_context entropy;
  mbedtls_ctr_drbg_context ctr;
  bool seeded = false;

  Drbg() {
    mbedtls_entropy_init(&entropy);
    mbedtls_ctr_drbg_init(&ctr);
    static const unsigned char kPersonal[] = "quillpost";
    seeded = mbedtls_ctr_drbg_seed(&ctr, mbedtls_entropy_func, &entropy, kPersonal,
                                   sizeof(kPersonal) - 1) == 0;
  }
};

Drbg& TheDrbg() {
  static Drbg* drbg = new Drbg;
  return *drbg;
}

// mbed TLS random callback over RandomBytes.
int RandomCallback(void*, unsigned char* out, size_t n) {
  return RandomBytes(out, n) ? 0 : MBEDTLS_ERR_CTR_DRBG_ENTROPY_SOURCE_FAILED;
}

bool IsHexText(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return true;
}

bool ReadHex(std::string_view s, mbedtls_mpi* out) {
  if (!IsHexText(s)) return false;
  const std::string text(s);  // mbed TLS wants a NUL-terminated text
  return mbedtls_mpi_read_string(out, 16, text.c_str()) == 0;
}

// An mbed TLS big number that frees itself.
struct Mpi {
  mbedtls_mpi v;
  Mpi() { mbedtls_mpi_init(&v); }
  ~Mpi() { mbedtls_mpi_free(&v); }
  Mpi(const Mpi&) = delete;
  Mpi& operator=(const Mpi&) = delete;
};

std::string WriteHex(const mbedtls_mpi& v) {
  char buf[2 * MBEDTLS_MPI_MAX_SIZE + 4];
  size_t n = 0;
  if (mbedtls_mpi_write_string(&v, 16, buf, sizeof(buf), &n) != 0) return std::string();
  return std::string(buf);
}

}  // namespace

bool RandomBytes(uint8_t* out, size_t n) {
  Drbg& d = TheDrbg();
  std::lock_guard<std::mutex> lock(d.mu);
  if (!d.seeded) return false;
  while (n > 0) {
    const size_t step = n < MBEDTLS_CTR_DRBG_MAX_REQUEST ? n : MBEDTLS_CTR_DRBG_MAX_REQUEST;
    if (mbedtls_ctr_drbg_random(&d.ctr, out, step) != 0) return false;
    out += step;
    n -= step;
  }
  return true;
}

void Md5(ByteView data, uint8_t out[16]) {
  mbedtls_md5_ret(data.data, data.size, out);
}

struct Md5Stream::Impl {
  mbedtls_md5_context md5;
  Impl() {
    mbedtls_md5_init(&md5);
    mbedtls_md5_starts_ret(&md5);
  }
  ~Impl() { mbedtls_md5_free(&md5); }
};

Md5Stream::Md5Stream() : impl_(std::make_unique<Impl>()) {}
Md5Stream::~Md5Stream() = default;

void Md5Stream::Update(ByteView data) {
  if (data.size > 0) mbedtls_md5_update_ret(&impl_->md5, data.data, data.size);
}

void Md5Stream::Finish(uint8_t out[16]) {
  mbedtls_md5_finish_ret(&impl_->md5, out);
  mbedtls_md5_starts_ret(&impl_->md5);
}

struct RsaPublicKey::Impl {
  mbedtls_rsa_context rsa;
  bool ready = false;
  Impl() { mbedtls_rsa_init(&rsa, MBEDTLS_RSA_PKCS_V15, 0); }
  ~Impl() { mbedtls_rsa_free(&rsa); }
};

RsaPublicKey::RsaPublicKey() : impl_(new Impl) {}
RsaPublicKey::~RsaPublicKey() = default;

RsaPublicKey::ParseStatus RsaPublicKey::Parse(std::string_view modulus_hex,
                                              std::string_view exponent_hex) {
  impl_.reset(new Impl);
  Mpi n, e;
  if (!ReadHex(modulus_hex, &n.v)) return ParseStatus::kBadModulus;
  if (!ReadHex(exponent_hex, &e.v)) return ParseStatus::kBadExponent;
  impl_->ready = mbedtls_rsa_import(&impl_->rsa, &n.v, nullptr, nullptr, nullptr, &e.v) == 0 &&
                 mbedtls_rsa_complete(&impl_->rsa) == 0;
  return ParseStatus::kOk;
}

size_t RsaPublicKey::ModulusBytes() const {
  return impl_->ready ? mbedtls_rsa_get_len(&impl_->rsa) : 0;
}

bool RsaPublicKey::EncryptPkcs1(ByteView message, uint8_t* out) const {
  if (!impl_->ready) return false;
  return mbedtls_rsa_pkcs1_encrypt(&impl_->rsa, RandomCallback, nullptr, MBEDTLS_RSA_PUBLIC,
                                   message.size, message.data, out) == 0;
}

struct RsaKeyPair::Impl {
  mbedtls_rsa_context rsa;
  bool ready = false;
  // Private operations update the blinding values inside `rsa`.
  mutable std::mutex mu;
  Impl() { mbedtls_rsa_init(&rsa, MBEDTLS_RSA_PKCS_V15, 0); }
  ~Impl() { mbedtls_rsa_free(&rsa); }
};

RsaKeyPair::RsaKeyPair() : impl_(new Impl) {}
RsaKeyPair::~RsaKeyPair() = default;

bool RsaKeyPair::Generate(unsigned bits) {
  impl_.reset(new Impl);
  impl_->ready = mbedtls_rsa_gen_key(&impl_->rsa, RandomCallback, nullptr, bits, 65537) == 0;
  return impl_->ready;
}

std::string RsaKeyPair::ModulusHex() const {
  Mpi n;
  if (!impl_->ready ||
      mbedtls_rsa_export(&impl_->rsa, &n.v, nullptr, nullptr, nullptr, nullptr) != 0) {
    return std::string();
  }
  return WriteHex(n.v);
}

std::string RsaKeyPair::ExponentHex() const {
  Mpi e;
  if (!impl_->ready ||
      mbedtls_rsa_export(&impl_->rsa, nullptr, nullptr, nullptr, nullptr, &e.v) != 0) {
    return std::string();
  }
  return WriteHex(e.v);
}

size_t RsaKeyPair::ModulusBytes() const {
  return impl_->ready ? mbedtls_rsa_get_len(&impl_->rsa) : 0;
}

bool RsaKeyPair::Export(RsaPrivateText* out) const {
  if (!impl_->ready) return false;
  Mpi n, p, q, d, e;
  if (mbedtls_rsa_export(&impl_->rsa, &n.v, &p.v, &q.v, &d.v, &e.v) != 0) return false;
  out->modulus = WriteHex(n.v);
  out->public_exponent = WriteHex(e.v);
  out->private_exponent = WriteHex(d.v);
  out->prime1 = WriteHex(p.v);
  out->prime2 = WriteHex(q.v);
  return true;
}

bool RsaKeyPair::Import(const RsaPrivateText& text) {
  impl_.reset(new Impl);
  Mpi n, p, q, d, e;
  if (!ReadHex(text.modulus, &n.v) || !ReadHex(text.prime1, &p.v) || !ReadHex(text.prime2, &q.v) ||
      !ReadHex(text.private_exponent, &d.v) || !ReadHex(text.public_exponent, &e.v)) {
    return false;
  }
  impl_->ready = mbedtls_rsa_import(&impl_->rsa, &n.v, &p.v, &q.v, &d.v, &e.v) == 0 &&
                 mbedtls_rsa_complete(&impl_->rsa) == 0 &&
                 mbedtls_rsa_check_privkey(&impl_->rsa) == 0;
  return impl_->ready;
}

bool RsaKeyPair::DecryptPkcs1(ByteView block, Bytes* out) const {
  const size_t k = ModulusBytes();
  if (k == 0 || block.size != k) return false;
  out->assign(k, 0);
  size_t n = 0;
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (mbedtls_rsa_pkcs1_decrypt(&impl_->rsa, RandomCallback, nullptr, MBEDTLS_RSA_PRIVATE, &n,
                                block.data, out->data(), out->size()) != 0) {
    out->clear();
    return false;
  }
  out->resize(n);
  return true;
}

}  // namespace crypto
}  // namespace quill
