#include "fyrn/keys.hpp"

#include <sodium.h>
#include <sys/random.h>

#include <cerrno>
#include <cstring>

#include "fyrn/base58.hpp"

namespace fyrn {

void crypto_init() {
  static const bool ok = sodium_init() >= 0;
  if (!ok) throw Panic("Error: libsodium failed to initialise");
}

// Key texts come from callers: decode_into answers over-long ones in time
// linear in their length.
Result<Pubkey> Pubkey::from_base58(std::string_view text) {
  Pubkey key;
  auto len = base58::decode_into(text, key.bytes.data(), 32);
  if (!len) return std::move(len).error();
  if (*len != 32) return Error::invalid_key_length(32, *len);
  return key;
}

std::string Pubkey::to_base58() const { return base58::encode_32(bytes.data()); }

Result<Hash> Hash::from_base58(std::string_view text) {
  Hash hash;
  auto len = base58::decode_into(text, hash.bytes.data(), 32);
  if (!len) return std::move(len).error();
  if (*len != 32) return Error::invalid_hash_length(*len);
  return hash;
}

std::string Hash::to_base58() const { return base58::encode_32(bytes.data()); }

Keypair::Keypair(const Keypair& other) : pubkey_(other.pubkey_) {
  std::memcpy(sk_, other.sk_, sizeof sk_);
  std::memcpy(expanded_, other.expanded_, sizeof expanded_);
}

Keypair& Keypair::operator=(const Keypair& other) {
  if (this != &other) {
    std::memcpy(sk_, other.sk_, sizeof sk_);
    std::memcpy(expanded_, other.expanded_, sizeof expanded_);
    pubkey_ = other.pubkey_;
  }
  return *this;
}

Keypair::~Keypair() {
  sodium_memzero(sk_, sizeof sk_);
  sodium_memzero(expanded_, sizeof expanded_);
}

void Keypair::derive_from_seed(const uint8_t* seed) {
  crypto_init();
  uint8_t pk[crypto_sign_PUBLICKEYBYTES];
  crypto_sign_seed_keypair(pk, sk_, seed);
  ed25519::expand_secret(expanded_, seed);
  std::memcpy(pubkey_.bytes.data(), pk, 32);
}

Result<Keypair> Keypair::from_bytes(const uint8_t* bytes, size_t len) {
  if (len != 32 && len != 64) return Error::invalid_key_length(64, len);
  Keypair kp;
  kp.derive_from_seed(bytes);
  // The derived key is always a valid point, so byte equality also proves the
  // claimed half decompresses.
  if (len == 64 && sodium_memcmp(kp.pubkey_.bytes.data(), bytes + 32, 32) != 0) {
    return Error::keypair_mismatch();
  }
  return kp;
}

Result<Keypair> Keypair::from_base58(std::string_view text) {
  uint8_t bytes[64];
  auto len = base58::decode_into(text, bytes, sizeof bytes);
  Result<Keypair> kp = len ? from_bytes(bytes, *len) : Result<Keypair>(std::move(len).error());
  sodium_memzero(bytes, sizeof bytes);
  return kp;
}

Keypair Keypair::generate() {
  uint8_t seed[32];
  size_t got = 0;
  while (got < sizeof seed) {
    ssize_t n = getrandom(seed + got, sizeof seed - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Panic(std::string("Error: ") + std::strerror(errno));
    }
    got += static_cast<size_t>(n);
  }
  Keypair kp;
  kp.derive_from_seed(seed);
  sodium_memzero(seed, sizeof seed);
  return kp;
}

std::array<uint8_t, 64> Keypair::to_bytes() const {
  std::array<uint8_t, 64> out;
  std::memcpy(out.data(), sk_, 64);
  return out;
}

void Keypair::sign(Signature& out, const uint8_t* msg, size_t msg_len) const {
  ed25519::sign(out.data(), signing_key(), msg, msg_len);
}

bool verify_signature(const Signature& sig, const uint8_t* msg, size_t msg_len, const Pubkey& key) {
  crypto_init();
  return crypto_sign_verify_detached(sig.data(), msg, msg_len, key.bytes.data()) == 0;
}

Result<SignatureDomain> signature_domain_from_str(std::string_view text) {
  if (text == "mainnet") return SignatureDomain::Mainnet;
  if (text == "testnet") return SignatureDomain::Testnet;
  if (text == "devnet") return SignatureDomain::Devnet;
  return Error::invalid_signature_domain(std::string(text));
}

const char* signature_domain_name(SignatureDomain domain) {
  switch (domain) {
    case SignatureDomain::Mainnet: return "mainnet";
    case SignatureDomain::Testnet: return "testnet";
    case SignatureDomain::Devnet: return "devnet";
  }
  return "mainnet";  // unreachable
}

void random_bytes(uint8_t* out, size_t len) {
  crypto_init();
  randombytes_buf(out, len);
}

}  // namespace fyrn
