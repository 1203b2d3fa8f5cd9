// native_bench.hpp: timing helpers shared by the native benchmarks.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <sodium.h>

#include "fyrn/keys.hpp"

namespace bench {

using Clock = std::chrono::steady_clock;

// best_ns returns the fastest per-call time of `fn` over `samples` runs of
// `reps` calls each.
template <typename Fn>
double best_ns(int samples, int reps, Fn&& fn) {
  double best = 1e300;
  for (int s = 0; s < samples; ++s) {
    const auto t0 = Clock::now();
    for (int r = 0; r < reps; ++r) fn();
    const auto t1 = Clock::now();
    best = std::min(best, std::chrono::duration<double, std::nano>(t1 - t0).count() / reps);
  }
  return best;
}

// seeded_account fills a libsodium secret key from the fixed seed 1..32 and
// returns its public key as an account.
inline fyrn::Pubkey seeded_account(uint8_t (&sk)[crypto_sign_SECRETKEYBYTES]) {
  uint8_t seed[32];
  for (int i = 0; i < 32; ++i) seed[i] = static_cast<uint8_t>(i + 1);
  uint8_t pk[crypto_sign_PUBLICKEYBYTES];
  crypto_sign_seed_keypair(pk, sk, seed);
  fyrn::Pubkey account;
  std::copy(pk, pk + 32, account.bytes.begin());
  return account;
}

inline volatile size_t g_sink;

// ns_per_input returns the fastest per-input time of `encode(data)` (which
// returns something with size()) over the `width`-byte slices of `inputs`.
template <typename F>
double ns_per_input(const std::vector<uint8_t>& inputs, size_t width, int repeats, F&& encode) {
  const size_t count = inputs.size() / width;
  double best = 1e300;
  for (int repeat = 0; repeat < repeats; ++repeat) {
    const auto start = Clock::now();
    size_t total = 0;
    for (size_t i = 0; i < count; ++i) total += encode(inputs.data() + i * width).size();
    const auto stop = Clock::now();
    g_sink = total;
    best = std::min(best, std::chrono::duration<double, std::nano>(stop - start).count() / static_cast<double>(count));
  }
  return best;
}

}  // namespace bench
