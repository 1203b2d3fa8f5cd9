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
#include <atomic>
#include <iterator>
#include <memory>
#include <type_traits>
#include <vector>

#include "fyrn/batch.hpp"
#include "parallel.hpp"

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

// Limbs is the limb store of the short loop: on the stack for message-sized
// input, which then costs no allocation.
class Limbs {
 public:
  explicit Limbs(size_t n_bytes) {
    const size_t cap = n_bytes * 137 / 1000 + 2;  // log(256) / log(58^10) < 0.137
    if (cap > std::size(stack_)) {
      heap_.resize(cap);
      data_ = heap_.data();
    }
  }
  Limbs(const Limbs&) = delete;
  Limbs& operator=(const Limbs&) = delete;

  u64* data() { return data_; }
  const u64* data() const { return data_; }
  size_t size() const { return size_; }
  void push(u64 limb) { data_[size_++] = limb; }

 private:
  u64 stack_[96];  // 700 bytes
  std::vector<u64> heap_;
  u64* data_ = stack_;
  size_t size_ = 0;
};

inline u64 load_be(const uint8_t* p, size_t len) {
  u64 v = 0;
  for (size_t i = 0; i < len; ++i) v = (v << 8) | p[i];
  return v;
}

// absorb computes limbs = limbs · 2^(64K) + the K big-endian words at p. The
// K carry chains of one pass interleave, so that the latency of each division
// overlaps with the others.
template <size_t K>
void absorb(Limbs& limbs, const uint8_t* p, size_t head) {
  u64 carry[K];
  carry[0] = load_be(p, head);
  for (size_t k = 1; k < K; ++k) carry[k] = load_be(p + head + 8 * (k - 1), 8);
  auto step = [&carry](u64 x) {
    for (size_t k = 0; k < K; ++k) {
      // (x / 2^kShift) · 2^64 + carry, shifted left by kShift bits.
      x = div_step(x | (carry[k] >> (64 - kShift)), carry[k] << kShift, carry[k]);
    }
    return x;
  };
  u64* limb = limbs.data();
  for (size_t j = 0, used = limbs.size(); j < used; ++j) limb[j] = step(limb[j]);
  auto any = [&carry] {
    u64 all = 0;
    for (size_t k = 0; k < K; ++k) all |= carry[k];
    return all != 0;
  };
  while (any()) limbs.push(step(0));
}

// short_limbs fills `limbs` with the base 58^10 limbs (least significant
// first, not shifted) of the n bytes at p.
void short_limbs(Limbs& limbs, const uint8_t* p, size_t n) {
  // Words of 8 bytes, the first one short when n is not a multiple of 8; the
  // first pass takes as many words as make the rest a multiple of kWords.
  constexpr size_t kWords = 4;
  const size_t head = n % 8 != 0 ? n % 8 : 8;
  const size_t n_words = (n + 7) / 8;
  size_t w = 0;
  const uint8_t* at = p;
  auto first = [&](auto k) {
    absorb<decltype(k)::value>(limbs, at, head);
    at += head + 8 * (decltype(k)::value - 1);
    w += decltype(k)::value;
  };
  switch (n_words % kWords) {
    case 1: first(std::integral_constant<size_t, 1>{}); break;
    case 2: first(std::integral_constant<size_t, 2>{}); break;
    case 3: first(std::integral_constant<size_t, 3>{}); break;
    default: if (n_words != 0) first(std::integral_constant<size_t, kWords>{}); break;
  }
  for (; w < n_words; w += kWords, at += 8 * kWords) absorb<kWords>(limbs, at, 8);
  for (size_t j = 0; j < limbs.size(); ++j) limbs.data()[j] >>= kShift;
}

