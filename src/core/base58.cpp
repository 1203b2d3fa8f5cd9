#include "fyrn/base58.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include <sodium.h>

namespace fyrn::base58 {
namespace {

constexpr std::array<int8_t, 128> make_index() {
  std::array<int8_t, 128> index{};
  for (auto& v : index) v = -1;
  for (int i = 0; i < 58; ++i) index[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
  return index;
}
constexpr std::array<int8_t, 128> kIndex = make_index();

// quoted renders an ASCII character for an error text in single quotes,
// escaped ('\n', '\'', '\u{1b}') so that no control byte reaches the text.
std::string quoted(unsigned char c) {
  std::string out = "'";
  switch (c) {
    case '\0': out += "\\0"; break;
    case '\t': out += "\\t"; break;
    case '\r': out += "\\r"; break;
    case '\n': out += "\\n"; break;
    case '\'': out += "\\'"; break;
    case '\\': out += "\\\\"; break;
    default:
      if (c < 0x20 || c == 0x7f) {
        static constexpr char kHex[] = "0123456789abcdef";
        out += "\\u{";
        if (c >= 0x10) out += kHex[c >> 4];
        out += kHex[c & 15];
        out += '}';
      } else {
        out += static_cast<char>(c);
      }
  }
  return out + "'";
}

}  // namespace

// Fixed-size encoders. The input is read as big-endian 32-bit limbs; each limb
// is multiplied by its weight 2^(32k) written in base 58^5, and the products
// are summed column by column into 64-bit accumulators. One carry pass then
// leaves every column below 58^5, and each column splits into five digits.
// The tables and the no-overflow bounds are computed at compile time.
namespace {

constexpr uint64_t kR = 656356768;  // 58^5

template <size_t Limbs, size_t Cols>
using Table = std::array<std::array<uint32_t, Cols>, Limbs>;

// make_table returns, for each limb i (most significant first), its weight
// 2^(32 * (Limbs - 1 - i)) in base 58^5, most significant column first.
template <size_t Limbs, size_t Cols>
constexpr Table<Limbs, Cols> make_table() {
  Table<Limbs, Cols> table{};
  std::array<uint64_t, Cols> weight{};  // base 58^5, least significant first
  weight[0] = 1;
  for (size_t i = Limbs; i-- > 0;) {
    for (size_t j = 0; j < Cols; ++j) table[i][Cols - 1 - j] = static_cast<uint32_t>(weight[j]);
    uint64_t carry = 0;  // weight *= 2^32
    for (size_t j = 0; j < Cols; ++j) {
      const unsigned __int128 v = (static_cast<unsigned __int128>(weight[j]) << 32) + carry;
      weight[j] = static_cast<uint64_t>(v % kR);
      carry = static_cast<uint64_t>(v / kR);
    }
  }
  return table;
}

// column_bound is the largest sum limbs [from, to) can add to column j.
template <size_t Limbs, size_t Cols>
constexpr unsigned __int128 column_bound(const Table<Limbs, Cols>& table, size_t from, size_t to, size_t j) {
  unsigned __int128 sum = 0;
  for (size_t i = from; i < to; ++i) sum += static_cast<unsigned __int128>(UINT32_MAX) * table[i][j];
  return sum;
}

constexpr size_t kCols32 = 9;   // 32 bytes need at most 44 digits
constexpr size_t kCols64 = 18;  // 64 bytes need at most 88 digits
constexpr auto kTable32 = make_table<8, kCols32>();
constexpr auto kTable64 = make_table<16, kCols64>();

constexpr bool fits_32() {
  for (size_t j = 0; j < kCols32; ++j) {
    if (column_bound(kTable32, 0, 8, j) > UINT64_MAX) return false;
  }
  return true;
}
static_assert(fits_32(), "32-byte accumulation must not overflow");

// For 64 bytes, summing all 16 limbs could overflow a column, so the first
// eight limbs are summed and fully carried (the partial value is below 58^90,
// so every column, the top one included, is then below 58^5) before the last
// eight are added.
constexpr bool fits_64() {
  for (size_t j = 0; j < kCols64; ++j) {
    if (column_bound(kTable64, 0, 8, j) > UINT64_MAX) return false;
    if ((kR - 1) + column_bound(kTable64, 8, 16, j) > UINT64_MAX) return false;
  }
  return true;
}
static_assert(fits_64(), "64-byte accumulation must not overflow");

inline uint32_t load_be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

template <size_t Limbs, size_t Cols>
void accumulate(uint64_t* acc, const uint8_t* data, const Table<Limbs, Cols>& table, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    const uint64_t limb = load_be32(data + 4 * i);
    for (size_t j = 0; j < Cols; ++j) acc[j] += limb * table[i][j];
  }
}

template <size_t Cols>
void carry(uint64_t* acc) {
  for (size_t j = Cols - 1; j > 0; --j) {
    acc[j - 1] += acc[j] / kR;
    acc[j] %= kR;
  }
}

// finish turns fully carried columns into text: one '1' per leading zero byte,
// then the digits from the first non-zero one.
template <size_t Cols>
std::string finish(const uint64_t* acc, const uint8_t* data, size_t len) {
  char digits[Cols * 5];
  for (size_t j = 0; j < Cols; ++j) {
    uint32_t v = static_cast<uint32_t>(acc[j]);
    for (size_t k = 5; k-- > 0;) {
      digits[j * 5 + k] = static_cast<char>(v % 58);
      v /= 58;
    }
  }
  size_t zeros = 0;
  while (zeros < len && data[zeros] == 0) ++zeros;
  size_t first = 0;
  while (first < Cols * 5 && digits[first] == 0) ++first;
  std::string out(zeros + Cols * 5 - first, '1');
  for (size_t k = first; k < Cols * 5; ++k) out[zeros + k - first] = kAlphabet[static_cast<uint8_t>(digits[k])];
  sodium_memzero(digits, sizeof digits);
  return out;
}

}  // namespace

std::string encode_32(const uint8_t* data) {
  uint64_t acc[kCols32] = {};
  accumulate(acc, data, kTable32, 0, 8);
  carry<kCols32>(acc);
  return finish<kCols32>(acc, data, 32);
}

// encode_64 also serves the 64-byte keypair form, so its scratch is wiped.
std::string encode_64(const uint8_t* data) {
  uint64_t acc[kCols64] = {};
  accumulate(acc, data, kTable64, 0, 8);
  carry<kCols64>(acc);
  accumulate(acc, data, kTable64, 8, 16);
  carry<kCols64>(acc);
  std::string out = finish<kCols64>(acc, data, 64);
  sodium_memzero(acc, sizeof acc);
  return out;
}

namespace {

// check_digits validates text[ones ..) so that the error names the first bad
// character from the left.
Status check_digits(std::string_view text, size_t ones) {
  for (size_t i = ones; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      return Error::invalid_base58("provided string contained non-ascii character starting at byte " +
                                   std::to_string(i));
    }
    if (kIndex[c] < 0) {
      return Error::invalid_base58("provided string contained invalid character " + quoted(c) + " at byte " +
                                   std::to_string(i));
    }
  }
  return {};
}

// Value is the number written by the checked digits text[from ..), as
// little-endian 32-bit limbs. Its cost grows with the square of the digit
// count, so callers bound that count where the text comes from outside.
class Value {
 public:
  Value(std::string_view text, size_t from) {
    // Five digits at a time (58^5 < 2^32), so a 44-character key costs ~9 × 9
    // multiply-adds instead of one byte-wise pass per character.
    // log(58)/log(256) < 0.733 bounds the size.
    const size_t n_limbs = ((text.size() - from) * 733 / 1000 + 1) / 4 + 2;
    if (n_limbs > std::size(stack_)) {
      heap_.resize(n_limbs);
      limbs_ = heap_.data();
    }
    for (size_t i = from; i < text.size();) {
      uint64_t chunk = 0;
      uint64_t scale = 1;
      for (int k = 0; k < 5 && i < text.size(); ++k, ++i) {
        chunk = chunk * 58 + static_cast<uint64_t>(kIndex[static_cast<unsigned char>(text[i])]);
        scale *= 58;
      }
      uint64_t carry = chunk;
      for (size_t j = 0; j < used_; ++j) {
        const uint64_t t = static_cast<uint64_t>(limbs_[j]) * scale + carry;
        limbs_[j] = static_cast<uint32_t>(t);
        carry = t >> 32;
      }
      while (carry > 0) {
        limbs_[used_++] = static_cast<uint32_t>(carry);
        carry >>= 32;
      }
    }
    size_ = used_ * 4;
    while (size_ > 0 && byte(size_ - 1) == 0) --size_;
  }
  // Keypair text decodes through here: leave no copy of the secret behind.
  ~Value() { sodium_memzero(limbs_, used_ * sizeof *limbs_); }
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;

