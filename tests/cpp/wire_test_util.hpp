// Test-side byte builder and model shorthands. The builder is written here,
// field by field, so that expected bytes never come from the encoder under test.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fyrn/keys.hpp"
#include "fyrn/model.hpp"

namespace wire_test {

struct Bytes {
  std::vector<uint8_t> v;

  Bytes& le(uint64_t x, int n) {
    for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
    return *this;
  }
  Bytes& u8(unsigned x) { return le(x, 1); }
  Bytes& u32(uint64_t x) { return le(x, 4); }
  Bytes& u64(uint64_t x) { return le(x, 8); }
  Bytes& f64(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    return le(bits, 8);
  }
  Bytes& fill(uint8_t b, size_t n) {
    v.insert(v.end(), n, b);
    return *this;
  }
  template <typename K>
  Bytes& key(const K& k) {
    v.insert(v.end(), k.bytes.begin(), k.bytes.end());
    return *this;
  }
  Bytes& str(std::string_view s) {
    u64(s.size());
    v.insert(v.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& cat(const Bytes& other) {
    v.insert(v.end(), other.v.begin(), other.v.end());
    return *this;
  }
  // hex appends pairs of hex digits; spaces are ignored.
  Bytes& hex(std::string_view h) {
    std::string digits;
    for (char c : h) {
      if (c != ' ') digits += c;
    }
    for (size_t i = 0; i + 1 < digits.size(); i += 2) v.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return *this;
  }
};

template <typename K = fyrn::Pubkey>
K key_of(uint8_t b) {
  K k;
  k.bytes.fill(b);
  return k;
}
inline fyrn::Hash hash_of(uint8_t b) { return key_of<fyrn::Hash>(b); }
inline fyrn::Pubkey seq_key() {  // 1, 2, …, 32
  fyrn::Pubkey p;
  for (int i = 0; i < 32; ++i) p.bytes[i] = static_cast<uint8_t>(i + 1);
  return p;
}
// Base58 texts of key_of(0x11) and seq_key(), from the PyPI base58 package.
inline constexpr const char* kKey11Text = "29d2S7vB453rNYFdR5Ycwt7y9haRT5fwVwL9zTmBhfV2";
inline constexpr const char* kSeqKeyText = "4wBqpZM9xaSheZzJSMawUKKwhdpChKbZ5eu5ky4Vigw";

// Commission built field by field so that out-of-range fees can be tested.
inline fyrn::Commission raw_commission(uint8_t key_byte, uint8_t fee) { return {key_of(key_byte), fee}; }

inline fyrn::item::Order limit_order(std::string symbol, bool buy, double price, double size,
                                     fyrn::Tif tif = fyrn::Tif::GTC) {
  return {std::move(symbol), buy, price, size, false, false, fyrn::LimitType{tif}, {}, {}, {}};
}

inline fyrn::item::Order market_order(std::string symbol, bool buy, double size) {
  return {std::move(symbol), buy, 0.0, size, false, false, fyrn::TriggerType{true, 0.0}, {}, {}, {}};
}

inline fyrn::item::Stop stop_order(std::string symbol, bool buy, double size, double trigger) {
  return {{std::move(symbol), buy, size, trigger, NAN, false, {}, {}}};
}

inline fyrn::Action orders(std::vector<fyrn::OrderItem> items) {
  return fyrn::Action(fyrn::action::Orders{std::move(items)});
}

}  // namespace wire_test
