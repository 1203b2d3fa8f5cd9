#include "fe51.hpp"

#include <sodium.h>

#include <cstring>

namespace fyrn::ed25519 {
namespace {

using u128 = unsigned __int128;
constexpr uint64_t kMask51 = (uint64_t{1} << 51) - 1;
constexpr uint64_t kMask52 = (uint64_t{1} << 52) - 1;

uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;  // little-endian host (x86-64, aarch64)
}

void store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

// carry turns five 128-bit column sums (each < 2^115) into reduced limbs.
inline void carry(Fe51& h, u128 t0, u128 t1, u128 t2, u128 t3, u128 t4) {
  t1 += static_cast<uint64_t>(t0 >> 51);
  t2 += static_cast<uint64_t>(t1 >> 51);
  t3 += static_cast<uint64_t>(t2 >> 51);
  t4 += static_cast<uint64_t>(t3 >> 51);
  uint64_t r0 = static_cast<uint64_t>(t0) & kMask51;
  const uint64_t r1 = static_cast<uint64_t>(t1) & kMask51;
  const uint64_t r2 = static_cast<uint64_t>(t2) & kMask51;
  const uint64_t r3 = static_cast<uint64_t>(t3) & kMask51;
  const uint64_t r4 = static_cast<uint64_t>(t4) & kMask51;
  r0 += 19 * static_cast<uint64_t>(t4 >> 51);  // < 2^51 + 19 * 2^64 / 2^51 ... < 2^52
  h.v[0] = r0 & kMask51;
  h.v[1] = r1 + (r0 >> 51);
  h.v[2] = r2;
  h.v[3] = r3;
  h.v[4] = r4;
}

inline void mul(Fe51& h, const Fe51& f, const Fe51& g) {
  const uint64_t f0 = f.v[0], f1 = f.v[1], f2 = f.v[2], f3 = f.v[3], f4 = f.v[4];
  const uint64_t g0 = g.v[0], g1 = g.v[1], g2 = g.v[2], g3 = g.v[3], g4 = g.v[4];
  // Limbs < 2^54: 19 * g < 2^59, each product < 2^113, five of them < 2^116.
  const uint64_t g1_19 = 19 * g1, g2_19 = 19 * g2, g3_19 = 19 * g3, g4_19 = 19 * g4;
  const u128 t0 = u128(f0) * g0 + u128(f1) * g4_19 + u128(f2) * g3_19 + u128(f3) * g2_19 + u128(f4) * g1_19;
  const u128 t1 = u128(f0) * g1 + u128(f1) * g0 + u128(f2) * g4_19 + u128(f3) * g3_19 + u128(f4) * g2_19;
  const u128 t2 = u128(f0) * g2 + u128(f1) * g1 + u128(f2) * g0 + u128(f3) * g4_19 + u128(f4) * g3_19;
  const u128 t3 = u128(f0) * g3 + u128(f1) * g2 + u128(f2) * g1 + u128(f3) * g0 + u128(f4) * g4_19;
  const u128 t4 = u128(f0) * g4 + u128(f1) * g3 + u128(f2) * g2 + u128(f3) * g1 + u128(f4) * g0;
  carry(h, t0, t1, t2, t3, t4);
}

inline void sq(Fe51& h, const Fe51& f) {
  const uint64_t f0 = f.v[0], f1 = f.v[1], f2 = f.v[2], f3 = f.v[3], f4 = f.v[4];
  const uint64_t f0_2 = 2 * f0, f1_2 = 2 * f1;
  const uint64_t f3_19 = 19 * f3, f4_19 = 19 * f4;
  const u128 t0 = u128(f0) * f0 + u128(f1_2) * f4_19 + u128(2 * f2) * f3_19;
  const u128 t1 = u128(f0_2) * f1 + u128(2 * f2) * f4_19 + u128(f3) * f3_19;
  const u128 t2 = u128(f0_2) * f2 + u128(f1) * f1 + u128(2 * f3) * f4_19;
  const u128 t3 = u128(f0_2) * f3 + u128(f1_2) * f2 + u128(f4) * f4_19;
  const u128 t4 = u128(f0_2) * f4 + u128(f1_2) * f3 + u128(f2) * f2;
  carry(h, t0, t1, t2, t3, t4);
}

inline void sq_n(Fe51& h, const Fe51& f, int n) {
  sq(h, f);
  for (int i = 1; i < n; ++i) sq(h, h);
}

// reduce_full brings f to its canonical value < p.
inline void reduce_full(uint64_t r[5], const Fe51& f) {
  uint64_t t[5];
  // Two carry rounds: limbs < 2^51 and value < 2^255 + 19 * small.
  uint64_t c = 0;
  for (int i = 0; i < 5; ++i) {
    t[i] = f.v[i] + c;
    c = t[i] >> 51;
    t[i] &= kMask51;
  }
  t[0] += 19 * c;
  c = 0;
  for (int i = 0; i < 5; ++i) {
    t[i] += c;
    c = t[i] >> 51;
    t[i] &= kMask51;
  }
  t[0] += 19 * c;  // c is 0 unless the value was in [2^255, 2^255 + 19): t[0] stays < 2^51 + 19
  // Now 0 <= value < 2^255 + 19 < 2p. q = 1 exactly when value >= p, i.e. value + 19 >= 2^255.
  uint64_t q = (t[0] + 19) >> 51;
  for (int i = 1; i < 5; ++i) q = (t[i] + q) >> 51;
  t[0] += 19 * q;
  for (int i = 0; i < 4; ++i) {
    t[i + 1] += t[i] >> 51;
    t[i] &= kMask51;
  }
  t[4] &= kMask51;  // drops the 2^255 that q * p subtracted
  for (int i = 0; i < 5; ++i) r[i] = t[i];
}

}  // namespace

