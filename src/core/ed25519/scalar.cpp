#include "scalar.hpp"

#include <bit>
#include <cstddef>
#include <cstring>

namespace fyrn::ed25519 {
namespace {

using u128 = unsigned __int128;

// L and mu = floor(2^512 / L) in 64-bit limbs, least significant first.
constexpr uint64_t kOrder[4] = {0x5812631a5cf5d3edULL, 0x14def9dea2f79cd6ULL, 0, 0x1000000000000000ULL};
constexpr uint64_t kMu[5] = {0xed9ce5a30a2c131bULL, 0x2106215d086329a7ULL, 0xffffffffffffffebULL,
                             0xffffffffffffffffULL, 0xfULL};

inline uint64_t load_le64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

inline void store_le64(uint8_t* p, uint64_t v) {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}

inline void wipe(void* p, size_t len) {
  std::memset(p, 0, len);
  __asm__ __volatile__("" : : "r"(p) : "memory");
}

// mul writes the low NO limbs of a * b (NA and NB limbs) to out. The bounds
// are constants: the loops unroll into a fixed sequence of multiplies.
template <size_t NA, size_t NB, size_t NO>
inline void mul(uint64_t (&out)[NO], const uint64_t* a, const uint64_t* b) {
  for (size_t k = 0; k < NO; ++k) out[k] = 0;
  for (size_t i = 0; i < NA && i < NO; ++i) {
    uint64_t carry = 0;
    for (size_t j = 0; j < NB && i + j < NO; ++j) {
      const u128 t = static_cast<u128>(a[i]) * b[j] + out[i + j] + carry;
      out[i + j] = static_cast<uint64_t>(t);
      carry = static_cast<uint64_t>(t >> 64);
    }
    if (i + NB < NO) out[i + NB] = carry;
  }
}

// subtract_order_if_ge replaces r by r - L when r >= L, by a mask select.
inline void subtract_order_if_ge(uint64_t r[4]) {
  uint64_t d[4];
  uint64_t borrow = 0;
  for (int i = 0; i < 4; ++i) {
    const u128 t = static_cast<u128>(r[i]) - kOrder[i] - borrow;
    d[i] = static_cast<uint64_t>(t);
    borrow = static_cast<uint64_t>(t >> 64) & 1;
  }
  const uint64_t keep = 0 - borrow;  // all ones when r < L
  for (int i = 0; i < 4; ++i) r[i] = (r[i] & keep) | (d[i] & ~keep);
}

// reduce writes x mod L for x < 2^512 (Barrett, base 2^64, k = 4). With
// x1 = floor(x / 2^192) and mu = 2^512 / L - e (e = 0.2249...), the estimate
// q = floor(x1 * mu / 2^320) is at least x / L - x e / 2^512 - mu / 2^320,
// above x / L - 0.23: it falls short of floor(x / L) by at most 1. So x - q*L
// lies in [0, 2L), below 2^254: its low four limbs are exact, and one
// conditional subtraction makes it canonical.
void reduce(uint8_t out[32], const uint64_t x[8]) {
  uint64_t q2[10];
  mul<5, 5, 10>(q2, x + 3, kMu);
  uint64_t qL[4];
  mul<5, 4, 4>(qL, q2 + 5, kOrder);
  uint64_t r[4];
  uint64_t borrow = 0;
  for (int i = 0; i < 4; ++i) {
    const u128 t = static_cast<u128>(x[i]) - qL[i] - borrow;
    r[i] = static_cast<uint64_t>(t);
    borrow = static_cast<uint64_t>(t >> 64) & 1;
  }
  subtract_order_if_ge(r);
  for (int i = 0; i < 4; ++i) store_le64(out + 8 * i, r[i]);
  wipe(q2, sizeof q2);
  wipe(qL, sizeof qL);
  wipe(r, sizeof r);
}

}  // namespace

void sc_reduce64(uint8_t out[32], const uint8_t in[64]) {
  uint64_t x[8];
  for (int i = 0; i < 8; ++i) x[i] = load_le64(in + 8 * i);
  reduce(out, x);
  wipe(x, sizeof x);
}

void sc_muladd(uint8_t s[32], const uint8_t a[32], const uint8_t b[32], const uint8_t c[32]) {
  uint64_t la[4], lb[4], x[8];
  for (int i = 0; i < 4; ++i) {
    la[i] = load_le64(a + 8 * i);
    lb[i] = load_le64(b + 8 * i);
  }
  mul<4, 4, 8>(x, la, lb);
  // a*b + c <= (2^256 - 1)^2 + 2^256 - 1 < 2^512: the carry out of limb 7 is 0.
  uint64_t carry = 0;
  for (int i = 0; i < 8; ++i) {
    const u128 t = static_cast<u128>(x[i]) + (i < 4 ? load_le64(c + 8 * i) : 0) + carry;
    x[i] = static_cast<uint64_t>(t);
    carry = static_cast<uint64_t>(t >> 64);
  }
  reduce(s, x);
  wipe(la, sizeof la);
  wipe(lb, sizeof lb);
  wipe(x, sizeof x);
}

}  // namespace fyrn::ed25519
