// sha512x8.hpp: SHA-512 for Ed25519 signing, one message at a time or up to
// eight independent messages at once in the 64-bit lanes of AVX-512.
//
// A message is head ‖ body: the signer hashes prefix ‖ M and R ‖ A ‖ M, so the
// short secret or public head never has to be copied in front of the message.
// The lengths are public; the contents (the head of the first hash is the
// secret nonce prefix) never steer a branch or an address.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fyrn::ed25519 {

// Sha512Input names one message: head[0..head_len) ‖ body[0..body_len), with
// head_len <= 64. Either part may be empty (its pointer is then not read).
struct Sha512Input {
  const uint8_t* head;
  size_t head_len;
  const uint8_t* body;
  size_t body_len;
};

// sha512_x8 writes the digest of in[i] to out[i] for i < n, 1 <= n <= 8; the
// messages may differ in length. It runs the eight lanes of AVX-512 where the
// CPU and the OS support them (for n >= 2), and one message after another
// elsewhere.
void sha512_x8(uint8_t (*out)[64], const Sha512Input* in, size_t n);

// sha512_1 writes the digest of one message.
void sha512_1(uint8_t out[64], const Sha512Input& in);

// sha512_x8_has_avx512 says whether sha512_x8 takes the AVX-512 path here.
bool sha512_x8_has_avx512();

// The two implementations behind sha512_x8, for tests and benchmarks.
// sha512_x8_avx512 may only be called where sha512_x8_has_avx512() is true.
void sha512_x8_portable(uint8_t (*out)[64], const Sha512Input* in, size_t n);
void sha512_x8_avx512(uint8_t (*out)[64], const Sha512Input* in, size_t n);

}  // namespace fyrn::ed25519
