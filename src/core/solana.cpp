#include "fyrn/solana.hpp"

#include <sodium.h>

#include <map>
#include <optional>

#include "fyrn/encoding.hpp"

namespace fyrn::solana {
namespace {

constexpr size_t kMaxSeeds = 16;  // including the bump seed
constexpr size_t kMaxSeedLen = 32;
constexpr char kPdaMarker[] = "ProgramDerivedAddress";

// parse_address accepts exactly the canonical base58 text of 32 bytes. The
// decoder maps leading '1's one-to-one onto leading zero bytes, so a successful
// 32-byte decode is already canonical; the length bound (the longest 32-byte
// text has 44 characters) also keeps hostile inputs from costing quadratic
// decoding time.
std::optional<Pubkey> parse_address(std::string_view text) {
  if (text.size() > 44) return std::nullopt;
  auto key = Pubkey::from_base58(text);
  if (!key) return std::nullopt;
  return *key;
}

// fixed decodes one of this file's address constants.
Pubkey fixed(std::string_view text) {
  auto key = parse_address(text);
  if (!key) throw Panic("malformed built-in Solana address");
  return *key;
}

const Pubkey& token_program() {
  static const Pubkey key = fixed(kTokenProgramId);
  return key;
}

const Pubkey& associated_token_program() {
  static const Pubkey key = fixed(kAssociatedTokenProgramId);
  return key;
}

const Pubkey& usdc_mint() {
  static const Pubkey key = fixed(kUsdcMint);
  return key;
}

Error invalid(const char* reason) { return Error::invalid_instruction(reason); }

}  // namespace

bool is_on_curve(const Pubkey& key) {
  crypto_init();
  // Adding the identity succeeds exactly when the encoding decompresses.
  // crypto_core_ed25519_is_valid_point would also demand the prime-order
  // subgroup and misjudge many wallets and derived addresses.
  static constexpr uint8_t kIdentity[32] = {1};
  uint8_t sum[32];
  return crypto_core_ed25519_add(sum, key.data(), kIdentity) == 0;
}

ProgramAddress find_program_address(std::span<const std::span<const uint8_t>> seeds, const Pubkey& program_id) {
  bool seeds_ok = seeds.size() < kMaxSeeds;
  for (const auto& seed : seeds) seeds_ok = seeds_ok && seed.size() <= kMaxSeedLen;
  if (seeds_ok) {
    // 255 down to 1, as the chain searches; bump 0 is never tried.
    for (int bump = 255; bump >= 1; --bump) {
      const uint8_t bump_byte = static_cast<uint8_t>(bump);
      crypto_hash_sha256_state state;
      crypto_hash_sha256_init(&state);
      for (const auto& seed : seeds) crypto_hash_sha256_update(&state, seed.data(), seed.size());
      crypto_hash_sha256_update(&state, &bump_byte, 1);
      crypto_hash_sha256_update(&state, program_id.data(), 32);
      crypto_hash_sha256_update(&state, reinterpret_cast<const uint8_t*>(kPdaMarker), sizeof kPdaMarker - 1);
      ProgramAddress found;
      crypto_hash_sha256_final(&state, found.address.bytes.data());
      if (!is_on_curve(found.address)) {
        found.bump = bump_byte;
        return found;
      }
    }
  }
  throw Panic("Unable to find a viable program address bump seed");
}

Pubkey associated_token_address(const Pubkey& owner, const Pubkey& mint) {
  const std::span<const uint8_t> seeds[] = {owner.bytes, token_program().bytes, mint.bytes};
  return find_program_address(seeds, associated_token_program()).address;
}

Result<Instruction> instruction(std::string_view owner, uint64_t amount, bool deposit) {
  if (amount == 0) return invalid("amount must be positive");
  const auto owner_key = parse_address(owner);
  if (!owner_key) return invalid("owner must be a base58 public key");
  if (!is_on_curve(*owner_key)) return invalid("owner must be an on-curve wallet");
  const Pubkey owner_usdc = associated_token_address(*owner_key, usdc_mint());

  Instruction ix;
  ix.program_id = kExchangeProgramId;
  ix.accounts = {
      {std::string(owner), true, true},
      {owner_usdc.to_base58(), false, deposit},
      {std::string(kExchangeAccount), false, false},
      {std::string(kUsdcMint), false, false},
      {std::string(kExchangeUsdcAccount), false, deposit},
  };
  if (deposit) ix.accounts.push_back({std::string(kTokenProgramId), false, false});
  ix.data.resize(9);
  ix.data[0] = deposit ? kDepositTag : kWithdrawIntentTag;
  for (int i = 0; i < 8; ++i) ix.data[1 + i] = static_cast<uint8_t>(amount >> (8 * i));
  return ix;
}

void append_compact_u16(std::vector<uint8_t>& out, uint16_t value) {
  uint32_t rest = value;
  while (rest >= 0x80) {
    out.push_back(static_cast<uint8_t>((rest & 0x7f) | 0x80));
    rest >>= 7;
  }
  out.push_back(static_cast<uint8_t>(rest));
}

Result<std::vector<uint8_t>> serialize_unsigned_transaction(const Instruction& ix, std::string_view recent_blockhash) {
  std::vector<Pubkey> account_keys;
  account_keys.reserve(ix.accounts.size());
  for (const auto& meta : ix.accounts) {
    auto key = parse_address(meta.pubkey);
    if (!key) return invalid("invalid account public key");
    account_keys.push_back(*key);
  }
  const auto program_key = parse_address(ix.program_id);
  if (!program_key || account_keys.empty()) return invalid("invalid account public key");
  const auto blockhash = parse_address(recent_blockhash);
  if (!blockhash) return invalid("recent blockhash must be a base58 32-byte hash");

  // Merge every address into one entry with the union of its flags, as the
  // chain's legacy compiler does; the program id is invoked, read-only and
  // unsigned unless an account entry says otherwise; the fee payer signs and
  // is writable. The map keeps addresses in ascending byte order.
  struct Flags {
    bool signer = false;
    bool writable = false;
    uint8_t index = 0;
  };
  std::map<Pubkey, Flags> flags;
  flags[*program_key];
  for (size_t i = 0; i < account_keys.size(); ++i) {
    Flags& f = flags[account_keys[i]];
    f.signer |= ix.accounts[i].is_signer;
    f.writable |= ix.accounts[i].is_writable;
  }
  const Pubkey& payer = account_keys.front();
  flags[payer] = {true, true, 0};
  if (flags.size() > 256) return invalid("too many accounts");

  std::vector<Pubkey> keys{payer};
  size_t readonly_signed = 0, readonly_unsigned = 0;
  for (const bool signer : {true, false}) {
    for (const bool writable : {true, false}) {
      for (auto& [key, f] : flags) {
        if (key == payer || f.signer != signer || f.writable != writable) continue;
        f.index = static_cast<uint8_t>(keys.size());
        keys.push_back(key);
        if (signer && !writable) ++readonly_signed;
        if (!signer && !writable) ++readonly_unsigned;
      }
    }
  }
  size_t signers = 0;
  for (const auto& [key, f] : flags) signers += f.signer;
  if (signers > 255 || readonly_unsigned > 255) return invalid("too many accounts");
  if (ix.accounts.size() > 0xffff) return invalid("too many accounts");
  if (ix.data.size() > 0xffff) return invalid("instruction data too long");

  std::vector<uint8_t> out;
  out.reserve(1 + 64 * signers + 3 + 3 + 32 * keys.size() + 32 + 16 + ix.accounts.size() + ix.data.size());
  append_compact_u16(out, static_cast<uint16_t>(signers));
  out.resize(out.size() + 64 * signers, 0);
  out.push_back(static_cast<uint8_t>(signers));
  out.push_back(static_cast<uint8_t>(readonly_signed));
  out.push_back(static_cast<uint8_t>(readonly_unsigned));
  append_compact_u16(out, static_cast<uint16_t>(keys.size()));
  for (const Pubkey& key : keys) out.insert(out.end(), key.bytes.begin(), key.bytes.end());
  out.insert(out.end(), blockhash->bytes.begin(), blockhash->bytes.end());
  append_compact_u16(out, 1);
  out.push_back(flags.at(*program_key).index);
  append_compact_u16(out, static_cast<uint16_t>(ix.accounts.size()));
  for (const Pubkey& key : account_keys) out.push_back(flags.at(key).index);
  append_compact_u16(out, static_cast<uint16_t>(ix.data.size()));
  out.insert(out.end(), ix.data.begin(), ix.data.end());
  return out;
}

Result<std::string> export_transaction(const Instruction& ix, std::string_view recent_blockhash) {
  auto bytes = serialize_unsigned_transaction(ix, recent_blockhash);
  if (!bytes) return std::move(bytes).error();
  return base64_encode(bytes->data(), bytes->size());
}

}  // namespace fyrn::solana
