#include <gtest/gtest.h>

#include "fyrn/base58.hpp"
#include "fyrn/error.hpp"
#include "fyrn/keys.hpp"
#include "fyrn/model.hpp"
#include "fyrn/nonce.hpp"

using namespace fyrn;

TEST(Base58, LeadingZerosAndRoundTrip) {
  const uint8_t zeros[32] = {};
  EXPECT_EQ(base58::encode(zeros, 32), std::string(32, '1'));
  auto back = base58::decode(std::string(32, '1'));
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back->size(), 32u);
  const uint8_t hello[] = {0, 0, 'h', 'i'};
  EXPECT_EQ(base58::encode(hello, 4), "118wr");
}

TEST(Base58, DecoderDescriptions) {
  auto bad = base58::decode("abc0");
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().display(), "invalid base58: provided string contained invalid character '0' at byte 3");
  auto wide = base58::decode("ab\xc3\xa9");
  ASSERT_FALSE(wide.ok());
  EXPECT_EQ(wide.error().display(),
            "invalid base58: provided string contained non-ascii character starting at byte 2");
}

TEST(Keys, LengthAndDomainErrors) {
  uint8_t bytes[33] = {};
  EXPECT_EQ(Keypair::from_bytes(bytes, 33).error().display(), "invalid key length: expected 64, got 33");
  EXPECT_EQ(Keypair::from_bytes(bytes, 31).error().display(), "invalid key length: expected 64, got 31");
  EXPECT_EQ(signature_domain_from_str("Devnet").error().display(),
            "invalid signature domain 'Devnet'; expected mainnet, testnet, or devnet");
  EXPECT_EQ(Hash::from_base58(std::string(31, '1')).error().display(),
            "invalid hash length: expected 32 bytes, got 31");
}

TEST(Keys, SixtyFourByteFormMustMatch) {
  Keypair a = Keypair::generate();
  Keypair b = Keypair::generate();
  auto full = a.to_bytes();
  auto ok = Keypair::from_bytes(full.data(), 64);
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok->pubkey(), a.pubkey());
  std::copy(b.pubkey().bytes.begin(), b.pubkey().bytes.end(), full.begin() + 32);
  EXPECT_EQ(Keypair::from_bytes(full.data(), 64).error().kind(), ErrorKind::KeypairMismatch);
}

TEST(Nonce, ClockStrictlyIncreases) {
  uint64_t prev = next_timestamp();
  for (int i = 0; i < 10000; ++i) {
    uint64_t next = next_timestamp();
    ASSERT_GT(next, prev);
    prev = next;
  }
}
