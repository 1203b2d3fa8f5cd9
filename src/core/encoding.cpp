// base64 and hexadecimal through libsodium. Its encoders run in constant time,
// a few hundred nanoseconds for a prepared message's bytes: small beside the
// base58 rendering of the same bytes (bench/bench_encoding.cpp).
#include "fyrn/encoding.hpp"

#include <sodium.h>

namespace fyrn {

std::string base64_encode(const uint8_t* data, size_t data_len) {
  constexpr int kVariant = sodium_base64_VARIANT_ORIGINAL;
  const size_t capacity = sodium_base64_ENCODED_LEN(data_len, kVariant);  // counts the NUL
  std::string out(capacity, '\0');
  sodium_bin2base64(out.data(), capacity, data, data_len, kVariant);
  out.resize(capacity - 1);
  return out;
}

std::string hex_encode(const uint8_t* data, size_t data_len) {
  std::string out(data_len * 2 + 1, '\0');
  sodium_bin2hex(out.data(), out.size(), data, data_len);
  out.resize(data_len * 2);
  return out;
}

}  // namespace fyrn