  // size is the value's length in bytes, without leading zero bytes.
  size_t size() const { return size_; }
  // write_be writes the size() bytes, most significant first.
  void write_be(uint8_t* out) const {
    for (size_t b = 0; b < size_; ++b) out[size_ - 1 - b] = byte(b);
  }

 private:
  uint8_t byte(size_t b) const { return static_cast<uint8_t>(limbs_[b / 4] >> (8 * (b % 4))); }

  uint32_t stack_[24];
  std::vector<uint32_t> heap_;
  uint32_t* limbs_ = stack_;
  size_t used_ = 0;
  size_t size_ = 0;
};

// Up to kExactDigits digits (about a millisecond), a length the estimate leaves
// open is settled by decoding in full.
constexpr size_t kExactDigits = 8192;

// value_size_estimate returns the byte length of the value of the d checked
// digits at `digits` (the first one not '1'), or 0 when the leading digits
// leave two lengths open; `central` then receives the one nearer the middle
// of the open range. The value V lies in [P, P + 1) · 58^(d − t), P the number
// of the first t digits, so log2 V lies in [lo, hi) and V has floor(log2 V / 8)
// + 1 bytes. The margin covers the rounding of long double arithmetic with
// room to spare; only values within a relative 10^-9 + d · 10^-14 or so of a
// power of 256 are left open.
size_t value_size_estimate(const char* digits, size_t d, size_t& central) {
  constexpr long double kLog2_58 = 5.857980995127572432194633552248628L;
  const size_t t = std::min<size_t>(d, 10);  // 58^10 < 2^59
  uint64_t p = 0;
  for (size_t i = 0; i < t; ++i) p = p * 58 + static_cast<uint64_t>(kIndex[static_cast<unsigned char>(digits[i])]);
  const long double rest = static_cast<long double>(d - t) * kLog2_58;
  const long double margin = 1e-9L + static_cast<long double>(d) * 1e-14L;
  const long double lo = std::log2(static_cast<long double>(p)) + rest;
  const long double hi = std::log2(static_cast<long double>(p) + 1) + rest;
  const auto bytes = [](long double log2v) { return static_cast<size_t>(std::floor(log2v / 8)) + 1; };
  const size_t low = bytes(lo - margin);
  if (bytes(hi + margin) == low) return low;
  central = bytes((lo + hi) / 2);
  return 0;
}

}  // namespace

