// The AVX-512 IFMA signing backend. This file alone is compiled with
// -mavx512f -mavx512vl -mavx512ifma (CMake sets FYRN_ED25519_IFMA for it), so
// everything in it has internal linkage and it includes no header with inline
// functions it uses: no AVX-512 code can leak into the rest of the library.
//
// Field elements mod p = 2^255 - 19 live in radix 2^52, five limbs, eight
// independent elements per register set: limb j of all eight lanes in one
// zmm. Products use madd52lo/madd52hi, which read bits 0..51 of each input
// and ignore the rest, so every multiplicand has a stated bound below, and
// builds with FYRN_ED25519_CHECK_BOUNDS (or without NDEBUG) check it.
//
// Bounds used throughout:
//   tight: limbs 0..3 < 2^52, limb 4 < 2^48 (value < 2^256). What fe_carry,
//          fe_mul, fe_sq, fe_add and fe_sub return; what every multiply reads.
//   table: canonical (value < p: limbs 0..3 < 2^52, limb 4 < 2^47).
//
// Secrets (the nonce r, its digits, every intermediate point) reach no branch
// and no address: table rows are read whole, in a fixed order, and selected
// with masks or register permutes.
#include "ifma.hpp"

#if defined(FYRN_ED25519_IFMA)

#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
// GCC 12's AVX-512 intrinsics read an uninitialised placeholder (_mm512_undefined_*).
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#include <sodium.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base_table.hpp"
#include "fe51.hpp"
#include "scalar.hpp"
#include "sha512x8.hpp"

