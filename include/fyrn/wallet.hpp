// fyrn/wallet.hpp: the bytes an external wallet signs for a prepared
// transaction, in one of three signature modes.
//
// "raw" signs the signing message itself, "base58" its base58 text, and
// "offchain" a Solana off-chain message whose body is the clear-sign text, so
// that wallets able to display it show the user what is signed. Every mode is
// determined by the prepared message alone: validation rebuilds and compares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fyrn/error.hpp"
#include "fyrn/keys.hpp"
#include "fyrn/prepare.hpp"

namespace fyrn {

// SignatureMode says which bytes the wallet signs; the values are the mode
// codes.
enum class SignatureMode : uint8_t { Raw = 0, Base58 = 1, Offchain = 2 };

// signature_mode_from_str matches "raw", "base58" or "offchain" exactly;
// SigningFailed "signature mode must be raw, base58 or offchain" otherwise.
Result<SignatureMode> signature_mode_from_str(std::string_view text);
// signature_mode_name returns "raw", "base58" or "offchain".
const char* signature_mode_name(SignatureMode mode);

// WalletMessage pairs a prepared message with the bytes its wallet signs.
struct WalletMessage {
  PreparedMessage prepared;
  std::vector<uint8_t> message;                   // the bytes the wallet signs
  std::optional<std::string> clear_sign_message;  // offchain mode only
  SignatureMode signature_mode = SignatureMode::Raw;
};

// Solana off-chain message envelope (header version 0): signing domain (16),
// version (1), application domain (32), format (1), signer count (1), signer
// (32), text length (2, little-endian), text.
inline constexpr size_t kOffchainHeaderLen = 85;
inline constexpr size_t kOffchainMaxText = 65535;

// prepared_domain reads the network from the signing suffix after checking the
// record against it, in this order: actions not empty (EmptyOrders), suffix
// present, suffix nonce == nonce, account decodes and equals the suffix
// account, signer decodes, last byte is a network code.
Result<SignatureDomain> prepared_domain(const PreparedMessage& prepared);

// offchain_message returns the off-chain envelope of `text` for `domain` and
// `signer`: format byte 0 when every text byte is printable ASCII (0x20..0x7E),
// else 1. SigningFailed "offchain message exceeds 65535 bytes" for a longer text.
Result<std::vector<uint8_t>> offchain_message(std::string_view text, SignatureDomain domain, const Pubkey& signer);

// prepare_wallet_message builds the wallet message of `prepared` in `mode`,
// consuming the record. Offchain mode renders the clear-sign text and fails
// where that fails.
Result<WalletMessage> prepare_wallet_message(PreparedMessage prepared, SignatureMode mode);

// validate_wallet_message rebuilds the wallet message from its prepared
// record and mode and returns the record (which then equals the rebuilt one)
// when `message` and `clear_sign_message` equal the rebuilt ones exactly;
// SigningFailed "wallet message differs from selected encoding of the raw
// preparation" otherwise.
Result<WalletMessage> validate_wallet_message(WalletMessage wallet);

}  // namespace fyrn
