// base58_encode.cpp: base58 text of byte strings of any length.
//
// Short input (up to a few kilobytes: keys, prepared messages) goes through a
// quadratic big-number loop tuned for width: 64-bit input words into base
// 58^10 limbs. Longer input is split in halves recursively: value = high ·
// 256^k + low, both halves converted to base 58^m, then multiplied and added
// in base 58^m. The multiplications of large numbers use a number-theoretic
// transform modulo the prime 2^64 − 2^32 + 1, which is exact as long as every
// coefficient of a product stays below the prime; m is chosen so that it does.
// The total cost grows as n · log²(n) instead of n².
#include "fyrn/base58.hpp"

#include <algorithm>
#include <vector>

namespace fyrn::base58 {
namespace {

using u64 = uint64_t;
using u128 = unsigned __int128;

// ---- The short-input loop --------------------------------------------------

// Limbs hold base 58^10 digits shifted left by kShift bits, so that the
// divisor is normalised (top bit set) for the division by a precomputed
// inverse (Möller and Granlund, "Improved division by invariant integers").
constexpr u64 kD = 430804206899405824ULL;  // 58^10
constexpr int kShift = __builtin_clzll(kD);
constexpr u64 kDn = kD << kShift;
constexpr u64 kInv = static_cast<u64>(((static_cast<u128>(~kDn) << 64) | ~u64{0}) / kDn);

// div_step divides u1:u0 (u1 < kDn) by kDn: the quotient goes to `q`, the
// remainder is returned.
inline u64 div_step(u64 u1, u64 u0, u64& q) {
  const u128 p = static_cast<u128>(kInv) * u1 + ((static_cast<u128>(u1) << 64) | u0);
  u64 q1 = static_cast<u64>(p >> 64) + 1;
  const u64 q0 = static_cast<u64>(p);
  u64 r = u0 - q1 * kDn;
  // This correction is taken about as often as not: without a branch.
  const u64 over = -static_cast<u64>(r > q0);
  q1 += over;
  r += over & kDn;
  if (r >= kDn) [[unlikely]] {
    ++q1;
    r -= kDn;
  }
  q = q1;
  return r;
}

// absorb computes limbs = limbs · 2^(64K) + words[0 .. K), words most
// significant first. The K carry chains of one pass interleave, so that the
// latency of each division overlaps with the others.
template <size_t K>
void absorb(std::vector<u64>& limbs, const u64* words) {
  u64 carry[K];
  for (size_t k = 0; k < K; ++k) carry[k] = words[k];
  auto step = [&carry](u64 x) {
    for (size_t k = 0; k < K; ++k) {
      // (x / 2^kShift) · 2^64 + carry, shifted left by kShift bits.
      x = div_step(x | (carry[k] >> (64 - kShift)), carry[k] << kShift, carry[k]);
    }
    return x;
  };
  for (u64& limb : limbs) limb = step(limb);
  auto any = [&carry] {
    u64 all = 0;
    for (size_t k = 0; k < K; ++k) all |= carry[k];
    return all != 0;
  };
  while (any()) limbs.push_back(step(0));
}

inline u64 load_be(const uint8_t* p, size_t len) {
  u64 v = 0;
  for (size_t i = 0; i < len; ++i) v = (v << 8) | p[i];
  return v;
}

// short_limbs returns the base 58^10 limbs (least significant first, not
// shifted) of the n bytes at p.
std::vector<u64> short_limbs(const uint8_t* p, size_t n) {
  std::vector<u64> limbs;
  limbs.reserve(n * 137 / 1000 + 2);  // log(256) / log(58^10) < 0.137
  const size_t head = n % 8;
  if (head != 0) {
    const u64 w = load_be(p, head);
    absorb<1>(limbs, &w);
  }
  const size_t n_words = n / 8;
  std::vector<u64> words(n_words);
  for (size_t i = 0; i < n_words; ++i) words[i] = load_be(p + head + 8 * i, 8);
  size_t w = 0;
  for (; (n_words - w) % 4 != 0; ++w) absorb<1>(limbs, &words[w]);
  for (; w < n_words; w += 4) absorb<4>(limbs, &words[w]);
  for (u64& limb : limbs) limb >>= kShift;
  return limbs;
}

// append_digits appends the base-58 digits (values 0..57), least significant
// first, of the limbs in base 58^10: ten per limb.
void append_digits(std::vector<uint8_t>& out, const std::vector<u64>& limbs) {
  for (u64 limb : limbs) {
    u64 lo = limb % 656356768, hi = limb / 656356768;  // 58^5
    for (int d = 0; d < 5; ++d, lo /= 58) out.push_back(static_cast<uint8_t>(lo % 58));
    for (int d = 0; d < 5; ++d, hi /= 58) out.push_back(static_cast<uint8_t>(hi % 58));
  }
}

// text_of renders digits (least significant first) as text, without leading
// zero digits, after `ones` leading '1's.
std::string text_of(const std::vector<uint8_t>& digits, size_t ones) {
  size_t top = digits.size();
  while (top > 0 && digits[top - 1] == 0) --top;
  std::string out(ones + top, '1');
  for (size_t k = 0; k < top; ++k) out[ones + k] = kAlphabet[digits[top - 1 - k]];
  return out;
}

// ---- Arithmetic modulo the prime 2^64 − 2^32 + 1 ----------------------------

constexpr u64 kP = 0xFFFFFFFF00000001ULL;
constexpr u64 kEps = 0xFFFFFFFFULL;  // 2^64 mod kP

// The conditional corrections below go either way about equally often on
// transform data, so they are masks, not branches.
inline u64 mask_if(bool c) { return -static_cast<u64>(c); }

inline u64 add_mod(u64 a, u64 b) {
  u64 s;
  const bool over = __builtin_add_overflow(a, b, &s);
  // On overflow s − kP wraps to the right value, s + 2^64 − kP.
  return s - (kP & mask_if(over | (s >= kP)));
}

inline u64 sub_mod(u64 a, u64 b) { return a - b + (kP & mask_if(a < b)); }

// mul_mod uses 2^64 ≡ 2^32 − 1 and 2^96 ≡ −1.
inline u64 mul_mod(u64 a, u64 b) {
  const u128 x = static_cast<u128>(a) * b;
  const u64 lo = static_cast<u64>(x), hi = static_cast<u64>(x >> 64);
  const u64 hh = hi >> 32, hl = hi & kEps;
  u64 t;
  const bool borrow = __builtin_sub_overflow(lo, hh, &t);
  t -= kEps & mask_if(borrow);
  u64 r;
  const bool carry = __builtin_add_overflow(t, hl * kEps, &r);
  r += kEps & mask_if(carry);
  return r - (kP & mask_if(r >= kP));
}

u64 pow_mod(u64 base, u64 e) {
  u64 r = 1;
  for (; e != 0; e >>= 1, base = mul_mod(base, base)) {
    if (e & 1) r = mul_mod(r, base);
  }
  return r;
}

// Roots holds, for every half-length h = 1, 2, 4 … < max, the powers 0 .. h − 1
// of a primitive (2h)-th root of unity at [h, 2h), and of its inverse.
struct Roots {
  explicit Roots(size_t max) : fwd(std::max<size_t>(max, 2)), inv(std::max<size_t>(max, 2)) {
    constexpr u64 kGenerator = 7;  // generates the multiplicative group
    for (size_t h = 1; h < max; h <<= 1) {
      const u64 w = pow_mod(kGenerator, (kP - 1) / (2 * h));
      const u64 wi = pow_mod(w, kP - 2);
      fwd[h] = inv[h] = 1;
      for (size_t j = 1; j < h; ++j) {
        fwd[h + j] = mul_mod(fwd[h + j - 1], w);
        inv[h + j] = mul_mod(inv[h + j - 1], wi);
      }
    }
  }
  std::vector<u64> fwd, inv;
};

// forward transforms a[0, n) in place, natural order in, bit-reversed out.
void forward(u64* a, size_t n, const Roots& roots) {
  for (size_t h = n / 2; h >= 2; h /= 2) {
    const u64* w = roots.fwd.data() + h;
    for (size_t i = 0; i < n; i += 2 * h) {
      for (size_t j = 0; j < h; ++j) {
        const u64 u = a[i + j], v = a[i + j + h];
        a[i + j] = add_mod(u, v);
        a[i + j + h] = mul_mod(sub_mod(u, v), w[j]);
      }
    }
  }
  for (size_t i = 0; i + 1 < n; i += 2) {  // h = 1: the only twiddle is 1
    const u64 u = a[i], v = a[i + 1];
    a[i] = add_mod(u, v);
    a[i + 1] = sub_mod(u, v);
  }
}

// inverse undoes forward (bit-reversed in, natural order out), scaling by 1/n.
void inverse(u64* a, size_t n, const Roots& roots) {
  for (size_t i = 0; i + 1 < n; i += 2) {  // h = 1: the only twiddle is 1
    const u64 u = a[i], v = a[i + 1];
    a[i] = add_mod(u, v);
    a[i + 1] = sub_mod(u, v);
  }
  for (size_t h = 2; h < n; h *= 2) {
    const u64* w = roots.inv.data() + h;
    for (size_t i = 0; i < n; i += 2 * h) {
      for (size_t j = 0; j < h; ++j) {
        const u64 u = a[i + j], v = mul_mod(a[i + j + h], w[j]);
        a[i + j] = add_mod(u, v);
        a[i + j + h] = sub_mod(u, v);
      }
    }
  }
  const u64 scale = pow_mod(n, kP - 2);
  for (size_t i = 0; i < n; ++i) a[i] = mul_mod(a[i], scale);
}

// ---- Long input: divide and conquer in base 58^m ----------------------------

using Coeffs = std::vector<u64>;  // base 58^m, least significant first

class LongEncoder {
 public:
  LongEncoder(const detail::EncodeTuning& tuning, size_t n_bytes) : t_(tuning) {
    // A product's coefficient sums at most `shorter` products of two digits
    // below 58^m; it must stay below the prime. The largest product multiplies
    // the high half (at most half the digits) by a power of the same size.
    const size_t digits = n_bytes * 1366 / 1000 + 2;  // log(256) / log(58) < 1.366
    m_ = t_.digits_per_coeff;
    if (m_ == 0) {
      for (m_ = 4; m_ > 1; --m_) {
        if (bound_ok(m_, digits / m_ / 2 + 2)) break;
      }
    }
    base_ = 1;
    for (int i = 0; i < m_; ++i) base_ *= 58;
  }

