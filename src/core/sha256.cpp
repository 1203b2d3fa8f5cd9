#include "sha256.hpp"

#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace fyrn {
namespace {

constexpr uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

#if defined(__x86_64__)

alignas(16) constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

// compress runs the 64 rounds over whole 64-byte blocks with the SHA
// extensions: sha256rnds2 does two rounds on the state kept as (ABEF, CDGH),
// sha256msg1/msg2 extend the message schedule four words at a time.
__attribute__((target("sha,ssse3,sse4.1"))) void compress(uint32_t state[8], const uint8_t* data, size_t blocks) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0])), 0xB1);  // CDAB
  __m128i state1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4])), 0x1B);  // EFGH
  __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);  // ABEF
  state1 = _mm_blend_epi16(state1, tmp, 0xF0);        // CDGH

  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abef = state0;
    const __m128i cdgh = state1;
    __m128i w[16];
    for (int i = 0; i < 16; ++i) {
      if (i < 4) {
        w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byte_swap);
      } else {
        // W[t] = σ1(W[t−2]) + W[t−7] + σ0(W[t−15]) + W[t−16], four at a time.
        const __m128i partial = _mm_add_epi32(_mm_sha256msg1_epu32(w[i - 4], w[i - 3]),
                                              _mm_alignr_epi8(w[i - 1], w[i - 2], 4));
        w[i] = _mm_sha256msg2_epu32(partial, w[i - 1]);
      }
      __m128i msg = _mm_add_epi32(w[i], _mm_load_si128(reinterpret_cast<const __m128i*>(&kRound[4 * i])));
      state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
      msg = _mm_shuffle_epi32(msg, 0x0E);
      state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
    }
    state0 = _mm_add_epi32(state0, abef);
    state1 = _mm_add_epi32(state1, cdgh);
  }

  tmp = _mm_shuffle_epi32(state0, 0x1B);       // FEBA
  state1 = _mm_shuffle_epi32(state1, 0xB1);    // DCHG
  state0 = _mm_blend_epi16(tmp, state1, 0xF0); // DCBA
  state1 = _mm_alignr_epi8(state1, tmp, 8);    // HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), state0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), state1);
}

bool detect() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool ssse3 = (c & bit_SSSE3) != 0;
  const bool sse41 = (c & bit_SSE4_1) != 0;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return ssse3 && sse41 && (b & bit_SHA) != 0;
}

#else

void compress(uint32_t*, const uint8_t*, size_t) {}
bool detect() { return false; }

#endif

const bool g_native = detect();

}  // namespace

bool sha256_uses_cpu_extensions() { return g_native; }

Sha256::Sha256() : native_(g_native) {
  if (native_) {
    std::memcpy(n_.state, kInitial, sizeof kInitial);
    n_.length = 0;
    n_.buffered = 0;
  } else {
    crypto_hash_sha256_init(&sodium_);
  }
}

void Sha256::update(const uint8_t* data, size_t len) {
  if (!native_) {
    crypto_hash_sha256_update(&sodium_, data, len);
    return;
  }
  if (len == 0) return;  // data may be null then (an empty vector's data())
  n_.length += len;
  if (n_.buffered > 0) {
    const size_t take = len < 64 - n_.buffered ? len : 64 - n_.buffered;
    std::memcpy(n_.buffer + n_.buffered, data, take);
    n_.buffered += take;
    data += take;
    len -= take;
    if (n_.buffered < 64) return;
    compress(n_.state, n_.buffer, 1);
    n_.buffered = 0;
  }
  if (len >= 64) {
    compress(n_.state, data, len / 64);
    data += len / 64 * 64;
    len %= 64;
  }
  std::memcpy(n_.buffer, data, len);
  n_.buffered = len;
}

void Sha256::final(uint8_t out[32]) {
  if (!native_) {
    crypto_hash_sha256_final(&sodium_, out);
    return;
  }
  // Padding: 0x80, zeros to 56 mod 64, the bit length big-endian.
  const uint64_t bits = n_.length * 8;
  uint8_t pad[72] = {0x80};
  const size_t zeros = (n_.buffered < 56 ? 56 : 120) - n_.buffered;
  for (int i = 0; i < 8; ++i) pad[zeros + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  update(pad, zeros + 8);
  for (int i = 0; i < 8; ++i) {
    out[4 * i] = static_cast<uint8_t>(n_.state[i] >> 24);
    out[4 * i + 1] = static_cast<uint8_t>(n_.state[i] >> 16);
    out[4 * i + 2] = static_cast<uint8_t>(n_.state[i] >> 8);
    out[4 * i + 3] = static_cast<uint8_t>(n_.state[i]);
  }
}

}  // namespace fyrn