void fe51_from_bytes(Fe51& h, const uint8_t s[32]) {
  const uint64_t w0 = load64(s), w1 = load64(s + 8), w2 = load64(s + 16), w3 = load64(s + 24);
  h.v[0] = w0 & kMask51;
  h.v[1] = ((w0 >> 51) | (w1 << 13)) & kMask51;
  h.v[2] = ((w1 >> 38) | (w2 << 26)) & kMask51;
  h.v[3] = ((w2 >> 25) | (w3 << 39)) & kMask51;
  h.v[4] = (w3 >> 12) & kMask51;
}

void fe51_to_bytes(uint8_t s[32], const Fe51& f) {
  uint64_t t[5];
  reduce_full(t, f);
  store64(s, t[0] | (t[1] << 51));
  store64(s + 8, (t[1] >> 13) | (t[2] << 38));
  store64(s + 16, (t[2] >> 26) | (t[3] << 25));
  store64(s + 24, (t[3] >> 39) | (t[4] << 12));
}

void fe51_from_limbs52(Fe51& h, const uint64_t l[5]) {
  // Pack into four 64-bit words (exact for l[4] < 2^48), then split at 51.
  const uint64_t w0 = l[0] | (l[1] << 52);
  const uint64_t w1 = (l[1] >> 12) | (l[2] << 40);
  const uint64_t w2 = (l[2] >> 24) | (l[3] << 28);
  const uint64_t w3 = (l[3] >> 36) | (l[4] << 16);
  h.v[0] = w0 & kMask51;
  h.v[1] = ((w0 >> 51) | (w1 << 13)) & kMask51;
  h.v[2] = ((w1 >> 38) | (w2 << 26)) & kMask51;
  h.v[3] = ((w2 >> 25) | (w3 << 39)) & kMask51;
  h.v[4] = w3 >> 12;  // bits 204..255: < 2^52
}

void fe51_to_limbs52(uint64_t l[5], const Fe51& f) {
  uint8_t s[32];
  fe51_to_bytes(s, f);
  const uint64_t w0 = load64(s), w1 = load64(s + 8), w2 = load64(s + 16), w3 = load64(s + 24);
  l[0] = w0 & kMask52;
  l[1] = ((w0 >> 52) | (w1 << 12)) & kMask52;
  l[2] = ((w1 >> 40) | (w2 << 24)) & kMask52;
  l[3] = ((w2 >> 28) | (w3 << 36)) & kMask52;
  l[4] = w3 >> 16;
}

