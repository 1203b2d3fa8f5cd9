// SHA-512 (one lane and eight) against libsodium's crypto_hash_sha512, and the
// arithmetic mod L against libsodium's scalar functions and a big-integer
// model that reduces by plain binary long division.
#include <gtest/gtest.h>

#include <sodium.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../../src/core/ed25519/scalar.hpp"
#include "../../src/core/ed25519/sha512x8.hpp"

namespace {

using fyrn::ed25519::Sha512Input;
using Digests = uint8_t[8][64];
using HashFn = void (*)(uint8_t (*)[64], const Sha512Input*, size_t);

void one_by_one(uint8_t (*out)[64], const Sha512Input* in, size_t n) {
  for (size_t i = 0; i < n; ++i) fyrn::ed25519::sha512_1(out[i], in[i]);
}

struct Backend {
  const char* name;
  HashFn fn;
};

std::vector<Backend> sha512_backends() {
  std::vector<Backend> all = {{"sha512_1", one_by_one},
                              {"x8 portable", fyrn::ed25519::sha512_x8_portable},
                              {"x8 dispatched", fyrn::ed25519::sha512_x8}};
  if (fyrn::ed25519::sha512_x8_has_avx512()) all.push_back({"x8 avx512", fyrn::ed25519::sha512_x8_avx512});
  return all;
}

std::vector<uint8_t> random_bytes(std::mt19937_64& rng, size_t len) {
  std::vector<uint8_t> v(len);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// check_lanes hashes the given (head, body) lanes with every backend and
// compares each digest with libsodium's hash of head ‖ body.
void check_lanes(const std::vector<std::vector<uint8_t>>& heads, const std::vector<std::vector<uint8_t>>& bodies,
                 const std::string& what) {
  const size_t n = heads.size();
  Sha512Input in[8];
  uint8_t expected[8][64];
  for (size_t i = 0; i < n; ++i) {
    in[i] = {heads[i].empty() ? nullptr : heads[i].data(), heads[i].size(),
             bodies[i].empty() ? nullptr : bodies[i].data(), bodies[i].size()};
    std::vector<uint8_t> joined(heads[i]);
    joined.insert(joined.end(), bodies[i].begin(), bodies[i].end());
    crypto_hash_sha512(expected[i], joined.data(), joined.size());
  }
  for (const Backend& backend : sha512_backends()) {
    Digests got;
    std::memset(got, 0xA5, sizeof got);
    backend.fn(got, in, n);
    for (size_t i = 0; i < 8; ++i) {
      if (i < n) {
        ASSERT_EQ(0, std::memcmp(got[i], expected[i], 64))
            << backend.name << ", " << what << ", lane " << i << " of " << n << ": head " << heads[i].size()
            << ", body " << bodies[i].size();
      } else {
        // Lanes past n belong to the caller.
        for (uint8_t byte : got[i]) ASSERT_EQ(0xA5, byte) << backend.name << " wrote lane " << i << " of " << n;
      }
    }
  }
}

TEST(Ed25519Sha512, EveryLengthHeadAndLaneCountAgainstLibsodium) {
  ASSERT_GE(sodium_init(), 0);
  std::mt19937_64 rng(512);
  const std::vector<uint8_t> pool = random_bytes(rng, 600 + 64 * 8 + 64);
  for (size_t head_len : {0, 32, 64}) {
    for (size_t len = 0; len <= 600; ++len) {
      // Lane i of an n-lane call hashes body length (len + 131 i) mod 601, so
      // every lane sees every length beside lanes of other block counts.
      const size_t n = 1 + len % 8;
      std::vector<std::vector<uint8_t>> heads, bodies;
      for (size_t i = 0; i < n; ++i) {
        const size_t body_len = (len + 131 * i) % 601;
        const size_t at = (len * 7 + i * 61) % 64;
        heads.emplace_back(pool.begin() + at, pool.begin() + at + head_len);
        bodies.emplace_back(pool.begin() + at + 64, pool.begin() + at + 64 + body_len);
      }
      check_lanes(heads, bodies, "head " + std::to_string(head_len));
    }
  }
}

TEST(Ed25519Sha512, MixedHeadsLaneCountsAndOneLongLane) {
  std::mt19937_64 rng(8);
  struct Case {
    std::vector<size_t> head_lens, body_lens;
  };
  const std::vector<Case> cases = {
      {{64}, {0}},
      {{0}, {0}},
      {{0, 32, 64, 0, 32, 64, 0, 32}, {0, 0, 0, 111, 112, 48, 47, 175}},  // padding spills at 112 bytes
      {{64, 64, 64, 64, 64, 64, 64, 64}, {47, 48, 63, 64, 175, 176, 1, 1023}},
      {{32, 0, 64}, {100000, 3, 200}},  // one lane of 782 blocks beside short ones
      {{0, 17, 63, 1, 64, 33}, {128, 256, 65, 127, 0, 1200}},
  };
  for (const Case& c : cases) {
    std::vector<std::vector<uint8_t>> heads, bodies;
    for (size_t i = 0; i < c.head_lens.size(); ++i) {
      heads.push_back(random_bytes(rng, c.head_lens[i]));
      bodies.push_back(random_bytes(rng, c.body_lens[i]));
    }
    check_lanes(heads, bodies, "mixed case");
  }
  // The FIPS 180 "abc" digest: one fixed point that does not come from libsodium.
  const uint8_t abc[3] = {'a', 'b', 'c'};
  uint8_t got[64];
  fyrn::ed25519::sha512_1(got, {abc, 1, abc + 1, 2});
  const char* want =
      "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
      "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f";
  char hex[129];
  sodium_bin2hex(hex, sizeof hex, got, 64);
  EXPECT_STREQ(want, hex);
  RecordProperty("avx512", fyrn::ed25519::sha512_x8_has_avx512() ? "yes" : "no");
}

// --- mod L: a big-integer model with nine 64-bit limbs ---

using Big = std::array<uint64_t, 9>;

std::array<uint8_t, 32> to_bytes32(const Big& x) {
  std::array<uint8_t, 32> out{};
  for (size_t i = 0; i < 32; ++i) out[i] = static_cast<uint8_t>(x[i / 8] >> (8 * (i % 8)));
  return out;
}

int compare(const Big& a, const Big& b) {
  for (size_t i = a.size(); i-- > 0;) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

Big add(const Big& a, const Big& b) {
  Big r{};
  unsigned __int128 carry = 0;
  for (size_t i = 0; i < r.size(); ++i) {
    carry += static_cast<unsigned __int128>(a[i]) + b[i];
    r[i] = static_cast<uint64_t>(carry);
    carry >>= 64;
  }
  return r;
}

Big sub(const Big& a, const Big& b) {  // a >= b
  Big r{};
  uint64_t borrow = 0;
  for (size_t i = 0; i < r.size(); ++i) {
    const unsigned __int128 t = static_cast<unsigned __int128>(a[i]) - b[i] - borrow;
    r[i] = static_cast<uint64_t>(t);
    borrow = static_cast<uint64_t>(t >> 64) & 1;
  }
  return r;
}

Big mul(const Big& a, const Big& b) {  // the product must fit nine limbs
  Big r{};
  for (size_t i = 0; i < r.size(); ++i) {
    unsigned __int128 carry = 0;
    for (size_t j = 0; i + j < r.size(); ++j) {
      carry += static_cast<unsigned __int128>(a[i]) * b[j] + r[i + j];
      r[i + j] = static_cast<uint64_t>(carry);
      carry >>= 64;
    }
  }
  return r;
}

const Big kL = [] {
  Big l{};
  l[0] = 0x5812631a5cf5d3edULL;  // 2^252 + 27742317777372353535851937790883648493
  l[1] = 0x14def9dea2f79cd6ULL;
  l[3] = 0x1000000000000000ULL;
  return l;
}();

// model_divmod divides by L bit by bit: r = 2r + bit, minus L (and a quotient
// bit) whenever r >= L.
std::pair<Big, Big> model_divmod(const Big& x) {
  Big q{}, r{};
  for (size_t bit = 64 * x.size(); bit-- > 0;) {
    r = add(r, r);
    r[0] |= (x[bit / 64] >> (bit % 64)) & 1;
    if (compare(r, kL) >= 0) {
      r = sub(r, kL);
      q[bit / 64] |= uint64_t{1} << (bit % 64);
    }
  }
  return {q, r};
}

Big model_mod(const Big& x) { return model_divmod(x).second; }

Big small(uint64_t v) {
  Big r{};
  r[0] = v;
  return r;
}

Big power_of_two(size_t k) {
  Big r{};
  r[k / 64] = uint64_t{1} << (k % 64);
  return r;
}

Big random_big(std::mt19937_64& rng, size_t bits) {
  Big r{};
  for (size_t i = 0; i < (bits + 63) / 64; ++i) r[i] = rng();
  if (bits % 64) r[bits / 64] &= (uint64_t{1} << (bits % 64)) - 1;
  return r;
}

std::string hex(const uint8_t* p, size_t len) {
  std::string s(2 * len + 1, '\0');
  sodium_bin2hex(s.data(), s.size(), p, len);
  s.pop_back();
  return s;
}

TEST(Ed25519Scalar, Reduce64AgainstLibsodiumAndModel) {
  ASSERT_GE(sodium_init(), 0);
  std::mt19937_64 rng(252);
  const Big all_ones = sub(power_of_two(512), small(1));
  std::vector<Big> inputs = {
      small(0), small(1), sub(kL, small(1)), kL, add(kL, small(1)), add(kL, kL), sub(add(kL, kL), small(1)),
      power_of_two(252), sub(power_of_two(253), small(1)), sub(power_of_two(256), small(1)), power_of_two(256),
      all_ones, sub(all_ones, kL), power_of_two(511), sub(power_of_two(320), small(1)),
  };
  // Values next to multiples of L, where a quotient estimate that is one off
  // shows, for quotients of every size up to floor((2^512 - 1) / L).
  const Big top_quotient = model_divmod(all_ones).first;
  for (int i = 0; i < 300; ++i) {
    Big q = i == 0 ? top_quotient : random_big(rng, 1 + rng() % 260);
    if (compare(q, top_quotient) > 0) q = top_quotient;
    const Big multiple = mul(q, kL);
    inputs.push_back(multiple);
    inputs.push_back(add(multiple, sub(kL, small(1))));
    if (compare(multiple, small(0)) > 0) inputs.push_back(sub(multiple, small(1)));
  }
  for (int i = 0; i < 3000; ++i) inputs.push_back(random_big(rng, 512 - (i % 9 == 0 ? rng() % 512 : 0)));
  for (const Big& x : inputs) {
    if (x[8] != 0) continue;  // past 2^512 (q*L + L - 1 at the top quotient)
    uint8_t in[64];
    for (size_t i = 0; i < 64; ++i) in[i] = static_cast<uint8_t>(x[i / 8] >> (8 * (i % 8)));
    uint8_t got[32], sodium[32];
    fyrn::ed25519::sc_reduce64(got, in);
    crypto_core_ed25519_scalar_reduce(sodium, in);
    ASSERT_EQ(hex(sodium, 32), hex(got, 32)) << "libsodium, input " << hex(in, 64);
    ASSERT_EQ(hex(to_bytes32(model_mod(x)).data(), 32), hex(got, 32)) << "model, input " << hex(in, 64);
  }
}

TEST(Ed25519Scalar, MulAddAgainstLibsodiumAndModel) {
  std::mt19937_64 rng(8032);
  const Big top = sub(power_of_two(256), small(1));
  std::vector<Big> extremes = {small(0), small(1), sub(kL, small(1)), kL, add(kL, small(1)),
                               sub(power_of_two(255), small(1)), top, power_of_two(254)};
  // Clamped secret scalars: bit 254 set, bits 255 and 0..2 clear.
  auto clamped = [&] {
    Big a = random_big(rng, 256);
    a[0] &= ~uint64_t{7};
    a[3] = (a[3] & ~(uint64_t{1} << 63)) | (uint64_t{1} << 62);
    return a;
  };
  std::vector<std::array<Big, 3>> cases;
  for (const Big& a : extremes)
    for (const Big& b : extremes)
      for (const Big& c : extremes) cases.push_back({a, b, c});
  for (int i = 0; i < 2000; ++i) {
    cases.push_back({random_big(rng, 256), random_big(rng, 256), random_big(rng, 256)});
    cases.push_back({model_mod(random_big(rng, 512)), clamped(), model_mod(random_big(rng, 512))});
  }
  for (const auto& [a, b, c] : cases) {
    const auto ab = to_bytes32(a), bb = to_bytes32(b), cb = to_bytes32(c);
    uint8_t got[32];
    fyrn::ed25519::sc_muladd(got, ab.data(), bb.data(), cb.data());
    const std::string what = hex(ab.data(), 32) + " * " + hex(bb.data(), 32) + " + " + hex(cb.data(), 32);
    ASSERT_EQ(hex(to_bytes32(model_mod(add(mul(a, b), c))).data(), 32), hex(got, 32)) << "model, " << what;
    // libsodium's scalar product and sum, for the canonical operands it is
    // defined on.
    if (compare(a, kL) < 0 && compare(b, kL) < 0 && compare(c, kL) < 0) {
      uint8_t sodium[32];
      crypto_core_ed25519_scalar_mul(sodium, ab.data(), bb.data());
      crypto_core_ed25519_scalar_add(sodium, sodium, cb.data());
      ASSERT_EQ(hex(sodium, 32), hex(got, 32)) << "libsodium, " << what;
    }
    // The output may alias an input.
    uint8_t alias[32];
    std::memcpy(alias, ab.data(), 32);
    fyrn::ed25519::sc_muladd(alias, alias, bb.data(), cb.data());
    ASSERT_EQ(0, std::memcmp(alias, got, 32)) << "aliased, " << what;
  }
}

}  // namespace
