// sha256.hpp: SHA-256 for the hashes on the signing path (order identifiers,
// the clear-sign text's signable hash). Where the CPU has the SHA extensions
// the blocks are compressed with them, about six times faster than
// libsodium's portable code; elsewhere libsodium does all of it.
#pragma once

#include <cstddef>
#include <cstdint>

#include <sodium.h>

namespace fyrn {

class Sha256 {
 public:
  Sha256();
  // update hashes data[0..len).
  void update(const uint8_t* data, size_t len);
  // final writes the 32-byte digest; the object is spent afterwards.
  void final(uint8_t out[32]);

  // hash is update then final in one call.
  static void hash(uint8_t out[32], const uint8_t* data, size_t len) {
    Sha256 h;
    h.update(data, len);
    h.final(out);
  }

 private:
  struct Native {
    uint32_t state[8];
    uint64_t length;  // bytes hashed so far
    uint8_t buffer[64];
    size_t buffered;
  };
  bool native_;
  union {
    Native n_;
    crypto_hash_sha256_state sodium_;
  };
};

// sha256_uses_cpu_extensions says whether this CPU takes the fast path.
bool sha256_uses_cpu_extensions();

}  // namespace fyrn
