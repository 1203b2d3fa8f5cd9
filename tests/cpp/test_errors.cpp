// Display texts of all fifteen error kinds, with the payloads of the worked
// examples in the error catalogue.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fyrn/error.hpp"

using fyrn::Error;
using fyrn::ErrorKind;

TEST(Errors, DisplayTextOfEveryKind) {
  struct Case {
    Error error;
    ErrorKind kind;
    const char* text;
  };
  const std::vector<Case> cases = {
      {Error::invalid_instruction("amount must be positive"), ErrorKind::InvalidInstruction,
       "invalid Solana instruction: amount must be positive"},
      {Error::legacy_withdrawal(), ErrorKind::LegacyWithdrawal,
       "legacy Fyrn withdrawal actions are unsupported; use solana::request_withdraw to build a Solana "
       "withdrawal intent"},
      {Error::invalid_base58("provided string contained invalid character '0' at byte 3"), ErrorKind::InvalidBase58,
       "invalid base58: provided string contained invalid character '0' at byte 3"},
      {Error::invalid_key_length(32, 31), ErrorKind::InvalidKeyLength, "invalid key length: expected 32, got 31"},
      {Error::keypair_mismatch(), ErrorKind::KeypairMismatch, "keypair public key does not match its secret key"},
      {Error::invalid_hash_length(31), ErrorKind::InvalidHashLength, "invalid hash length: expected 32 bytes, got 31"},
      {Error::invalid_signature_length(65), ErrorKind::InvalidSignatureLength,
       "invalid signature length: expected 64 bytes, got 65"},
      {Error::invalid_signature_domain(""), ErrorKind::InvalidSignatureDomain,
       "invalid signature domain ''; expected mainnet, testnet, or devnet"},
      {Error::invalid_nonce("-1"), ErrorKind::InvalidNonce,
       "invalid nonce '-1'; expected an unsigned 64-bit decimal string"},
      {Error::signing_failed("signature does not verify"), ErrorKind::SigningFailed,
       "signing failed: signature does not verify"},
      {Error::empty_orders(), ErrorKind::EmptyOrders, "orders array cannot be empty"},
      {Error::signature_count_mismatch(3, 2), ErrorKind::SignatureCountMismatch,
       "signature count mismatch: expected 3, got 2"},
      {Error::invalid_order("builder-code fee must be 1..=15 bps"), ErrorKind::InvalidOrder,
       "invalid order: builder-code fee must be 1..=15 bps"},
      {Error::serialization("buffer too short"), ErrorKind::Serialization, "serialization error: buffer too short"},
      {Error::json("unexpected end of input"), ErrorKind::Json, "json error: unexpected end of input"},
  };
  ASSERT_EQ(cases.size(), 15u);
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(static_cast<size_t>(cases[i].error.kind()), i);  // kinds keep their fixed order
    EXPECT_EQ(cases[i].error.kind(), cases[i].kind);
    EXPECT_EQ(cases[i].error.display(), cases[i].text);
  }
}
