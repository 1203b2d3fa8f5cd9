// scalar.hpp: constant-time arithmetic modulo the group order L.
#pragma once

#include <cstdint>

namespace fyrn::ed25519 {

// sc_reduce64 writes in (a 512-bit little-endian integer) mod L.
void sc_reduce64(uint8_t out[32], const uint8_t in[64]);
// sc_muladd writes s = a*b + c mod L (256-bit little-endian inputs).
void sc_muladd(uint8_t s[32], const uint8_t a[32], const uint8_t b[32], const uint8_t c[32]);

}  // namespace fyrn::ed25519