namespace fyrn::ed25519::ifma {

const bool compiled = true;

namespace {

#define FYRN_VINLINE inline __attribute__((always_inline))

using V = __m512i;

constexpr uint64_t kMask52 = (uint64_t{1} << 52) - 1;
constexpr uint64_t kMask47 = (uint64_t{1} << 47) - 1;

FYRN_VINLINE V bcast(uint64_t x) { return _mm512_set1_epi64(static_cast<long long>(x)); }
FYRN_VINLINE V zero() { return _mm512_setzero_si512(); }
FYRN_VINLINE V madd_lo(V acc, V a, V b) { return _mm512_madd52lo_epu64(acc, a, b); }
FYRN_VINLINE V madd_hi(V acc, V a, V b) { return _mm512_madd52hi_epu64(acc, a, b); }
FYRN_VINLINE V load(const uint64_t* p) { return _mm512_load_si512(reinterpret_cast<const void*>(p)); }
FYRN_VINLINE void store(uint64_t* p, V v) { _mm512_store_si512(reinterpret_cast<void*>(p), v); }

// Fe is eight field elements, limb-sliced.
struct Fe {
  V l[5];
};

// ---- bound checks (debug builds) ----

#if defined(FYRN_ED25519_CHECK_BOUNDS) || !defined(NDEBUG)
[[noreturn]] __attribute__((noinline, cold)) void bound_violated(const char* what) {
  std::fprintf(stderr, "fyrn ed25519: limb bound violated: %s\n", what);
  std::abort();
}
// require_limbs_below checks limbs 0..3 < 2^low_bits and limb 4 < 2^top_bits
// in every lane.
FYRN_VINLINE void require_limbs_below(const Fe& f, int low_bits, int top_bits, const char* what) {
  __mmask8 bad = 0;
  for (int i = 0; i < 4; ++i) bad |= _mm512_cmpge_epu64_mask(f.l[i], bcast(uint64_t{1} << low_bits));
  bad |= _mm512_cmpge_epu64_mask(f.l[4], bcast(uint64_t{1} << top_bits));
  if (bad != 0) bound_violated(what);
}
FYRN_VINLINE void require_below(V v, int bits, const char* what) {
  if (_mm512_cmpge_epu64_mask(v, bcast(uint64_t{1} << bits)) != 0) bound_violated(what);
}
#else
FYRN_VINLINE void require_limbs_below(const Fe&, int, int, const char*) {}
FYRN_VINLINE void require_below(V, int, const char*) {}
#endif

// A multiplicand: every limb < 2^52, all that IFMA reads.
FYRN_VINLINE void require_multiplicand(const Fe& f) { require_limbs_below(f, 52, 52, "multiplicand >= 2^52"); }

// ---- field ----

// fe_carry: r0..r4 < 2^63 (any value) to tight, same value mod p.
FYRN_VINLINE void fe_carry(Fe& h, V r0, V r1, V r2, V r3, V r4) {
  const V m52 = bcast(kMask52);
  const V top = _mm512_srli_epi64(r4, 47);  // bits 255.. of the value, < 2^17
  r4 = _mm512_and_si512(r4, bcast(kMask47));
  require_below(top, 17, "carry: top");
  r0 = madd_lo(r0, top, bcast(19));  // 2^255 = 19 mod p; 19 * top < 2^22, r0 + that < 2^64
  r1 = _mm512_add_epi64(r1, _mm512_srli_epi64(r0, 52));
  r0 = _mm512_and_si512(r0, m52);
  r2 = _mm512_add_epi64(r2, _mm512_srli_epi64(r1, 52));
  r1 = _mm512_and_si512(r1, m52);
  r3 = _mm512_add_epi64(r3, _mm512_srli_epi64(r2, 52));
  r2 = _mm512_and_si512(r2, m52);
  r4 = _mm512_add_epi64(r4, _mm512_srli_epi64(r3, 52));  // < 2^47 + 2^12 < 2^48
  r3 = _mm512_and_si512(r3, m52);
  h.l[0] = r0;
  h.l[1] = r1;
  h.l[2] = r2;
  h.l[3] = r3;
  h.l[4] = r4;
}

// fe_fold: c[0..9] are the 104-bit products' halves summed by column
// (column k has weight 2^(52k)), every c[k] < 2^56 and c[9] < 2^52. Folds
// columns 5..9 down with 2^260 = 608 mod p, then carries: h tight.
FYRN_VINLINE void fe_fold(Fe& h, V c[10]) {
  const V k608 = bcast(608);
  // Column k >= 5 is c = a + b*2^52 (a < 2^52, b < 2^4); c*2^(52k) = 608*a*2^(52(k-5)) +
  // 608*b*2^(52(k-4)), and 608*a < 2^62 splits into madd's low and high halves. madd reads
  // exactly a (bits 0..51 of c[k]); b is shifted out and multiplied separately (608*b < 2^13).
  // Column 9 is below 2^52: it has no b. Highest first, as column 9 feeds column 5.
  require_below(c[9], 52, "fold: column 9");
  c[4] = madd_lo(c[4], c[9], k608);
  c[5] = madd_hi(c[5], c[9], k608);
  for (int k = 8; k >= 5; --k) {
    const V b = _mm512_srli_epi64(c[k], 52);
    require_below(b, 4, "fold: column high bits");
    c[k - 5] = madd_lo(c[k - 5], c[k], k608);
    c[k - 4] = madd_hi(c[k - 4], c[k], k608);
    c[k - 4] = madd_lo(c[k - 4], b, k608);
  }
  // c[0..4] < 2^56 + 2^52 + 2^14 < 2^57.
  fe_carry(h, c[0], c[1], c[2], c[3], c[4]);
}

// fe_mul: h = f*g, tight. f, g: multiplicands (every limb < 2^52).
FYRN_VINLINE void fe_mul(Fe& h, const Fe& f, const Fe& g) {
  require_multiplicand(f);
  require_multiplicand(g);
  V c[10];
  for (auto& x : c) x = zero();
  // Column i+j gets the low half of f_i*g_j, column i+j+1 the high half: at most nine
  // halves < 2^52 per column, so c[k] < 2^55.2; column 9 is one high half.
  for (int i = 0; i < 5; ++i) {
    for (int j = 0; j < 5; ++j) {
      c[i + j] = madd_lo(c[i + j], f.l[i], g.l[j]);
      c[i + j + 1] = madd_hi(c[i + j + 1], f.l[i], g.l[j]);
    }
  }
  fe_fold(h, c);
}

// fe_sq: h = f^2, tight. f: multiplicand.
FYRN_VINLINE void fe_sq(Fe& h, const Fe& f) {
  require_multiplicand(f);
  V c[10];
  for (auto& x : c) x = zero();
  // Cross products f_i*f_j (i < j) once, doubled by a shift (f_i doubled would pass 2^52).
  for (int i = 0; i < 5; ++i) {
    for (int j = i + 1; j < 5; ++j) {
      c[i + j] = madd_lo(c[i + j], f.l[i], f.l[j]);
      c[i + j + 1] = madd_hi(c[i + j + 1], f.l[i], f.l[j]);
    }
  }
  for (int k = 1; k < 9; ++k) c[k] = _mm512_slli_epi64(c[k], 1);  // < 2 * 4 * 2^52
  for (int i = 0; i < 5; ++i) {
    c[2 * i] = madd_lo(c[2 * i], f.l[i], f.l[i]);
    c[2 * i + 1] = madd_hi(c[2 * i + 1], f.l[i], f.l[i]);
  }
  fe_fold(h, c);  // c[9] is the high half of f4^2 alone
}

// fe_add: h = f + g, tight. f, g: limbs < 2^62.
FYRN_VINLINE void fe_add(Fe& h, const Fe& f, const Fe& g) {
  fe_carry(h, _mm512_add_epi64(f.l[0], g.l[0]), _mm512_add_epi64(f.l[1], g.l[1]), _mm512_add_epi64(f.l[2], g.l[2]),
           _mm512_add_epi64(f.l[3], g.l[3]), _mm512_add_epi64(f.l[4], g.l[4]));
}

// 16p limb by limb, every limb at least the matching tight limb: f + 16p - g >= 0 limbwise.
constexpr uint64_t k16p0 = (uint64_t{1} << 53) - 304, k16p1 = (uint64_t{1} << 53) - 2,
                   k16p4 = (uint64_t{1} << 51) - 2;

// fe_sub: h = f - g, tight. f: limbs < 2^62; g: tight.
FYRN_VINLINE void fe_sub(Fe& h, const Fe& f, const Fe& g) {
  require_limbs_below(g, 52, 48, "subtrahend not tight");
  const V p1 = bcast(k16p1);
  fe_carry(h, _mm512_sub_epi64(_mm512_add_epi64(f.l[0], bcast(k16p0)), g.l[0]),
           _mm512_sub_epi64(_mm512_add_epi64(f.l[1], p1), g.l[1]),
           _mm512_sub_epi64(_mm512_add_epi64(f.l[2], p1), g.l[2]),
           _mm512_sub_epi64(_mm512_add_epi64(f.l[3], p1), g.l[3]),
           _mm512_sub_epi64(_mm512_add_epi64(f.l[4], bcast(k16p4)), g.l[4]));
}

FYRN_VINLINE void fe_double_nc(Fe& h, const Fe& f) {  // limbs < 2^53: only for fe_add / fe_sub's f
  for (int i = 0; i < 5; ++i) h.l[i] = _mm512_add_epi64(f.l[i], f.l[i]);
}

FYRN_VINLINE void fe_select(Fe& h, __mmask8 take_g, const Fe& f, const Fe& g) {
  for (int i = 0; i < 5; ++i) h.l[i] = _mm512_mask_blend_epi64(take_g, f.l[i], g.l[i]);
}

FYRN_VINLINE void fe_set_small(Fe& h, uint64_t v) {
  h.l[0] = bcast(v);
  for (int i = 1; i < 5; ++i) h.l[i] = zero();
}

// 2d in radix 2^52, canonical.
FYRN_VINLINE void fe_set_d2(Fe& h) {
  constexpr uint64_t k[5] = {0x69b9426b2f159, 0x9a8283b156ebd, 0xef3d13000e014, 0xfce7198e80f2e, 0x2406d9dc56df};
  for (int i = 0; i < 5; ++i) h.l[i] = bcast(k[i]);
}

// ---- points on -x^2 + y^2 = 1 + d x^2 y^2 ----

// Ext is (X : Y : Z : T) in extended coordinates, x = X/Z, y = Y/Z, xy = T/Z; all tight.
struct Ext {
  Fe x, y, z, t;
};

// Niels is an affine point as (y + x, y - x, 2dxy): table entries, canonical.
struct Niels {
  Fe ypx, ymx, xy2d;
};

FYRN_VINLINE void ext_identity(Ext& p) {
  fe_set_small(p.x, 0);
  fe_set_small(p.y, 1);
  fe_set_small(p.z, 1);
  fe_set_small(p.t, 0);
}

// add_niels: p += q in lanes outside `neg`, p -= q in lanes in `neg`, where q's
// y+x and y-x are already exchanged in the `neg` lanes (-q = (-x, y)). Negating
// 2dxy negates C, which exchanges F and G. Complete: q may be the identity.
FYRN_VINLINE void add_niels(Ext& p, const Niels& q, __mmask8 neg) {
  Fe ypx, ymx, a, b, c, d, e, f, g, h;
  fe_sub(ymx, p.y, p.x);
  fe_add(ypx, p.y, p.x);
  fe_mul(a, ymx, q.ymx);
  fe_mul(b, ypx, q.ypx);
  fe_mul(c, p.t, q.xy2d);
  fe_double_nc(d, p.z);
  fe_sub(e, b, a);
  fe_add(h, b, a);
  fe_sub(f, d, c);
  fe_add(g, d, c);
  Fe f2, g2;
  fe_select(f2, neg, f, g);
  fe_select(g2, neg, g, f);
  fe_mul(p.x, e, f2);
  fe_mul(p.y, g2, h);
  fe_mul(p.z, f2, g2);
  fe_mul(p.t, e, h);
}

// ---- merging the eight lanes' partial sums ----
//
// Adding lane k + h into lane k (h = 4, 2, 1) with the full addition in all
// eight lanes would waste most of them. Instead the additions' independent
// products share the lanes: round one is A = (Y1-X1)(Y2-X2), B = (Y1+X1)(Y2+X2),
// C = T1 * 2dT2, D = Z1 * 2Z2 of every pair, round two X3 = EF, Y3 = GH,
// Z3 = FG, T3 = EH (E = B-A, F = D-C, G = D+C, H = B+A). Eleven
// multiplications for the three levels instead of 27.

FYRN_VINLINE V lanes(int l0, int l1, int l2, int l3, int l4, int l5, int l6, int l7) {
  return _mm512_set_epi64(l7, l6, l5, l4, l3, l2, l1, l0);
}

// fe_permute2: lane i of h = lane idx[i] of (f, g) (index 8.. picks g).
FYRN_VINLINE void fe_permute2(Fe& h, const Fe& f, V idx, const Fe& g) {
  for (int i = 0; i < 5; ++i) h.l[i] = _mm512_permutex2var_epi64(f.l[i], idx, g.l[i]);
}

FYRN_VINLINE void fe_permute(Fe& h, V idx, const Fe& f) {
  for (int i = 0; i < 5; ++i) h.l[i] = _mm512_permutexvar_epi64(idx, f.l[i]);
}

// Per lane: Y - X, Y + X, 2Z and 2dT, all tight.
struct Sums {
  Fe ymx, ypx, z2, t2d;
};

FYRN_VINLINE void sums_of(Sums& s, const Ext& p) {
  Fe d2;
  fe_set_d2(d2);
  fe_sub(s.ymx, p.y, p.x);
  fe_add(s.ypx, p.y, p.x);
  fe_add(s.z2, p.z, p.z);
  fe_mul(s.t2d, p.t, d2);
}

// merge_four: lanes k < 4 get p[k] + p[k + 4].
FYRN_VINLINE void merge_four(Ext& p) {
  Sums s;
  sums_of(s, p);
  const V low_low = lanes(0, 1, 2, 3, 8, 9, 10, 11), high_high = lanes(4, 5, 6, 7, 12, 13, 14, 15);
  Fe a, b, ab, cd;
  fe_permute2(a, s.ymx, low_low, s.ypx);  // Y1 - X1 | Y1 + X1
  fe_permute2(b, s.ymx, high_high, s.ypx);
  fe_mul(ab, a, b);  // A | B
  fe_permute2(a, p.t, low_low, p.z);  // T1 | Z1
  fe_permute2(b, s.t2d, high_high, s.z2);
  fe_mul(cd, a, b);  // C | D
  const V swap = lanes(4, 5, 6, 7, 0, 1, 2, 3);
  Fe ba, dc, e, h, f, g;
  fe_permute(ba, swap, ab);
  fe_permute(dc, swap, cd);
  fe_sub(e, ba, ab);  // E | -E
  fe_add(h, ba, ab);  // H | H
  fe_sub(f, dc, cd);  // F | -F
  fe_add(g, dc, cd);  // G | G
  const V low_high = lanes(0, 1, 2, 3, 12, 13, 14, 15);
  Fe eg, fh, fe, gh;
  fe_permute2(eg, e, low_high, g);
  fe_permute2(fh, f, low_high, h);
  fe_permute2(fe, f, low_low, e);
  fe_permute2(gh, g, low_high, h);
  Fe xy, zt;
  fe_mul(xy, eg, fh);  // X3 | Y3
  fe_mul(zt, fe, gh);  // Z3 | T3
  p.x = xy;
  fe_permute(p.y, swap, xy);
  p.z = zt;
  fe_permute(p.t, swap, zt);
}

// merge_pairs: for h = 2 or 1, lanes k < h get p[k] + p[k + h]. Lane g*h + k
// of the first round holds A, B, C, D (g = 0..3) of pair k, and of the second
// round X3, Y3, Z3, T3.
FYRN_VINLINE void merge_pairs(Ext& p, int h) {
  Sums s;
  sums_of(s, p);
  alignas(64) int64_t ia[8], ib[8], ic[8], op1[8], op2[8], iy[8], iz[8], it[8];
  for (int lane = 0; lane < 8; ++lane) {
    const int g = (lane / h) & 3, k = lane % h;
    // Round one's operands come from (ymx, ypx) for g < 2 and from (t, z) / (t2d, z2) above.
    ia[lane] = (g % 2 == 0 ? 0 : 8) + k;
    ib[lane] = ia[lane] + h;
    ic[lane] = ((g ^ 1) * h + k) & 7;
    // Round two: E = diff[0h + k], F = diff[2h + k], G = sum[2h + k], H = sum[0h + k].
    const int e = k, f = 2 * h + k, gg = 8 + 2 * h + k, hh = 8 + k;
    const int first[4] = {e, gg, f, e}, second[4] = {f, hh, gg, hh};
    op1[lane] = first[g];
    op2[lane] = second[g];
    iy[lane] = (h + k) & 7;
    iz[lane] = (2 * h + k) & 7;
    it[lane] = (3 * h + k) & 7;
  }
  const __mmask8 upper = h == 2 ? 0xF0 : 0xCC;  // lanes with g >= 2
  Fe a, b, lo, hi, m;
  fe_permute2(lo, s.ymx, _mm512_load_si512(ia), s.ypx);
  fe_permute2(hi, p.t, _mm512_load_si512(ia), p.z);
  fe_select(a, upper, lo, hi);
  fe_permute2(lo, s.ymx, _mm512_load_si512(ib), s.ypx);
  fe_permute2(hi, s.t2d, _mm512_load_si512(ib), s.z2);
  fe_select(b, upper, lo, hi);
  fe_mul(m, a, b);  // A B C D
  Fe swapped, diff, sum;
  fe_permute(swapped, _mm512_load_si512(ic), m);  // B A D C
  fe_sub(diff, swapped, m);
  fe_add(sum, swapped, m);
  Fe x, y;
  fe_permute2(x, diff, _mm512_load_si512(op1), sum);
  fe_permute2(y, diff, _mm512_load_si512(op2), sum);
  Fe r;
  fe_mul(r, x, y);  // X3 Y3 Z3 T3
  p.x = r;
  fe_permute(p.y, _mm512_load_si512(iy), r);
  fe_permute(p.z, _mm512_load_si512(iz), r);
  fe_permute(p.t, _mm512_load_si512(it), r);
}

// merge_lanes: lane 0 ends with the sum of the eight lanes' points.
FYRN_VINLINE void merge_lanes(Ext& p) {
  merge_four(p);
  merge_pairs(p, 2);
  merge_pairs(p, 1);
}

// ---- scalars and table lookups ----

// recode writes the signed radix-16 digits of r (r < 2^255): r = sum e[i] 16^i,
// e[i] in [-8, 7] for i < 63, e[63] in [0, 8]. Arithmetic only.
void recode(int8_t e[64], const uint8_t r[32]) {
  for (int i = 0; i < 32; ++i) {
    e[2 * i] = static_cast<int8_t>(r[i] & 15);
    e[2 * i + 1] = static_cast<int8_t>(r[i] >> 4);
  }
  int carry = 0;
  for (int i = 0; i < 63; ++i) {
    const int v = e[i] + carry;
    carry = (v + 8) >> 4;
    e[i] = static_cast<int8_t>(v - carry * 16);
  }
  e[63] = static_cast<int8_t>(e[63] + carry);
}

FYRN_VINLINE V load_digits(const int8_t* e) {
  return _mm512_cvtepi8_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(e)));
}

