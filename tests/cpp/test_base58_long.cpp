// The long-input encoder (divide and conquer over transforms) against the
// word-at-a-time quadratic encoder it replaced, kept here as the reference:
// every length around the thresholds, leading zeros, values with maximal
// carries and exact powers of 256, and small thresholds that drive every path
// (direct and transform products, every base 58^m, deep recursion) at sizes
// the reference handles quickly.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "fyrn/base58.hpp"

using fyrn::base58::detail::EncodeTuning;
using fyrn::base58::detail::encode_tuned;

namespace ref {

// word_reference: limbs in base 58^5, input 32 bits at a time.
namespace {

constexpr uint64_t kLimb = 656356768;  // 58^5

// absorb_words computes limbs = limbs * 2^(32K) + (words[0] … words[K-1]),
// words most significant first.
template <size_t K>
void absorb_words(std::vector<uint32_t>& limbs, const uint32_t* words) {
  uint64_t carry[K];
  for (size_t k = 0; k < K; ++k) carry[k] = words[k];
  auto step = [&carry](uint64_t x) {
    for (size_t k = 0; k < K; ++k) {
      const uint64_t t = (x << 32) + carry[k];
      carry[k] = t / kLimb;
      x = t % kLimb;
    }
    return static_cast<uint32_t>(x);
  };
  for (uint32_t& limb : limbs) limb = step(limb);
  auto any = [&carry] {
    uint64_t all = 0;
    for (size_t k = 0; k < K; ++k) all |= carry[k];
    return all != 0;
  };
  while (any()) limbs.push_back(step(0));
}

}  // namespace

std::string word_reference(const uint8_t* data, size_t len) {
  size_t zeros = 0;
  while (zeros < len && data[zeros] == 0) ++zeros;
  const uint8_t* p = data + zeros;
  const size_t n = len - zeros;
  // log(256)/log(58^5) < 0.274: limbs enough for the rest.
  std::vector<uint32_t> limbs;
  limbs.reserve(n * 274 / 1000 + 2);
  // The bytes before the last multiple of four, as one number, come first.
  size_t i = n % 4;
  uint32_t head = 0;
  for (size_t j = 0; j < i; ++j) head = (head << 8) | p[j];
  if (head != 0) absorb_words<1>(limbs, &head);
  std::vector<uint32_t> words((n - i) / 4);
  for (uint32_t& w : words) {
    w = (uint32_t{p[i]} << 24) | (uint32_t{p[i + 1]} << 16) | (uint32_t{p[i + 2]} << 8) | p[i + 3];
    i += 4;
  }
  size_t w = 0;
  for (; (words.size() - w) % 4 != 0; ++w) absorb_words<1>(limbs, &words[w]);
  for (; w < words.size(); w += 4) absorb_words<4>(limbs, &words[w]);
  char digits[5];
  std::string out(zeros, '1');
  out.reserve(zeros + limbs.size() * 5);
  for (size_t k = limbs.size(); k-- > 0;) {
    uint32_t limb = limbs[k];
    for (int d = 4; d >= 0; --d) {
      digits[d] = fyrn::base58::kAlphabet[limb % 58];
      limb /= 58;
    }
    // The top limb has no leading zero digits; the others keep all five.
    size_t skip = 0;
    if (k + 1 == limbs.size()) {
      while (skip < 4 && digits[skip] == '1') ++skip;
    }
    out.append(digits + skip, digits + 5);
  }
  return out;
}


}  // namespace ref

namespace {

using ref::word_reference;

enum class Fill { Random, Ones, PowerOf256, Sparse };

std::vector<uint8_t> make_input(size_t zeros, size_t len, Fill fill, std::mt19937_64& rng) {
  std::vector<uint8_t> buf(zeros + len, 0);
  for (size_t i = zeros; i < buf.size(); ++i) {
    switch (fill) {
      case Fill::Random: buf[i] = static_cast<uint8_t>(rng()); break;
      case Fill::Ones: buf[i] = 0xFF; break;  // 256^len − 1: every digit carries
      case Fill::PowerOf256: buf[i] = i == zeros ? 1 : 0; break;  // the low half is zero
      case Fill::Sparse: buf[i] = rng() % 16 == 0 ? static_cast<uint8_t>(rng()) : 0; break;
    }
  }
  if (len > 0 && buf[zeros] == 0) buf[zeros] = 1;  // exactly `zeros` leading zero bytes
  return buf;
}

void expect_same(const std::vector<uint8_t>& buf, const EncodeTuning& t, const char* what) {
  ASSERT_EQ(encode_tuned(buf.data(), buf.size(), t), word_reference(buf.data(), buf.size()))
      << what << ": length " << buf.size() << ", leaf " << t.leaf_bytes << ", direct below " << t.ntt_min_coeffs
      << ", m " << t.digits_per_coeff;
}

constexpr Fill kFills[] = {Fill::Random, Fill::Ones, Fill::PowerOf256, Fill::Sparse};

TEST(Base58Long, DefaultThresholdsAroundEveryLevel) {
  std::mt19937_64 rng(0x58a);
  const size_t leaf = fyrn::base58::detail::kEncodeTuning.leaf_bytes;
  std::vector<size_t> lengths;
  for (size_t level = leaf; level <= 4 * leaf; level *= 2) {
    for (size_t d : {0, 1, 2, 7, 8, 9}) {
      lengths.push_back(level + d);
      lengths.push_back(level - d);
    }
  }
  for (size_t len : {3 * leaf + 5, 100000ul}) lengths.push_back(len);
  for (size_t len : lengths) {
    for (Fill fill : kFills) {
      if (len == 100000 && fill != Fill::Random) continue;  // the reference needs seconds here
      expect_same(make_input(len % 3, len, fill, rng), fyrn::base58::detail::kEncodeTuning, "default");
    }
  }
}

TEST(Base58Long, SmallThresholdsDriveEveryPath) {
  std::mt19937_64 rng(0x58b);
  const EncodeTuning tunings[] = {
      {8, 1, 1}, {8, 1, 2}, {8, 2, 3}, {8, 1, 4}, {16, 4, 0}, {9, 0, 4}, {24, 8, 3}, {64, 16, 0},
  };
  for (const EncodeTuning& t : tunings) {
    for (int round = 0; round < 60; ++round) {
      const size_t len = round < 20 ? t.leaf_bytes + static_cast<size_t>(round) : rng() % 1500;
      expect_same(make_input(round % 5 == 0 ? 2 : 0, len, kFills[round % 4], rng), t, "tuned");
    }
  }
}

TEST(Base58Long, LeadingZerosOnly) {
  for (size_t len : {0, 1, 2900, 2901, 10000}) {
    const std::vector<uint8_t> zeros(len, 0);
    EXPECT_EQ(fyrn::base58::encode(zeros.data(), len), std::string(len, '1'));
  }
}

}  // namespace
