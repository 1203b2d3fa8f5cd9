// Network-name parsing, the base58 decoder's descriptions, the 64-byte key
// form and wiping a destroyed key.
#include <gtest/gtest.h>

#include <sodium.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string>

#include "fyrn/base58.hpp"
#include "fyrn/keys.hpp"

using namespace fyrn;

// Names match exactly: no case folding, no trimming, no prefixes. (The
// error text and each name's byte are checked through Python.)
TEST(Keys, SignatureDomainNamesAreExact) {
  for (const char* bad : {"Devnet", "MAINNET", "", " devnet", "devnet ", "testnet\n"}) {
    EXPECT_FALSE(signature_domain_from_str(bad).ok()) << bad;
  }
}

TEST(Base58, DecoderDescriptionsNameTheFirstBadByte) {
  const std::pair<std::string, std::string> cases[] = {
      {"\xff" "0", "non-ascii character starting at byte 0"},
      {"1\n", "invalid character '\\n' at byte 1"},
      {std::string("a\0", 2), "invalid character '\\0' at byte 1"},
      {"a'", "invalid character '\\'' at byte 1"},
      {"a\\", "invalid character '\\\\' at byte 1"},
      {"a\x1b", "invalid character '\\u{1b}' at byte 1"},
      {"a\x7f", "invalid character '\\u{7f}' at byte 1"},
      {"a\x01", "invalid character '\\u{1}' at byte 1"},
  };
  for (const auto& [text, description] : cases) {
    EXPECT_EQ(base58::decode(text).error().display(), "invalid base58: provided string contained " + description);
  }
}

// A 64-byte key is seed ‖ public key (as libsodium lays it out); the public
// half must be the seed's own to the last byte.
TEST(Keys, SixtyFourByteFormChecksEveryPublicKeyByte) {
  const uint8_t seed[32] = {7, 7, 7};
  uint8_t pk[32], full[65] = {};
  crypto_sign_seed_keypair(pk, full, seed);
  const std::string mismatch = Error::keypair_mismatch().display();
  const struct {
    int flip;  // index of a byte to change, or -1
    size_t len;
    std::string error;  // empty: accepted
  } rows[] = {
      {-1, 64, ""}, {-1, 32, ""}, {32, 64, mismatch}, {63, 64, mismatch},
      {-1, 63, Error::invalid_key_length(64, 63).display()}, {-1, 65, Error::invalid_key_length(64, 65).display()},
  };
  for (const auto& r : rows) {
    uint8_t bytes[65];
    std::memcpy(bytes, full, 65);
    if (r.flip >= 0) bytes[r.flip] ^= 1;
    auto kp = Keypair::from_bytes(bytes, r.len);
    EXPECT_EQ(kp.ok() ? "" : kp.error().display(), r.error) << "flip " << r.flip << ", length " << r.len;
    if (kp.ok()) {
      EXPECT_EQ(std::memcmp(kp->pubkey().bytes.data(), pk, 32), 0);
    }
  }
}

// A destroyed keypair leaves neither its seed nor its expanded secret behind:
// built in a buffer, destroyed explicitly, the buffer is inspected.
TEST(Keys, DestroyedKeypairWipesItsSecret) {
  std::array<uint8_t, 32> seed;
  for (size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<uint8_t>(0xA0 + i);
  auto made = Keypair::from_bytes(seed.data(), seed.size());
  ASSERT_TRUE(made.ok());
  const auto full = made->to_bytes();  // seed || public key
  uint8_t expanded[64];  // what signing keeps beside the seed: SHA-512(seed), clamped
  crypto_hash_sha512(expanded, seed.data(), 32);
  expanded[0] &= 248;
  expanded[31] = static_cast<uint8_t>((expanded[31] & 127) | 64);
  auto holds = [](const unsigned char* buf, size_t n, const uint8_t* needle, size_t len) {
    return std::search(buf, buf + n, needle, needle + len) != buf + n;
  };
  for (int how = 0; how < 2; ++how) {
    alignas(Keypair) unsigned char buf[sizeof(Keypair)];
    Keypair* kp = how == 0 ? new (buf) Keypair(*made) : new (buf) Keypair(*Keypair::from_bytes(seed.data(), 32));
    if (how == 1) *kp = *made;  // assignment over an existing key
    ASSERT_TRUE(holds(buf, sizeof buf, seed.data(), 32));  // the probe sees a live key
    ASSERT_TRUE(holds(buf, sizeof buf, expanded, 64));
    kp->~Keypair();
    EXPECT_FALSE(holds(buf, sizeof buf, seed.data(), 8)) << "seed left behind (" << how << ")";
    EXPECT_FALSE(holds(buf, sizeof buf, expanded, 8)) << "scalar left behind (" << how << ")";
    EXPECT_FALSE(holds(buf, sizeof buf, expanded + 32, 8)) << "nonce prefix left behind (" << how << ")";
    EXPECT_TRUE(holds(buf, sizeof buf, full.data() + 32, 32)) << "the public key is not secret";
  }
}