// lookup_position: every lane at the same table position, its own digit.
// row: the position's 15 rows of by_position (eight entries each). One
// permute per limb picks each lane's entry, from the y-x row instead of the
// y+x row (and back) in lanes with a negative digit; lanes with digit 0 get
// the identity (1, 1, 0).
FYRN_VINLINE void lookup_position(Niels& q, __mmask8& neg, const uint64_t* row, V digits) {
  neg = _mm512_cmplt_epi64_mask(digits, zero());
  const V magnitude = _mm512_abs_epi64(digits);  // 0..8
  const __mmask8 nonzero = _mm512_test_epi64_mask(magnitude, magnitude);
  // Bits 0..2: entry magnitude - 1; bit 3: take the second source (the other coordinate).
  const V idx = _mm512_mask_or_epi64(_mm512_sub_epi64(magnitude, bcast(1)), neg,
                                     _mm512_sub_epi64(magnitude, bcast(1)), bcast(8));
  for (int l = 0; l < 5; ++l) {
    const V ypx = load(row + (0 * 5 + l) * 8), ymx = load(row + (1 * 5 + l) * 8), xy = load(row + (2 * 5 + l) * 8);
    q.ypx.l[l] = _mm512_maskz_permutex2var_epi64(nonzero, ypx, idx, ymx);
    q.ymx.l[l] = _mm512_maskz_permutex2var_epi64(nonzero, ymx, idx, ypx);
    q.xy2d.l[l] = _mm512_maskz_permutexvar_epi64(nonzero, idx, xy);
  }
  q.ypx.l[0] = _mm512_mask_mov_epi64(q.ypx.l[0], static_cast<__mmask8>(~nonzero), bcast(1));
  q.ymx.l[0] = _mm512_mask_mov_epi64(q.ymx.l[0], static_cast<__mmask8>(~nonzero), bcast(1));
}

