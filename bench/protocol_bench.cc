// Codec and envelope throughput, each next to a baseline measured in the same
// run: memcpy of the same bytes for the codec, bare zlib compress +
// uncompress of the same bytes for the envelope pipelines. The "x_memcpy"
// and "x_zlib" counters are the ratios.
#include <zlib.h>

#include <time.h>

#include <cstring>
#include <string>

#include "benchmark/benchmark.h"
#include "platform/crypto.h"
#include "protocol/cipher_layer.h"
#include "protocol/envelope.h"
#include "protocol/tag_codec.h"
#include "protocol/wire_message.h"

namespace quill {
namespace protocol {
namespace {

double ThreadCpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// CPU seconds per call of fn over at least 0.2 s: the clock Google Benchmark
// divides its rates by, so the ratios hold on a loaded machine too.
template <typename Fn>
double SecondsPerCall(Fn fn) {
  size_t calls = 0;
  const double start = ThreadCpuSeconds();
  double spent = 0;
  do {
    for (int i = 0; i < 64; ++i) fn();
    calls += 64;
    spent = ThreadCpuSeconds() - start;
  } while (spent < 0.2);
  return spent / static_cast<double>(calls);
}

double MemcpySeconds(size_t n) {
  Bytes a(n, 1), b(n);
  return SecondsPerCall([&] {
    std::memcpy(b.data(), a.data(), n);
    benchmark::ClobberMemory();
  });
}

// A mail-list-like message: `records` records of 8 fields (4 integers, 4
// short texts), as a brief list carries them.
void BuildMessage(int records, WireMessage* m) {
  m->SetType(MessageType::GetMailBrief);
  TagCodec list;
  TagCodec item;
  for (int i = 1; i <= records; ++i) {
    item.Reset();
    item.PutUInt(1, 100000u + static_cast<uint32_t>(i));
    item.PutUInt(2, 1765000000u + static_cast<uint32_t>(i) * 37);
    item.PutInt(3, i % 5);
    item.PutInt(4, i * 211);
    item.PutBytes(5, ByteView("Re: " + std::to_string(i)));
    item.PutBytes(6, ByteView(std::string_view("li@ex.cn")));
    item.PutBytes(7, ByteView(std::string_view("\xE5\xBC\xA0\xE4\xB8\x89")));
    item.PutBytes(8, ByteView("p" + std::to_string(i * 7)));
    list.PutCodec(static_cast<uint32_t>(i), &item);
  }
  m->Body().PutInt(1, 0);
  m->Body().PutInt(2, records);
  m->Body().PutCodec(3, &list);
}

Bytes BodyImage(int records) {
  WireMessage m;
  BuildMessage(records, &m);
  m.Body().Finalize();
  return m.Body().Image().ToBytes();
}

void BM_CodecEncode(benchmark::State& state) {
  const int records = static_cast<int>(state.range(0));
  const size_t bytes = BodyImage(records).size();
  const double memcpy_s = MemcpySeconds(bytes);
  for (auto _ : state) {
    WireMessage m;
    BuildMessage(records, &m);
    m.Body().Finalize();
    benchmark::DoNotOptimize(m.Body().Data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["bytes"] = static_cast<double>(bytes);
  state.counters["x_memcpy"] = benchmark::Counter(static_cast<double>(state.iterations()) * memcpy_s,
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CodecEncode)->Arg(200);

void BM_CodecDecode(benchmark::State& state) {
  const int records = static_cast<int>(state.range(0));
  const Bytes image = BodyImage(records);
  const double memcpy_s = MemcpySeconds(image.size());
  TagCodec body, list, item;
  std::string text;
  for (auto _ : state) {
    body.Load(image.data(), static_cast<int32_t>(image.size()));
    int32_t result = 0, count = 0;
    body.GetInt(1, &result);
    body.GetInt(2, &count);
    body.GetCodec(3, &list);
    uint64_t sum = 0;
    for (int i = 1; i <= count; ++i) {
      if (list.GetCodec(static_cast<uint32_t>(i), &item) != CodecOk) state.SkipWithError("decode");
      uint32_t u = 0;
      int32_t v = 0;
      item.GetUInt(1, &u);
      sum += u;
      item.GetUInt(2, &u);
      sum += u;
      item.GetInt(3, &v);
      sum += static_cast<uint32_t>(v);
      item.GetInt(4, &v);
      sum += static_cast<uint32_t>(v);
      for (uint32_t tag = 5; tag <= 8; ++tag) {
        item.GetString(tag, &text);
        sum += text.size();
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * image.size()));
  state.counters["bytes"] = static_cast<double>(image.size());
  state.counters["x_memcpy"] = benchmark::Counter(static_cast<double>(state.iterations()) * memcpy_s,
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CodecDecode)->Arg(200);

double ZlibRoundTripSeconds(const Bytes& data) {
  Bytes z(compressBound(static_cast<uLong>(data.size()))), back(data.size());
  return SecondsPerCall([&] {
    uLongf zn = z.size();
    compress(z.data(), &zn, data.data(), static_cast<uLong>(data.size()));
    uLongf bn = back.size();
    uncompress(back.data(), &bn, z.data(), zn);
    benchmark::DoNotOptimize(back.data());
  });
}

// WrapRequest of a packed message plus UnwrapResponse of the same message
// sealed by the service side: one compress and one uncompress, like the
// baseline, plus the layers and the cipher both ways.
void BM_WrapUnwrap(benchmark::State& state) {
  WireMessage m;
  BuildMessage(static_cast<int>(state.range(0)), &m);
  Bytes packed;
  m.Pack(&packed);
  const ByteView key(std::string_view("0123456789abcdef0123456789abcdef"));
  Bytes response;
  WrapResponse(packed, key, nullptr, &response);
  ServerTicket ticket;
  RequestKeys keys;
  keys.use_session = true;
  keys.session_key = key;
  keys.ticket = &ticket;
  const double zlib_s = ZlibRoundTripSeconds(packed);
  Bytes body;
  for (auto _ : state) {
    body = packed;
    if (WrapRequest(&body, keys) != kEnvOk) state.SkipWithError("wrap");
    body = response;
    int32_t result = 0;
    if (UnwrapResponse(&body, key, &ticket, &result) != kEnvOk) state.SkipWithError("unwrap");
    benchmark::DoNotOptimize(body.data());
  }
  state.counters["bytes"] = static_cast<double>(packed.size());
  // Elapsed time over the baseline's time for as many round trips.
  state.counters["x_zlib"] = benchmark::Counter(static_cast<double>(state.iterations()) * zlib_s,
                                                benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_WrapUnwrap)->Arg(8)->Arg(200);

void BM_LoginSeal(benchmark::State& state) {
  crypto::RsaKeyPair pair;
  pair.Generate(1024);
  const std::string modulus = pair.ModulusHex(), exponent = pair.ExponentHex();
  const Bytes data(static_cast<size_t>(state.range(0)), 0x5A);
  Bytes out;
  for (auto _ : state) {
    if (SealPublic(PublicKeyText{modulus, exponent}, data, &out) != kEnvOk) state.SkipWithError("seal");
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_LoginSeal)->Arg(116)->Arg(117)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace protocol
}  // namespace quill