  // digits returns the base-58 digits, least significant first, of the n
  // bytes at p (which has no leading zero byte).
  std::vector<uint8_t> digits(const uint8_t* p, size_t n) {
    Coeffs value = convert(p, n);
    std::vector<uint8_t> out;
    out.reserve(value.size() * static_cast<size_t>(m_));
    for (u64 c : value) {
      for (int d = 0; d < m_; ++d, c /= 58) out.push_back(static_cast<uint8_t>(c % 58));
    }
    return out;
  }

 private:
  bool bound_ok(int m, size_t shorter) const {
    u64 b = 1;
    for (int i = 0; i < m; ++i) b *= 58;
    const u128 worst = static_cast<u128>(b - 1) * (b - 1) * shorter;
    return worst < kP;
  }

  // leaf converts up to leaf_bytes bytes with the short-input loop.
  Coeffs leaf(const uint8_t* p, size_t n) const {
    std::vector<uint8_t> d;
    append_digits(d, short_limbs(p, n));
    Coeffs out((d.size() + static_cast<size_t>(m_) - 1) / static_cast<size_t>(m_), 0);
    for (size_t k = d.size(); k-- > 0;) out[k / m_] = out[k / m_] * 58 + d[k];
    trim(out);
    return out;
  }

  static void trim(Coeffs& c) {
    while (!c.empty() && c.back() == 0) c.pop_back();
  }

