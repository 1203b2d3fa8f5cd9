#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fyrn/encoding.hpp"
#include "fyrn/error.hpp"
#include "fyrn/keys.hpp"
#include "fyrn/solana.hpp"

using namespace fyrn;

namespace {

std::vector<uint8_t> from_hex(std::string_view hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  return out;
}

std::string text(const char* s) { return s; }

std::string invalid(const char* reason) { return std::string("invalid Solana instruction: ") + reason; }

struct CurveVector {
  const char* hex;
  bool on_curve;
};

const CurveVector kCurveVectors[] = {
#include "data/on_curve_vectors.inc"
};

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

TEST(Encoding, Base64Rfc4648Vectors) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(base64_encode(reinterpret_cast<const uint8_t*>(in), std::strlen(in)), out) << in;
  }
  // The two characters beyond letters and digits: 111110 111111 1111(00).
  const uint8_t high[] = {0xfb, 0xff};
  EXPECT_EQ(base64_encode(high, 2), "+/8=");
}

TEST(Encoding, HexRfc4648VectorsLowercase) {
  const uint8_t foobar[] = {'f', 'o', 'o', 'b', 'a', 'r'};
  EXPECT_EQ(hex_encode(foobar, 6), "666f6f626172");
  const uint8_t edges[] = {0x00, 0x09, 0xa0, 0xff};
  EXPECT_EQ(hex_encode(edges, 4), "0009a0ff");
  EXPECT_EQ(hex_encode(edges, 0), "");
}

TEST(Solana, CompactU16MatchesShortVecTable) {
  // The table published with Solana's short_vec encoding.
  const std::pair<uint16_t, std::vector<uint8_t>> cases[] = {
      {0x0000, {0x00}},       {0x007f, {0x7f}},       {0x0080, {0x80, 0x01}},       {0x00ff, {0xff, 0x01}},
      {0x0100, {0x80, 0x02}}, {0x07ff, {0xff, 0x0f}}, {0x3fff, {0xff, 0x7f}},       {0x4000, {0x80, 0x80, 0x01}},
      {0xffff, {0xff, 0xff, 0x03}},
  };
  for (const auto& [value, bytes] : cases) {
    std::vector<uint8_t> out{0xaa};
    solana::append_compact_u16(out, value);
    out.erase(out.begin());
    EXPECT_EQ(out, bytes) << value;
  }
}

TEST(Solana, OnCurveAgreesWithDalekDecompression) {
  size_t on = 0;
  for (const auto& v : kCurveVectors) {
    Pubkey key;
    const auto raw = from_hex(v.hex);
    ASSERT_EQ(raw.size(), 32u);
    std::copy(raw.begin(), raw.end(), key.bytes.begin());
    EXPECT_EQ(solana::is_on_curve(key), v.on_curve) << v.hex;
    on += v.on_curve;
  }
  // Both outcomes are well represented, so a constant answer cannot pass.
  EXPECT_GT(on, 100u);
  EXPECT_LT(on, std::size(kCurveVectors) - 100);
}

TEST(Solana, TransactionsMatchSoldersCompiler) {
  for (const auto& v : kTransactionVectors) {
    const solana::Instruction ix{v.program_id, v.accounts, from_hex(v.data_hex)};
    auto exported = solana::export_transaction(ix, v.blockhash);
    ASSERT_TRUE(exported.ok()) << exported.error().display();
    EXPECT_EQ(*exported, v.base64);
  }
}

TEST(Solana, InstructionChecksInOrder) {
  const Pubkey derived = solana::associated_token_address(*Pubkey::from_base58(wallet()),
                                                          *Pubkey::from_base58(solana::kUsdcMint));
  const struct {
    std::string owner;
    uint64_t amount;
    std::string error;
  } cases[] = {
      {"not base58 0OIl", 0, invalid("amount must be positive")},
      {derived.to_base58(), 0, invalid("amount must be positive")},
      {"", 1, invalid("owner must be a base58 public key")},
      {"0" + wallet().substr(1), 1, invalid("owner must be a base58 public key")},
      {std::string(31, '1'), 1, invalid("owner must be a base58 public key")},
      {std::string(45, '1'), 1, invalid("owner must be a base58 public key")},
      {"1" + wallet(), 1, invalid("owner must be a base58 public key")},
      {derived.to_base58(), 1, invalid("owner must be an on-curve wallet")},
  };
  for (const bool deposit : {true, false}) {
    for (const auto& c : cases) {
      auto ix = solana::instruction(c.owner, c.amount, deposit);
      ASSERT_FALSE(ix.ok()) << c.owner;
      EXPECT_EQ(ix.error().display(), c.error) << c.owner;
    }
  }
}

TEST(Solana, ExportChecksAccountsBeforeBlockhash) {
  const std::string blockhash = wallet();
  auto good = solana::instruction(wallet(), 5, true);
  ASSERT_TRUE(good.ok());

  solana::Instruction bad_account = *good;
  bad_account.accounts[3].pubkey = "0";
  solana::Instruction bad_program = *good;
  bad_program.program_id = std::string(33, '1');
  solana::Instruction no_accounts = *good;
  no_accounts.accounts.clear();
  for (const auto& ix : {bad_account, bad_program, no_accounts}) {
    EXPECT_EQ(solana::export_transaction(ix, "bad").error().display(), invalid("invalid account public key"));
  }
  for (const std::string& hash : {text(""), std::string(31, '1'), std::string(33, '1'), "0" + blockhash.substr(1),
                                  blockhash + "1", "1" + blockhash}) {
    EXPECT_EQ(solana::export_transaction(*good, hash).error().display(),
              invalid("recent blockhash must be a base58 32-byte hash"))
        << hash;
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
  for (const auto& seeds : {too_long, too_many}) {
    try {
      (void)solana::find_program_address(seeds, program);
      ADD_FAILURE() << "expected a panic";
    } catch (const Panic& e) {
      EXPECT_STREQ(e.what(), "Unable to find a viable program address bump seed");
    }
  }
  EXPECT_FALSE(solana::is_on_curve(solana::find_program_address(at_limit, program).address));
}