// lookup_lanes: lane k at its own position (8s + k). block: step s of
// by_lane, eight entries of 15 rows. Every entry is read and masked in;
// exactly one matches in a lane with a nonzero digit, none with digit 0.
FYRN_VINLINE void lookup_lanes(Niels& q, __mmask8& neg, const uint64_t* block, V digits) {
  neg = _mm512_cmplt_epi64_mask(digits, zero());
  const V magnitude = _mm512_abs_epi64(digits);
  const V is_zero = _mm512_maskz_mov_epi64(_mm512_cmpeq_epi64_mask(magnitude, zero()), bcast(1));
  Fe* coord[3] = {&q.ypx, &q.ymx, &q.xy2d};
  for (int c = 0; c < 3; ++c) {
    for (int l = 0; l < 5; ++l) coord[c]->l[l] = zero();
  }
  q.ypx.l[0] = is_zero;
  q.ymx.l[0] = is_zero;
  for (int j = 1; j <= 8; ++j) {
    const V take = _mm512_maskz_mov_epi64(_mm512_cmpeq_epi64_mask(magnitude, bcast(static_cast<uint64_t>(j))),
                                          bcast(~uint64_t{0}));
    const uint64_t* entry = block + (j - 1) * 15 * 8;
    for (int c = 0; c < 3; ++c) {
      for (int l = 0; l < 5; ++l) {
        coord[c]->l[l] = _mm512_or_si512(coord[c]->l[l], _mm512_and_si512(take, load(entry + (c * 5 + l) * 8)));
      }
    }
  }
  for (int l = 0; l < 5; ++l) {
    const V ypx = q.ypx.l[l];
    q.ypx.l[l] = _mm512_mask_blend_epi64(neg, ypx, q.ymx.l[l]);
    q.ymx.l[l] = _mm512_mask_blend_epi64(neg, q.ymx.l[l], ypx);
  }
}

