// The encoders (fixed-size, short loop, divide and conquer over transforms)
// against a textbook big-number conversion, and the decoders against each other.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "fyrn/base58.hpp"

using fyrn::base58::decode;
using fyrn::base58::encode;
using fyrn::base58::encodes;
using fyrn::base58::detail::EncodeTuning;

namespace {

constexpr char kAlphabet[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";

// reference is the textbook conversion: the number, in limbs of 58^5, times
// 2^32 plus the next four bytes, then five digits per limb.
std::string reference(const uint8_t* data, size_t len) {
  constexpr uint64_t kLimb = 656356768;  // 58^5
  size_t zeros = 0;
  while (zeros < len && data[zeros] == 0) ++zeros;
  std::vector<uint64_t> limbs;  // least significant first
  for (size_t i = zeros; i < len;) {
    const size_t take = i == zeros && (len - zeros) % 4 != 0 ? (len - zeros) % 4 : 4;
    uint64_t carry = 0;
    for (size_t k = 0; k < take; ++k) carry = carry << 8 | data[i++];
    for (uint64_t& limb : limbs) {
      const uint64_t t = (limb << (8 * take)) + carry;
      limb = t % kLimb;
      carry = t / kLimb;
    }
    for (; carry > 0; carry /= kLimb) limbs.push_back(carry % kLimb);
  }
  std::string digits;  // least significant first
  for (uint64_t limb : limbs) {
    for (int d = 0; d < 5; ++d, limb /= 58) digits += kAlphabet[limb % 58];
  }
  while (!digits.empty() && digits.back() == '1') digits.pop_back();
  return std::string(zeros, '1') + std::string(digits.rbegin(), digits.rend());
}

enum class Fill { Random, Ones, Bits, PowerOf256, Sparse };

// input is `zeros` zero bytes, then `len` bytes of the given kind (the first nonzero).
std::vector<uint8_t> input(size_t zeros, size_t len, Fill fill, std::mt19937_64& rng) {
  std::vector<uint8_t> buf(zeros + len, 0);
  for (size_t i = zeros; i < buf.size(); ++i) {
    const auto r = static_cast<uint8_t>(rng());
    buf[i] = fill == Fill::Random ? r
             : fill == Fill::Ones ? 0xFF  // 256^len - 1: every digit carries
             : fill == Fill::Bits ? r & 1
             : fill == Fill::Sparse ? (r % 16 == 0 ? static_cast<uint8_t>(rng()) : 0)
                                    : 0;  // a power of 256: the low half is zero
  }
  if (len > 0 && buf[zeros] == 0) buf[zeros] = 1;
  return buf;
}

constexpr Fill kFills[] = {Fill::Random, Fill::Ones, Fill::Bits, Fill::PowerOf256, Fill::Sparse};

// Random bytes after every count of leading zeros, runs of 0xFF and of 0/1
// bytes that stress the carries, and every single set bit.
template <size_t N>
void check_fixed_size(std::string (*fast)(const uint8_t*), uint64_t seed) {
  std::mt19937_64 rng(seed);
  for (int round = 0; round < 20000 + 8 * static_cast<int>(N); ++round) {
    std::vector<uint8_t> buf(N, 0);
    if (round >= 20000) {
      buf[(round - 20000) / 8] = static_cast<uint8_t>(1u << (round % 8));
    } else {
      const size_t zeros = static_cast<size_t>(round) % (N + 1);
      buf = input(zeros, N - zeros, kFills[round % 3], rng);
    }
    const std::string text = fast(buf.data());
    ASSERT_EQ(text, reference(buf.data(), N)) << "round " << round;
    ASSERT_EQ(encode(buf.data(), N), text) << "round " << round;
    ASSERT_EQ(*decode(text), buf) << "round " << round;
  }
}

}  // namespace

TEST(Base58, FixedSizeEncodersMatchTheReference) {
  check_fixed_size<32>(&fyrn::base58::encode_32, 0x5eed32);
  check_fixed_size<64>(&fyrn::base58::encode_64, 0x5eed64);
  const uint8_t hi[] = {0, 0, 'h', 'i'};
  EXPECT_EQ(encode(hi, 4), "118wr");  // a fixed point that does not come from the reference
}

// Every length to 300 and around each level of the long encoder with its
// default thresholds (one long input too), then small thresholds that drive
// every path (direct and transform products, every base 58^m, deep
// recursion) at sizes the reference handles quickly. Decoding gives the bytes back.
TEST(Base58, EncodeMatchesTheReferenceAtEveryLengthAndThreshold) {
  std::mt19937_64 rng(58);
  const EncodeTuning defaults = fyrn::base58::detail::kEncodeTuning;
  std::vector<std::pair<size_t, EncodeTuning>> runs;
  for (size_t len = 0; len <= 300; ++len) {
    for (int round = 0; round < 20; ++round) runs.push_back({len, defaults});
  }
  for (size_t level = defaults.leaf_bytes; level <= 4 * defaults.leaf_bytes; level *= 2) {
    for (size_t d : {0, 1, 2, 7, 8, 9}) {
      for (int fill = 0; fill < 5; ++fill) {
        runs.push_back({level + d, defaults});
        runs.push_back({level - d, defaults});
      }
    }
  }
  runs.push_back({100000, defaults});
  for (EncodeTuning t : {EncodeTuning{8, 1, 1}, {8, 1, 2}, {8, 2, 3}, {8, 1, 4}, {16, 4, 0}, {9, 0, 4}, {24, 8, 3},
                         {64, 16, 0}}) {
    for (size_t round = 0; round < 60; ++round) runs.push_back({round < 20 ? t.leaf_bytes + round : rng() % 1500, t});
  }
  for (size_t i = 0; i < runs.size(); ++i) {
    const auto& [len, t] = runs[i];
    const auto buf = input(i % 4, len, kFills[i % 5], rng);
    const std::string text = fyrn::base58::detail::encode_tuned(buf.data(), buf.size(), t);
    ASSERT_EQ(text, reference(buf.data(), buf.size()))
        << "length " << buf.size() << ", leaf " << t.leaf_bytes << ", direct below " << t.ntt_min_coeffs << ", m "
        << t.digits_per_coeff;
    if (t.leaf_bytes == defaults.leaf_bytes) {
      ASSERT_EQ(encode(buf.data(), buf.size()), text);
    }
    if (len <= 300) {
      ASSERT_EQ(*decode(text), buf) << "length " << len;
    }
  }
  for (size_t len : {0, 1, 2900, 2901, 10000}) {
    const std::vector<uint8_t> zeros(len, 0);
    EXPECT_EQ(encode(zeros.data(), len), std::string(len, '1'));
  }
}

// encodes accepts the encoder's text and nothing else: single-character
// edits, a '1' more or less, a digit more or less, foreign characters, and the
// text of other bytes of the same length; long input takes the encoder's path.
TEST(Base58, EncodesAcceptsExactlyTheEncodersText) {
  std::mt19937_64 rng(0xe4c0de5);
  auto check = [](const std::vector<uint8_t>& buf, const std::string& text) {
    ASSERT_EQ(encodes(text, buf.data(), buf.size()), text == encode(buf.data(), buf.size()))
        << "length " << buf.size() << " text " << text;
  };
  for (size_t len : {0, 1, 2, 7, 8, 9, 31, 32, 33, 91, 193, 209, 600, 2900, 2901, 3500}) {
    for (int round = 0; round < 12; ++round) {
      std::vector<uint8_t> buf(len);
      for (size_t i = 0; i < len; ++i) buf[i] = i < static_cast<size_t>(round % 3) ? 0 : static_cast<uint8_t>(rng());
      const std::string text = encode(buf.data(), buf.size());
      check(buf, text);
      check(buf, "1" + text);
      check(buf, text + "z");
      if (!text.empty()) {
        check(buf, text.substr(1));
        check(buf, text.substr(0, text.size() - 1));
        for (const char c : {'1', '2', 'z', '0', 'O', 'l', '\x80'}) {
          std::string edited = text;
          edited[rng() % edited.size()] = c;
          check(buf, edited);
        }
      }
      std::vector<uint8_t> other = buf;
      if (len > 0) other[rng() % len] ^= static_cast<uint8_t>(1 + rng() % 255);
      check(other, text);
    }
  }
}

namespace {

// expect_same_as_decode checks decode_into against the full decode: the same
// error text, or the same length and (when it fits) the same bytes, and
// nothing written past the capacity.
void expect_same_as_decode(const std::string& text) {
  SCOPED_TRACE(text.size() > 200 ? text.substr(0, 200) + "... (" + std::to_string(text.size()) + " chars)" : text);
  const auto full = decode(text);
  for (size_t capacity : {32, 64}) {
    std::vector<uint8_t> out(capacity + 1, 0xAA);
    const auto len = fyrn::base58::decode_into(text, out.data(), capacity);
    ASSERT_EQ(len.ok(), full.ok()) << "capacity " << capacity;
    if (!full.ok()) {
      EXPECT_EQ(len.error().display(), full.error().display());
      continue;
    }
    ASSERT_EQ(*len, full->size()) << "capacity " << capacity;
    if (*len <= capacity) {
      EXPECT_TRUE(std::equal(full->begin(), full->end(), out.begin()));
    }
    EXPECT_EQ(out[capacity], 0xAA);
  }
}

}  // namespace

// Random texts (leading ones, bad characters) around the fixed sizes, runs of
// one digit, and texts next to 256^k + (-1, 0, 1): values whose byte length
// the leading digits cannot settle (up to 8192 digits the full decode does).
TEST(Base58DecodeInto, AgreesWithTheFullDecode) {
  std::mt19937_64 rng(0xdec0de);
  for (int round = 0; round < 20000; ++round) {
    const size_t len = rng() % 150;
    std::string text(len, '1');
    const size_t ones = round % 3 == 0 ? rng() % (len + 1) : 0;
    for (size_t i = ones; i < len; ++i) text[i] = kAlphabet[rng() % 58];
    if (round % 11 == 0 && len > 0) text[rng() % len] = "0OIl \xc3"[rng() % 6];
    expect_same_as_decode(text);
  }
  for (size_t n = 0; n <= 300; ++n) {
    for (const std::string& text : {std::string(n, 'z'), std::string(n, '1'), std::string(n, '1') + std::string(90, 'z'),
                                    std::string(n, '1') + "2" + std::string(80, '1')}) {
      expect_same_as_decode(text);
    }
  }
  expect_same_as_decode(std::string(20000, 'z'));
  expect_same_as_decode(std::string(5000, '1') + std::string(9000, '2'));
  std::vector<size_t> ks = {5990, 5995, 5997};  // 256^5997 has 8191 digits
  for (size_t k = 1; k <= 200; ++k) ks.push_back(k);
  for (size_t k : ks) {
    for (int delta : {-1, 0, 1}) {
      std::vector<uint8_t> bytes(k + 1, 0);
      bytes[0] = 1;
      if (delta > 0) bytes[k] = 1;
      if (delta < 0) bytes.assign(k, 0xFF);
      const std::string text = encode(bytes.data(), bytes.size());
      if (text.size() > 8192) continue;
      expect_same_as_decode(text);
      expect_same_as_decode("11" + text);
    }
  }
}
