// fyrn/keys.hpp: public keys, hashes, signatures, Ed25519 keypairs and the
// network domain bound into every signed message.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fyrn/ed25519.hpp"
#include "fyrn/error.hpp"

namespace fyrn {

// Pubkey is a 32-byte Ed25519 public key or any other 32-byte account address.
// Parsing does not check that the bytes are a curve point.
struct Pubkey {
  std::array<uint8_t, 32> bytes{};

  // Pubkey::from_base58 decodes text; InvalidBase58 or InvalidKeyLength(32, n).
  static Result<Pubkey> from_base58(std::string_view text);
  // to_base58 returns the base58 text of the 32 bytes.
  std::string to_base58() const;
  // data points at the 32 bytes.
  const uint8_t* data() const { return bytes.data(); }
  bool operator==(const Pubkey&) const = default;
  auto operator<=>(const Pubkey&) const = default;
};

// Hash is 32 bytes: order identifiers, client order ids, blockhashes.
struct Hash {
  std::array<uint8_t, 32> bytes{};

  // Hash::from_base58 decodes text; InvalidBase58 or InvalidHashLength(n).
  static Result<Hash> from_base58(std::string_view text);
  // to_base58 returns the base58 text of the 32 bytes.
  std::string to_base58() const;
  // data points at the 32 bytes.
  const uint8_t* data() const { return bytes.data(); }
  bool operator==(const Hash&) const = default;
};

// Signature is a 64-byte Ed25519 signature, R then S.
using Signature = std::array<uint8_t, 64>;

// Keypair is an Ed25519 signing key: the 32-byte seed, its derived public key
// and its expanded secret (SHA-512 of the seed, clamped: computed once here
// instead of on every signature). The secrets are wiped when the keypair is
// destroyed.
class Keypair {
 public:
  Keypair(const Keypair& other);
  Keypair& operator=(const Keypair& other);
  ~Keypair();

  // Keypair::from_bytes accepts a 32-byte seed or a 64-byte seed ‖ public key
  // whose public half equals the key derived from the seed (KeypairMismatch
  // otherwise). Any other length: InvalidKeyLength(64, len).
  static Result<Keypair> from_bytes(const uint8_t* bytes, size_t len);
  // Keypair::from_base58 decodes text, then from_bytes.
  static Result<Keypair> from_base58(std::string_view text);
  // Keypair::generate draws a fresh seed from the OS (throws Panic if the OS
  // random source fails).
  static Keypair generate();

  // pubkey returns the public key derived from the seed.
  const Pubkey& pubkey() const { return pubkey_; }
  // seed returns the 32-byte secret seed.
  const uint8_t* seed() const { return sk_; }
  // to_bytes returns the 64-byte serial form, seed ‖ public key.
  std::array<uint8_t, 64> to_bytes() const;

  // sign writes the pure Ed25519 (RFC 8032) signature of msg[0..msg_len) to
  // out, on the process's signing backend (fyrn/ed25519.hpp).
  void sign(Signature& out, const uint8_t* msg, size_t msg_len) const;
  // signing_key points at this keypair's secrets, for ed25519::sign_many; it
  // is valid while the keypair lives.
  ed25519::SigningKey signing_key() const { return ed25519::SigningKey{sk_, expanded_}; }

 private:
  Keypair() = default;
  void derive_from_seed(const uint8_t* seed);

  uint8_t sk_[64]{};        // libsodium layout: seed ‖ public key
  uint8_t expanded_[64]{};  // ed25519::expand_secret(seed)
  Pubkey pubkey_;
};

// verify_signature is strict Ed25519 verification (refuses small-order keys and
// R, and non-canonical S).
bool verify_signature(const Signature& sig, const uint8_t* msg, size_t msg_len, const Pubkey& key);

// SignatureDomain is the network a transaction is bound to; its byte value ends
// every signed message.
enum class SignatureDomain : uint8_t { Mainnet = 1, Testnet = 2, Devnet = 3 };

// signature_domain_from_str matches "mainnet", "testnet" or "devnet" exactly.
Result<SignatureDomain> signature_domain_from_str(std::string_view text);
// signature_domain_name returns "mainnet", "testnet" or "devnet".
const char* signature_domain_name(SignatureDomain domain);
// signature_domain_byte returns the byte that ends every message signed for
// `domain`.
inline uint8_t signature_domain_byte(SignatureDomain domain) { return static_cast<uint8_t>(domain); }

// random_bytes fills out from the calling thread's CSPRNG (libsodium's
// randombytes, seeded from the OS).
void random_bytes(uint8_t* out, size_t len);

// crypto_init initialises libsodium once per process; throws Panic on failure.
void crypto_init();

}  // namespace fyrn