// Projective is the X, Y, Z of eight points, limb j of lane i at [j][i].
struct Projective {
  alignas(64) uint64_t x[5][8];
  alignas(64) uint64_t y[5][8];
  alignas(64) uint64_t z[5][8];
};

FYRN_VINLINE void store_projective(Projective& out, const Ext& p) {
  for (int i = 0; i < 5; ++i) {
    store(out.x[i], p.x.l[i]);
    store(out.y[i], p.y.l[i]);
    store(out.z[i], p.z.l[i]);
  }
}

// wipe_vector_state clears every vector and mask register: they held secrets.
// vzeroall does not reach zmm16..31 or the mask registers.
FYRN_VINLINE void wipe_vector_state() {
  __asm__ volatile(
      "vpxord %%zmm0, %%zmm0, %%zmm0\n\tvpxord %%zmm1, %%zmm1, %%zmm1\n\t"
      "vpxord %%zmm2, %%zmm2, %%zmm2\n\tvpxord %%zmm3, %%zmm3, %%zmm3\n\t"
      "vpxord %%zmm4, %%zmm4, %%zmm4\n\tvpxord %%zmm5, %%zmm5, %%zmm5\n\t"
      "vpxord %%zmm6, %%zmm6, %%zmm6\n\tvpxord %%zmm7, %%zmm7, %%zmm7\n\t"
      "vpxord %%zmm8, %%zmm8, %%zmm8\n\tvpxord %%zmm9, %%zmm9, %%zmm9\n\t"
      "vpxord %%zmm10, %%zmm10, %%zmm10\n\tvpxord %%zmm11, %%zmm11, %%zmm11\n\t"
      "vpxord %%zmm12, %%zmm12, %%zmm12\n\tvpxord %%zmm13, %%zmm13, %%zmm13\n\t"
      "vpxord %%zmm14, %%zmm14, %%zmm14\n\tvpxord %%zmm15, %%zmm15, %%zmm15\n\t"
      "vpxord %%zmm16, %%zmm16, %%zmm16\n\tvpxord %%zmm17, %%zmm17, %%zmm17\n\t"
      "vpxord %%zmm18, %%zmm18, %%zmm18\n\tvpxord %%zmm19, %%zmm19, %%zmm19\n\t"
      "vpxord %%zmm20, %%zmm20, %%zmm20\n\tvpxord %%zmm21, %%zmm21, %%zmm21\n\t"
      "vpxord %%zmm22, %%zmm22, %%zmm22\n\tvpxord %%zmm23, %%zmm23, %%zmm23\n\t"
      "vpxord %%zmm24, %%zmm24, %%zmm24\n\tvpxord %%zmm25, %%zmm25, %%zmm25\n\t"
      "vpxord %%zmm26, %%zmm26, %%zmm26\n\tvpxord %%zmm27, %%zmm27, %%zmm27\n\t"
      "vpxord %%zmm28, %%zmm28, %%zmm28\n\tvpxord %%zmm29, %%zmm29, %%zmm29\n\t"
      "vpxord %%zmm30, %%zmm30, %%zmm30\n\tvpxord %%zmm31, %%zmm31, %%zmm31\n\t"
      "kxorw %%k0, %%k0, %%k0\n\tkxorw %%k1, %%k1, %%k1\n\tkxorw %%k2, %%k2, %%k2\n\t"
      "kxorw %%k3, %%k3, %%k3\n\tkxorw %%k4, %%k4, %%k4\n\tkxorw %%k5, %%k5, %%k5\n\t"
      "kxorw %%k6, %%k6, %%k6\n\tkxorw %%k7, %%k7, %%k7\n\t"
      "vzeroupper" ::
          : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12",
            "xmm13", "xmm14", "xmm15", "xmm16", "xmm17", "xmm18", "xmm19", "xmm20", "xmm21", "xmm22", "xmm23", "xmm24",
            "xmm25", "xmm26", "xmm27", "xmm28", "xmm29", "xmm30", "xmm31", "k0", "k1", "k2", "k3", "k4", "k5", "k6",
            "k7", "memory");
}

