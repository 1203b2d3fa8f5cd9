// Native benchmark: base64 and hex of message-sized inputs, ours beside
// libsodium's constant-time encoders and beside the base58 rendering of the same
// bytes that a prepared message also carries, and the floor of allocating and
// filling a string of the base64 length.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "fyrn/base58.hpp"
#include "native_bench.hpp"
#include "fyrn/encoding.hpp"

#include <sodium.h>

namespace {

template <typename F>
double ns_per_call(const std::vector<uint8_t>& inputs, size_t width, F&& encode) {
  return bench::ns_per_input(inputs, width, 7, [&](const uint8_t* p) { return encode(p, width); });
}

std::string copy_floor(const uint8_t* data, size_t len) {
  std::string out((len + 2) / 3 * 4, '\0');
  std::copy(data, data + len, out.begin());
  return out;
}

std::string sodium_base64(const uint8_t* data, size_t len) {
  const size_t capacity = sodium_base64_ENCODED_LEN(len, sodium_base64_VARIANT_ORIGINAL);
  std::string out(capacity, '\0');
  sodium_bin2base64(out.data(), capacity, data, len, sodium_base64_VARIANT_ORIGINAL);
  out.resize(capacity - 1);
  return out;
}

std::string sodium_hex(const uint8_t* data, size_t len) {
  std::string out(len * 2 + 1, '\0');
  sodium_bin2hex(out.data(), out.size(), data, len);
  out.resize(len * 2);
  return out;
}

}  // namespace

int main() {
  std::printf("message renderings, ns per call (floor: allocate and fill a string of the base64 length)\n");
  std::printf("  %9s  %7s  %7s  %7s  %10s  %10s  %8s\n", "", "floor", "base64", "hex", "sodium b64", "sodium hex",
              "base58");
  std::mt19937_64 rng(42);
  for (size_t width : {91, 200, 420}) {
    std::vector<uint8_t> inputs(width * 4000);
    for (auto& b : inputs) b = static_cast<uint8_t>(rng());
    const double floor = ns_per_call(inputs, width, copy_floor);
    const double b64 = ns_per_call(inputs, width, fyrn::base64_encode);
    const double hex = ns_per_call(inputs, width, fyrn::hex_encode);
    const double sb64 = ns_per_call(inputs, width, sodium_base64);
    const double shex = ns_per_call(inputs, width, sodium_hex);
    const double b58 = ns_per_call(inputs, width, [](const uint8_t* p, size_t n) { return fyrn::base58::encode(p, n); });
    std::printf("  %3zu bytes  %7.1f  %7.1f  %7.1f  %10.1f  %10.1f  %8.1f\n", width, floor, b64, hex, sb64, shex, b58);
  }
  return 0;
}
