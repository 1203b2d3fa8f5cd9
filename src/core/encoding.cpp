// base64 and hexadecimal text of byte strings. libsodium has both
// (sodium_bin2base64, sodium_bin2hex), but in constant time, which costs as
// much as the base58 rendering of the same bytes; every prepared message
// carries all three renderings of its bytes, and none of them is secret
// (bench/bench_encoding.cpp measures both).
#include "fyrn/encoding.hpp"

namespace fyrn {

std::string base64_encode(const uint8_t* data, size_t data_len) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out((data_len + 2) / 3 * 4, '\0');
  char* o = out.data();
  size_t i = 0;
  for (; i + 3 <= data_len; i += 3, o += 4) {
    const uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
    o[0] = kAlphabet[v >> 18];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = kAlphabet[(v >> 6) & 63];
    o[3] = kAlphabet[v & 63];
  }
  if (const size_t rest = data_len - i; rest > 0) {
    const uint32_t v = (uint32_t{data[i]} << 16) | (rest == 2 ? uint32_t{data[i + 1]} << 8 : 0);
    o[0] = kAlphabet[v >> 18];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    o[3] = '=';
  }
  return out;
}

std::string hex_encode(const uint8_t* data, size_t data_len) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(data_len * 2, '\0');
  for (size_t i = 0; i < data_len; ++i) {
    out[2 * i] = kDigits[data[i] >> 4];
    out[2 * i + 1] = kDigits[data[i] & 15];
  }
  return out;
}

}  // namespace fyrn
