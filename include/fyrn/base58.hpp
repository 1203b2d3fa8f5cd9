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
// byte becomes one leading '1'). Its cost grows as len · log²(len): above a few
// kilobytes the conversion splits the value in halves recursively and
// multiplies them back by transforms.
std::string encode(const uint8_t* data, size_t len);

// encode_32 / encode_64 are the fixed-size fast paths for keys, hashes and
// signatures; they give exactly what `encode` gives.
std::string encode_32(const uint8_t* data);
std::string encode_64(const uint8_t* data);

// decode parses base58 text. On failure the error is InvalidBase58 carrying the
// decoder's description ("provided string contained invalid character 'c' at
// byte N" or "provided string contained non-ascii character starting at byte N").
// Its cost grows with the square of the text's length: text from callers that
// must decode to a fixed size goes through decode_into.
Result<std::vector<uint8_t>> decode(std::string_view text);

// decode_into decodes text meant to hold at most `capacity` bytes (a key, a
// hash, a keypair, a signature). It returns what decode would, but as the
// decoded length, and writes the bytes to out[0, length) only when the length
// is at most `capacity`. Text with more than 2 · capacity + 8 digits after its
// leading '1's cannot fit and costs work linear in its length: the leading
// '1's and the digit count fix the length to within one byte and the leading
// digits settle that byte. Where they cannot (a value within about
// 10^-9 + d · 10^-14, relative, of a power of 256, d the digit count), text of
// up to 8192 such digits is decoded in full; longer text (reachable only by
// crafting it) then gets the length the middle of the leading digits' range
// gives, which may be one off the exact one.
Result<size_t> decode_into(std::string_view text, uint8_t* out, size_t capacity);

// encodes returns whether `text` is exactly encode(data, len). It reads the
// text's value with multiplications only, at about a third of the cost of
// encoding, so a rendering a caller hands back can be checked and kept.
bool encodes(std::string_view text, const uint8_t* data, size_t len);

namespace detail {

// EncodeTuning holds the thresholds of `encode`; tests drive every path of
// the long conversion with small ones.
struct EncodeTuning {
  size_t leaf_bytes;      // longest input converted by the short loop
  size_t ntt_min_coeffs;  // products with a shorter factor are done directly
  int digits_per_coeff;   // base 58^m of the long conversion; 0: by length
};
inline constexpr EncodeTuning kEncodeTuning{2900, 64, 0};

// encode_tuned is `encode` with the given thresholds; encode_short is the
// short loop alone, for any length.
std::string encode_tuned(const uint8_t* data, size_t len, const EncodeTuning& tuning);
std::string encode_short(const uint8_t* data, size_t len);

}  // namespace detail

}  // namespace fyrn::base58
