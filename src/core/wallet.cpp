#include "fyrn/wallet.hpp"

#include <cstring>
#include <utility>

#include "fyrn/base58.hpp"
#include "fyrn/clear_sign.hpp"

namespace fyrn {

namespace {

// 0xFF then "solana offchain": the signing domain that keeps an off-chain
// message from ever parsing as a Solana transaction.
constexpr uint8_t kSigningDomain[16] = {0xff, 's', 'o', 'l', 'a', 'n', 'a', ' ',
                                        'o',  'f', 'f', 'c', 'h', 'a', 'i', 'n'};

Error differs() { return Error::signing_failed("prepared account or nonce differs from raw signing bytes"); }

}  // namespace

Result<SignatureMode> signature_mode_from_str(std::string_view text) {
  if (text == "raw") return SignatureMode::Raw;
  if (text == "base58") return SignatureMode::Base58;
  if (text == "offchain") return SignatureMode::Offchain;
  return Error::signing_failed("signature mode must be raw, base58 or offchain");
}

const char* signature_mode_name(SignatureMode mode) {
  switch (mode) {
    case SignatureMode::Raw: return "raw";
    case SignatureMode::Base58: return "base58";
    case SignatureMode::Offchain: return "offchain";
  }
  return "raw";  // unreachable
}

namespace {

// CheckedRecord is what the record checks yield: the network and the decoded
// signer, which the offchain envelope needs again.
struct CheckedRecord {
  SignatureDomain domain;
  Pubkey signer;
};

Result<CheckedRecord> check_record(const PreparedMessage& prepared) {
  if (prepared.actions.empty()) return Error::empty_orders();
  const std::vector<uint8_t>& bytes = prepared.message_bytes;
  if (bytes.size() < kSigningSuffixLen) {
    return Error::signing_failed("prepared message is missing its signing suffix");
  }
  const uint8_t* suffix = bytes.data() + bytes.size() - kSigningSuffixLen;
  uint64_t nonce = 0;
  for (int i = 7; i >= 0; --i) nonce = (nonce << 8) | suffix[i];
  if (nonce != prepared.nonce) return differs();
  auto account = Pubkey::from_base58(prepared.account);
  if (!account) return std::move(account).error();
  if (std::memcmp(account->data(), suffix + 8, 32) != 0) return differs();
  // The signer is usually the account itself: decoded once then.
  auto signer = prepared.signer == prepared.account ? account : Pubkey::from_base58(prepared.signer);
  if (!signer) return std::move(signer).error();
  switch (bytes.back()) {
    case 1: return CheckedRecord{SignatureDomain::Mainnet, *signer};
    case 2: return CheckedRecord{SignatureDomain::Testnet, *signer};
    case 3: return CheckedRecord{SignatureDomain::Devnet, *signer};
    default: return Error::signing_failed("prepared message has an invalid network domain");
  }
}

}  // namespace

Result<SignatureDomain> prepared_domain(const PreparedMessage& prepared) {
  auto checked = check_record(prepared);
  if (!checked) return std::move(checked).error();
  return checked->domain;
}

Result<std::vector<uint8_t>> offchain_message(std::string_view text, SignatureDomain domain, const Pubkey& signer) {
  if (text.size() > kOffchainMaxText) return Error::signing_failed("offchain message exceeds 65535 bytes");
  bool restricted_ascii = true;
  for (const char c : text) {
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x20 || b > 0x7e) {
      restricted_ascii = false;
      break;
    }
  }
  std::vector<uint8_t> out(kOffchainHeaderLen + text.size());  // zero-filled
  uint8_t* p = out.data();
  std::memcpy(p, kSigningDomain, 16);
  p[16] = 0;                             // header version
  p[17] = signature_domain_byte(domain);  // application domain: network code, then 31 zero bytes
  p[49] = restricted_ascii ? 0 : 1;      // restricted ASCII / limited UTF-8
  p[50] = 1;                             // one signer
  std::memcpy(p + 51, signer.data(), 32);
  p[83] = static_cast<uint8_t>(text.size() & 0xff);
  p[84] = static_cast<uint8_t>(text.size() >> 8);
  if (!text.empty()) std::memcpy(p + kOffchainHeaderLen, text.data(), text.size());
  return out;
}

namespace {

// WalletBytes is what a mode derives from a prepared record: the bytes the
// wallet signs and, offchain, the text it shows.
struct WalletBytes {
  std::vector<uint8_t> message;
  std::optional<std::string> clear_sign_message;
};

Result<WalletBytes> wallet_bytes(const PreparedMessage& prepared, SignatureMode mode) {
  auto checked = check_record(prepared);
  if (!checked) return std::move(checked).error();

  WalletBytes out;
  switch (mode) {
    case SignatureMode::Raw:
      out.message = prepared.message_bytes;
      break;
    case SignatureMode::Base58: {
      const std::string text = base58::encode(prepared.message_bytes.data(), prepared.message_bytes.size());
      out.message.assign(text.begin(), text.end());
      break;
    }
    case SignatureMode::Offchain: {
      auto text = build_clear_sign_text(prepared, checked->domain);
      if (!text) return std::move(text).error();
      // The signer was decoded by the record checks.
      auto envelope = offchain_message(*text, checked->domain, checked->signer);
      if (!envelope) return std::move(envelope).error();
      out.message = std::move(*envelope);
      out.clear_sign_message = std::move(*text);
      break;
    }
    default:  // a code cast from an unchecked byte
      return Error::signing_failed("signature mode must be raw, base58 or offchain");
  }
  return out;
}

}  // namespace

Result<WalletMessage> prepare_wallet_message(PreparedMessage prepared, SignatureMode mode) {
  auto bytes = wallet_bytes(prepared, mode);
  if (!bytes) return std::move(bytes).error();
  WalletMessage wallet;
  wallet.signature_mode = mode;
  wallet.message = std::move(bytes->message);
  wallet.clear_sign_message = std::move(bytes->clear_sign_message);
  wallet.prepared = std::move(prepared);
  return wallet;
}

Result<WalletMessage> validate_wallet_message(WalletMessage wallet) {
  // Rebuilt from the record itself, not from a copy of it: the record (its
  // actions) is never copied.
  auto rebuilt = wallet_bytes(wallet.prepared, wallet.signature_mode);
  if (!rebuilt) return std::move(rebuilt).error();
  if (rebuilt->message != wallet.message || rebuilt->clear_sign_message != wallet.clear_sign_message) {
    return Error::signing_failed("wallet message differs from selected encoding of the raw preparation");
  }
  return wallet;
}

}  // namespace fyrn
