// ct_dudect: a timing test in the manner of dudect. Each signer signs the
// same message with a fixed secret key (class 0) or a fresh random one
// (class 1), classes interleaved at random; every key is made before timing
// starts, each class-0 key a copy of its own so that both classes read memory
// alike. The TSC times go through Welch's t-test, on all measurements and on
// the measurements below each of 100 percentile crops (dudect's crop levels,
// which strip the slow tail of interrupts and preemption). A signer leaks if
// the largest |t| passes the threshold.
//
// The control adds work behind a branch on one bit of the secret scalar; it
// must be found, and the real signers must not be.
//
// Usage: ct_dudect [measurements per signer]   exit 0 when control leaks and
// no real signer does.
#include <x86intrin.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "signers.hpp"

namespace {

using fyrn_tools::Key;

constexpr double kThreshold = 4.5;
constexpr int kCrops = 100;
constexpr size_t kMessageLen = 91;

uint8_t g_message[kMessageLen];

// Welch accumulates one class's mean and variance (Welford).
struct Welch {
  double n[2] = {0, 0}, mean[2] = {0, 0}, m2[2] = {0, 0};
  void add(int cls, double x) {
    n[cls] += 1;
    const double delta = x - mean[cls];
    mean[cls] += delta / n[cls];
    m2[cls] += delta * (x - mean[cls]);
  }
  double t() const {
    if (n[0] < 2 || n[1] < 2) return 0;
    const double v0 = m2[0] / (n[0] - 1), v1 = m2[1] / (n[1] - 1);
    const double se = std::sqrt(v0 / n[0] + v1 / n[1]);
    return se > 0 ? (mean[0] - mean[1]) / se : 0;
  }
};

struct Signer {
  const char* name;
  bool control;
  void (*sign)(uint8_t sig[64], const Key& key, const uint8_t* m, size_t m_len);
};

void sign_control(uint8_t sig[64], const Key& key, const uint8_t* m, size_t m_len) {
  fyrn_tools::parts_sign(sig, key, m, m_len);
  if (key.expanded[5] & 1) {  // the planted leak: one more hash for half the keys
    uint8_t h[64];
    fyrn::ed25519::sha512_1(h, {key.expanded, 32, m, m_len});
    __asm__ __volatile__("" : : "r"(h) : "memory");
  }
}

void sign_libsodium(uint8_t sig[64], const Key& key, const uint8_t* m, size_t m_len) {
  uint8_t sk[64];
  std::memcpy(sk, key.seed, 32);
  std::memcpy(sk + 32, key.pk, 32);
  crypto_sign_detached(sig, nullptr, m, m_len, sk);
}

struct Result {
  double t_all;
  double t_max;
  int crop_at_max;
};

Result measure(const Signer& signer, const std::vector<Key>& keys, const std::vector<uint8_t>& classes) {
  const size_t n = keys.size();
  std::vector<uint64_t> cycles(n);
  uint8_t sig[64];
  for (size_t i = 0; i < std::min<size_t>(n, 1000); ++i) signer.sign(sig, keys[i], g_message, kMessageLen);  // warm-up
  for (size_t i = 0; i < n; ++i) {
    unsigned aux;
    _mm_lfence();
    const uint64_t t0 = __rdtsc();
    _mm_lfence();
    signer.sign(sig, keys[i], g_message, kMessageLen);
    const uint64_t t1 = __rdtscp(&aux);
    _mm_lfence();
    cycles[i] = t1 - t0;
  }
  // dudect's crop levels: the 1 - 0.5^(10 (k+1) / 100) quantiles.
  std::vector<uint64_t> sorted(cycles);
  std::sort(sorted.begin(), sorted.end());
  std::vector<double> crop(kCrops);
  for (int k = 0; k < kCrops; ++k) {
    const double q = 1.0 - std::pow(0.5, 10.0 * (k + 1) / kCrops);
    crop[k] = static_cast<double>(sorted[static_cast<size_t>(q * static_cast<double>(n - 1))]);
  }
  Welch all;
  std::vector<Welch> cropped(kCrops);
  for (size_t i = 0; i < n; ++i) {
    const double x = static_cast<double>(cycles[i]);
    all.add(classes[i], x);
    for (int k = 0; k < kCrops; ++k) {
      if (x < crop[k]) cropped[k].add(classes[i], x);
    }
  }
  Result r{all.t(), all.t(), -1};
  for (int k = 0; k < kCrops; ++k) {
    // Like dudect, a crop must keep enough measurements to mean something.
    if (cropped[k].n[0] + cropped[k].n[1] < 0.05 * static_cast<double>(n)) continue;
    if (std::fabs(cropped[k].t()) > std::fabs(r.t_max)) r = {r.t_all, cropped[k].t(), k};
  }
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (sodium_init() < 0) return 2;
  const size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200000;
  for (size_t i = 0; i < kMessageLen; ++i) g_message[i] = static_cast<uint8_t>(i);

  // All keys before any timing: class 0 is one fixed key, copied to every
  // class-0 slot; class 1 a fresh random key per slot.
  std::mt19937_64 rng(std::random_device{}());
  std::vector<uint8_t> classes(n);
  std::vector<Key> keys(n);
  Key fixed{};
  std::memset(fixed.seed, 0, 32);
  fixed.seed[0] = 1;
  fyrn_tools::expand_key(fixed);
  // The control must see the planted bit differ between the classes.
  while (fixed.expanded[5] & 1) {
    ++fixed.seed[1];
    fyrn_tools::expand_key(fixed);
  }
  for (size_t i = 0; i < n; ++i) {
    classes[i] = static_cast<uint8_t>(rng() & 1);
    if (classes[i] == 0) {
      keys[i] = fixed;
    } else {
      randombytes_buf(keys[i].seed, 32);
      fyrn_tools::expand_key(keys[i]);
    }
  }

  std::vector<Signer> signers = {{"control: parts + secret-dependent extra hash", true, sign_control}};
  for (const fyrn_tools::Backend& b : fyrn_tools::backends()) {
    if (signers.size() == 1 || b.sign != signers.back().sign) signers.push_back({b.name, false, b.sign});
  }
  signers.push_back({"libsodium crypto_sign_detached", false, sign_libsodium});

  std::printf("dudect: %zu signatures per signer (91-byte message), fixed vs random secret, threshold |t| > %.1f\n", n,
              kThreshold);
  std::printf("  %-46s %9s %9s %6s  %s\n", "signer", "t (all)", "max |t|", "crop", "verdict");
  bool ok = true;
  for (const Signer& s : signers) {
    const Result r = measure(s, keys, classes);
    const bool leaks = std::fabs(r.t_max) > kThreshold;
    const bool as_expected = leaks == s.control;
    ok &= as_expected;
    std::printf("  %-46s %9.2f %9.2f %6d  %s%s\n", s.name, r.t_all, std::fabs(r.t_max), r.crop_at_max,
                leaks ? "leaks" : "no leak found", as_expected ? "" : "  <-- UNEXPECTED");
    std::fflush(stdout);
  }
  sodium_memzero(keys.data(), keys.size() * sizeof(Key));
  return ok ? 0 : 1;
}
