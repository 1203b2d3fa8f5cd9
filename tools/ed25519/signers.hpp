// signers.hpp: the Ed25519 signing backends that the checking tools (make ct,
// make sign-diff) drive, behind one small table.
//
// The library's backends come from fyrn/ed25519.hpp, each called explicitly.
// Beside them, for valgrind, which cannot decode AVX-512, the "parts" signer
// assembles the signing path without IFMA: the library's SHA-512 and
// arithmetic mod L around libsodium's fixed-base multiplication R = r*B,
//   (a, prefix) = clamp(SHA-512(seed)),  r = SHA-512(prefix ‖ M) mod L,
//   R = r*B,  k = SHA-512(R ‖ A ‖ M) mod L,  S = k*a + r mod L,
// its batch form hashing up to eight messages per SHA-512 call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <sodium.h>

#include "../../src/core/ed25519/scalar.hpp"
#include "../../src/core/ed25519/sha512x8.hpp"
#include "fyrn/ed25519.hpp"

namespace fyrn_tools {

// Key is what a signer holds: seed ‖ public key (libsodium's layout) and the
// expansion of the seed (clamped scalar a, then the nonce prefix).
struct Key {
  uint8_t secret[64];
  uint8_t expanded[64];

  uint8_t* seed() { return secret; }
  const uint8_t* seed() const { return secret; }
  const uint8_t* pk() const { return secret + 32; }
  fyrn::ed25519::SigningKey signing_key() const { return {secret, expanded}; }
};

// make_key fills key from the seed already in key.seed(): libsodium derives
// the public key, the library expands the seed.
inline void make_key(Key& key) {
  uint8_t pk[32], sk[64];
  crypto_sign_seed_keypair(pk, sk, key.secret);
  std::memcpy(key.secret + 32, pk, 32);
  sodium_memzero(sk, sizeof sk);
  fyrn::ed25519::expand_secret(key.expanded, key.secret);
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
  std::memcpy(head + 32, key.pk(), 32);
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
      std::memcpy(head[i] + 32, keys[at + i]->pk(), 32);
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

template <fyrn::ed25519::Backend B>
void library_sign(uint8_t sig[64], const Key& key, const uint8_t* m, size_t m_len) {
  fyrn::ed25519::sign(sig, key.signing_key(), m, m_len, B);
}

template <fyrn::ed25519::Backend B>
void library_sign_many(uint8_t (*sigs)[64], const Key* const* keys, const Message* msgs, size_t n) {
  std::vector<fyrn::ed25519::SignInput> in(n);
  for (size_t i = 0; i < n; ++i) in[i] = {keys[i]->signing_key(), msgs[i].data, msgs[i].len};
  fyrn::ed25519::sign_many(sigs, in.data(), n, B);
}

// library_backends lists the library's backends this CPU runs.
inline std::vector<Backend> library_backends() {
  using fyrn::ed25519::Backend::Ifma;
  using fyrn::ed25519::Backend::Sodium;
  std::vector<Backend> all;
  if (fyrn::ed25519::backend_supported(Ifma)) all.push_back({"ifma", library_sign<Ifma>, library_sign_many<Ifma>});
  all.push_back({"sodium", library_sign<Sodium>, library_sign_many<Sodium>});
  return all;
}

inline void sign_parts(uint8_t sig[64], const Key& key, const uint8_t* m, size_t m_len) {
  parts_sign(sig, key, m, m_len);
}

inline void sign_many_parts_portable(uint8_t (*sigs)[64], const Key* const* keys, const Message* msgs, size_t n) {
  parts_sign_many(sigs, keys, msgs, n, fyrn::ed25519::sha512_x8_portable);
}

// parts_backend is the signing path without IFMA (one message, and batches
// on the portable eight-message SHA-512).
inline Backend parts_backend() { return {"parts (no IFMA)", sign_parts, sign_many_parts_portable}; }

}  // namespace fyrn_tools
