// fyrn/base58.hpp: base58 with the Bitcoin alphabet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fyrn/error.hpp"

namespace fyrn::base58 {

inline constexpr char kAlphabet[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";

// encode returns the base58 text of `len` bytes at `data` (each leading zero
// byte becomes one leading '1').
std::string encode(const uint8_t* data, size_t len);

// encode_32 / encode_64 are the fixed-size fast paths for keys, hashes and
// signatures; they give exactly what `encode` gives.
std::string encode_32(const uint8_t* data);
std::string encode_64(const uint8_t* data);

// decode parses base58 text. On failure the error is InvalidBase58 carrying the
// decoder's description ("provided string contained invalid character 'c' at
// byte N" or "provided string contained non-ascii character starting at byte N").
Result<std::vector<uint8_t>> decode(std::string_view text);

}  // namespace fyrn::base58
