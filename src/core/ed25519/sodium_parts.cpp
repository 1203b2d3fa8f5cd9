// Stand-ins for the SHA-512 and scalar parts on libsodium's public API, until
// the vectorised ones are in.
#include <sodium.h>

#include "scalar.hpp"
#include "sha512x8.hpp"

namespace fyrn::ed25519 {

void sha512_1(uint8_t out[64], const Sha512Input& in) {
  crypto_hash_sha512_state st;
  crypto_hash_sha512_init(&st);
  if (in.head_len != 0) crypto_hash_sha512_update(&st, in.head, in.head_len);
  if (in.body_len != 0) crypto_hash_sha512_update(&st, in.body, in.body_len);
  crypto_hash_sha512_final(&st, out);
  sodium_memzero(&st, sizeof st);  // the nonce prefix passed through it
}

void sha512_x8(uint8_t (*out)[64], const Sha512Input* in, size_t n) {
  for (size_t i = 0; i < n; ++i) sha512_1(out[i], in[i]);
}

void sc_reduce64(uint8_t out[32], const uint8_t in[64]) {
  uint8_t t[64];
  for (int i = 0; i < 64; ++i) t[i] = in[i];
  crypto_core_ed25519_scalar_reduce(out, t);
  sodium_memzero(t, sizeof t);
}

void sc_muladd(uint8_t s[32], const uint8_t a[32], const uint8_t b[32], const uint8_t c[32]) {
  uint8_t ab[32];
  crypto_core_ed25519_scalar_mul(ab, a, b);
  crypto_core_ed25519_scalar_add(s, ab, c);
  sodium_memzero(ab, sizeof ab);
}

}  // namespace fyrn::ed25519
