// Native benchmark: base64 and hex (libsodium's constant-time encoders) for
// message-sized inputs, beside the base58 rendering of the same bytes that a
// prepared message also carries, and the floor of allocating and filling a
// string of the base64 length.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "fyrn/base58.hpp"
#include "fyrn/encoding.hpp"

namespace {

volatile size_t g_sink;

template <typename F>
double ns_per_call(const std::vector<uint8_t>& inputs, size_t width, F&& encode) {
  const size_t count = inputs.size() / width;
  double best = 1e300;
  for (int repeat = 0; repeat < 7; ++repeat) {
    const auto start = std::chrono::steady_clock::now();
    size_t total = 0;
    for (size_t i = 0; i < count; ++i) total += encode(inputs.data() + i * width, width).size();
    const auto stop = std::chrono::steady_clock::now();
    g_sink = total;
    best = std::min(best, std::chrono::duration<double, std::nano>(stop - start).count() / static_cast<double>(count));
  }
  return best;
}

std::string copy_floor(const uint8_t* data, size_t len) {
  std::string out((len + 2) / 3 * 4, '\0');
  std::copy(data, data + len, out.begin());
  return out;
}

}  // namespace

int main() {
  std::printf("message renderings, ns per call (floor: allocate and fill a string of the base64 length)\n");
  std::printf("  %9s  %7s  %7s  %7s  %8s  %12s\n", "", "floor", "base64", "hex", "base58", "b64+hex/b58");
  std::mt19937_64 rng(42);
  for (size_t width : {100, 150, 200}) {
    std::vector<uint8_t> inputs(width * 4000);
    for (auto& b : inputs) b = static_cast<uint8_t>(rng());
    const double floor = ns_per_call(inputs, width, copy_floor);
    const double b64 = ns_per_call(inputs, width, fyrn::base64_encode);
    const double hex = ns_per_call(inputs, width, fyrn::hex_encode);
    const double b58 = ns_per_call(inputs, width, [](const uint8_t* p, size_t n) { return fyrn::base58::encode(p, n); });
    std::printf("  %3zu bytes  %7.1f  %7.1f  %7.1f  %8.1f  %12.3f\n", width, floor, b64, hex, b58, (b64 + hex) / b58);
  }
  return 0;
}
