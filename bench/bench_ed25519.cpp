// bench_ed25519: cycles (rdtsc) per Ed25519 signature of a 91-byte message
// (a one-order limit message) on each signing backend, against libsodium's
// crypto_sign_detached measured in the same run, and the IFMA backend's
// pieces: fixed-base multiplication with its encoding, per kernel.
#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

#include "../src/core/ed25519/ifma.hpp"
#include "fyrn/ed25519.hpp"
#include "native_bench.hpp"

namespace {

inline uint64_t ticks() {
#if defined(__x86_64__)
  return __rdtsc();
#else
  return static_cast<uint64_t>(bench::Clock::now().time_since_epoch().count());
#endif
}

inline volatile uint8_t g_sink;

// best_ticks returns the fewest ticks per item over `samples` runs of `reps`
// calls of fn, each call doing `items` items.
template <typename Fn>
double best_ticks(int samples, int reps, int items, Fn&& fn) {
  double best = 1e300;
  for (int s = 0; s < samples; ++s) {
    const uint64_t t0 = ticks();
    for (int r = 0; r < reps; ++r) fn();
    const uint64_t t1 = ticks();
    best = std::min(best, static_cast<double>(t1 - t0) / (static_cast<double>(reps) * items));
  }
  return best;
}

// core_cycles_per_tick measures how many core cycles one TSC tick is: a chain
// of dependent additions takes one cycle per addition.
double core_cycles_per_tick() {
#if defined(__x86_64__)
  double best = 1e300;
  for (int s = 0; s < 50; ++s) {
    uint64_t x = 0;
    const uint64_t t0 = ticks();
    for (int i = 0; i < 20000; ++i) {
      __asm__ volatile("add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0" : "+r"(x));
    }
    best = std::min(best, static_cast<double>(ticks() - t0) / 80000.0);
  }
  return 1.0 / best;
#else
  return 1.0;
#endif
}

}  // namespace

int main() {
  using namespace fyrn::ed25519;
  if (sodium_init() < 0) return 1;
  uint8_t secret[64], expanded[64], pk[32], seed[32];
  for (int i = 0; i < 32; ++i) seed[i] = static_cast<uint8_t>(i + 1);
  crypto_sign_seed_keypair(pk, secret, seed);
  expand_secret(expanded, seed);
  const SigningKey key{secret, expanded};
  std::vector<uint8_t> msg(91);
  for (size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<uint8_t>(i * 7);
  uint8_t sig[64];
  constexpr int kSamples = 15, kReps = 200;

  const double sodium = best_ticks(kSamples, kReps, 1, [&] {
    crypto_sign_detached(sig, nullptr, msg.data(), msg.size(), secret);
    g_sink = sig[0];
  });
  const double cycles = core_cycles_per_tick();
  std::printf("  (1 tick = %.2f core cycles here; libsodium: %.0f core cycles)\n", cycles, sodium * cycles);
  std::printf("  libsodium crypto_sign_detached  %8.0f ticks/signature (floor)\n", sodium);
  if (!backend_supported(Backend::Ifma)) {
    std::printf("  ifma: not supported on this CPU or build; active backend: %s\n", backend_name(active_backend()));
    return 0;
  }

  const double single = best_ticks(kSamples, kReps, 1, [&] {
    sign(sig, key, msg.data(), msg.size(), Backend::Ifma);
    g_sink = sig[0];
  });
  std::vector<SignInput> in(64, SignInput{key, msg.data(), msg.size()});
  std::vector<uint8_t> sigs(64 * 64);
  auto* out = reinterpret_cast<uint8_t(*)[64]>(sigs.data());
  const double batch = best_ticks(kSamples, kReps / 8, 64, [&] {
    sign_many(out, in.data(), in.size(), Backend::Ifma);
    g_sink = sigs[0];
  });
  std::printf("  ifma, one message (sign)        %8.0f ticks/signature: %.2f x libsodium (%.0f core cycles)\n",
              single, single / sodium, single * cycles);
  std::printf("  ifma, batches of 8 (sign_many)  %8.0f ticks/signature: %.2f x libsodium (%.0f core cycles)\n",
              batch, batch / sodium, batch * cycles);
  for (size_t n : {1, 2, 3, 4, 5, 8}) {
    const double t = best_ticks(kSamples, kReps / 2, static_cast<int>(n), [&] {
      sign_many(out, in.data(), n, Backend::Ifma);
      g_sink = sigs[0];
    });
    std::printf("    sign_many of %zu                %8.0f ticks/signature: %.2f x libsodium\n", n, t, t / sodium);
  }

  uint8_t r[8][32], points[8][32];
  for (int k = 0; k < 8; ++k) {
    uint8_t wide[64];
    for (int i = 0; i < 64; ++i) wide[i] = static_cast<uint8_t>(i * 13 + k);
    crypto_core_ed25519_scalar_reduce(r[k], wide);
  }
  const double base_single = best_ticks(kSamples, kReps, 1, [&] {
    ifma::base_mul_single(points[0], r[0]);
    g_sink = points[0][0];
  });
  const double base_batch = best_ticks(kSamples, kReps / 4, 8, [&] {
    ifma::base_mul_batch(points, r, 8);
    g_sink = points[0][0];
  });
  const double base_sodium = best_ticks(kSamples, kReps, 1, [&] {
    (void)crypto_scalarmult_ed25519_base_noclamp(points[0], r[0]);
    g_sink = points[0][0];
  });
  std::printf("  r*B and its encoding: libsodium %.0f, single kernel %.0f, batch kernel %.0f ticks per point\n",
              base_sodium, base_single, base_batch);
  return 0;
}