void fe51_add(Fe51& h, const Fe51& f, const Fe51& g) {
  // Reduced inputs: sums < 2^53; the carry keeps chains of additions bounded.
  carry(h, f.v[0] + g.v[0], f.v[1] + g.v[1], f.v[2] + g.v[2], f.v[3] + g.v[3], f.v[4] + g.v[4]);
}

void fe51_sub(Fe51& h, const Fe51& f, const Fe51& g) {
  // f + 4p - g: every limb of 4p is at least 2^53 - 76 > any reduced limb of g.
  constexpr uint64_t k4p0 = (uint64_t{1} << 53) - 76, k4pi = (uint64_t{1} << 53) - 4;
  carry(h, f.v[0] + k4p0 - g.v[0], f.v[1] + k4pi - g.v[1], f.v[2] + k4pi - g.v[2], f.v[3] + k4pi - g.v[3],
        f.v[4] + k4pi - g.v[4]);
}

void fe51_mul(Fe51& h, const Fe51& f, const Fe51& g) { mul(h, f, g); }
void fe51_sq(Fe51& h, const Fe51& f) { sq(h, f); }

void fe51_invert(Fe51& out, const Fe51& z) {
  // z^(2^255 - 21) by the usual addition chain: 254 squarings, 11 multiplications.
  Fe51 z2, z9, z11, z2_5_0, z2_10_0, z2_20_0, z2_50_0, z2_100_0, t;
  sq(z2, z);
  sq_n(t, z2, 2);
  mul(z9, t, z);
  mul(z11, z9, z2);
  sq(t, z11);
  mul(z2_5_0, t, z9);
  sq_n(t, z2_5_0, 5);
  mul(z2_10_0, t, z2_5_0);
  sq_n(t, z2_10_0, 10);
  mul(z2_20_0, t, z2_10_0);
  sq_n(t, z2_20_0, 20);
  mul(t, t, z2_20_0);
  sq_n(t, t, 10);
  mul(z2_50_0, t, z2_10_0);
  sq_n(t, z2_50_0, 50);
  mul(z2_100_0, t, z2_50_0);
  sq_n(t, z2_100_0, 100);
  mul(t, t, z2_100_0);
  sq_n(t, t, 50);
  mul(t, t, z2_50_0);
  sq_n(t, t, 5);
  mul(out, t, z11);
}

void encode_points(uint8_t (*out)[32], const uint64_t x[5][8], const uint64_t y[5][8], const uint64_t z[5][8],
                   size_t n) {
  if (n == 0 || n > 8) return;
  Fe51 zs[8], prefix[8], inv, t;
  uint64_t limbs[5];
  for (size_t i = 0; i < n; ++i) {
    for (int j = 0; j < 5; ++j) limbs[j] = z[j][i];
    fe51_from_limbs52(zs[i], limbs);
    if (i == 0) {
      prefix[0] = zs[0];
    } else {
      mul(prefix[i], prefix[i - 1], zs[i]);
    }
  }
  fe51_invert(inv, prefix[n - 1]);
  for (size_t i = n; i-- > 0;) {
    Fe51 zinv;
    if (i > 0) {
      mul(zinv, inv, prefix[i - 1]);
      mul(inv, inv, zs[i]);
    } else {
      zinv = inv;
    }
    Fe51 px, py;
    for (int j = 0; j < 5; ++j) limbs[j] = x[j][i];
    fe51_from_limbs52(px, limbs);
    for (int j = 0; j < 5; ++j) limbs[j] = y[j][i];
    fe51_from_limbs52(py, limbs);
    mul(px, px, zinv);
    mul(py, py, zinv);
    uint8_t xb[32];
    fe51_to_bytes(xb, px);
    fe51_to_bytes(out[i], py);
    out[i][31] |= static_cast<uint8_t>(xb[0] << 7);
    sodium_memzero(xb, sizeof xb);
    sodium_memzero(&zinv, sizeof zinv);
    sodium_memzero(&px, sizeof px);
    sodium_memzero(&py, sizeof py);
  }
  sodium_memzero(zs, sizeof zs);
  sodium_memzero(prefix, sizeof prefix);
  sodium_memzero(&inv, sizeof inv);
  sodium_memzero(&t, sizeof t);
  sodium_memzero(limbs, sizeof limbs);
}

}  // namespace fyrn::ed25519
