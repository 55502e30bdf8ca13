// CBC throughput of EnvelopeCipher, next to a memcpy of the same size so the
// figures can be read as ratios on any machine.
#include <cstdint>
#include <cstring>

#include "benchmark/benchmark.h"
#include "protocol/envelope_cipher.h"

namespace quill {
namespace protocol {
namespace {

constexpr uint8_t kKey[8] = {0x65, 0x31, 0x30, 0x61, 0x64, 0x63, 0x33, 0x39};

Bytes Filler(size_t n) {
  Bytes data(n);
  for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i * 131 + 7);
  return data;
}

void BM_Encipher(benchmark::State& state) {
  const EnvelopeCipher cipher(kKey);
  const Bytes plain = Filler(static_cast<size_t>(state.range(0)));
  Bytes out;
  for (auto _ : state) {
    cipher.Encipher(plain, &out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Encipher)->Arg(1024)->Arg(20 * 1024);

void BM_Decipher(benchmark::State& state) {
  const EnvelopeCipher cipher(kKey);
  Bytes sealed;
  cipher.Encipher(Filler(static_cast<size_t>(state.range(0))), &sealed);
  Bytes out;
  for (auto _ : state) {
    cipher.Decipher(sealed, &out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Decipher)->Arg(1024)->Arg(20 * 1024);

// Key schedule alone: every sealed or opened message builds one cipher.
void BM_KeySchedule(benchmark::State& state) {
  for (auto _ : state) {
    const EnvelopeCipher cipher(kKey);
    benchmark::DoNotOptimize(&cipher);
  }
}
BENCHMARK(BM_KeySchedule);

void BM_MemcpyBaseline(benchmark::State& state) {
  const Bytes source = Filler(static_cast<size_t>(state.range(0)));
  Bytes target(source.size());
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), source.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_MemcpyBaseline)->Arg(1024)->Arg(20 * 1024);

}  // namespace
}  // namespace protocol
}  // namespace quill
