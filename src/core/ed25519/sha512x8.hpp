// sha512x8.hpp: SHA-512 of up to eight independent messages at once, each
// given as a short head (a nonce prefix, or R ‖ A) followed by a body.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fyrn::ed25519 {

// Sha512Input is one message: head[0..head_len) ‖ body[0..body_len).
struct Sha512Input {
  const uint8_t* head;
  size_t head_len;
  const uint8_t* body;
  size_t body_len;
};

// sha512_x8 writes the digests of in[0..n) to out[0..n); 1 <= n <= 8.
void sha512_x8(uint8_t (*out)[64], const Sha512Input* in, size_t n);
// sha512_1 writes the digest of one message.
void sha512_1(uint8_t out[64], const Sha512Input& in);

}  // namespace fyrn::ed25519
