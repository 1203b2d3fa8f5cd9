// The fixed-size encoders against the plain big-number encoder.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "fyrn/base58.hpp"

using fyrn::base58::encode;
using fyrn::base58::encode_32;
using fyrn::base58::encode_64;

namespace {

template <size_t N>
void check_all_shapes(std::mt19937_64& rng, std::string (*fast)(const uint8_t*)) {
  std::array<uint8_t, N> buf;
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 20000; ++round) {
    for (auto& b : buf) b = static_cast<uint8_t>(byte(rng));
    // Every shape of leading zeros, and runs of 0xFF and of small bytes,
    // which stress the carries.
    const size_t zeros = static_cast<size_t>(round) % (N + 1);
    for (size_t i = 0; i < zeros; ++i) buf[i] = 0;
    if (round % 7 == 1) {
      for (size_t i = zeros; i < N; ++i) buf[i] = 0xFF;
    } else if (round % 7 == 2) {
      for (size_t i = zeros; i < N; ++i) buf[i] = static_cast<uint8_t>(byte(rng) & 1);
    }
    ASSERT_EQ(fast(buf.data()), encode(buf.data(), N)) << "round " << round;
    auto back = fyrn::base58::decode(fast(buf.data()));
    ASSERT_TRUE(back.ok());
    ASSERT_TRUE(std::equal(back->begin(), back->end(), buf.begin(), buf.end()));
  }
}

}  // namespace

TEST(Base58Fast, Encode32MatchesPlainEncoder) {
  std::mt19937_64 rng(0x5eed32);
  check_all_shapes<32>(rng, &encode_32);
}

TEST(Base58Fast, Encode64MatchesPlainEncoder) {
  std::mt19937_64 rng(0x5eed64);
  check_all_shapes<64>(rng, &encode_64);
}

TEST(Base58Fast, Extremes) {
  std::array<uint8_t, 64> ff;
  ff.fill(0xFF);
  std::array<uint8_t, 64> zero{};
  EXPECT_EQ(encode_32(ff.data()), encode(ff.data(), 32));
  EXPECT_EQ(encode_64(ff.data()), encode(ff.data(), 64));
  EXPECT_EQ(encode_32(ff.data()).size(), 44u);
  EXPECT_EQ(encode_64(ff.data()).size(), 88u);
  EXPECT_EQ(encode_32(zero.data()), std::string(32, '1'));
  EXPECT_EQ(encode_64(zero.data()), std::string(64, '1'));
  // A single set bit in each position walks every table entry.
  for (size_t bit = 0; bit < 512; ++bit) {
    std::array<uint8_t, 64> one{};
    one[bit / 8] = static_cast<uint8_t>(1u << (bit % 8));
    ASSERT_EQ(encode_64(one.data()), encode(one.data(), 64)) << bit;
    if (bit < 256) {
      ASSERT_EQ(encode_32(one.data()), encode(one.data(), 32)) << bit;
    }
  }
}