  // power returns 256^(leaf_bytes · 2^j) in base 58^m.
  const Coeffs& power(size_t j) {
    if (powers_.empty()) {
      std::vector<uint8_t> one(t_.leaf_bytes + 1, 0);
      one[0] = 1;
      powers_.push_back(leaf(one.data(), one.size()));
    }
    while (powers_.size() <= j) {
      const Coeffs& prev = powers_.back();
      powers_.push_back(normalise(multiply(prev, prev, nullptr), {}));
    }
    return powers_[j];
  }

  // power_transform returns the transform of power(j) padded to n points;
  // every node of level j but the first multiplies by the same one.
  const Coeffs& power_transform(size_t j, size_t n) {
    if (transforms_.size() <= j) transforms_.resize(j + 1);
    Coeffs& t = transforms_[j];
    if (t.size() != n) {
      const Coeffs& pw = power(j);
      t.assign(n, 0);
      std::copy(pw.begin(), pw.end(), t.begin());
      forward(t.data(), n, roots(n));
    }
    return t;
  }

  const Roots& roots(size_t n) {
    if (roots_.fwd.size() < n) roots_ = Roots(n);
    return roots_;
  }

  Coeffs convert(const uint8_t* p, size_t n) {
    if (n <= t_.leaf_bytes) return leaf(p, n);
    // The low part is the largest leaf_bytes · 2^j below n, so the high part
    // is no longer than the low one.
    size_t j = 0, low = t_.leaf_bytes;
    while (2 * low < n) {
      low *= 2;
      ++j;
    }
    const Coeffs high = convert(p, n - low);
    const Coeffs low_value = convert(p + (n - low), low);
    return normalise(multiply(high, power(j), &j), low_value);
  }

