// signers.hpp: the Ed25519 signing backends that the checking tools (make ct,
// make sign-diff) drive, behind one small table.
//
// The signing path assembled here is the library's own SHA-512 and
// arithmetic mod L around libsodium's fixed-base multiplication R = r*B:
//   (a, prefix) = clamp(SHA-512(seed)),  r = SHA-512(prefix ‖ M) mod L,
//   R = r*B,  k = SHA-512(R ‖ A ‖ M) mod L,  S = k*a + r mod L.
// The batch form hashes up to eight messages per SHA-512 call. A backend
// that owns the whole signature plugs in as one more table row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <sodium.h>

#include "../../src/core/ed25519/scalar.hpp"
#include "../../src/core/ed25519/sha512x8.hpp"

namespace fyrn_tools {

// Key is what a signer holds: the seed, its expansion (clamped scalar a,
// then the nonce prefix) and the public key.
struct Key {
  uint8_t seed[32];
  uint8_t expanded[64];
  uint8_t pk[32];
};

// expand_key derives expanded and pk from seed. The public key comes from
// libsodium: it is public, and deriving it is no part of signing.
inline void expand_key(Key& key) {
  fyrn::ed25519::sha512_1(key.expanded, {nullptr, 0, key.seed, 32});
  key.expanded[0] &= 248;
  key.expanded[31] &= 127;
  key.expanded[31] |= 64;
  uint8_t sk[64];
  crypto_sign_seed_keypair(key.pk, sk, key.seed);
  sodium_memzero(sk, sizeof sk);
}

// Message is one message to sign.
struct Message {
  const uint8_t* data;
  size_t len;
};

// g_mark_public, when set, marks bytes initialised for a checker that follows
// secrets (make ct): libsodium's multiplication below is outside what
// MemorySanitizer sees, and R is public anyway (the signature's first half).
inline void (*g_mark_public)(const void*, size_t) = nullptr;

// base_multiply writes R = r*B for a reduced scalar r with libsodium's
// constant-time table scan.
inline void base_multiply(uint8_t R[32], const uint8_t r[32]) {
  int failed = crypto_scalarmult_ed25519_base_noclamp(R, r);
  if (g_mark_public) {
    g_mark_public(R, 32);
    g_mark_public(&failed, sizeof failed);
  }
  // r = 0 (probability 2^-252) is the only failure; R is then the identity.
  if (failed != 0) {
    std::memset(R, 0, 32);
    R[0] = 1;
  }
}

// parts_sign signs one message with sha512_1.
inline void parts_sign(uint8_t sig[64], const Key& key, const uint8_t* m, size_t m_len) {
  uint8_t h[64], r[32], k[32];
  fyrn::ed25519::sha512_1(h, {key.expanded + 32, 32, m, m_len});
  fyrn::ed25519::sc_reduce64(r, h);
  base_multiply(sig, r);
  uint8_t head[64];
  std::memcpy(head, sig, 32);
  std::memcpy(head + 32, key.pk, 32);
  fyrn::ed25519::sha512_1(h, {head, 64, m, m_len});
  fyrn::ed25519::sc_reduce64(k, h);
  fyrn::ed25519::sc_muladd(sig + 32, k, key.expanded, r);
  sodium_memzero(h, sizeof h);
  sodium_memzero(r, sizeof r);
}

using Sha512x8 = void (*)(uint8_t (*)[64], const fyrn::ed25519::Sha512Input*, size_t);

// parts_sign_many signs n messages, up to eight per SHA-512 call of `x8`.
inline void parts_sign_many(uint8_t (*sigs)[64], const Key* const* keys, const Message* msgs, size_t n, Sha512x8 x8) {
  for (size_t at = 0; at < n; at += 8) {
    const size_t lanes = n - at < 8 ? n - at : 8;
    fyrn::ed25519::Sha512Input in[8];
    uint8_t h[8][64], r[8][32], head[8][64];
    for (size_t i = 0; i < lanes; ++i) in[i] = {keys[at + i]->expanded + 32, 32, msgs[at + i].data, msgs[at + i].len};
    x8(h, in, lanes);
    for (size_t i = 0; i < lanes; ++i) {
      fyrn::ed25519::sc_reduce64(r[i], h[i]);
      base_multiply(sigs[at + i], r[i]);
      std::memcpy(head[i], sigs[at + i], 32);
      std::memcpy(head[i] + 32, keys[at + i]->pk, 32);
      in[i] = {head[i], 64, msgs[at + i].data, msgs[at + i].len};
    }
    x8(h, in, lanes);
    for (size_t i = 0; i < lanes; ++i) {
      uint8_t k[32];
      fyrn::ed25519::sc_reduce64(k, h[i]);
      fyrn::ed25519::sc_muladd(sigs[at + i] + 32, k, keys[at + i]->expanded, r[i]);
    }
    sodium_memzero(h, sizeof h);
    sodium_memzero(r, sizeof r);
  }
}

// Backend is one way of signing: one message per call and a batch call.
struct Backend {
  const char* name;
  void (*sign)(uint8_t sig[64], const Key& key, const uint8_t* m, size_t m_len);
  void (*sign_many)(uint8_t (*sigs)[64], const Key* const* keys, const Message* msgs, size_t n);
};

inline void sign_parts_single(uint8_t sig[64], const Key& key, const uint8_t* m, size_t m_len) {
  parts_sign(sig, key, m, m_len);
}

inline void sign_many_parts_x8_avx512(uint8_t (*sigs)[64], const Key* const* keys, const Message* msgs, size_t n) {
  parts_sign_many(sigs, keys, msgs, n, fyrn::ed25519::sha512_x8_avx512);
}

inline void sign_many_parts_x8_portable(uint8_t (*sigs)[64], const Key* const* keys, const Message* msgs, size_t n) {
  parts_sign_many(sigs, keys, msgs, n, fyrn::ed25519::sha512_x8_portable);
}

// backends lists every backend this CPU runs.
inline std::vector<Backend> backends() {
  std::vector<Backend> all = {{"parts, portable SHA-512", sign_parts_single, sign_many_parts_x8_portable}};
  if (fyrn::ed25519::sha512_x8_has_avx512()) {
    all.push_back({"parts, AVX-512 SHA-512 x8", sign_parts_single, sign_many_parts_x8_avx512});
  }
  return all;
}

}  // namespace fyrn_tools
