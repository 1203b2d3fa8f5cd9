#include "fyrn/base58.hpp"

#include <array>

namespace fyrn::base58 {
namespace {

constexpr std::array<int8_t, 128> make_index() {
  std::array<int8_t, 128> index{};
  for (auto& v : index) v = -1;
  for (int i = 0; i < 58; ++i) index[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
  return index;
}
constexpr std::array<int8_t, 128> kIndex = make_index();

}  // namespace

std::string encode(const uint8_t* data, size_t len) {
  size_t zeros = 0;
  while (zeros < len && data[zeros] == 0) ++zeros;
  // log(256)/log(58) < 1.366: enough base-58 digits for the rest.
  std::vector<uint8_t> digits((len - zeros) * 138 / 100 + 1);
  size_t used = 0;
  for (size_t i = zeros; i < len; ++i) {
    uint32_t carry = data[i];
    for (size_t j = 0; j < used; ++j) {
      carry += static_cast<uint32_t>(digits[j]) << 8;
      digits[j] = static_cast<uint8_t>(carry % 58);
      carry /= 58;
    }
    while (carry > 0) {
      digits[used++] = static_cast<uint8_t>(carry % 58);
      carry /= 58;
    }
  }
  std::string out(zeros + used, '1');
  for (size_t j = 0; j < used; ++j) out[zeros + j] = kAlphabet[digits[used - 1 - j]];
  return out;
}

std::string encode_32(const uint8_t* data) { return encode(data, 32); }
std::string encode_64(const uint8_t* data) { return encode(data, 64); }

Result<std::vector<uint8_t>> decode(std::string_view text) {
  size_t ones = 0;
  while (ones < text.size() && text[ones] == '1') ++ones;
  // log(58)/log(256) < 0.733: enough bytes for the rest.
  std::vector<uint8_t> bytes((text.size() - ones) * 733 / 1000 + 1);
  size_t used = 0;
  for (size_t i = ones; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      return Error::invalid_base58("provided string contained non-ascii character starting at byte " +
                                   std::to_string(i));
    }
    const int8_t digit = kIndex[c];
    if (digit < 0) {
      return Error::invalid_base58(std::string("provided string contained invalid character '") +
                                   static_cast<char>(c) + "' at byte " + std::to_string(i));
    }
    uint32_t carry = static_cast<uint32_t>(digit);
    for (size_t j = 0; j < used; ++j) {
      carry += static_cast<uint32_t>(bytes[j]) * 58;
      bytes[j] = static_cast<uint8_t>(carry & 0xff);
      carry >>= 8;
    }
    while (carry > 0) {
      bytes[used++] = static_cast<uint8_t>(carry & 0xff);
      carry >>= 8;
    }
  }
  std::vector<uint8_t> out(ones + used, 0);
  for (size_t j = 0; j < used; ++j) out[ones + j] = bytes[used - 1 - j];
  return out;
}

}  // namespace fyrn::base58
