// scalar.hpp: arithmetic modulo the order of the Ed25519 base point,
// L = 2^252 + 27742317777372353535851937790883648493, on little-endian byte
// strings. The operands are secrets (the nonce r and the clamped key a): no
// branch and no memory address depends on their values.
#pragma once

#include <cstdint>

namespace fyrn::ed25519 {

// sc_reduce64 writes in mod L, canonical (< L), for any 512-bit in.
void sc_reduce64(uint8_t out[32], const uint8_t in[64]);

// sc_muladd writes a*b + c mod L, canonical, for any 256-bit a, b, c (they
// need not be reduced). s may alias any input.
void sc_muladd(uint8_t s[32], const uint8_t a[32], const uint8_t b[32], const uint8_t c[32]);

}  // namespace fyrn::ed25519