// ---- fixed-base kernels: points left in a Projective ----

// base_mul_lanes_of_one: r*B from one scalar. Lane k adds the entries of
// positions k, k+8, ..., k+56 (eight steps of eight-lane additions from the
// by_lane table), then the lanes' partial sums are merged; every lane ends
// with r*B.
__attribute__((noinline)) void base_mul_lanes_of_one(Projective& out, const uint8_t r[32]) {
  const uint64_t* block = base_tables().by_lane;
  alignas(16) int8_t e[64];
  recode(e, r);
  Ext acc;
  ext_identity(acc);
  for (int s = 0; s < 8; ++s) {
    Niels q;
    __mmask8 neg;
    lookup_lanes(q, neg, block + s * 8 * 15 * 8, load_digits(e + 8 * s));
    add_niels(acc, q, neg);
  }
  merge_lanes(acc);
  store_projective(out, acc);
  sodium_memzero(e, sizeof e);
}

// base_mul_eight: r[k]*B in lane k, k < n (the other lanes compute 0*B). All
// lanes walk the 64 positions together, each with its own digit.
__attribute__((noinline)) void base_mul_eight(Projective& out, const uint8_t (*r)[32], size_t n) {
  const uint64_t* rows = base_tables().by_position;
  alignas(16) int8_t e[64][8];
  alignas(16) int8_t one[64];
  std::memset(e, 0, sizeof e);
  for (size_t k = 0; k < n; ++k) {
    recode(one, r[k]);
    for (int i = 0; i < 64; ++i) e[i][k] = one[i];
  }
  Ext acc;
  ext_identity(acc);
  for (int i = 0; i < 64; ++i) {
    Niels q;
    __mmask8 neg;
    lookup_position(q, neg, rows + i * 15 * 8, load_digits(e[i]));
    add_niels(acc, q, neg);
  }
  store_projective(out, acc);
  sodium_memzero(e, sizeof e);
  sodium_memzero(one, sizeof one);
}

