// fe51.hpp: arithmetic mod p = 2^255 - 19 on one element in radix 2^51
// (five 64-bit limbs, 128-bit products), for the work that does not run in
// the vector lanes: the inversion and encoding of R, and building the
// fixed-base table. Every function is constant time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fyrn::ed25519 {

// Fe51 is v[0] + v[1]*2^51 + ... + v[4]*2^204. "Reduced" below means every
// limb < 2^52; every function accepts limbs < 2^54 and returns reduced limbs.
struct Fe51 {
  uint64_t v[5];
};

// fe51_from_bytes reads a 32-byte little-endian value, ignoring bit 255.
void fe51_from_bytes(Fe51& h, const uint8_t s[32]);
// fe51_to_bytes writes the canonical encoding (fully reduced, < p).
void fe51_to_bytes(uint8_t s[32], const Fe51& f);
// fe51_from_limbs52 reads l[0] + l[1]*2^52 + ... + l[4]*2^208 with
// l[0..3] < 2^52 and l[4] < 2^48.
void fe51_from_limbs52(Fe51& h, const uint64_t l[5]);
// fe51_to_limbs52 writes the canonical value in radix 2^52 (l[4] < 2^47).
void fe51_to_limbs52(uint64_t l[5], const Fe51& f);

void fe51_add(Fe51& h, const Fe51& f, const Fe51& g);
void fe51_sub(Fe51& h, const Fe51& f, const Fe51& g);
void fe51_mul(Fe51& h, const Fe51& f, const Fe51& g);
void fe51_sq(Fe51& h, const Fe51& f);
// fe51_invert writes 1/f (0 for f = 0).
void fe51_invert(Fe51& h, const Fe51& f);

// encode_points writes the 32-byte encodings of the 1 <= n <= 8 projective points
// (X : Y : Z) given in radix 2^52 (limb j of point i at x[j][i], limbs as in
// fe51_from_limbs52, Z != 0): y = Y/Z fully reduced, bit 255 = the low bit of
// x = X/Z. One inversion for all of them (Montgomery's trick).
void encode_points(uint8_t (*out)[32], const uint64_t x[5][8], const uint64_t y[5][8], const uint64_t z[5][8],
                   size_t n);

}  // namespace fyrn::ed25519
