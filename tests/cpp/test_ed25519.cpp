// The signing backends against libsodium, bit for bit, and their field
// arithmetic against a small big-integer model at random and at the largest
// limbs each operation's bounds admit.
#include <gtest/gtest.h>

#include <sodium.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../../src/core/ed25519/fe51.hpp"
#include "../../src/core/ed25519/ifma.hpp"
#include "fyrn/ed25519.hpp"
#include "fyrn/keys.hpp"

using namespace fyrn::ed25519;

namespace {

// ---- a big-integer model: little-endian 64-bit words ----

constexpr int kWords = 10;  // 640 bits: products of two 260-bit values
using Big = std::array<uint64_t, kWords>;
using u128 = unsigned __int128;

Big big_from_limbs(const uint64_t* limbs, int count, int radix_bits) {
  Big r{};
  for (int i = 0; i < count; ++i) {
    const int bit = i * radix_bits, w = bit / 64, s = bit % 64;
    u128 carry = u128(limbs[i]) << s;
    for (int k = w; k < kWords && carry != 0; ++k) {
      const u128 t = u128(r[k]) + static_cast<uint64_t>(carry);
      r[k] = static_cast<uint64_t>(t);
      carry = (carry >> 64) + (t >> 64);
    }
  }
  return r;
}

Big big_mul(const Big& a, const Big& b) {
  Big r{};
  for (int i = 0; i < kWords; ++i) {
    u128 carry = 0;
    for (int j = 0; i + j < kWords; ++j) {
      const u128 t = u128(a[i]) * b[j] + r[i + j] + carry;
      r[i + j] = static_cast<uint64_t>(t);
      carry = t >> 64;
    }
  }
  return r;
}

Big big_add(const Big& a, const Big& b) {
  Big r{};
  u128 carry = 0;
  for (int i = 0; i < kWords; ++i) {
    const u128 t = u128(a[i]) + b[i] + carry;
    r[i] = static_cast<uint64_t>(t);
    carry = t >> 64;
  }
  return r;
}

const Big kP = [] {
  Big p{};
  p[0] = ~uint64_t{0} - 18;
  p[1] = p[2] = ~uint64_t{0};
  p[3] = ~uint64_t{0} >> 1;
  return p;
}();

bool big_less(const Big& a, const Big& b) {
  for (int i = kWords; i-- > 0;) {
    if (a[i] != b[i]) return a[i] < b[i];
  }
  return false;
}

Big big_sub(const Big& a, const Big& b) {  // a >= b
  Big r{};
  uint64_t borrow = 0;
  for (int i = 0; i < kWords; ++i) {
    const u128 t = u128(a[i]) - b[i] - borrow;
    r[i] = static_cast<uint64_t>(t);
    borrow = static_cast<uint64_t>(t >> 64) & 1;
  }
  return r;
}

// big_mod_p folds 2^255 = 19 until the value is below 2^255, then subtracts p once if needed.
Big big_mod_p(Big a) {
  Big nineteen{};
  nineteen[0] = 19;
  for (int round = 0; round < 6; ++round) {
    Big high{};  // a >> 255
    for (int i = 0; i + 3 < kWords; ++i) high[i] = (a[i + 3] >> 63) | (i + 4 < kWords ? a[i + 4] << 1 : 0);
    for (int i = 4; i < kWords; ++i) a[i] = 0;
    a[3] &= ~uint64_t{0} >> 1;
    a = big_add(a, big_mul(high, nineteen));
  }
  if (!big_less(a, kP)) a = big_sub(a, kP);
  return a;
}

Big big_sub_mod(const Big& a, const Big& b) { return big_mod_p(big_sub(big_add(big_mod_p(a), kP), big_mod_p(b))); }

Big big_pow(const Big& base, const Big& e) {  // square and multiply, e < 2^256
  Big r{};
  r[0] = 1;
  for (int bit = 255; bit >= 0; --bit) {
    r = big_mod_p(big_mul(r, r));
    if ((e[bit / 64] >> (bit % 64)) & 1) r = big_mod_p(big_mul(r, base));
  }
  return r;
}

// ---- operands at the edges of the bounds ----

constexpr uint64_t kTwo52 = uint64_t{1} << 52;

struct Bounds {
  uint64_t low;  // limbs 0..3 below this
  uint64_t top;  // limb 4 below this
};
constexpr Bounds kMultiplicand{kTwo52, kTwo52};
constexpr Bounds kTight{kTwo52, uint64_t{1} << 48};
constexpr Bounds kSum{uint64_t{1} << 62, uint64_t{1} << 62};
constexpr Bounds kCarryInput{uint64_t{1} << 63, uint64_t{1} << 63};

// fill_lanes puts the largest limbs (lane 0), zero (lane 1), 1 and p - 1 in
// radix 2^52 where the bounds allow it (lanes 2, 3), and random limbs below
// the bounds, half of them near the top (other lanes).
void fill_lanes(uint64_t v[5][8], Bounds b, std::mt19937_64& rng) {
  const uint64_t p_minus_1[5] = {kTwo52 - 20, kTwo52 - 1, kTwo52 - 1, kTwo52 - 1, (uint64_t{1} << 47) - 1};
  for (int lane = 0; lane < 8; ++lane) {
    for (int j = 0; j < 5; ++j) {
      const uint64_t bound = j < 4 ? b.low : b.top;
      uint64_t x = rng() % bound;
      if (lane >= 4 && (rng() & 1)) x = bound - 1 - (rng() % 64);
      if (lane == 0) x = bound - 1;
      if (lane == 1) x = 0;
      if (lane == 2) x = j == 0 ? 1 : 0;
      if (lane == 3 && b.top > p_minus_1[4]) x = p_minus_1[j];
      v[j][lane] = x;
    }
  }
}

Big lane_value(const uint64_t v[5][8], int lane) {
  uint64_t limbs[5];
  for (int j = 0; j < 5; ++j) limbs[j] = v[j][lane];
  return big_from_limbs(limbs, 5, 52);
}

std::string hex(const uint8_t* p, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

std::vector<uint8_t> unhex(const std::string& s) {
  std::vector<uint8_t> out(s.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(std::stoi(s.substr(2 * i, 2), nullptr, 16));
  return out;
}

std::vector<Backend> supported_backends() {
  std::vector<Backend> out;
  for (Backend b : {Backend::Ifma, Backend::Sodium}) {
    if (backend_supported(b)) out.push_back(b);
  }
  return out;
}

}  // namespace

// Every operation of the eight-lane field, against the model: the result is
// the right residue and meets the tight bound that the next multiply needs.
TEST(Ed25519Field, VectorOperationsMatchTheModelAtTheirBounds) {
  if (!backend_supported(Backend::Ifma)) GTEST_SKIP() << "no AVX-512 IFMA here";
  struct Case {
    ifma::FieldOp op;
    Bounds a, b;
  };
  const Case cases[] = {
      {ifma::FieldOp::Mul, kMultiplicand, kMultiplicand}, {ifma::FieldOp::Square, kMultiplicand, kMultiplicand},
      {ifma::FieldOp::Add, kSum, kSum},                   {ifma::FieldOp::Sub, kSum, kTight},
      {ifma::FieldOp::Carry, kCarryInput, kCarryInput},
  };
  std::mt19937_64 rng(52);
  for (const Case& c : cases) {
    for (int round = 0; round < 200; ++round) {
      uint64_t a[5][8], b[5][8], out[5][8];
      fill_lanes(a, c.a, rng);
      fill_lanes(b, c.b, rng);
      ifma::field_op(c.op, out, a, b);
      for (int lane = 0; lane < 8; ++lane) {
        const Big x = lane_value(a, lane), y = lane_value(b, lane);
        Big want;
        switch (c.op) {
          case ifma::FieldOp::Mul: want = big_mod_p(big_mul(x, y)); break;
          case ifma::FieldOp::Square: want = big_mod_p(big_mul(x, x)); break;
          case ifma::FieldOp::Add: want = big_mod_p(big_add(x, y)); break;
          case ifma::FieldOp::Sub: want = big_sub_mod(x, y); break;
          case ifma::FieldOp::Carry: want = big_mod_p(x); break;
        }
        ASSERT_EQ(big_mod_p(lane_value(out, lane)), want) << "op " << int(c.op) << " lane " << lane;
        for (int j = 0; j < 4; ++j) ASSERT_LT(out[j][lane], kTight.low) << "op " << int(c.op);
        ASSERT_LT(out[4][lane], kTight.top) << "op " << int(c.op);
      }
    }
  }
}

// The scalar radix-2^51 field (inversion, encoding, table building) against
// the model, with every limb up to its 2^52 bound; encodings canonical.
TEST(Ed25519Field, ScalarOperationsMatchTheModel) {
  std::mt19937_64 rng(51);
  const uint64_t max51 = uint64_t{1} << 52;
  const Big p_minus_2 = big_sub(kP, big_from_limbs(std::array<uint64_t, 1>{2}.data(), 1, 64));
  for (int round = 0; round < 400; ++round) {
    Fe51 f, g, h;
    for (int j = 0; j < 5; ++j) {
      f.v[j] = round == 0 ? max51 - 1 : rng() % max51;
      g.v[j] = round == 0 ? max51 - 1 : round == 1 ? 0 : rng() % max51;
    }
    if (round == 2) f = Fe51{{(uint64_t{1} << 51) - 19, (uint64_t{1} << 51) - 1, (uint64_t{1} << 51) - 1,
                              (uint64_t{1} << 51) - 1, (uint64_t{1} << 51) - 1}};  // p itself
    const Big x = big_from_limbs(f.v, 5, 51), y = big_from_limbs(g.v, 5, 51);
    auto value = [](const Fe51& e) { return big_mod_p(big_from_limbs(e.v, 5, 51)); };
    auto check_reduced = [](const Fe51& e) {
      for (uint64_t limb : e.v) ASSERT_LT(limb, uint64_t{1} << 52);
    };
    fe51_mul(h, f, g);
    ASSERT_EQ(value(h), big_mod_p(big_mul(x, y)));
    check_reduced(h);
    fe51_sq(h, f);
    ASSERT_EQ(value(h), big_mod_p(big_mul(x, x)));
    check_reduced(h);
    fe51_add(h, f, g);
    ASSERT_EQ(value(h), big_mod_p(big_add(x, y)));
    check_reduced(h);
    fe51_sub(h, f, g);
    ASSERT_EQ(value(h), big_sub_mod(x, y));
    check_reduced(h);
    if (round < 40) {
      fe51_invert(h, f);
      ASSERT_EQ(value(h), big_pow(big_mod_p(x), p_minus_2));
    }
    uint8_t bytes[32];
    fe51_to_bytes(bytes, f);
    Big encoded{};
    std::memcpy(encoded.data(), bytes, 32);
    ASSERT_EQ(encoded, big_mod_p(x)) << "not canonical";
    uint64_t limbs52[5];
    fe51_to_limbs52(limbs52, f);
    ASSERT_EQ(big_from_limbs(limbs52, 5, 52), big_mod_p(x));
    fe51_from_limbs52(h, limbs52);
    ASSERT_EQ(value(h), big_mod_p(x));
  }
}

namespace {

// Scalars for r*B: the ends of the range, the group order and its
// neighbours, every digit at -8 (lowest nibble 8, the others 7: each carries
// one up) or at 7, and single digits j*16^i that reach each table entry.
std::vector<std::array<uint8_t, 32>> base_mul_scalars() {
  std::vector<std::array<uint8_t, 32>> out;
  auto from_hex_le = [](const char* h) {  // big-endian hex text, stored little-endian
    std::array<uint8_t, 32> s{};
    const auto be = unhex(h);
    for (size_t i = 0; i < be.size(); ++i) s[i] = be[be.size() - 1 - i];
    return s;
  };
  for (const char* h : {
           "00", "01", "02", "07", "08", "09", "0f", "10",
           "1000000000000000000000000000000014def9dea2f79cd65812631a5cf5d3ec",  // L - 1
           "1000000000000000000000000000000014def9dea2f79cd65812631a5cf5d3ed",  // L
           "1000000000000000000000000000000014def9dea2f79cd65812631a5cf5d3ee",  // L + 1
           "1000000000000000000000000000000000000000000000000000000000000000",  // 2^252
           "7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",  // 2^255 - 1
           "7777777777777777777777777777777777777777777777777777777777777778",  // digits -8 .. -8, 8
           "7777777777777777777777777777777777777777777777777777777777777777",  // digits 7
           "0888888888888888888888888888888888888888888888888888888888888888",
       }) {
    out.push_back(from_hex_le(h));
  }
  for (int i = 0; i < 64; ++i) {
    for (int j = 1; j <= 8; ++j) {
      if (i == 63 && j == 8) continue;  // 2^255: out of range
      std::array<uint8_t, 32> s{};
      // j * 16^i: nibble i set to j, with j = 8 carried as 16 - 8 into the next nibble.
      const int byte = i / 2, shift = (i % 2) * 4;
      const unsigned v = static_cast<unsigned>(j) << shift;
      s[byte] = static_cast<uint8_t>(v & 0xff);
      if (byte + 1 < 32) s[byte + 1] = static_cast<uint8_t>(v >> 8);
      out.push_back(s);
    }
  }
  std::mt19937_64 rng(25519);
  for (int n = 0; n < 200; ++n) {
    std::array<uint8_t, 64> wide;
    for (auto& b : wide) b = static_cast<uint8_t>(rng());
    std::array<uint8_t, 32> s;
    if (n % 2 == 0) {
      crypto_core_ed25519_scalar_reduce(s.data(), wide.data());  // r < L, as signing makes them
    } else {
      std::memcpy(s.data(), wide.data(), 32);
      s[31] &= 127;
    }
    out.push_back(s);
  }
  return out;
}

}  // namespace

// r*B from both fixed-base kernels (every lane count of the batch one) equals
// libsodium's, which writes the encoding also where it reports the identity.
TEST(Ed25519BaseMul, BothKernelsMatchLibsodium) {
  if (!backend_supported(Backend::Ifma)) GTEST_SKIP() << "no AVX-512 IFMA here";
  const auto scalars = base_mul_scalars();
  std::vector<std::array<uint8_t, 32>> expected(scalars.size());
  for (size_t i = 0; i < scalars.size(); ++i) {
    (void)crypto_scalarmult_ed25519_base_noclamp(expected[i].data(), scalars[i].data());
  }
  for (size_t i = 0; i < scalars.size(); ++i) {
    uint8_t got[32];
    ifma::base_mul_single(got, scalars[i].data());
    ASSERT_EQ(hex(got, 32), hex(expected[i].data(), 32)) << "single kernel, scalar " << hex(scalars[i].data(), 32);
  }
  size_t lanes = 1;
  for (size_t i = 0; i < scalars.size(); i += lanes, lanes = lanes % 8 + 1) {
    const size_t n = std::min(lanes, scalars.size() - i);
    uint8_t r[8][32], got[8][32];
    for (size_t k = 0; k < n; ++k) std::memcpy(r[k], scalars[i + k].data(), 32);
    ifma::base_mul_batch(got, r, n);
    for (size_t k = 0; k < n; ++k) {
      ASSERT_EQ(hex(got[k], 32), hex(expected[i + k].data(), 32))
          << "batch kernel, " << n << " lanes, scalar " << hex(scalars[i + k].data(), 32);
    }
  }
}

namespace {

struct Key {
  uint8_t secret[64];  // seed ‖ public key
  uint8_t expanded[64];
  SigningKey view() const { return SigningKey{secret, expanded}; }
};

Key make_key(const uint8_t seed[32]) {
  Key k;
  uint8_t pk[32];
  crypto_sign_seed_keypair(pk, k.secret, seed);
  expand_secret(k.expanded, seed);
  return k;
}

std::string sodium_signature(const Key& k, const std::vector<uint8_t>& msg) {
  uint8_t sig[64];
  crypto_sign_detached(sig, nullptr, msg.data(), msg.size(), k.secret);
  return hex(sig, 64);
}

std::vector<uint8_t> random_bytes(std::mt19937_64& rng, size_t n) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

}  // namespace

// Every message length up to 1100 (every SHA-512 padding boundary of
// prefix ‖ M and of R ‖ A ‖ M), a fresh random key each time.
TEST(Ed25519Sign, EveryLengthMatchesLibsodium) {
  ASSERT_GE(sodium_init(), 0);
  std::mt19937_64 rng(8032);
  for (size_t len = 0; len <= 1100; ++len) {
    const Key key = make_key(random_bytes(rng, 32).data());
    const auto msg = random_bytes(rng, len);
    const std::string want = sodium_signature(key, msg);
    for (Backend b : supported_backends()) {
      uint8_t sig[64];
      sign(sig, key.view(), len == 0 ? nullptr : msg.data(), len, b);
      ASSERT_EQ(hex(sig, 64), want) << backend_name(b) << ", length " << len;
    }
  }
}

// RFC 8032 section 7.1, tests 1-3 and SHA(abc), then extreme seeds.
TEST(Ed25519Sign, Rfc8032VectorsAndExtremeSeeds) {
  ASSERT_GE(sodium_init(), 0);
  struct Vector {
    const char *seed, *pub, *msg, *sig;
  };
  const Vector vectors[] = {
      {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
       "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
       "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe2465"
       "5141438e7a100b"},
      {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
       "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
       "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aee"
       "b00d291612bb0c00"},
      {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
       "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
       "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28d"
       "c027beceea1ec40a"},
      {"833fe62409237b9d62ec77587520911e9a759cec1d19755b7da901b96dca3d42",
       "ec172b93ad5e563bf4932c70e1245034c35467ef2efd4d64ebf819683467e2bf",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a"
       "9ac94fa54ca49f",
       "dc2a4459e7369633a52b1bf277839a00201009a3efbf3ecb69bea2186c26b58909351fc9ac90b3ecfdfbc7c66431e0303dca179c138ac17a"
       "d9bef1177331a704"},
  };
  for (const Vector& v : vectors) {
    const Key key = make_key(unhex(v.seed).data());
    ASSERT_EQ(hex(key.secret + 32, 32), v.pub);
    const auto msg = unhex(v.msg);
    for (Backend b : supported_backends()) {
      uint8_t sig[64];
      sign(sig, key.view(), msg.data(), msg.size(), b);
      EXPECT_EQ(hex(sig, 64), v.sig) << backend_name(b);
    }
  }
  std::vector<std::array<uint8_t, 32>> seeds;
  for (uint8_t fill : {0x00, 0xff, 0x01, 0x80, 0x7f, 0x55, 0xaa}) seeds.push_back(std::array<uint8_t, 32>{}), seeds.back().fill(fill);
  for (int i = 0; i < 32; ++i) seeds.push_back(std::array<uint8_t, 32>{}), seeds.back()[i] = 0x80;
  const std::vector<uint8_t> msgs[] = {{}, {0}, std::vector<uint8_t>(111, 0xff), std::vector<uint8_t>(239, 0)};
  for (const auto& seed : seeds) {
    const Key key = make_key(seed.data());
    for (const auto& msg : msgs) {
      for (Backend b : supported_backends()) {
        uint8_t sig[64];
        sign(sig, key.view(), msg.data(), msg.size(), b);
        ASSERT_EQ(hex(sig, 64), sodium_signature(key, msg)) << backend_name(b) << " seed " << hex(seed.data(), 32);
      }
    }
  }
}

// sign_many of 1..40 messages with keys and lengths mixed inside each group
// of eight (different block counts per lane) equals libsodium message by
// message.
TEST(Ed25519Sign, SignManyMatchesLibsodium) {
  ASSERT_GE(sodium_init(), 0);
  std::mt19937_64 rng(40);
  std::vector<Key> keys;
  for (int i = 0; i < 5; ++i) keys.push_back(make_key(random_bytes(rng, 32).data()));
  for (size_t n = 1; n <= 40; ++n) {
    std::vector<std::vector<uint8_t>> msgs;
    std::vector<SignInput> in;
    for (size_t i = 0; i < n; ++i) {
      const size_t len = (i * 97 + n * 31) % 5 == 0 ? rng() % 1100 : rng() % 300;
      msgs.push_back(random_bytes(rng, len));
    }
    for (size_t i = 0; i < n; ++i) {
      in.push_back(SignInput{keys[(i + n) % keys.size()].view(), msgs[i].data(), msgs[i].size()});
    }
    for (Backend b : supported_backends()) {
      std::vector<std::array<uint8_t, 64>> sigs(n);
      sign_many(reinterpret_cast<uint8_t(*)[64]>(sigs.data()), in.data(), n, b);
      for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(hex(sigs[i].data(), 64), sodium_signature(keys[(i + n) % keys.size()], msgs[i]))
            << backend_name(b) << ": message " << i << " of " << n;
      }
    }
  }
}

// The process picks IFMA exactly where the CPU (and the build) allows it.
TEST(Ed25519Backend, ActiveIsTheFastestSupported) {
  EXPECT_TRUE(backend_supported(Backend::Sodium));
  EXPECT_EQ(active_backend(), backend_supported(Backend::Ifma) ? Backend::Ifma : Backend::Sodium);
}