// ---- signing ----

// Groups of fewer messages than this sign one by one: the batch kernel costs
// the same for one lane as for eight.
constexpr size_t kMinBatch = 3;

void sign_one(uint8_t out[64], const SigningKey& key, const uint8_t* msg, size_t msg_len) {
  uint8_t hash[64], r[32], k[32];
  Projective point;
  sha512_1(hash, Sha512Input{key.expanded + 32, 32, msg, msg_len});
  sc_reduce64(r, hash);
  base_mul_lanes_of_one(point, r);
  encode_points(reinterpret_cast<uint8_t(*)[32]>(out), point.x, point.y, point.z, 1);
  std::memcpy(out + 32, key.secret + 32, 32);
  sha512_1(hash, Sha512Input{out, 64, msg, msg_len});  // R ‖ A ‖ M
  sc_reduce64(k, hash);
  sc_muladd(out + 32, k, key.expanded, r);  // S = k*a + r
  sodium_memzero(hash, sizeof hash);
  sodium_memzero(r, sizeof r);
  sodium_memzero(&point, sizeof point);
}

void sign_group(uint8_t (*out)[64], const SignInput* in, size_t n) {
  Sha512Input hin[8];
  uint8_t hash[8][64], r[8][32], big_r[8][32], k[32];
  Projective points;
  for (size_t i = 0; i < n; ++i) hin[i] = Sha512Input{in[i].key.expanded + 32, 32, in[i].msg, in[i].msg_len};
  sha512_x8(hash, hin, n);
  for (size_t i = 0; i < n; ++i) sc_reduce64(r[i], hash[i]);
  base_mul_eight(points, r, n);
  encode_points(big_r, points.x, points.y, points.z, n);
  for (size_t i = 0; i < n; ++i) {
    std::memcpy(out[i], big_r[i], 32);
    std::memcpy(out[i] + 32, in[i].key.secret + 32, 32);
    hin[i] = Sha512Input{out[i], 64, in[i].msg, in[i].msg_len};
  }
  sha512_x8(hash, hin, n);
  for (size_t i = 0; i < n; ++i) {
    sc_reduce64(k, hash[i]);
    sc_muladd(out[i] + 32, k, in[i].key.expanded, r[i]);
  }
  sodium_memzero(hash, sizeof hash);
  sodium_memzero(r, sizeof r);
  sodium_memzero(&points, sizeof points);
}

}  // namespace

