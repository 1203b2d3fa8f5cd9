// SHA-256 against libsodium's, over every length up to four blocks and random
// splits into updates (the padding and the buffering are where ports go wrong).
#include <gtest/gtest.h>

#include <sodium.h>

#include <random>
#include <vector>

#include "../../src/core/sha256.hpp"

TEST(Sha256, MatchesLibsodiumForEveryLengthAndSplit) {
  ASSERT_GE(sodium_init(), 0);
  std::mt19937_64 rng(256);
  for (size_t len = 0; len <= 300; ++len) {
    for (int round = 0; round < 8; ++round) {
      std::vector<uint8_t> data(len);
      for (auto& b : data) b = static_cast<uint8_t>(rng());
      uint8_t expected[32];
      crypto_hash_sha256(expected, data.data(), data.size());
      fyrn::Sha256 h;
      size_t at = 0;
      while (at < len) {
        const size_t take = std::min<size_t>(len - at, rng() % 80);
        h.update(data.data() + at, take);
        at += take;
      }
      uint8_t got[32];
      h.final(got);
      ASSERT_EQ(0, memcmp(got, expected, 32)) << "length " << len << " round " << round;
    }
  }
  // One long message in one update, and the FIPS 180 "abc" vector.
  std::vector<uint8_t> big(100000, 0x61);
  uint8_t expected[32], got[32];
  crypto_hash_sha256(expected, big.data(), big.size());
  fyrn::Sha256::hash(got, big.data(), big.size());
  EXPECT_EQ(0, memcmp(got, expected, 32));
  const uint8_t abc[] = {'a', 'b', 'c'};
  fyrn::Sha256::hash(got, abc, 3);
  const uint8_t abc_digest[32] = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                                  0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                                  0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
  EXPECT_EQ(0, memcmp(got, abc_digest, 32));
  RecordProperty("cpu_extensions", fyrn::sha256_uses_cpu_extensions() ? "yes" : "no");
}
