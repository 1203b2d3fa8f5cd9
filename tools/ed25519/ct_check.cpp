// ct_check: runs the signing path with its secrets (seed, expanded key,
// nonce) marked uninitialised, so that the checker reports every branch and
// every memory address that depends on them. Built twice: under
// MemorySanitizer (clang; sees through AVX-512, so it checks the IFMA
// backend, but not into uninstrumented libsodium) and for valgrind memcheck
// (sees everything that is not AVX-512: the path without IFMA and libsodium's
// own signer).
//
// Usage: ct_check real | control-branch | control-index
//   real            signs with every backend; exit 0 and no report expected
//   control-branch  a deliberately secret-dependent branch: must be reported
//   control-index   a deliberately secret-indexed table load: must be reported
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "signers.hpp"

#if defined(__has_feature)
#if __has_feature(memory_sanitizer)
#define FYRN_CT_MSAN 1
#endif
#endif

#if defined(FYRN_CT_MSAN)
#include <sanitizer/msan_interface.h>
#else
#include <valgrind/memcheck.h>
#endif

namespace {

using fyrn_tools::Key;
using fyrn_tools::Message;

void mark_secret(const void* p, size_t len) {
#if defined(FYRN_CT_MSAN)
  __msan_poison(p, len);
#else
  VALGRIND_MAKE_MEM_UNDEFINED(p, len);
#endif
}

void mark_public(const void* p, size_t len) {
#if defined(FYRN_CT_MSAN)
  __msan_unpoison(p, len);
#else
  VALGRIND_MAKE_MEM_DEFINED(p, len);
#endif
}

// carries_secret says whether the checker still sees p[0..len) as derived
// from the marked secrets. Outputs must: otherwise the marks were lost on the
// way and a clean run would prove nothing.
bool carries_secret(const void* p, size_t len) {
#if defined(FYRN_CT_MSAN)
  return __msan_test_shadow(p, len) != -1;
#else
  if (!RUNNING_ON_VALGRIND) return true;  // nothing to ask outside valgrind
  std::vector<uint8_t> bits(len);
  if (VALGRIND_GET_VBITS(p, bits.data(), len) != 1) return false;
  for (uint8_t b : bits) {
    if (b != 0) return true;
  }
  return false;
#endif
}

bool avx512_usable() {
#if defined(FYRN_CT_MSAN)
  return fyrn::ed25519::sha512_x8_has_avx512();
#else
  return false;  // valgrind cannot decode AVX-512
#endif
}

// A table filled at run time: the compiler cannot fold a load from it.
uint8_t g_table[256];
volatile uint8_t g_sink;

__attribute__((noinline)) void slow_path() { g_sink = static_cast<uint8_t>(g_sink + 1); }

// The planted controls read the clamped scalar, as signing does.
__attribute__((noinline)) void planted_branch(const Key& key) {
  if (key.expanded[5] & 1) slow_path();
}

__attribute__((noinline)) void planted_index(const Key& key) { g_sink = g_table[key.expanded[5]]; }

// make_keys derives n keys from fixed, varied seeds and marks every seed and
// expansion secret; the public keys stay public.
void make_keys(Key* keys, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    for (int j = 0; j < 32; ++j) keys[i].seed()[j] = static_cast<uint8_t>(i * 37 + j * 11 + (i == 1 ? 0xff : 0));
    if (i == 0) std::memset(keys[i].seed(), 0, 32);
    fyrn_tools::make_key(keys[i]);
    mark_public(keys[i].pk(), 32);
    mark_secret(keys[i].seed(), 32);
    mark_secret(keys[i].expanded, 64);
    // Expanding again from the secret seed with the library's SHA-512 puts
    // the key's own hash on the checked path.
    fyrn::ed25519::sha512_1(keys[i].expanded, {nullptr, 0, keys[i].seed(), 32});
    keys[i].expanded[0] &= 248;
    keys[i].expanded[31] &= 127;
    keys[i].expanded[31] |= 64;
  }
}

// expect_libsodium compares a signature, once it is public, with libsodium's
// for the same key and message (signed from an unmarked copy of the key).
// Both halves must still carry the marks (R = r*B; the parts signer's R comes
// from libsodium and was marked public).
bool expect_libsodium(uint8_t sig[64], const Key& key, const Message& m, const char* what) {
  const bool r_marked = std::string(what) != fyrn_tools::parts_backend().name;
  if ((r_marked && !carries_secret(sig, 32)) || !carries_secret(sig + 32, 32)) {
    std::fprintf(stderr, "ct_check: %s: the signature shows no trace of the marked secrets\n", what);
    return false;
  }
  mark_public(sig, 64);
  uint8_t sk[64], expected[64];
  std::memcpy(sk, key.secret, 64);
  mark_public(sk, 64);
  crypto_sign_detached(expected, nullptr, m.data, m.len, sk);
  mark_public(expected, 64);
  if (std::memcmp(sig, expected, 64) != 0) {
    std::fprintf(stderr, "ct_check: %s: signature of %zu bytes differs from libsodium's\n", what, m.len);
    return false;
  }
  return true;
}

