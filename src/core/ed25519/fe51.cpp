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

// Inversion by Bernstein and Yang's constant-time divsteps ("safegcd"), in
// batches of 59 on the low 64 bits, applied to 62-bit signed limbs: about a
// third of the time of the 254-squaring exponentiation, which is one long
// chain of dependent multiplications. 590 divsteps (ten batches) suffice for
// every modulus and input below 2^256, starting from delta = 1/2.
namespace {

using i128 = __int128;
constexpr uint64_t kMask62 = ~uint64_t{0} >> 2;

// p = -19 + 128 * 2^248 in signed 62-bit limbs; the zero limbs are skipped.
constexpr int64_t kP0 = -19, kP4 = 128;
constexpr uint64_t kPInv62 = 0x39435e50d79435e5;  // p^-1 mod 2^62

struct Signed62 {
  int64_t v[5];
};

struct Transition {
  int64_t u, v, q, r;
};

// divsteps_packed runs n <= 30 divsteps on the low bits of f and g. Every
// step is linear in the matrix entries, so each row is kept as one integer
// u + v * 2^32 (entries stay below 2^n <= 2^30 in size): a third fewer
// instructions per step than with four separate entries.
int64_t divsteps_packed(int64_t zeta, uint64_t f, uint64_t g, int n, int64_t& u, int64_t& v, int64_t& q,
                        int64_t& r) {
  uint64_t row_f = 1, row_g = uint64_t{1} << 32;  // (u, v) = (1, 0), (q, r) = (0, 1)
  for (int i = 0; i < n; ++i) {
    const uint64_t c1 = static_cast<uint64_t>(zeta >> 63);  // all ones when delta > 0
    const uint64_t c2 = -(g & 1);                            // all ones when g is odd
    const uint64_t swap = c1 & c2;                           // (f, g) <- (g, (g - f) / 2)
    const uint64_t x = (f ^ c1) - c1, y = (row_f ^ c1) - c1;  // -f, -row_f when delta > 0
    // On a swap f + (g - f) is the old g: selecting it keeps f off g's dependency chain.
    f ^= (f ^ g) & swap;
    row_f = (row_f ^ ((row_f ^ row_g) & swap)) << 1;
    g = (g + (x & c2)) >> 1;
    row_g += y & c2;
    zeta = static_cast<int64_t>((static_cast<uint64_t>(zeta) ^ swap) - 1);
  }
  u = static_cast<int32_t>(static_cast<uint32_t>(row_f));
  v = static_cast<int64_t>(row_f - static_cast<uint64_t>(u)) >> 32;
  q = static_cast<int32_t>(static_cast<uint32_t>(row_g));
  r = static_cast<int64_t>(row_g - static_cast<uint64_t>(q)) >> 32;
  return zeta;
}

// divsteps_59 runs 59 divsteps (30, then 29) on the low bits of f and g; the
// transition matrix comes out scaled by 2^62 (entries below 2^62 in size).
int64_t divsteps_59(int64_t zeta, uint64_t f, uint64_t g, Transition& t) {
  int64_t u1, v1, q1, r1, u2, v2, q2, r2;
  zeta = divsteps_packed(zeta, f, g, 30, u1, v1, q1, r1);
  // The low 34 bits of f and g after 30 steps: (matrix * (f, g)) / 2^30, mod 2^64.
  const uint64_t f1 = (static_cast<uint64_t>(u1) * f + static_cast<uint64_t>(v1) * g) >> 30;
  const uint64_t g1 = (static_cast<uint64_t>(q1) * f + static_cast<uint64_t>(r1) * g) >> 30;
  zeta = divsteps_packed(zeta, f1, g1, 29, u2, v2, q2, r2);
  t = Transition{8 * (u2 * u1 + v2 * q1), 8 * (u2 * v1 + v2 * r1), 8 * (q2 * u1 + r2 * q1), 8 * (q2 * v1 + r2 * r1)};
  return zeta;
}

// update_de: [d, e] <- (t [d, e] + p [md, me]) / 2^62 with md, me chosen to
// make the division exact; keeps d and e in (-2p, p).
void update_de(Signed62& d, Signed62& e, const Transition& t) {
  const int64_t sd = d.v[4] >> 63, se = e.v[4] >> 63;
  int64_t md = (t.u & sd) + (t.v & se);
  int64_t me = (t.q & sd) + (t.r & se);
  i128 cd = i128(t.u) * d.v[0] + i128(t.v) * e.v[0];
  i128 ce = i128(t.q) * d.v[0] + i128(t.r) * e.v[0];
  md -= static_cast<int64_t>((kPInv62 * static_cast<uint64_t>(cd) + static_cast<uint64_t>(md)) & kMask62);
  me -= static_cast<int64_t>((kPInv62 * static_cast<uint64_t>(ce) + static_cast<uint64_t>(me)) & kMask62);
  cd += i128(kP0) * md;
  ce += i128(kP0) * me;
  cd >>= 62;  // the low 62 bits are zero now
  ce >>= 62;
  for (int i = 1; i < 5; ++i) {
    cd += i128(t.u) * d.v[i] + i128(t.v) * e.v[i];
    ce += i128(t.q) * d.v[i] + i128(t.r) * e.v[i];
    if (i == 4) {
      cd += i128(kP4) * md;
      ce += i128(kP4) * me;
    }
    d.v[i - 1] = static_cast<int64_t>(static_cast<uint64_t>(cd) & kMask62);
    e.v[i - 1] = static_cast<int64_t>(static_cast<uint64_t>(ce) & kMask62);
    cd >>= 62;
    ce >>= 62;
  }
  d.v[4] = static_cast<int64_t>(cd);
  e.v[4] = static_cast<int64_t>(ce);
}

// update_fg: [f, g] <- t [f, g] / 2^62 (exact).
void update_fg(Signed62& f, Signed62& g, const Transition& t) {
  i128 cf = i128(t.u) * f.v[0] + i128(t.v) * g.v[0];
  i128 cg = i128(t.q) * f.v[0] + i128(t.r) * g.v[0];
  cf >>= 62;
  cg >>= 62;
  for (int i = 1; i < 5; ++i) {
    cf += i128(t.u) * f.v[i] + i128(t.v) * g.v[i];
    cg += i128(t.q) * f.v[i] + i128(t.r) * g.v[i];
    f.v[i - 1] = static_cast<int64_t>(static_cast<uint64_t>(cf) & kMask62);
    g.v[i - 1] = static_cast<int64_t>(static_cast<uint64_t>(cg) & kMask62);
    cf >>= 62;
    cg >>= 62;
  }
  f.v[4] = static_cast<int64_t>(cf);
  g.v[4] = static_cast<int64_t>(cg);
}

// normalize: r in (-2p, p), times the sign of `sign`, into [0, p).
void normalize(Signed62& r, int64_t sign) {
  auto add_p_if_negative = [&r] {
    const int64_t neg = r.v[4] >> 63;
    r.v[0] += kP0 & neg;
    r.v[4] += kP4 & neg;
  };
  auto propagate = [&r] {
    for (int i = 0; i < 4; ++i) {
      r.v[i + 1] += r.v[i] >> 62;
      r.v[i] = static_cast<int64_t>(static_cast<uint64_t>(r.v[i]) & kMask62);
    }
  };
  add_p_if_negative();  // (-p, p)
  const int64_t negate = sign >> 63;
  for (auto& limb : r.v) limb = (limb ^ negate) - negate;
  propagate();
  add_p_if_negative();  // [0, p)
  propagate();
}

}  // namespace