  // multiply returns the exact coefficients of a · b (not yet carried); a
  // square when b is a; b is power(*level) when level is given.
  Coeffs multiply(const Coeffs& a, const Coeffs& b, const size_t* level) {
    if (a.empty() || b.empty()) return {};
    const size_t len = a.size() + b.size() - 1;
    Coeffs out(len, 0);
    if (std::min(a.size(), b.size()) <= t_.ntt_min_coeffs) {
      for (size_t i = 0; i < a.size(); ++i) {
        for (size_t k = 0; k < b.size(); ++k) out[i + k] += a[i] * b[k];
      }
      return out;
    }
    size_t n = 1;
    while (n < len) n *= 2;
    const Roots& r = roots(n);
    Coeffs fa(n, 0);
    std::copy(a.begin(), a.end(), fa.begin());
    forward(fa.data(), n, r);
    if (&a == &b) {
      for (size_t i = 0; i < n; ++i) fa[i] = mul_mod(fa[i], fa[i]);
    } else if (level != nullptr) {
      const Coeffs& fb = power_transform(*level, n);
      for (size_t i = 0; i < n; ++i) fa[i] = mul_mod(fa[i], fb[i]);
    } else {
      Coeffs fb(n, 0);
      std::copy(b.begin(), b.end(), fb.begin());
      forward(fb.data(), n, r);
      for (size_t i = 0; i < n; ++i) fa[i] = mul_mod(fa[i], fb[i]);
    }
    inverse(fa.data(), n, r);
    std::copy(fa.begin(), fa.begin() + static_cast<std::ptrdiff_t>(len), out.begin());
    return out;
  }

  // normalise returns product + addend in base 58^m, every coefficient below
  // the base. Each input coefficient is below the prime.
  Coeffs normalise(Coeffs product, const Coeffs& addend) const {
    if (product.size() < addend.size()) product.resize(addend.size(), 0);
    u64 carry = 0;
    for (size_t k = 0; k < product.size(); ++k) {
      const u64 c = product[k] + (k < addend.size() ? addend[k] : 0);  // below 2^64: base < 2^32
      const u64 t = c % base_ + carry;
      product[k] = t % base_;
      carry = c / base_ + t / base_;
    }
    for (; carry != 0; carry /= base_) product.push_back(carry % base_);
    trim(product);
    return product;
  }

  detail::EncodeTuning t_;
  int m_ = 4;
  u64 base_ = 1;
  std::vector<Coeffs> powers_;
  std::vector<Coeffs> transforms_;
  Roots roots_{0};
};

size_t leading_zeros(const uint8_t* data, size_t len) {
  size_t zeros = 0;
  while (zeros < len && data[zeros] == 0) ++zeros;
  return zeros;
}

}  // namespace

namespace detail {

std::string encode_short(const uint8_t* data, size_t len) {
  const size_t zeros = leading_zeros(data, len);
  std::vector<uint8_t> digits;
  append_digits(digits, short_limbs(data + zeros, len - zeros));
  return text_of(digits, zeros);
}

std::string encode_tuned(const uint8_t* data, size_t len, const EncodeTuning& tuning) {
  const size_t zeros = leading_zeros(data, len);
  const size_t n = len - zeros;
  if (n <= tuning.leaf_bytes) return encode_short(data, len);
  LongEncoder encoder(tuning, n);
  return text_of(encoder.digits(data + zeros, n), zeros);
}

}  // namespace detail

std::string encode(const uint8_t* data, size_t len) { return detail::encode_tuned(data, len, detail::kEncodeTuning); }

}  // namespace fyrn::base58
