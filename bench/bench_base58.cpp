// Native benchmark: the fixed-size base58 encoders against the plain
// big-number encoder they replace, on the same random inputs.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "fyrn/base58.hpp"
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

}  // namespace

int main() {
  std::printf("base58 encode, ns per call (floor: the plain big-number encoder)\n");
  std::printf("  %8s  %10s  %10s  %8s\n", "", "plain", "fixed-size", "speedup");
  row(32, &fyrn::base58::encode_32);
  row(64, &fyrn::base58::encode_64);
  return 0;
}