// checked_backends: the path without IFMA under both checkers; the library's
// IFMA backend where AVX-512 runs (MemorySanitizer); libsodium's signer where
// the checker sees into libsodium (valgrind).
std::vector<fyrn_tools::Backend> checked_backends() {
  std::vector<fyrn_tools::Backend> all = {fyrn_tools::parts_backend()};
  for (const fyrn_tools::Backend& b : fyrn_tools::library_backends()) {
    const bool ifma = std::string(b.name) == "ifma";
#if defined(FYRN_CT_MSAN)
    if (ifma) all.push_back(b);
#else
    if (!ifma) all.push_back(b);
#endif
  }
  return all;
}

int run_real() {
  constexpr size_t kKeys = 11;
  static uint8_t message[1200];
  for (size_t i = 0; i < sizeof message; ++i) message[i] = static_cast<uint8_t>(i * 7 + 3);
  const size_t lengths[kKeys] = {0, 1, 47, 48, 80, 81, 111, 112, 176, 208, 1100};
  Key keys[kKeys];
  make_keys(keys, kKeys);
  Message msgs[kKeys];
  const Key* key_ptrs[kKeys];
  for (size_t i = 0; i < kKeys; ++i) {
    msgs[i] = {message, lengths[i]};
    key_ptrs[i] = &keys[i];
  }
  size_t checked = 0;
  bool ok = true;
  // The primitives on their own, with secret operands.
  {
    uint8_t wide[64], r[32], s[32], k[32];
    std::memcpy(wide, keys[2].expanded, 64);
    fyrn::ed25519::sc_reduce64(r, wide);  // the nonce r: secret
    std::memset(k, 0x5a, sizeof k);       // a public challenge
    fyrn::ed25519::sc_muladd(s, k, keys[3].expanded, r);
    uint8_t digests[8][64];
    fyrn::ed25519::Sha512Input in[8];
    for (size_t i = 0; i < 8; ++i) in[i] = {keys[i].expanded + 32, 32, message, lengths[i]};
    fyrn::ed25519::sha512_x8_portable(digests, in, 8);
    ok &= carries_secret(digests, sizeof digests) && carries_secret(s, 32);
    mark_public(digests, sizeof digests);
    if (avx512_usable()) {
      fyrn::ed25519::sha512_x8_avx512(digests, in, 8);
      ok &= carries_secret(digests, sizeof digests);
      mark_public(digests, sizeof digests);
    }
    mark_public(s, 32);
    if (!ok) std::fprintf(stderr, "ct_check: a primitive's output shows no trace of the marked secrets\n");
  }
  std::string names;
  for (const fyrn_tools::Backend& b : checked_backends()) {
    names += std::string(names.empty() ? "" : ", ") + b.name;
    for (size_t i = 0; i < kKeys; ++i) {
      uint8_t sig[64];
      b.sign(sig, keys[i], msgs[i].data, msgs[i].len);
      ok &= expect_libsodium(sig, keys[i], msgs[i], b.name);
      ++checked;
    }
    // A batch of eight and a partial group of three.
    uint8_t sigs[kKeys][64];
    b.sign_many(sigs, key_ptrs, msgs, kKeys);
    for (size_t i = 0; i < kKeys; ++i) {
      ok &= expect_libsodium(sigs[i], keys[i], msgs[i], b.name);
      ++checked;
    }
  }
  std::printf("ct_check real: %zu signatures from secret-marked keys (%s; %s), %s\n", checked, names.c_str(),
              avx512_usable() ? "AVX-512 included" : "no AVX-512 code", ok ? "all equal to libsodium's" : "MISMATCH");
  return ok ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
  if (sodium_init() < 0) return 2;
  fyrn_tools::g_mark_public = mark_public;
  for (int i = 0; i < 256; ++i) g_table[i] = static_cast<uint8_t>(i * 29 + 1);
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "real") return run_real();
  if (mode == "control-branch" || mode == "control-index") {
    Key key[1];
    make_keys(key, 1);
    if (mode == "control-branch") {
      planted_branch(key[0]);
    } else {
      planted_index(key[0]);
    }
    std::printf("ct_check %s: ran the planted control\n", mode.c_str());
    return 0;
  }
  std::fprintf(stderr, "usage: ct_check real | control-branch | control-index\n");
  return 2;
}