void sign(uint8_t out[64], const SigningKey& key, const uint8_t* msg, size_t msg_len) {
  sign_one(out, key, msg, msg_len);
  wipe_vector_state();
}

void sign_many(uint8_t (*out)[64], const SignInput* in, size_t n) {
  size_t i = 0;
  while (n - i >= kMinBatch) {
    const size_t group = n - i < 8 ? n - i : 8;
    sign_group(out + i, in + i, group);
    i += group;
  }
  for (; i < n; ++i) sign_one(out[i], in[i].key, in[i].msg, in[i].msg_len);
  wipe_vector_state();
}

void base_mul_single(uint8_t out[32], const uint8_t r[32]) {
  Projective point;
  base_mul_lanes_of_one(point, r);
  encode_points(reinterpret_cast<uint8_t(*)[32]>(out), point.x, point.y, point.z, 1);
  wipe_vector_state();
}

void base_mul_batch(uint8_t (*out)[32], const uint8_t (*r)[32], size_t n) {
  Projective points;
  base_mul_eight(points, r, n);
  encode_points(out, points.x, points.y, points.z, n);
  wipe_vector_state();
}

void field_op(FieldOp op, uint64_t out[5][8], const uint64_t a[5][8], const uint64_t b[5][8]) {
  Fe f, g, h;
  for (int i = 0; i < 5; ++i) {
    f.l[i] = _mm512_loadu_si512(a[i]);
    g.l[i] = _mm512_loadu_si512(b[i]);
  }
  switch (op) {
    case FieldOp::Add: fe_add(h, f, g); break;
    case FieldOp::Sub: fe_sub(h, f, g); break;
    case FieldOp::Mul: fe_mul(h, f, g); break;
    case FieldOp::Square: fe_sq(h, f); break;
    case FieldOp::Carry: fe_carry(h, f.l[0], f.l[1], f.l[2], f.l[3], f.l[4]); break;
  }
  for (int i = 0; i < 5; ++i) _mm512_storeu_si512(out[i], h.l[i]);
}

}  // namespace fyrn::ed25519::ifma

#else  // the backend is not built here

namespace fyrn::ed25519::ifma {

const bool compiled = false;

// Unreachable: callers check `compiled` (and the CPU) first.
void sign(uint8_t*, const SigningKey&, const uint8_t*, size_t) { __builtin_trap(); }
void sign_many(uint8_t (*)[64], const SignInput*, size_t) { __builtin_trap(); }
void base_mul_single(uint8_t*, const uint8_t*) { __builtin_trap(); }
void base_mul_batch(uint8_t (*)[32], const uint8_t (*)[32], size_t) { __builtin_trap(); }
void field_op(FieldOp, uint64_t (*)[8], const uint64_t (*)[8], const uint64_t (*)[8]) { __builtin_trap(); }

}  // namespace fyrn::ed25519::ifma

#endif