Result<std::vector<uint8_t>> decode(std::string_view text) {
  size_t ones = 0;
  while (ones < text.size() && text[ones] == '1') ++ones;
  if (Status s = check_digits(text, ones); !s) return std::move(s).error();
  const Value value(text, ones);
  std::vector<uint8_t> out(ones + value.size(), 0);
  value.write_be(out.data() + ones);
  return out;
}

bool encodes(std::string_view text, const uint8_t* data, size_t len) {
  using u128 = unsigned __int128;
  size_t zeros = 0;
  while (zeros < len && data[zeros] == 0) ++zeros;
  if (text.size() < zeros || text.find_first_not_of('1') < zeros) return false;
  const char* digits = text.data() + zeros;
  const size_t d = text.size() - zeros;
  const uint8_t* p = data + zeros;
  const size_t n = len - zeros;
  if (n == 0) return d == 0;
  // Long input is encoded in n · log²(n); this check is quadratic.
  if (n > detail::kEncodeTuning.leaf_bytes) return text == encode(data, len);
  // The text of a value of n bytes starts with a digit that is not zero and
  // has at most n · log(256) / log(58) + 1 < n · 1.366 + 1 digits.
  if (d == 0 || digits[0] == '1' || d > n * 1366 / 1000 + 1) return false;

  // The text's value as little-endian 64-bit words, ten digits (58^10 < 2^59)
  // per multiply-add pass; it may not outgrow the bytes' word count.
  static constexpr auto kPow = [] {
    std::array<uint64_t, 11> pow{};
    pow[0] = 1;
    for (size_t k = 1; k < pow.size(); ++k) pow[k] = pow[k - 1] * 58;
    return pow;
  }();
  const size_t n_words = (n + 7) / 8;
  uint64_t stack[64];
  std::vector<uint64_t> heap;
  uint64_t* w = stack;
  if (n_words > std::size(stack)) {
    heap.resize(n_words);
    w = heap.data();
  }
  size_t used = 0;
  for (size_t i = 0, take = d % 10 != 0 ? d % 10 : 10; i < d; i += take, take = 10) {
    // Each digit times its power: independent products, no chain of them.
    uint64_t chunk = 0;
    for (size_t k = 0; k < take; ++k) {
      const auto c = static_cast<unsigned char>(digits[i + k]);
      const int v = c < 0x80 ? kIndex[c] : -1;
      if (v < 0) return false;
      chunk += static_cast<uint64_t>(v) * kPow[take - 1 - k];
    }
    const uint64_t scale = kPow[take];
    uint64_t carry = chunk;
    for (size_t j = 0; j < used; ++j) {
      const u128 t = static_cast<u128>(w[j]) * scale + carry;
      w[j] = static_cast<uint64_t>(t);
      carry = static_cast<uint64_t>(t >> 64);
    }
    if (carry != 0) {
      if (used == n_words) return false;
      w[used++] = carry;
    }
  }
  if (used != n_words) return false;
  for (size_t j = 0; j < n_words; ++j) {
    const size_t end = n - 8 * j, begin = end > 8 ? end - 8 : 0;
    uint64_t v = 0;
    for (size_t b = begin; b < end; ++b) v = (v << 8) | p[b];
    if (w[j] != v) return false;
  }
  return true;
}

Result<size_t> decode_into(std::string_view text, uint8_t* out, size_t capacity) {
  size_t ones = 0;
  while (ones < text.size() && text[ones] == '1') ++ones;
  if (Status s = check_digits(text, ones); !s) return std::move(s).error();
  const size_t d = text.size() - ones;
  // More than 2 · capacity + 8 digits cannot fit: 58^(d − 1) > 256^capacity.
  // Such text gets its length from the leading digits.
  if (d <= 2 * capacity + 8) {
    const Value value(text, ones);
    const size_t len = ones + value.size();
    if (len <= capacity) {
      std::fill(out, out + ones, uint8_t{0});
      value.write_be(out + ones);
    }
    return len;
  }
  size_t central = 0;
  if (const size_t size = value_size_estimate(text.data() + ones, d, central); size != 0) return ones + size;
  if (d <= kExactDigits) return ones + Value(text, ones).size();
  return ones + central;
}

}  // namespace fyrn::base58
