#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fyrn/encoding.hpp"
#include "fyrn/error.hpp"
#include "fyrn/keys.hpp"
#include "fyrn/solana.hpp"
#include "wire_test_util.hpp"

using namespace fyrn;

namespace {

std::string invalid(const char* reason) { return std::string("invalid Solana instruction: ") + reason; }

struct TransactionVector {
  const char* program_id;
  std::vector<solana::AccountMeta> accounts;
  const char* data_hex;
  const char* blockhash;
  const char* base64;
};

const TransactionVector kTransactionVectors[] = {
#include "data/transaction_vectors.inc"
};

// A fresh wallet address, on the curve by construction.
std::string wallet() { return Keypair::generate().pubkey().to_base58(); }

}  // namespace

// Hex digits above 9, and the two base64 characters beyond letters and digits.
// (The renderings of prepared messages are checked against Python's base64 and
// bytes.hex.)
TEST(Encoding, HexDigitsAndBase64Symbols) {
  const uint8_t high[] = {0xfb, 0xff, 0xa0, 0x09};
  EXPECT_EQ(hex_encode(high, 4), "fbffa009");
  EXPECT_EQ(base64_encode(high, 2), "+/8=");
}

TEST(Solana, CompactU16MatchesShortVecTable) {
  // The table published with Solana's short_vec encoding.
  const std::pair<uint16_t, std::vector<uint8_t>> cases[] = {
      {0x0000, {0x00}},       {0x007f, {0x7f}},       {0x0080, {0x80, 0x01}},       {0x00ff, {0xff, 0x01}},
      {0x0100, {0x80, 0x02}}, {0x07ff, {0xff, 0x0f}}, {0x3fff, {0xff, 0x7f}},       {0x4000, {0x80, 0x80, 0x01}},
      {0xffff, {0xff, 0xff, 0x03}},
  };
  for (const auto& [value, bytes] : cases) {
    std::vector<uint8_t> out;
    solana::append_compact_u16(out, value);
    EXPECT_EQ(out, bytes) << value;
  }
}

TEST(Solana, TransactionsMatchSoldersCompiler) {
  for (const auto& v : kTransactionVectors) {
    const solana::Instruction ix{v.program_id, v.accounts, wire_test::Bytes().hex(v.data_hex).v};
    auto exported = solana::export_transaction(ix, v.blockhash);
    ASSERT_TRUE(exported.ok()) << exported.error().display();
    EXPECT_EQ(*exported, v.base64);
  }
}

TEST(Solana, ExportChecksAccountsBeforeBlockhash) {
  const auto good = solana::instruction(wallet(), 5, true);
  ASSERT_TRUE(good.ok());
  solana::Instruction bad[3] = {*good, *good, *good};
  bad[0].accounts[3].pubkey[0] = '0';  // not base58
  bad[1].program_id = std::string(33, '1');
  bad[2].accounts.clear();
  for (const auto& ix : bad) {
    EXPECT_EQ(solana::export_transaction(ix, "").error().display(), invalid("invalid account public key"));
  }
}

TEST(Solana, ExportRefusesWhatTheWireCannotCarry) {
  solana::Instruction ix{wallet(), {{wallet(), true, true}}, {}};
  for (int i = 0; i < 255; ++i) ix.accounts.push_back({wallet(), false, false});
  // payer + program + 255 others = 257 distinct addresses: one too many for byte indices
  EXPECT_EQ(solana::export_transaction(ix, wallet()).error().display(), invalid("too many accounts"));
  ix.accounts.pop_back();
  EXPECT_TRUE(solana::export_transaction(ix, wallet()).ok());

  solana::Instruction big{wallet(), {{wallet(), true, true}}, std::vector<uint8_t>(0x10000)};
  EXPECT_EQ(solana::export_transaction(big, wallet()).error().display(), invalid("instruction data too long"));
  big.data.pop_back();
  EXPECT_TRUE(solana::export_transaction(big, wallet()).ok());
}

TEST(Solana, ProgramAddressSeedLimitsPanic) {
  const Pubkey program = *Pubkey::from_base58(solana::kAssociatedTokenProgramId);
  const uint8_t seed[33] = {};
  const std::vector<std::span<const uint8_t>> too_long{std::span<const uint8_t>(seed, 33)};
  const std::vector<std::span<const uint8_t>> too_many(16, std::span<const uint8_t>(seed, 1));
  const std::vector<std::span<const uint8_t>> at_limit(15, std::span<const uint8_t>(seed, 32));
  EXPECT_THROW((void)solana::find_program_address(too_long, program), Panic);
  EXPECT_THROW((void)solana::find_program_address(too_many, program), Panic);
  EXPECT_FALSE(solana::is_on_curve(solana::find_program_address(at_limit, program).address));
}
