// Display texts of the error kinds that no Python-facing check reaches (the
// others are checked as Python sees them, against the same catalogue texts).
#include <gtest/gtest.h>

#include "fyrn/error.hpp"

using fyrn::Error;
using fyrn::ErrorKind;

TEST(Errors, DisplayTextOfKindsPythonCannotReach) {
  const struct {
    Error error;
    ErrorKind kind;
    const char* text;
  } cases[] = {
      {Error::legacy_withdrawal(), ErrorKind::LegacyWithdrawal,
       "legacy Fyrn withdrawal actions are unsupported; use solana::request_withdraw to build a Solana "
       "withdrawal intent"},
      {Error::signature_count_mismatch(3, 2), ErrorKind::SignatureCountMismatch,
       "signature count mismatch: expected 3, got 2"},
      {Error::serialization("buffer too short"), ErrorKind::Serialization, "serialization error: buffer too short"},
      {Error::json("unexpected end of input"), ErrorKind::Json, "json error: unexpected end of input"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.error.kind(), c.kind);
    EXPECT_EQ(c.error.display(), c.text);
  }
}
