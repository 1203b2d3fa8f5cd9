#include "fyrn/ed25519.hpp"

#include <sodium.h>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include "ifma.hpp"

namespace fyrn::ed25519 {
namespace {

// cpu_runs_ifma: AVX-512 F, VL and IFMA, and the OS saves the opmask and
// zmm state (XCR0 bits 1, 2, 5, 6, 7) so that the kernels' registers survive
// a context switch.
bool cpu_runs_ifma() {
#if defined(__x86_64__)
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || (ecx & (1u << 27)) == 0) return false;  // OSXSAVE
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  constexpr unsigned kF = 1u << 16, kIfma = 1u << 21, kVl = 1u << 31;
  if ((ebx & (kF | kIfma | kVl)) != (kF | kIfma | kVl)) return false;
  unsigned xcr0_lo, xcr0_hi;
  __asm__("xgetbv" : "=a"(xcr0_lo), "=d"(xcr0_hi) : "c"(0));
  constexpr unsigned kStates = (1u << 1) | (1u << 2) | (1u << 5) | (1u << 6) | (1u << 7);
  return (xcr0_lo & kStates) == kStates;
#else
  return false;
#endif
}

// scrub_stack overwrites the stack below the caller's frame, where the IFMA
// backend's frames (and the compiler's spills of secret registers) were.
// 16 KiB: over twice the deepest signing call tree (about 7 KiB, -fstack-usage).
__attribute__((noinline)) void scrub_stack() {
  unsigned char area[16384];
  sodium_memzero(area, sizeof area);
  __asm__ volatile("" : : "r"(area) : "memory");
}

void sodium_sign(uint8_t out[64], const SigningKey& key, const uint8_t* msg, size_t msg_len) {
  static const uint8_t kEmpty[1] = {0};
  crypto_sign_detached(out, nullptr, msg_len == 0 ? kEmpty : msg, msg_len, key.secret);
}

}  // namespace

bool backend_supported(Backend backend) {
  switch (backend) {
    case Backend::Sodium: return true;
    case Backend::Ifma: {
      static const bool supported = ifma::compiled && cpu_runs_ifma();
      return supported;
    }
  }
  return false;
}

Backend active_backend() {
  static const Backend chosen = backend_supported(Backend::Ifma) ? Backend::Ifma : Backend::Sodium;
  return chosen;
}

const char* backend_name(Backend backend) { return backend == Backend::Ifma ? "ifma" : "sodium"; }

void expand_secret(uint8_t expanded[64], const uint8_t seed[32]) {
  crypto_hash_sha512(expanded, seed, 32);
  expanded[0] &= 248;
  expanded[31] &= 127;
  expanded[31] |= 64;
}

void sign(uint8_t out[64], const SigningKey& key, const uint8_t* msg, size_t msg_len) {
  sign(out, key, msg, msg_len, active_backend());
}

void sign(uint8_t out[64], const SigningKey& key, const uint8_t* msg, size_t msg_len, Backend backend) {
  if (backend == Backend::Ifma && backend_supported(Backend::Ifma)) {
    ifma::sign(out, key, msg, msg_len);
    scrub_stack();
    return;
  }
  sodium_sign(out, key, msg, msg_len);
}

void sign_many(uint8_t (*out)[64], const SignInput* in, size_t n) { sign_many(out, in, n, active_backend()); }

void sign_many(uint8_t (*out)[64], const SignInput* in, size_t n, Backend backend) {
  if (backend == Backend::Ifma && backend_supported(Backend::Ifma)) {
    ifma::sign_many(out, in, n);
    scrub_stack();
    return;
  }
  for (size_t i = 0; i < n; ++i) sodium_sign(out[i], in[i].key, in[i].msg, in[i].msg_len);
}

}  // namespace fyrn::ed25519
