// fyrn/solana.hpp: unsigned Solana mainnet USDC funding transactions.
//
// Margin enters the exchange as USDC through a deposit instruction and leaves
// it after a withdrawal intent. The library only builds these pieces; the
// owner's own wallet signs and submits them. Everything here targets mainnet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fyrn/error.hpp"
#include "fyrn/keys.hpp"

namespace fyrn::solana {

// Fixed mainnet addresses.
inline constexpr std::string_view kExchangeProgramId = "DHg5DcgAaC5qmgsdmpw2A7X6kzd69H17kRh56RszTkmD";
inline constexpr std::string_view kExchangeAccount = "AiNv1GXds37RYNz3vtxVdDy4Z5YkwBFaqrj9Xd7643uE";
inline constexpr std::string_view kExchangeUsdcAccount = "38MyfX4dAKDNBY4FYk4cFnsqZgEckBKkFLMjJYioa7pa";
inline constexpr std::string_view kUsdcMint = "EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v";
inline constexpr std::string_view kTokenProgramId = "TokenkegQfeZyiNwAJbNbGKPFXCWuBvf9Ss623VQ5DA";
inline constexpr std::string_view kAssociatedTokenProgramId = "ATokenGPvbdGVxr1b2hvZbsiqW5xWH25efTNsLJA8knL";

// Instruction tags (first data byte) of the exchange program.
inline constexpr uint8_t kDepositTag = 2;
inline constexpr uint8_t kWithdrawIntentTag = 4;

// AccountMeta is one account of an instruction, address in base58.
struct AccountMeta {
  std::string pubkey;
  bool is_signer = false;
  bool is_writable = false;
  bool operator==(const AccountMeta&) const = default;
};

// Instruction is one Solana instruction: the program it invokes, its accounts
// in order and its data bytes.
struct Instruction {
  std::string program_id;
  std::vector<AccountMeta> accounts;
  std::vector<uint8_t> data;
  bool operator==(const Instruction&) const = default;
};

// ProgramAddress is a program-derived address and the bump seed that found it.
struct ProgramAddress {
  Pubkey address;
  uint8_t bump = 0;
};

// is_on_curve reports whether key decompresses to an Ed25519 point (any point,
// not only the prime-order subgroup): wallets are on the curve, program-derived
// addresses are not.
bool is_on_curve(const Pubkey& key);

// find_program_address searches bump = 255, 254, ..., 1 for the first
// SHA-256(seeds ‖ bump ‖ program_id ‖ "ProgramDerivedAddress") that is off the
// curve. Throws Panic("Unable to find a viable program address bump seed") when
// no bump works, or when the seeds break the chain's limits (at most 15 seeds
// of at most 32 bytes each).
ProgramAddress find_program_address(std::span<const std::span<const uint8_t>> seeds, const Pubkey& program_id);

// associated_token_address returns owner's associated token account for mint
// under the SPL Token program.
Pubkey associated_token_address(const Pubkey& owner, const Pubkey& mint);

// instruction builds the USDC deposit (deposit = true) or withdrawal-intent
// instruction for owner, amount in USDC base units. Checked in this order:
// amount > 0 ("amount must be positive"), owner is canonical base58 of 32
// bytes ("owner must be a base58 public key"), owner is on the curve ("owner
// must be an on-curve wallet"); each failure is InvalidInstruction.
Result<Instruction> instruction(std::string_view owner, uint64_t amount, bool deposit);

// serialize_unsigned_transaction compiles ix into a legacy message with its
// first account as fee payer and returns the wire form of a transaction
// carrying that message and one all-zero signature per required signer.
// InvalidInstruction "invalid account public key" for an address that is not
// canonical base58 of 32 bytes (or no accounts at all), then "recent blockhash
// must be a base58 32-byte hash", then "too many accounts" / "instruction data
// too long" when the message cannot be encoded.
Result<std::vector<uint8_t>> serialize_unsigned_transaction(const Instruction& ix, std::string_view recent_blockhash);

// export_transaction is serialize_unsigned_transaction, base64-encoded.
Result<std::string> export_transaction(const Instruction& ix, std::string_view recent_blockhash);

// append_compact_u16 appends Solana's compact-u16 length encoding of value:
// seven bits per byte, least significant first, high bit set on all but the
// last byte (one to three bytes).
void append_compact_u16(std::vector<uint8_t>& out, uint16_t value);

}  // namespace fyrn::solana
