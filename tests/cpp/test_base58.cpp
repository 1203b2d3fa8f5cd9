// The encoders against a byte-at-a-time big-number reference, and the decoder.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "fyrn/base58.hpp"

using fyrn::base58::decode;
using fyrn::base58::encode;
using fyrn::base58::encodes;

namespace {

// reference is the textbook encoder: the number times 256 plus the next byte,
// one byte at a time, in base-58 digits.
std::string reference(const uint8_t* data, size_t len) {
  static constexpr char kAlphabet[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
  size_t zeros = 0;
  while (zeros < len && data[zeros] == 0) ++zeros;
  std::vector<uint8_t> digits;
  for (size_t i = zeros; i < len; ++i) {
    uint32_t carry = data[i];
    for (uint8_t& d : digits) {
      carry += static_cast<uint32_t>(d) << 8;
      d = static_cast<uint8_t>(carry % 58);
      carry /= 58;
    }
    for (; carry > 0; carry /= 58) digits.push_back(static_cast<uint8_t>(carry % 58));
  }
  std::string out(zeros, '1');
  for (size_t j = digits.size(); j-- > 0;) out += kAlphabet[digits[j]];
  return out;
}

// Random bytes after every count of leading zeros, with runs of 0xFF and of
// 0/1 bytes that stress the carries, and every single set bit.
template <size_t N>
void check_fast_encoder(std::string (*fast)(const uint8_t*), uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::array<uint8_t, N> buf;
  for (int round = 0; round < 20000 + 8 * static_cast<int>(N); ++round) {
    for (auto& b : buf) b = static_cast<uint8_t>(rng());
    if (round >= 20000) {
      buf.fill(0);
      buf[(round - 20000) / 8] = static_cast<uint8_t>(1u << (round % 8));
    } else {
      const size_t zeros = static_cast<size_t>(round) % (N + 1);
      for (size_t i = 0; i < N; ++i) {
        if (i < zeros) buf[i] = 0;
        else if (round % 7 == 1) buf[i] = 0xFF;
        else if (round % 7 == 2) buf[i] &= 1;
      }
    }
    const std::string text = fast(buf.data());
    ASSERT_EQ(text, reference(buf.data(), N)) << "round " << round;
    ASSERT_EQ(encode(buf.data(), N), text) << "round " << round;
    auto back = decode(text);
    ASSERT_TRUE(back.ok());
    ASSERT_TRUE(std::equal(back->begin(), back->end(), buf.begin(), buf.end()));
  }
}

}  // namespace

TEST(Base58, Encode32MatchesPlainEncoder) { check_fast_encoder<32>(&fyrn::base58::encode_32, 0x5eed32); }

TEST(Base58, Encode64MatchesPlainEncoder) { check_fast_encoder<64>(&fyrn::base58::encode_64, 0x5eed64); }

TEST(Base58, Extremes) {
  std::array<uint8_t, 64> ff;
  ff.fill(0xFF);
  const std::array<uint8_t, 64> zero{};
  EXPECT_EQ(fyrn::base58::encode_32(ff.data()).size(), 44u);
  EXPECT_EQ(fyrn::base58::encode_64(ff.data()).size(), 88u);
  EXPECT_EQ(fyrn::base58::encode_64(zero.data()), std::string(64, '1'));
  const uint8_t hi[] = {0, 0, 'h', 'i'};
  EXPECT_EQ(encode(hi, 4), "118wr");
}

TEST(Base58, EncodeMatchesReferenceForEveryLength) {
  std::mt19937_64 rng(58);
  for (size_t len = 0; len <= 300; ++len) {
    for (int round = 0; round < 30; ++round) {
      std::vector<uint8_t> buf(len);
      for (size_t i = 0; i < len; ++i) {
        const int kind = round % 6;
        buf[i] = i < static_cast<size_t>(round % 4) ? 0 : kind == 1 ? 0xFF : kind == 2 ? (rng() & 1) : static_cast<uint8_t>(rng());
      }
      ASSERT_EQ(encode(buf.data(), buf.size()), reference(buf.data(), buf.size())) << "length " << len;
    }
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

TEST(Base58, DecodeRoundTripsEveryLength) {
  std::mt19937_64 rng(7);
  for (size_t len = 0; len <= 200; ++len) {
    for (int round = 0; round < 40; ++round) {
      std::vector<uint8_t> buf(len);
      for (size_t i = 0; i < len; ++i) buf[i] = i < static_cast<size_t>(round % 5) ? 0 : static_cast<uint8_t>(rng());
      auto back = decode(encode(buf.data(), buf.size()));
      ASSERT_TRUE(back.ok());
      ASSERT_EQ(*back, buf) << "length " << len;
    }
  }
}

namespace {

// expect_same_as_decode checks decode_into against the full decode: the same
// error text, or the same length and (when it fits) the same bytes.
void expect_same_as_decode(const std::string& text, size_t capacity) {
  SCOPED_TRACE(text.size() > 200 ? text.substr(0, 200) + "... (" + std::to_string(text.size()) + " chars)" : text);
  SCOPED_TRACE("capacity " + std::to_string(capacity));
  const auto full = decode(text);
  std::vector<uint8_t> out(capacity + 1, 0xAA);
  const auto len = fyrn::base58::decode_into(text, out.data(), capacity);
  ASSERT_EQ(len.ok(), full.ok());
  if (!full.ok()) {
    EXPECT_EQ(len.error().display(), full.error().display());
    return;
  }
  ASSERT_EQ(*len, full->size());
  if (*len <= capacity) {
    EXPECT_TRUE(std::equal(full->begin(), full->end(), out.begin()));
  }
  EXPECT_EQ(out[capacity], 0xAA);  // never past the capacity
}

// power_text is base58 of 256^k + delta (delta in -1..1): the values whose
// byte length the leading digits cannot settle.
std::string power_text(size_t k, int delta) {
  std::vector<uint8_t> bytes(k + 1, 0);
  bytes[0] = 1;
  if (delta > 0) bytes[k] = 1;
  if (delta < 0) bytes.assign(k, 0xFF);
  return encode(bytes.data(), bytes.size());
}

}  // namespace

TEST(Base58DecodeInto, RandomTextsAroundTheFixedSizes) {
  static constexpr char kAlphabet[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
  std::mt19937_64 rng(0xdec0de);
  for (int round = 0; round < 20000; ++round) {
    const size_t len = rng() % 150;
    std::string text(len, '1');
    const size_t ones = round % 3 == 0 ? rng() % (len + 1) : 0;
    for (size_t i = ones; i < len; ++i) text[i] = kAlphabet[rng() % 58];
    if (round % 11 == 0 && len > 0) text[rng() % len] = "0OIl \xc3"[rng() % 6];
    for (size_t capacity : {32, 64}) expect_same_as_decode(text, capacity);
  }
}

TEST(Base58DecodeInto, Extremes) {
  for (size_t n = 0; n <= 300; ++n) {
    for (size_t capacity : {32, 64}) {
      expect_same_as_decode(std::string(n, 'z'), capacity);
      expect_same_as_decode(std::string(n, '1'), capacity);
      expect_same_as_decode(std::string(n, '1') + std::string(90, 'z'), capacity);
      expect_same_as_decode(std::string(n, '1') + "2" + std::string(80, '1'), capacity);
    }
  }
  expect_same_as_decode(std::string(20000, 'z'), 32);
  expect_same_as_decode(std::string(5000, '1') + std::string(9000, '2'), 64);
}

// Next to a power of 256 the leading digits leave the length open; up to 8192
// digits the full decode settles it.
TEST(Base58DecodeInto, NextToPowersOf256) {
  std::vector<size_t> ks;
  for (size_t k = 1; k <= 200; ++k) ks.push_back(k);
  for (size_t k : {5990, 5995, 5997}) ks.push_back(k);  // 256^5997 has 8191 digits
  for (size_t k : ks) {
    for (int delta : {-1, 0, 1}) {
      const std::string text = power_text(k, delta);
      if (text.size() > 8192) continue;
      for (size_t capacity : {32, 64}) {
        expect_same_as_decode(text, capacity);
        expect_same_as_decode("11" + text, capacity);
      }
    }
  }
}
