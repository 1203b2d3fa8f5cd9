#include "sha512x8.hpp"

#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace fyrn::ed25519 {
namespace {

constexpr uint64_t kInitial[8] = {0x6a09e667f3bcc908ULL, 0xbb67ae8584caa73bULL, 0x3c6ef372fe94f82bULL,
                                  0xa54ff53a5f1d36f1ULL, 0x510e527fade682d1ULL, 0x9b05688c2b3e6c1fULL,
                                  0x1f83d9abfb41bd6bULL, 0x5be0cd19137e2179ULL};

alignas(64) constexpr uint64_t kRound[80] = {
    0x428a2f98d728ae22ULL, 0x7137449123ef65cdULL, 0xb5c0fbcfec4d3b2fULL, 0xe9b5dba58189dbbcULL,
    0x3956c25bf348b538ULL, 0x59f111f1b605d019ULL, 0x923f82a4af194f9bULL, 0xab1c5ed5da6d8118ULL,
    0xd807aa98a3030242ULL, 0x12835b0145706fbeULL, 0x243185be4ee4b28cULL, 0x550c7dc3d5ffb4e2ULL,
    0x72be5d74f27b896fULL, 0x80deb1fe3b1696b1ULL, 0x9bdc06a725c71235ULL, 0xc19bf174cf692694ULL,
    0xe49b69c19ef14ad2ULL, 0xefbe4786384f25e3ULL, 0x0fc19dc68b8cd5b5ULL, 0x240ca1cc77ac9c65ULL,
    0x2de92c6f592b0275ULL, 0x4a7484aa6ea6e483ULL, 0x5cb0a9dcbd41fbd4ULL, 0x76f988da831153b5ULL,
    0x983e5152ee66dfabULL, 0xa831c66d2db43210ULL, 0xb00327c898fb213fULL, 0xbf597fc7beef0ee4ULL,
    0xc6e00bf33da88fc2ULL, 0xd5a79147930aa725ULL, 0x06ca6351e003826fULL, 0x142929670a0e6e70ULL,
    0x27b70a8546d22ffcULL, 0x2e1b21385c26c926ULL, 0x4d2c6dfc5ac42aedULL, 0x53380d139d95b3dfULL,
    0x650a73548baf63deULL, 0x766a0abb3c77b2a8ULL, 0x81c2c92e47edaee6ULL, 0x92722c851482353bULL,
    0xa2bfe8a14cf10364ULL, 0xa81a664bbc423001ULL, 0xc24b8b70d0f89791ULL, 0xc76c51a30654be30ULL,
    0xd192e819d6ef5218ULL, 0xd69906245565a910ULL, 0xf40e35855771202aULL, 0x106aa07032bbd1b8ULL,
    0x19a4c116b8d2d0c8ULL, 0x1e376c085141ab53ULL, 0x2748774cdf8eeb99ULL, 0x34b0bcb5e19b48a8ULL,
    0x391c0cb3c5c95a63ULL, 0x4ed8aa4ae3418acbULL, 0x5b9cca4f7763e373ULL, 0x682e6ff3d6b2b8a3ULL,
    0x748f82ee5defb2fcULL, 0x78a5636f43172f60ULL, 0x84c87814a1f0ab72ULL, 0x8cc702081a6439ecULL,
    0x90befffa23631e28ULL, 0xa4506cebde82bde9ULL, 0xbef9a3f7b2c67915ULL, 0xc67178f2e372532bULL,
    0xca273eceea26619cULL, 0xd186b8c721c0c207ULL, 0xeada7dd6cde0eb1eULL, 0xf57d4f7fee6ed178ULL,
    0x06f067aa72176fbaULL, 0x0a637dc5a2c898a6ULL, 0x113f9804bef90daeULL, 0x1b710b35131c471bULL,
    0x28db77f523047d84ULL, 0x32caab7b40c72493ULL, 0x3c9ebe0a15c9bebcULL, 0x431d67c49c100d4cULL,
    0x4cc5d4becb3e42b6ULL, 0x597f299cfc657e2aULL, 0x5fcb6fab3ad6faecULL, 0x6c44198c4a475817ULL,
};

// wipe clears a buffer that held secret bytes in a way the compiler cannot
// drop as a dead store.
inline void wipe(void* p, size_t len) {
  std::memset(p, 0, len);
  __asm__ __volatile__("" : : "r"(p) : "memory");
}

inline uint64_t load_be64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

inline void store_be64(uint8_t* p, uint64_t v) {
  v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}

inline uint64_t ror(uint64_t x, int n) { return (x >> n) | (x << (64 - n)); }

// compress runs the 80 rounds over `blocks` consecutive 128-byte blocks. The
// sixteen-word schedule lives in a ring; sixteen rounds per loop turn keep the
// working variables' names fixed.
void compress(uint64_t state[8], const uint8_t* data, size_t blocks) {
  uint64_t w[16];
  for (; blocks > 0; --blocks, data += 128) {
    for (int i = 0; i < 16; ++i) w[i] = load_be64(data + 8 * i);
    uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
#define FYRN_SHA512_ROUND(a, b, c, d, e, f, g, h, i)                                                \
  do {                                                                                              \
    if (t > 0) {                                                                                    \
      const uint64_t w15 = w[(i + 1) & 15], w2 = w[(i + 14) & 15];                                  \
      w[i] += (ror(w2, 19) ^ ror(w2, 61) ^ (w2 >> 6)) + w[(i + 9) & 15] +                           \
              (ror(w15, 1) ^ ror(w15, 8) ^ (w15 >> 7));                                             \
    }                                                                                               \
    h += (ror(e, 14) ^ ror(e, 18) ^ ror(e, 41)) + (g ^ (e & (f ^ g))) + kRound[t + i] + w[i];       \
    d += h;                                                                                         \
    h += (ror(a, 28) ^ ror(a, 34) ^ ror(a, 39)) + ((a & b) | (c & (a | b)));                        \
  } while (0)
    for (int t = 0; t < 80; t += 16) {
      FYRN_SHA512_ROUND(a, b, c, d, e, f, g, h, 0);
      FYRN_SHA512_ROUND(h, a, b, c, d, e, f, g, 1);
      FYRN_SHA512_ROUND(g, h, a, b, c, d, e, f, 2);
      FYRN_SHA512_ROUND(f, g, h, a, b, c, d, e, 3);
      FYRN_SHA512_ROUND(e, f, g, h, a, b, c, d, 4);
      FYRN_SHA512_ROUND(d, e, f, g, h, a, b, c, 5);
      FYRN_SHA512_ROUND(c, d, e, f, g, h, a, b, 6);
      FYRN_SHA512_ROUND(b, c, d, e, f, g, h, a, 7);
      FYRN_SHA512_ROUND(a, b, c, d, e, f, g, h, 8);
      FYRN_SHA512_ROUND(h, a, b, c, d, e, f, g, 9);
      FYRN_SHA512_ROUND(g, h, a, b, c, d, e, f, 10);
      FYRN_SHA512_ROUND(f, g, h, a, b, c, d, e, 11);
      FYRN_SHA512_ROUND(e, f, g, h, a, b, c, d, 12);
      FYRN_SHA512_ROUND(d, e, f, g, h, a, b, c, 13);
      FYRN_SHA512_ROUND(c, d, e, f, g, h, a, b, 14);
      FYRN_SHA512_ROUND(b, c, d, e, f, g, h, a, 15);
    }
#undef FYRN_SHA512_ROUND
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
  wipe(w, sizeof w);
}

// block_count is the number of 128-byte blocks of a padded message of `total`
// bytes (0x80, zeros, then the 128-bit bit length).
inline size_t block_count(size_t total) { return (total + 16) / 128 + 1; }

// write_padding ends a final block holding `used` message bytes in buf (room
// for two blocks) and returns the number of blocks to compress.
size_t write_padding(uint8_t* buf, size_t used, size_t total) {
  const size_t blocks = used < 112 ? 1 : 2;
  buf[used] = 0x80;
  std::memset(buf + used + 1, 0, blocks * 128 - 16 - used - 1);
  store_be64(buf + blocks * 128 - 16, static_cast<uint64_t>(total) >> 61);
  store_be64(buf + blocks * 128 - 8, static_cast<uint64_t>(total) << 3);
  return blocks;
}

}  // namespace

void sha512_1(uint8_t out[64], const Sha512Input& in) {
  uint64_t state[8];
  std::memcpy(state, kInitial, sizeof state);
  uint8_t buf[256];
  size_t used = 0;
  const uint8_t* body = in.body;
  size_t body_len = in.body_len;
  if (in.head_len > 0) {
    // The head and the start of the body make the first block.
    std::memcpy(buf, in.head, in.head_len);
    const size_t take = body_len < 128 - in.head_len ? body_len : 128 - in.head_len;
    if (take > 0) std::memcpy(buf + in.head_len, body, take);
    body += take;
    body_len -= take;
    used = in.head_len + take;
    if (used == 128) {
      compress(state, buf, 1);
      used = 0;
    }
  }
  const size_t full = body_len / 128;
  compress(state, body, full);
  body += full * 128;
  body_len -= full * 128;
  if (body_len > 0) std::memcpy(buf + used, body, body_len);
  used += body_len;
  compress(state, buf, write_padding(buf, used, in.head_len + in.body_len));
  for (int i = 0; i < 8; ++i) store_be64(out + 8 * i, state[i]);
  wipe(buf, sizeof buf);
  wipe(state, sizeof state);
}

void sha512_x8_portable(uint8_t (*out)[64], const Sha512Input* in, size_t n) {
  for (size_t i = 0; i < n; ++i) sha512_1(out[i], in[i]);
}

#if defined(__x86_64__)

// GCC 12 reports the self-initialised placeholder inside its own AVX-512
// intrinsics (_mm512_undefined_epi32) as uninitialised once they are
// inlined into a function with a target attribute.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

namespace {

// fill_block writes block `j` of the padded message `in` (`total` bytes of
// message, `blocks` blocks in all) to dst[0..128).
void fill_block(uint8_t* dst, const Sha512Input& in, size_t total, size_t j, size_t blocks) {
  const size_t start = j * 128;
  size_t written = 0;
  if (start < total) {
    const size_t end = total < start + 128 ? total : start + 128;
    if (start < in.head_len) {
      const size_t stop = end < in.head_len ? end : in.head_len;
      std::memcpy(dst, in.head + start, stop - start);
      written = stop - start;
    }
    if (end > in.head_len) {
      const size_t from = start > in.head_len ? start : in.head_len;
      std::memcpy(dst + written, in.body + (from - in.head_len), end - from);
      written += end - from;
    }
  }
  std::memset(dst + written, 0, 128 - written);
  if (total >= start && total < start + 128) dst[total - start] = 0x80;
  if (j + 1 == blocks) {
    store_be64(dst + 112, static_cast<uint64_t>(total) >> 61);
    store_be64(dst + 120, static_cast<uint64_t>(total) << 3);
  }
}

#define FYRN_AVX512 __attribute__((target("avx512f,avx512bw")))

// transpose8 turns eight vectors of eight words (row r holds word r of each
// lane, or lane r's words) into their columns.
FYRN_AVX512 inline void transpose8(__m512i r[8]) {
  const __m512i lo = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
  const __m512i hi = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
  const __m512i t0 = _mm512_unpacklo_epi64(r[0], r[1]), t1 = _mm512_unpackhi_epi64(r[0], r[1]);
  const __m512i t2 = _mm512_unpacklo_epi64(r[2], r[3]), t3 = _mm512_unpackhi_epi64(r[2], r[3]);
  const __m512i t4 = _mm512_unpacklo_epi64(r[4], r[5]), t5 = _mm512_unpackhi_epi64(r[4], r[5]);
  const __m512i t6 = _mm512_unpacklo_epi64(r[6], r[7]), t7 = _mm512_unpackhi_epi64(r[6], r[7]);
  const __m512i u0 = _mm512_permutex2var_epi64(t0, lo, t2), u1 = _mm512_permutex2var_epi64(t0, hi, t2);
  const __m512i u2 = _mm512_permutex2var_epi64(t1, lo, t3), u3 = _mm512_permutex2var_epi64(t1, hi, t3);
  const __m512i u4 = _mm512_permutex2var_epi64(t4, lo, t6), u5 = _mm512_permutex2var_epi64(t4, hi, t6);
  const __m512i u6 = _mm512_permutex2var_epi64(t5, lo, t7), u7 = _mm512_permutex2var_epi64(t5, hi, t7);
  r[0] = _mm512_shuffle_i64x2(u0, u4, 0x44);
  r[4] = _mm512_shuffle_i64x2(u0, u4, 0xEE);
  r[2] = _mm512_shuffle_i64x2(u1, u5, 0x44);
  r[6] = _mm512_shuffle_i64x2(u1, u5, 0xEE);
  r[1] = _mm512_shuffle_i64x2(u2, u6, 0x44);
  r[5] = _mm512_shuffle_i64x2(u2, u6, 0xEE);
  r[3] = _mm512_shuffle_i64x2(u3, u7, 0x44);
  r[7] = _mm512_shuffle_i64x2(u3, u7, 0xEE);
}

FYRN_AVX512 inline __m512i byte_swap64(__m512i v) {
  const __m512i order = _mm512_set_epi64(0x08090a0b0c0d0e0fLL, 0x0001020304050607LL, 0x08090a0b0c0d0e0fLL,
                                         0x0001020304050607LL, 0x08090a0b0c0d0e0fLL, 0x0001020304050607LL,
                                         0x08090a0b0c0d0e0fLL, 0x0001020304050607LL);
  return _mm512_shuffle_epi8(v, order);
}

// xor3, choose and majority are one vpternlogq each. MemorySanitizer (clang
// 14) cannot follow vpternlogq and would report its every secret operand, so
// its builds spell the same functions with and/or/xor, whose flow of data it
// tracks bit by bit; neither form has a branch or an address.
#if defined(__has_feature)
#if __has_feature(memory_sanitizer)
#define FYRN_SHA512_PLAIN_LOGIC 1
#endif
#endif
#if defined(FYRN_SHA512_PLAIN_LOGIC)
FYRN_AVX512 inline __m512i xor3(__m512i a, __m512i b, __m512i c) {
  return _mm512_xor_si512(a, _mm512_xor_si512(b, c));
}
FYRN_AVX512 inline __m512i choose(__m512i e, __m512i f, __m512i g) {
  return _mm512_xor_si512(g, _mm512_and_si512(e, _mm512_xor_si512(f, g)));
}
FYRN_AVX512 inline __m512i majority(__m512i a, __m512i b, __m512i c) {
  return _mm512_or_si512(_mm512_and_si512(a, b), _mm512_and_si512(c, _mm512_or_si512(a, b)));
}
#else
FYRN_AVX512 inline __m512i xor3(__m512i a, __m512i b, __m512i c) { return _mm512_ternarylogic_epi64(a, b, c, 0x96); }
FYRN_AVX512 inline __m512i choose(__m512i e, __m512i f, __m512i g) { return _mm512_ternarylogic_epi64(e, f, g, 0xCA); }
FYRN_AVX512 inline __m512i majority(__m512i a, __m512i b, __m512i c) { return _mm512_ternarylogic_epi64(a, b, c, 0xE8); }
#endif

// compress_x8 runs the 80 rounds in all eight lanes and adds the result to
// the state of the lanes in `active` only: a lane whose message has ended
// keeps its digest while longer ones go on.
FYRN_AVX512 void compress_x8(__m512i state[8], __m512i w[16], __mmask8 active) {
  __m512i a = state[0], b = state[1], c = state[2], d = state[3];
  __m512i e = state[4], f = state[5], g = state[6], h = state[7];
#define FYRN_SHA512X8_ROUND(a, b, c, d, e, f, g, h, i)                                                      \
  do {                                                                                                      \
    if (t > 0) {                                                                                            \
      const __m512i w15 = w[(i + 1) & 15], w2 = w[(i + 14) & 15];                                           \
      const __m512i s0 = xor3(_mm512_ror_epi64(w15, 1), _mm512_ror_epi64(w15, 8), _mm512_srli_epi64(w15, 7)); \
      const __m512i s1 = xor3(_mm512_ror_epi64(w2, 19), _mm512_ror_epi64(w2, 61), _mm512_srli_epi64(w2, 6));  \
      w[i] = _mm512_add_epi64(_mm512_add_epi64(w[i], s0), _mm512_add_epi64(s1, w[(i + 9) & 15]));          \
    }                                                                                                       \
    const __m512i s1e = xor3(_mm512_ror_epi64(e, 14), _mm512_ror_epi64(e, 18), _mm512_ror_epi64(e, 41));    \
    const __m512i wk = _mm512_add_epi64(w[i], _mm512_set1_epi64(static_cast<long long>(kRound[t + i])));    \
    h = _mm512_add_epi64(_mm512_add_epi64(h, wk), _mm512_add_epi64(s1e, choose(e, f, g)));                  \
    d = _mm512_add_epi64(d, h);                                                                             \
    const __m512i s0a = xor3(_mm512_ror_epi64(a, 28), _mm512_ror_epi64(a, 34), _mm512_ror_epi64(a, 39));    \
    h = _mm512_add_epi64(h, _mm512_add_epi64(s0a, majority(a, b, c)));                                      \
  } while (0)
  for (int t = 0; t < 80; t += 16) {
    FYRN_SHA512X8_ROUND(a, b, c, d, e, f, g, h, 0);
    FYRN_SHA512X8_ROUND(h, a, b, c, d, e, f, g, 1);
    FYRN_SHA512X8_ROUND(g, h, a, b, c, d, e, f, 2);
    FYRN_SHA512X8_ROUND(f, g, h, a, b, c, d, e, 3);
    FYRN_SHA512X8_ROUND(e, f, g, h, a, b, c, d, 4);
    FYRN_SHA512X8_ROUND(d, e, f, g, h, a, b, c, 5);
    FYRN_SHA512X8_ROUND(c, d, e, f, g, h, a, b, 6);
    FYRN_SHA512X8_ROUND(b, c, d, e, f, g, h, a, 7);
    FYRN_SHA512X8_ROUND(a, b, c, d, e, f, g, h, 8);
    FYRN_SHA512X8_ROUND(h, a, b, c, d, e, f, g, 9);
    FYRN_SHA512X8_ROUND(g, h, a, b, c, d, e, f, 10);
    FYRN_SHA512X8_ROUND(f, g, h, a, b, c, d, e, 11);
    FYRN_SHA512X8_ROUND(e, f, g, h, a, b, c, d, 12);
    FYRN_SHA512X8_ROUND(d, e, f, g, h, a, b, c, 13);
    FYRN_SHA512X8_ROUND(c, d, e, f, g, h, a, b, 14);
    FYRN_SHA512X8_ROUND(b, c, d, e, f, g, h, a, 15);
  }
#undef FYRN_SHA512X8_ROUND
  state[0] = _mm512_mask_add_epi64(state[0], active, state[0], a);
  state[1] = _mm512_mask_add_epi64(state[1], active, state[1], b);
  state[2] = _mm512_mask_add_epi64(state[2], active, state[2], c);
  state[3] = _mm512_mask_add_epi64(state[3], active, state[3], d);
  state[4] = _mm512_mask_add_epi64(state[4], active, state[4], e);
  state[5] = _mm512_mask_add_epi64(state[5], active, state[5], f);
  state[6] = _mm512_mask_add_epi64(state[6], active, state[6], g);
  state[7] = _mm512_mask_add_epi64(state[7], active, state[7], h);
}

// clear_vector_registers zeroes all 32 vector registers, which held message
// words and states (the nonce hash's are secret).
FYRN_AVX512 inline void clear_vector_registers() {
  __asm__ __volatile__(
      "vzeroall\n\t"
      "vpxord %%zmm16, %%zmm16, %%zmm16\n\tvpxord %%zmm17, %%zmm17, %%zmm17\n\t"
      "vpxord %%zmm18, %%zmm18, %%zmm18\n\tvpxord %%zmm19, %%zmm19, %%zmm19\n\t"
      "vpxord %%zmm20, %%zmm20, %%zmm20\n\tvpxord %%zmm21, %%zmm21, %%zmm21\n\t"
      "vpxord %%zmm22, %%zmm22, %%zmm22\n\tvpxord %%zmm23, %%zmm23, %%zmm23\n\t"
      "vpxord %%zmm24, %%zmm24, %%zmm24\n\tvpxord %%zmm25, %%zmm25, %%zmm25\n\t"
      "vpxord %%zmm26, %%zmm26, %%zmm26\n\tvpxord %%zmm27, %%zmm27, %%zmm27\n\t"
      "vpxord %%zmm28, %%zmm28, %%zmm28\n\tvpxord %%zmm29, %%zmm29, %%zmm29\n\t"
      "vpxord %%zmm30, %%zmm30, %%zmm30\n\tvpxord %%zmm31, %%zmm31, %%zmm31"
      :
      :
      : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11",
        "xmm12", "xmm13", "xmm14", "xmm15", "xmm16", "xmm17", "xmm18", "xmm19", "xmm20", "xmm21", "xmm22",
        "xmm23", "xmm24", "xmm25", "xmm26", "xmm27", "xmm28", "xmm29", "xmm30", "xmm31");
}

bool detect_avx512() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d) || (c & bit_OSXSAVE) == 0) return false;
  // The OS must save the opmask and all 512 bits of the 32 vector registers.
  unsigned xcr0_lo = 0, xcr0_hi = 0;
  __asm__("xgetbv" : "=a"(xcr0_lo), "=d"(xcr0_hi) : "c"(0));
  if ((xcr0_lo & 0xE6) != 0xE6) return false;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return (b & bit_AVX512F) != 0 && (b & bit_AVX512BW) != 0;
}

