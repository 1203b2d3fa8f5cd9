// libFuzzer: base58 decode / decode_into / encode over arbitrary text.
// Invariants: accepted text round-trips exactly; decode_into agrees with
// decode on the length (exactly, for text short enough to be decoded in full)
// and on the bytes when they fit; encode of any bytes decodes back; the long
// conversion (with small thresholds, so that fuzz-sized input takes every
// path: direct and transform products, each base 58^m) gives what the short
// loop gives.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fyrn/base58.hpp"

using namespace fyrn;

#define CHECK(cond) \
  do {              \
    if (!(cond)) { __builtin_trap(); } \
  } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Full decode is quadratic: keep the text to the lengths callers can reach
  // through decode (every fixed-size caller goes through decode_into).
  std::string_view text(reinterpret_cast<const char*>(data), size < 600 ? size : 600);
  auto full = base58::decode(text);
  if (full.ok()) {
    CHECK(base58::encode(full->data(), full->size()) == text);
  }
  for (size_t capacity : {size_t{32}, size_t{64}}) {
    uint8_t out[64 + 16];
    std::memset(out, 0xA5, sizeof out);
    auto n = base58::decode_into(text, out, capacity);
    CHECK(n.ok() == full.ok());
    if (!n.ok()) continue;
    CHECK(*n == full->size());
    if (*n > 0 && *n <= capacity) CHECK(std::memcmp(out, full->data(), *n) == 0);
    // Nothing is written past the capacity, and nothing at all when it does not fit.
    for (size_t i = *n <= capacity ? capacity : 0; i < sizeof out; ++i) CHECK(out[i] == 0xA5);
  }
  // Over-long text for decode_into alone: linear-cost path, with the raw input.
  std::string_view whole(reinterpret_cast<const char*>(data), size);
  uint8_t out32[32];
  (void)base58::decode_into(whole, out32, 32);

  // Bytes → text → bytes.
  std::string enc = base58::encode(data, size < 128 ? size : 128);
  auto back = base58::decode(enc);
  CHECK(back.ok() && back->size() == (size < 128 ? size : 128));
  if (!back->empty()) CHECK(std::memcmp(back->data(), data, back->size()) == 0);
  if (size > 0) {
    const std::string plain = base58::detail::encode_short(data, size);
    const base58::detail::EncodeTuning tuning{size_t{8} + data[0] % 24u, size_t{data[0]} % 9, 1 + data[0] % 4};
    CHECK(base58::detail::encode_tuned(data, size, tuning) == plain);
    CHECK(base58::encode(data, size) == plain);
  }
  if (size >= 32) CHECK(base58::encode_32(data) == base58::encode(data, 32));
  if (size >= 64) CHECK(base58::encode_64(data) == base58::encode(data, 64));
  return 0;
}
