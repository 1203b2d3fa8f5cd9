#include "fyrn/error.hpp"

namespace fyrn {

std::string Error::display() const {
  switch (kind_) {
    case ErrorKind::InvalidInstruction:
      return "invalid Solana instruction: " + text_;
    case ErrorKind::LegacyWithdrawal:
      return "legacy Fyrn withdrawal actions are unsupported; use solana::request_withdraw "
             "to build a Solana withdrawal intent";
    case ErrorKind::InvalidBase58:
      return "invalid base58: " + text_;
    case ErrorKind::InvalidKeyLength:
      return "invalid key length: expected " + std::to_string(expected_) + ", got " + std::to_string(got_);
    case ErrorKind::KeypairMismatch:
      return "keypair public key does not match its secret key";
    case ErrorKind::InvalidHashLength:
      return "invalid hash length: expected 32 bytes, got " + std::to_string(got_);
    case ErrorKind::InvalidSignatureLength:
      return "invalid signature length: expected 64 bytes, got " + std::to_string(got_);
    case ErrorKind::InvalidSignatureDomain:
      return "invalid signature domain '" + text_ + "'; expected mainnet, testnet, or devnet";
    case ErrorKind::InvalidNonce:
      return "invalid nonce '" + text_ + "'; expected an unsigned 64-bit decimal string";
    case ErrorKind::SigningFailed:
      return "signing failed: " + text_;
    case ErrorKind::EmptyOrders:
      return "orders array cannot be empty";
    case ErrorKind::SignatureCountMismatch:
      return "signature count mismatch: expected " + std::to_string(expected_) + ", got " + std::to_string(got_);
    case ErrorKind::InvalidOrder:
      return "invalid order: " + text_;
    case ErrorKind::Serialization:
      return "serialization error: " + text_;
    case ErrorKind::Json:
      return "json error: " + text_;
  }
  return "unknown error";  // unreachable: the switch covers every kind
}

}  // namespace fyrn
