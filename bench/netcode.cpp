// Speed of the network coding functions on 1 MiB, each beside its anchor in
// the same run: OpenSSL's EVP MD5 and SHA-1 and its Base64 block coder, and
// zlib's crc32.  After the table the program prints each of our figures as
// a ratio of its anchor's (above 1: we are faster).
//
//   build/bin/bench_netcode [--benchmark_min_time=1]
#include "velmora/net/netcode.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>

#include "velmora/net/netcode_internal.h"

namespace {

using namespace velmora::net;

constexpr size_t kSize = 1 << 20;

const std::string& Data() {
  static const std::string data = [] {
    std::string s(kSize, '\0');
    std::mt19937 rng(1);
    for (char& c : s) c = static_cast<char>(rng());
    return s;
  }();
  return data;
}

const std::string& Coded() {
  static const std::string coded = EncodeBase64(Data());
  return coded;
}

void Bytes(benchmark::State& state, size_t n) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

void EvpDigest(benchmark::State& state, const EVP_MD* md) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  for (auto _ : state) {
    EVP_Digest(Data().data(), Data().size(), out, &len, md, nullptr);
    benchmark::DoNotOptimize(out);
  }
  Bytes(state, kSize);
}

void MD5_Velmora(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(MD5(Data()));
  Bytes(state, kSize);
}
void MD5_OpenSSL(benchmark::State& state) {
  EvpDigest(state, EVP_md5());
}

void MD4_Velmora(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(MD4(Data()));
  Bytes(state, kSize);
}

void SHA1_Velmora(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(SHA1(Data()));
  Bytes(state, kSize);
}
void SHA1_VelmoraPortable(benchmark::State& state) {
  detail::ForcePortableSha1(true);
  for (auto _ : state) benchmark::DoNotOptimize(SHA1(Data()));
  detail::ForcePortableSha1(false);
  Bytes(state, kSize);
}
void SHA1_OpenSSL(benchmark::State& state) {
  EvpDigest(state, EVP_sha1());
}

void CRC32_Velmora(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Crc32(Data()));
  Bytes(state, kSize);
}
void CRC32_VelmoraPortable(benchmark::State& state) {
  const auto* p = reinterpret_cast<const uint8_t*>(Data().data());
  for (auto _ : state) benchmark::DoNotOptimize(~detail::Crc32Portable(~0u, p, kSize));
  Bytes(state, kSize);
}
void CRC32_Zlib(benchmark::State& state) {
  const auto* p = reinterpret_cast<const Bytef*>(Data().data());
  for (auto _ : state) benchmark::DoNotOptimize(crc32(0, p, static_cast<uInt>(kSize)));
  Bytes(state, kSize);
}

void Base64Encode_Velmora(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(EncodeBase64(Data()));
  Bytes(state, kSize);
}
// Our encoder allocates its result; the anchor is given the same work.
void Base64Encode_OpenSSL(benchmark::State& state) {
  for (auto _ : state) {
    std::string out(4 * ((kSize + 2) / 3) + 1, '\0');
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                    reinterpret_cast<const unsigned char*>(Data().data()), static_cast<int>(kSize));
    benchmark::DoNotOptimize(out);
  }
  Bytes(state, kSize);
}

void Base64Decode_Velmora(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(DecodeBase64(Coded()));
  Bytes(state, Coded().size());
}
void Base64Decode_OpenSSL(benchmark::State& state) {
  for (auto _ : state) {
    std::string out(Coded().size() / 4 * 3, '\0');
    EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                    reinterpret_cast<const unsigned char*>(Coded().data()),
                    static_cast<int>(Coded().size()));
    benchmark::DoNotOptimize(out);
  }
  Bytes(state, Coded().size());
}

BENCHMARK(MD5_Velmora);
BENCHMARK(MD5_OpenSSL);
BENCHMARK(MD4_Velmora);
BENCHMARK(SHA1_Velmora);
BENCHMARK(SHA1_VelmoraPortable);
BENCHMARK(SHA1_OpenSSL);
BENCHMARK(CRC32_Velmora);
BENCHMARK(CRC32_VelmoraPortable);
BENCHMARK(CRC32_Zlib);
BENCHMARK(Base64Encode_Velmora);
BENCHMARK(Base64Encode_OpenSSL);
BENCHMARK(Base64Decode_Velmora);
BENCHMARK(Base64Decode_OpenSSL);

// Keeps the bytes per second of every run for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      auto it = r.counters.find("bytes_per_second");
      if (it != r.counters.end() && r.run_type == Run::RT_Iteration) {
        rates[r.benchmark_name()] = it->second.value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const std::pair<const char*, const char*> pairs[] = {
      {"MD5_Velmora", "MD5_OpenSSL"},
      {"SHA1_Velmora", "SHA1_OpenSSL"},
      {"SHA1_VelmoraPortable", "SHA1_OpenSSL"},
      {"CRC32_Velmora", "CRC32_Zlib"},
      {"CRC32_VelmoraPortable", "CRC32_Zlib"},
      {"Base64Encode_Velmora", "Base64Encode_OpenSSL"},
      {"Base64Decode_Velmora", "Base64Decode_OpenSSL"},
  };
  std::printf("\n%-24s %12s %12s %8s\n", "ours / anchor", "ours MB/s", "anchor MB/s", "ratio");
  for (auto [ours, anchor] : pairs) {
    auto a = reporter.rates.find(ours), b = reporter.rates.find(anchor);
    if (a == reporter.rates.end() || b == reporter.rates.end() || b->second <= 0) continue;
    std::printf("%-24s %12.0f %12.0f %8.2f\n", ours, a->second / 1e6, b->second / 1e6,
                a->second / b->second);
  }
  return 0;
}