void fe51_invert(Fe51& out, const Fe51& z) {
  uint8_t bytes[32];
  fe51_to_bytes(bytes, z);
  const uint64_t w0 = load64(bytes), w1 = load64(bytes + 8), w2 = load64(bytes + 16), w3 = load64(bytes + 24);
  Signed62 g{{static_cast<int64_t>(w0 & kMask62), static_cast<int64_t>(((w0 >> 62) | (w1 << 2)) & kMask62),
              static_cast<int64_t>(((w1 >> 60) | (w2 << 4)) & kMask62),
              static_cast<int64_t>(((w2 >> 58) | (w3 << 6)) & kMask62), static_cast<int64_t>(w3 >> 56)}};
  Signed62 f{{kP0, 0, 0, 0, kP4}}, d{{0, 0, 0, 0, 0}}, e{{1, 0, 0, 0, 0}};
  int64_t zeta = -1;  // delta = 1/2
  for (int i = 0; i < 10; ++i) {
    Transition t;
    zeta = divsteps_59(zeta, static_cast<uint64_t>(f.v[0]), static_cast<uint64_t>(g.v[0]), t);
    update_de(d, e, t);
    update_fg(f, g, t);
  }
  // g = 0 and f = +-1 (for z != 0): d = +-1/z.
  normalize(d, f.v[4]);
  const uint64_t r0 = static_cast<uint64_t>(d.v[0]), r1 = static_cast<uint64_t>(d.v[1]),
                 r2 = static_cast<uint64_t>(d.v[2]), r3 = static_cast<uint64_t>(d.v[3]),
                 r4 = static_cast<uint64_t>(d.v[4]);
  store64(bytes, r0 | (r1 << 62));
  store64(bytes + 8, (r1 >> 2) | (r2 << 60));
  store64(bytes + 16, (r2 >> 4) | (r3 << 58));
  store64(bytes + 24, (r3 >> 6) | (r4 << 56));
  fe51_from_bytes(out, bytes);
  sodium_memzero(bytes, sizeof bytes);
  sodium_memzero(&d, sizeof d);
  sodium_memzero(&e, sizeof e);
  sodium_memzero(&f, sizeof f);
  sodium_memzero(&g, sizeof g);
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