const bool g_avx512 = detect_avx512();

}  // namespace

FYRN_AVX512 void sha512_x8_avx512(uint8_t (*out)[64], const Sha512Input* in, size_t n) {
  size_t total[8] = {}, blocks[8] = {};
  size_t most = 0;
  for (size_t i = 0; i < n; ++i) {
    total[i] = in[i].head_len + in[i].body_len;
    blocks[i] = block_count(total[i]);
    if (blocks[i] > most) most = blocks[i];
  }
  __m512i state[8];
  for (int k = 0; k < 8; ++k) state[k] = _mm512_set1_epi64(static_cast<long long>(kInitial[k]));
  // Unused lanes hash zeros and are never stored.
  alignas(64) uint8_t block[8][128] = {};
  __m512i w[16];
  for (size_t j = 0; j < most; ++j) {
    __mmask8 active = 0;
    for (size_t i = 0; i < n; ++i) {
      if (j < blocks[i]) {
        fill_block(block[i], in[i], total[i], j, blocks[i]);
        active = static_cast<__mmask8>(active | (1u << i));
      }
    }
    for (int half = 0; half < 2; ++half) {
      for (int i = 0; i < 8; ++i) w[8 * half + i] = byte_swap64(_mm512_load_si512(&block[i][64 * half]));
      transpose8(&w[8 * half]);
    }
    compress_x8(state, w, active);
  }
  transpose8(state);
  for (size_t i = 0; i < n; ++i) _mm512_storeu_si512(out[i], byte_swap64(state[i]));
  wipe(block, sizeof block);
  wipe(w, sizeof w);
  wipe(state, sizeof state);
  clear_vector_registers();
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

bool sha512_x8_has_avx512() { return g_avx512; }

void sha512_x8(uint8_t (*out)[64], const Sha512Input* in, size_t n) {
  // Eight lanes cost about twice one scalar hash: from two messages on they win.
  if (g_avx512 && n > 1) {
    sha512_x8_avx512(out, in, n);
  } else {
    sha512_x8_portable(out, in, n);
  }
}

#else

bool sha512_x8_has_avx512() { return false; }
void sha512_x8_avx512(uint8_t (*out)[64], const Sha512Input* in, size_t n) { sha512_x8_portable(out, in, n); }
void sha512_x8(uint8_t (*out)[64], const Sha512Input* in, size_t n) { sha512_x8_portable(out, in, n); }

#endif

}  // namespace fyrn::ed25519
