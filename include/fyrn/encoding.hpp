// fyrn/encoding.hpp: base64 (standard alphabet, "=" padding) and lowercase
// hexadecimal text forms of byte strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fyrn {

// base64_len is the length of the base64 text of data_len bytes.
constexpr size_t base64_len(size_t data_len) { return (data_len + 2) / 3 * 4; }

// base64_encode returns the RFC 4648 section 4 encoding of data[0..data_len):
// standard alphabet, padded with '=' to a multiple of four characters.
std::string base64_encode(const uint8_t* data, size_t data_len);
// base64_encode_to writes that text to out[0..base64_len(data_len)).
void base64_encode_to(char* out, const uint8_t* data, size_t data_len);

// hex_encode returns two lowercase hexadecimal digits per byte of
// data[0..data_len), most significant nibble first.
std::string hex_encode(const uint8_t* data, size_t data_len);
// hex_encode_to writes that text to out[0..2 * data_len).
void hex_encode_to(char* out, const uint8_t* data, size_t data_len);

}  // namespace fyrn