// split10 writes the ten base-58 digits of a base 58^10 limb, most
// significant first, as alphabet characters.
inline void split10(u64 limb, char* out) {
  uint32_t hi = static_cast<uint32_t>(limb / 656356768), lo = static_cast<uint32_t>(limb % 656356768);  // 58^5
  for (int d = 4; d >= 0; --d) {
    out[d] = kAlphabet[hi % 58];
    out[d + 5] = kAlphabet[lo % 58];
    hi /= 58;
    lo /= 58;
  }
}

// render_short returns `ones` '1's, then the limbs' digits without leading
// zero digits.
std::string render_short(const Limbs& limbs, size_t ones) {
  if (limbs.size() == 0) return std::string(ones, '1');
  char top[10];
  split10(limbs.data()[limbs.size() - 1], top);
  size_t skip = 0;
  while (top[skip] == '1') ++skip;  // the top limb is not zero
  std::string out(ones + (10 - skip) + 10 * (limbs.size() - 1), '1');
  char* at = out.data() + ones;
  for (size_t k = skip; k < 10; ++k) *at++ = top[k];
  for (size_t j = limbs.size() - 1; j-- > 0; at += 10) split10(limbs.data()[j], at);
  return out;
}

// append_digits appends the base-58 digits (values 0..57), least significant
// first, of the limbs: ten per limb.
void append_digits(std::vector<uint8_t>& out, const Limbs& limbs) {
  for (size_t j = 0; j < limbs.size(); ++j) {
    u64 lo = limbs.data()[j] % 656356768, hi = limbs.data()[j] / 656356768;  // 58^5
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
  const bool carry = __builtin_add_overflow(t, (hl << 32) - hl, &r);  // hl · (2^32 − 1)
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

// dif_stage is one decimation-in-frequency stage of half-length h over a[0, n).
inline void dif_stage(u64* a, size_t n, size_t h, const Roots& roots) {
  const u64* w = roots.fwd.data() + h;
  for (size_t i = 0; i < n; i += 2 * h) {
    for (size_t j = 0; j < h; ++j) {
      const u64 u = a[i + j], v = a[i + j + h];
      a[i + j] = add_mod(u, v);
      a[i + j + h] = mul_mod(sub_mod(u, v), w[j]);
    }
  }
}

// dit_stage is one decimation-in-time stage with the inverse roots.
inline void dit_stage(u64* a, size_t n, size_t h, const Roots& roots) {
  const u64* w = roots.inv.data() + h;
  for (size_t i = 0; i < n; i += 2 * h) {
    for (size_t j = 0; j < h; ++j) {
      const u64 u = a[i + j], v = mul_mod(a[i + j + h], w[j]);
      a[i + j] = add_mod(u, v);
      a[i + j + h] = sub_mod(u, v);
    }
  }
}

// Transforms up to kInCache points (32 KiB) run stage by stage; larger ones
// split after their first stage into two independent halves, so that every
// stage below that size works in cache instead of streaming the whole array.
constexpr size_t kInCache = 4096;

// forward transforms a[0, n) in place, natural order in, bit-reversed out.
void forward(u64* a, size_t n, const Roots& roots) {
  if (n > kInCache) {
    dif_stage(a, n, n / 2, roots);
    forward(a, n / 2, roots);
    forward(a + n / 2, n / 2, roots);
    return;
  }
  for (size_t h = n / 2; h >= 2; h /= 2) dif_stage(a, n, h, roots);
  for (size_t i = 0; i + 1 < n; i += 2) {  // h = 1: the only twiddle is 1
    const u64 u = a[i], v = a[i + 1];
    a[i] = add_mod(u, v);
    a[i + 1] = sub_mod(u, v);
  }
}

// inverse undoes forward up to a factor n (bit-reversed in, natural order out).
void inverse(u64* a, size_t n, const Roots& roots) {
  if (n > kInCache) {
    inverse(a, n / 2, roots);
    inverse(a + n / 2, n / 2, roots);
    dit_stage(a, n, n / 2, roots);
    return;
  }
  for (size_t i = 0; i + 1 < n; i += 2) {  // h = 1: the only twiddle is 1
    const u64 u = a[i], v = a[i + 1];
    a[i] = add_mod(u, v);
    a[i + 1] = sub_mod(u, v);
  }
  for (size_t h = 2; h < n; h *= 2) dit_stage(a, n, h, roots);
}

// inverse_scale is 1/n, by which the pointwise products are multiplied so
// that `inverse` needs no scaling pass of its own.
u64 inverse_scale(size_t n) { return pow_mod(n, kP - 2); }

// ---- Long input: divide and conquer in base 58^m ----------------------------

using Coeffs = std::vector<u64>;  // base 58^m, least significant first

// Halves of at least kParallelBytes bytes, and transforms of at least
// kParallelPoints points, are worked side by side on the worker pool.
constexpr size_t kParallelBytes = 16384;
constexpr size_t kParallelPoints = size_t{1} << 15;

void forward_split(u64* a, size_t n, const Roots& roots) {
  if (n < kParallelPoints) return forward(a, n, roots);
  dif_stage(a, n, n / 2, roots);
  run_both([&] { forward_split(a, n / 2, roots); }, [&] { forward_split(a + n / 2, n / 2, roots); });
}

void inverse_split(u64* a, size_t n, const Roots& roots) {
  if (n < kParallelPoints) return inverse(a, n, roots);
  run_both([&] { inverse_split(a, n / 2, roots); }, [&] { inverse_split(a + n / 2, n / 2, roots); });
  dit_stage(a, n, n / 2, roots);
}

size_t transform_size(size_t len) {
  size_t n = 1;
  while (n < len) n *= 2;
  return n;
}

// Level is the power P_j of one level and its transform at the size of that
// level's products (twice its length), scaled by 1/size; the transform is
// empty where products by P_j are done directly.
struct Level {
  Coeffs power;
  Coeffs transform;
};

// The levels and roots of the default thresholds are the same for every
// input, so they are kept for the process once computed, for inputs of up to
// about a megabyte (some 10 MB of tables). They are published through atomic
// pointers and never freed: lock-free, so a fork() cannot leave a lock held
// in the child, and readers never see a table go away.
constexpr size_t kCachedLevels = 8;
std::atomic<const Level*> g_levels[5][kCachedLevels];  // by digits per coefficient, then level
constexpr size_t kCachedRootsLog2 = 18;  // the top cached level's transform size
std::atomic<const Roots*> g_roots[kCachedRootsLog2 + 1];  // by log2 of the size

template <typename T>
const T* publish(std::atomic<const T*>& slot, std::unique_ptr<T> mine) {
  const T* expected = nullptr;
  if (slot.compare_exchange_strong(expected, mine.get(), std::memory_order_acq_rel)) return mine.release();
  return expected;  // another thread was first; its copy is equal
}

// LongEncoder converts n bytes by value = high · 256^k + low, recursively,
// with k = leaf_bytes · 2^j. Everything the recursion shares (the powers
// P_j = 256^(leaf_bytes · 2^j), their transforms, the roots) is computed
// first; the recursion then only reads it, so its halves can run in parallel.
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
        if (bound_ok(m_, digits / static_cast<size_t>(m_) / 2 + 2)) break;
      }
    }
    size_t levels = 0;  // P_0 .. P_{levels − 1} are needed
    for (size_t low = t_.leaf_bytes; low < n_bytes; low *= 2) ++levels;
    prepare_powers(levels);
  }

  // digits returns the base-58 digits, least significant first, of the n
  // bytes at p (which has no leading zero byte).
  std::vector<uint8_t> digits(const uint8_t* p, size_t n) const {
    Coeffs value = convert(p, n);
    std::vector<uint8_t> out;
    out.reserve(value.size() * static_cast<size_t>(m_));
    for (u64 c : value) {
      for (int d = 0; d < m_; ++d, c /= 58) out.push_back(static_cast<uint8_t>(c % 58));
    }
    return out;
  }

 private:
  static bool bound_ok(int m, size_t shorter) {
    u64 b = 1;
    for (int i = 0; i < m; ++i) b *= 58;
    const u128 worst = static_cast<u128>(b - 1) * (b - 1) * shorter;
    return worst < kP;
  }

  bool direct(size_t shorter) const { return shorter <= t_.ntt_min_coeffs; }

  // leaf converts up to leaf_bytes bytes with the short-input loop.
  Coeffs leaf(const uint8_t* p, size_t n) const {
    Limbs limbs(n);
    short_limbs(limbs, p, n);
    std::vector<uint8_t> d;
    append_digits(d, limbs);
    Coeffs out((d.size() + static_cast<size_t>(m_) - 1) / static_cast<size_t>(m_), 0);
    for (size_t k = d.size(); k-- > 0;) out[k / m_] = out[k / m_] * 58 + d[k];
    trim(out);
    return out;
  }

  static void trim(Coeffs& c) {
    while (!c.empty() && c.back() == 0) c.pop_back();
  }

  // prepare_powers makes levels_[0 .. levels) and roots_ ready: from the
  // process-wide tables where the thresholds are the default ones, else
  // computed here. P_{j+1} = P_j², from P_j's transform.
  void prepare_powers(size_t levels) {
    if (levels == 0) return;
    const detail::EncodeTuning& d = detail::kEncodeTuning;
    const bool defaults = t_.leaf_bytes == d.leaf_bytes && t_.ntt_min_coeffs == d.ntt_min_coeffs;
    levels_.resize(levels, nullptr);
    for (size_t j = 0; j < levels; ++j) {
      const bool shared = defaults && j < kCachedLevels;
      if (shared) levels_[j] = g_levels[m_][j].load(std::memory_order_acquire);
      if (levels_[j] != nullptr) continue;
      auto level = std::make_unique<Level>();
      if (j == 0) {
        std::vector<uint8_t> one(t_.leaf_bytes + 1, 0);
        one[0] = 1;
        level->power = leaf(one.data(), one.size());
      } else {
        level->power = square(*levels_[j - 1]);
      }
      const Coeffs& pw = level->power;
      if (!direct(pw.size())) {
        const size_t n = transform_size(2 * pw.size() - 1);
        level->transform.assign(n, 0);
        std::copy(pw.begin(), pw.end(), level->transform.begin());
        forward_split(level->transform.data(), n, roots(n));
        const u64 scale = inverse_scale(n);
        for (u64& v : level->transform) v = mul_mod(v, scale);
      }
      if (shared) {
        levels_[j] = publish(g_levels[m_][j], std::move(level));
      } else {
        levels_[j] = level.get();
        owned_levels_.push_back(std::move(level));
      }
    }
    // The largest transform is the top level's.
    const Level& top = *levels_.back();
    roots(top.transform.empty() ? 2 : top.transform.size());
  }

  // square returns P_{j+1} = P_j², carried.
  Coeffs square(const Level& level) {
    const Coeffs& pw = level.power;
    if (level.transform.empty()) return normalise(multiply_direct(pw, pw), {});
    const Coeffs& t = level.transform;
    const size_t n = t.size();
    Coeffs sq(n);
    const u64 n_mod = n % kP;  // t carries 1/n once, its square twice
    for (size_t k = 0; k < n; ++k) sq[k] = mul_mod(mul_mod(t[k], t[k]), n_mod);
    inverse_split(sq.data(), n, roots(n));
    sq.resize(2 * pw.size() - 1);
    return normalise(std::move(sq), {});
  }

  // roots returns a table for transforms of up to n points, kept as roots_:
  // for the sizes of the cached levels, the process-wide one of that size.
  const Roots& roots(size_t n) {
    if (roots_ != nullptr && roots_->fwd.size() >= n) return *roots_;
    size_t log2 = 0;
    while ((size_t{1} << log2) < n) ++log2;
    if (log2 <= kCachedRootsLog2) {
      std::atomic<const Roots*>& slot = g_roots[log2];
      const Roots* shared = slot.load(std::memory_order_acquire);
      if (shared == nullptr) shared = publish(slot, std::make_unique<Roots>(size_t{1} << log2));
      return *(roots_ = shared);
    }
    owned_roots_ = std::make_unique<Roots>(size_t{1} << log2);
    return *(roots_ = owned_roots_.get());
  }

  Coeffs convert(const uint8_t* p, size_t n) const {
    if (n <= t_.leaf_bytes) return leaf(p, n);
    // The low part is the largest leaf_bytes · 2^j below n, so the high part
    // is no longer than the low one (and its value below P_j).
    size_t j = 0, low = t_.leaf_bytes;
    while (2 * low < n) {
      low *= 2;
      ++j;
    }
    Coeffs high, low_value;
    auto do_high = [&] { high = convert(p, n - low); };
    auto do_low = [&] { low_value = convert(p + (n - low), low); };
    if (low >= kParallelBytes) {
      run_both(do_high, do_low);
    } else {
      do_high();
      do_low();
    }
    return normalise(multiply_by_power(high, j), low_value);
  }

  static Coeffs multiply_direct(const Coeffs& a, const Coeffs& b) {
    Coeffs out(a.size() + b.size() - 1, 0);
    for (size_t i = 0; i < a.size(); ++i) {
      for (size_t k = 0; k < b.size(); ++k) out[i + k] += a[i] * b[k];
    }
    return out;
  }

  // multiply_by_power returns the exact coefficients of high · P_j (not yet
  // carried); high is below P_j, so the product fits P_j's transform size.
  Coeffs multiply_by_power(const Coeffs& high, size_t j) const {
    const Coeffs& pw = levels_[j]->power;
    if (high.empty()) return {};
    if (direct(std::min(high.size(), pw.size()))) return multiply_direct(high, pw);
    const Coeffs& fb = levels_[j]->transform;
    const size_t n = fb.size();
    Coeffs fa(n, 0);
    std::copy(high.begin(), high.end(), fa.begin());
    forward_split(fa.data(), n, *roots_);
    for (size_t i = 0; i < n; ++i) fa[i] = mul_mod(fa[i], fb[i]);  // fb carries the 1/n
    inverse_split(fa.data(), n, *roots_);
    fa.resize(high.size() + pw.size() - 1);
    return fa;
  }

  // normalise returns product + addend in base 58^m, every coefficient below
  // the base. Each input coefficient is below the prime.
  Coeffs normalise(Coeffs product, const Coeffs& addend) const {
    switch (m_) {
      case 1: return carry<58>(std::move(product), addend);
      case 2: return carry<58 * 58>(std::move(product), addend);
      case 3: return carry<58 * 58 * 58>(std::move(product), addend);
      default: return carry<58 * 58 * 58 * 58>(std::move(product), addend);
    }
  }

  // The base is a constant, so that its divisions become multiplications.
  template <u64 kBase>
  static Coeffs carry(Coeffs product, const Coeffs& addend) {
    if (product.size() < addend.size()) product.resize(addend.size(), 0);
    u64 carry = 0;
    for (size_t k = 0; k < product.size(); ++k) {
      const u64 c = product[k] + (k < addend.size() ? addend[k] : 0);  // below 2^64: the base is below 2^32
      const u64 t = c % kBase + carry;
      product[k] = t % kBase;
      carry = c / kBase + t / kBase;
    }
    for (; carry != 0; carry /= kBase) product.push_back(carry % kBase);
    trim(product);
    return product;
  }

  detail::EncodeTuning t_;
  int m_ = 4;
  std::vector<const Level*> levels_;
  std::vector<std::unique_ptr<Level>> owned_levels_;  // those not kept for the process
  const Roots* roots_ = nullptr;
  std::unique_ptr<Roots> owned_roots_;
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
  Limbs limbs(len - zeros);
  short_limbs(limbs, data + zeros, len - zeros);
  return render_short(limbs, zeros);
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
