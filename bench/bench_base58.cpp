// Native benchmark: the fixed-size base58 encoders against the general
// encoder, on the same random inputs; the general encoder on prepared-message
// sizes in ns (floor: hex of the same bytes, one pass that turns bytes into
// text); long input against the short loop alone, which is quadratic.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "fyrn/base58.hpp"
#include "fyrn/encoding.hpp"
#include "native_bench.hpp"

namespace {

template <typename F>
double ns_per_call(const std::vector<uint8_t>& inputs, size_t width, F&& encode) {
  return bench::ns_per_input(inputs, width, 5, encode);
}

void row(size_t width, std::string (*fast)(const uint8_t*)) {
  std::mt19937_64 rng(42);
  std::vector<uint8_t> inputs(width * 20000);
  for (auto& b : inputs) b = static_cast<uint8_t>(rng());
  const double plain = ns_per_call(inputs, width, [&](const uint8_t* p) { return fyrn::base58::encode(p, width); });
  const double quick = ns_per_call(inputs, width, fast);
  std::printf("  %2zu bytes  %10.1f  %10.1f  %8.2f\n", width, plain, quick, plain / quick);
}

void message_row(size_t width) {
  std::mt19937_64 rng(7);
  std::vector<uint8_t> inputs(width * 4000);
  for (auto& b : inputs) b = static_cast<uint8_t>(rng());
  const double hex = ns_per_call(inputs, width, [&](const uint8_t* p) { return fyrn::hex_encode(p, width); });
  const double b58 = ns_per_call(inputs, width, [&](const uint8_t* p) { return fyrn::base58::encode(p, width); });
  std::printf("  %4zu bytes  %10.1f  %10.1f  %8.1f\n", width, hex, b58, b58 / hex);
}

// long_row times one long input: the encoder against the short loop alone
// (quadratic), and the encoder's cost per byte against hex's.
void long_row(size_t width) {
  std::mt19937_64 rng(9);
  std::vector<uint8_t> data(width);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  const double hex = bench::best_ns(3, 1, [&] { bench::g_sink = fyrn::hex_encode(data.data(), width).size(); });
  const double fast = bench::best_ns(3, 1, [&] { bench::g_sink = fyrn::base58::encode(data.data(), width).size(); });
  const double quad =
      bench::best_ns(1, 1, [&] { bench::g_sink = fyrn::base58::detail::encode_short(data.data(), width).size(); });
  std::printf("  %7zu bytes  %10.2f  %10.2f  %10.2f  %8.1f  %8.0f\n", width, quad / 1e6, fast / 1e6, hex / 1e6,
              quad / fast, fast / hex);
}

}  // namespace

int main() {
  std::printf("base58 encode, ns per call (floor: the general encoder)\n");
  std::printf("  %8s  %10s  %10s  %8s\n", "", "general", "fixed-size", "speedup");
  row(32, &fyrn::base58::encode_32);
  row(64, &fyrn::base58::encode_64);
  std::printf("\nbase58 of prepared-message sizes, ns per call (floor: hex of the same bytes)\n");
  std::printf("  %10s  %10s  %10s  %8s\n", "", "hex", "base58", "x floor");
  for (size_t width : {91, 193, 400, 600}) message_row(width);
  std::printf("\nbase58 of long input, ms (the short loop alone is quadratic; floor: hex)\n");
  std::printf("  %13s  %10s  %10s  %10s  %8s  %8s\n", "", "quadratic", "encode", "hex", "speedup", "x floor");
  for (size_t width : {3000, 30000, 100000, 672000}) long_row(width);
  return 0;
}
