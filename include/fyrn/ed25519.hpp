// fyrn/ed25519.hpp: Ed25519 signing (RFC 8032, pure Ed25519), bit for bit the
// signatures of libsodium's crypto_sign_detached, on the fastest backend this
// CPU has. Verification, key derivation and point decompression stay with
// libsodium (fyrn/keys.hpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace fyrn::ed25519 {

// Backend is a signing implementation. Both give identical signatures.
//   Ifma:   this library's constant-time kernels on AVX-512 IFMA (x86-64 with
//           AVX-512 F, VL and IFMA, vector state enabled by the OS).
//   Sodium: libsodium's crypto_sign_detached; runs everywhere.
enum class Backend : uint8_t { Ifma, Sodium };

// backend_supported says whether this build and CPU can run `backend`.
bool backend_supported(Backend backend);
// active_backend returns the backend chosen for this process: Ifma where
// supported (and not left out of the build with -DFYRN_SIGN_BACKEND=sodium),
// Sodium otherwise. Chosen once, from the CPU alone.
Backend active_backend();
// backend_name returns "ifma" or "sodium".
const char* backend_name(Backend backend);

// expand_secret writes SHA-512(seed) with its first half clamped as RFC 8032
// says: bytes 0..32 are the secret scalar a, bytes 32..64 the nonce prefix.
void expand_secret(uint8_t expanded[64], const uint8_t seed[32]);

// SigningKey points at one key's secret material; it owns nothing.
//   secret:   64 bytes, seed ‖ public key (libsodium's layout);
//   expanded: 64 bytes, expand_secret(seed).
struct SigningKey {
  const uint8_t* secret;
  const uint8_t* expanded;
};

// SignInput is one message of a sign_many call. msg may be null when
// msg_len is 0.
struct SignInput {
  SigningKey key;
  const uint8_t* msg;
  size_t msg_len;
};

// sign writes the 64-byte signature R ‖ S of msg[0..msg_len) to out, on the
// active backend or on `backend` (which must be supported; an unsupported
// one signs with Sodium). out must not overlap msg. Secret temporaries are
// wiped before it returns.
void sign(uint8_t out[64], const SigningKey& key, const uint8_t* msg, size_t msg_len);
void sign(uint8_t out[64], const SigningKey& key, const uint8_t* msg, size_t msg_len, Backend backend);

// sign_many writes out[i] = the signature of in[i] for i < n (any n; keys
// and message lengths may differ). The same signatures as n sign calls,
// cheaper per message from four or so messages on. No out[i] may overlap any
// message.
void sign_many(uint8_t (*out)[64], const SignInput* in, size_t n);
void sign_many(uint8_t (*out)[64], const SignInput* in, size_t n, Backend backend);

}  // namespace fyrn::ed25519
