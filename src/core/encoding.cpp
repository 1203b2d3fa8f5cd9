// base64 and hexadecimal text of byte strings. libsodium has both
// (sodium_bin2base64, sodium_bin2hex), but in constant time, which costs as
// much as the base58 rendering of the same bytes; every prepared message
// carries all three renderings of its bytes, and none of them is secret
// (bench/bench_encoding.cpp measures both).
#include "fyrn/encoding.hpp"

#include <array>
#include <cstring>

namespace fyrn {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Both digits of every byte, so that each byte is one load and one store.
constexpr std::array<char, 512> make_hex_pairs() {
  constexpr char kDigits[] = "0123456789abcdef";
  std::array<char, 512> pairs{};
  for (size_t b = 0; b < 256; ++b) {
    pairs[2 * b] = kDigits[b >> 4];
    pairs[2 * b + 1] = kDigits[b & 15];
  }
  return pairs;
}
constexpr std::array<char, 512> kHexPairs = make_hex_pairs();

// The two characters of every 12-bit group, so that three bytes are two loads
// and two stores.
constexpr std::array<char, 8192> make_base64_pairs() {
  std::array<char, 8192> pairs{};
  for (size_t v = 0; v < 4096; ++v) {
    pairs[2 * v] = kAlphabet[v >> 6];
    pairs[2 * v + 1] = kAlphabet[v & 63];
  }
  return pairs;
}
constexpr std::array<char, 8192> kBase64Pairs = make_base64_pairs();

}  // namespace

void base64_encode_to(char* out, const uint8_t* data, size_t data_len) {
  char* o = out;
  size_t i = 0;
  for (; i + 3 <= data_len; i += 3, o += 4) {
    const uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
    std::memcpy(o, &kBase64Pairs[2 * size_t{v >> 12}], 2);
    std::memcpy(o + 2, &kBase64Pairs[2 * size_t{v & 4095}], 2);
  }
  if (const size_t rest = data_len - i; rest > 0) {
    const uint32_t v = (uint32_t{data[i]} << 16) | (rest == 2 ? uint32_t{data[i + 1]} << 8 : 0);
    o[0] = kAlphabet[v >> 18];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    o[3] = '=';
  }
}

void hex_encode_to(char* out, const uint8_t* data, size_t data_len) {
  for (size_t i = 0; i < data_len; ++i) std::memcpy(out + 2 * i, &kHexPairs[2 * size_t{data[i]}], 2);
}

std::string base64_encode(const uint8_t* data, size_t data_len) {
  std::string out(base64_len(data_len), '\0');
  base64_encode_to(out.data(), data, data_len);
  return out;
}

std::string hex_encode(const uint8_t* data, size_t data_len) {
  std::string out(data_len * 2, '\0');
  hex_encode_to(out.data(), data, data_len);
  return out;
}

}  // namespace fyrn
