// Native benchmark: the signer's SHA-512 (one lane, eight AVX-512 lanes) and
// its arithmetic mod L, in TSC cycles, each beside libsodium's counterpart
// measured in the same run (the floor of each ratio).
#include <x86intrin.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <sodium.h>

#include "../src/core/ed25519/scalar.hpp"
#include "../src/core/ed25519/sha512x8.hpp"

namespace {

using fyrn::ed25519::Sha512Input;

volatile uint8_t g_sink;

// best_cycles returns the fewest TSC cycles per call of fn over `samples`
// runs of `reps` calls.
template <typename Fn>
double best_cycles(int samples, int reps, Fn&& fn) {
  double best = 1e300;
  for (int s = 0; s < samples; ++s) {
    const uint64_t t0 = __rdtsc();
    for (int r = 0; r < reps; ++r) fn();
    const uint64_t t1 = __rdtsc();
    best = std::min(best, static_cast<double>(t1 - t0) / reps);
  }
  return best;
}

size_t blocks_of(size_t len) { return (len + 16) / 128 + 1; }

void sha512_row(const char* what, size_t len, const std::vector<uint8_t>& data) {
  const int reps = len > 4096 ? 20 : 2000;
  const double blocks = static_cast<double>(blocks_of(len));
  uint8_t out[8][64];
  const double sodium = best_cycles(15, reps, [&] {
    crypto_hash_sha512(out[0], data.data(), len);
    g_sink = out[0][0];
  }) / blocks;
  const Sha512Input one{data.data(), 32, data.data() + 32, len - 32};
  const double single = best_cycles(15, reps, [&] {
    fyrn::ed25519::sha512_1(out[0], one);
    g_sink = out[0][0];
  }) / blocks;
  Sha512Input eight[8];
  for (size_t i = 0; i < 8; ++i) eight[i] = {data.data() + 64 * i, 32, data.data() + 64 * i + 32, len - 32};
  const double portable = best_cycles(15, reps / 8 + 1, [&] {
    fyrn::ed25519::sha512_x8_portable(out, eight, 8);
    g_sink = out[7][0];
  }) / blocks / 8;
  double lanes = 0;
  if (fyrn::ed25519::sha512_x8_has_avx512()) {
    lanes = best_cycles(15, reps / 8 + 1, [&] {
      fyrn::ed25519::sha512_x8_avx512(out, eight, 8);
      g_sink = out[7][0];
    }) / blocks / 8;
  }
  std::printf("  %-22s %6.0f  %9.0f %5.2f  %9.0f %5.2f", what, sodium, single, single / sodium, portable,
              portable / sodium);
  if (lanes > 0) {
    std::printf("  %9.0f %5.2f\n", lanes, lanes / sodium);
  } else {
    std::printf("  %9s\n", "n/a");
  }
}

}  // namespace

int main() {
  if (sodium_init() < 0) return 1;
  std::vector<uint8_t> data(16384 + 1024);
  randombytes_buf(data.data(), data.size());

  std::printf("SHA-512, TSC cycles per 128-byte block (ratio: to libsodium's crypto_hash_sha512)\n");
  std::printf("  %-22s %6s  %15s  %15s  %15s\n", "message", "sodium", "sha512_1", "x8 portable/lane",
              "x8 avx512/lane");
  sha512_row("123 B (nonce, 1 block)", 123, data);
  sha512_row("155 B (k, 2 blocks)", 155, data);
  sha512_row("16 KiB (129 blocks)", 16384, data);

  std::printf("\nmod L, TSC cycles per call (ratio: to libsodium)\n");
  uint8_t wide[64], a[32], b[32], c[32], out[32];
  randombytes_buf(wide, sizeof wide);
  crypto_core_ed25519_scalar_random(a);
  crypto_core_ed25519_scalar_random(b);
  crypto_core_ed25519_scalar_random(c);
  const double sodium_reduce = best_cycles(15, 20000, [&] {
    crypto_core_ed25519_scalar_reduce(out, wide);
    wide[0] ^= out[0];
  });
  const double reduce = best_cycles(15, 20000, [&] {
    fyrn::ed25519::sc_reduce64(out, wide);
    wide[0] ^= out[0];
  });
  const double sodium_muladd = best_cycles(15, 20000, [&] {
    crypto_core_ed25519_scalar_mul(out, a, b);
    crypto_core_ed25519_scalar_add(out, out, c);
    a[0] ^= out[0] & 1;
  });
  const double muladd = best_cycles(15, 20000, [&] {
    fyrn::ed25519::sc_muladd(out, a, b, c);
    a[0] ^= out[0] & 1;
  });
  std::printf("  sc_reduce64  %5.0f  (crypto_core_ed25519_scalar_reduce %5.0f)  %5.2f\n", reduce, sodium_reduce,
              reduce / sodium_reduce);
  std::printf("  sc_muladd    %5.0f  (crypto_core_ed25519_scalar_mul + _add %5.0f)  %5.2f\n", muladd, sodium_muladd,
              muladd / sodium_muladd);
  return 0;
}
