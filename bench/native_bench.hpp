// native_bench.hpp: timing helpers shared by the native benchmarks.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

// best_ns returns the fastest per-call time of `fn` over `samples` runs of
// `reps` calls each.
template <typename Fn>
double best_ns(int samples, int reps, Fn&& fn) {
  double best = 1e300;
  for (int s = 0; s < samples; ++s) {
    const auto t0 = Clock::now();
    for (int r = 0; r < reps; ++r) fn();
    const auto t1 = Clock::now();
    best = std::min(best, std::chrono::duration<double, std::nano>(t1 - t0).count() / reps);
  }
  return best;
}

inline volatile size_t g_sink;

// ns_per_input returns the fastest per-input time of `encode(data)` (which
// returns something with size()) over the `width`-byte slices of `inputs`.
template <typename F>
double ns_per_input(const std::vector<uint8_t>& inputs, size_t width, int repeats, F&& encode) {
  const size_t count = inputs.size() / width;
  double best = 1e300;
  for (int repeat = 0; repeat < repeats; ++repeat) {
    const auto start = Clock::now();
    size_t total = 0;
    for (size_t i = 0; i < count; ++i) total += encode(inputs.data() + i * width).size();
    const auto stop = Clock::now();
    g_sink = total;
    best = std::min(best, std::chrono::duration<double, std::nano>(stop - start).count() / static_cast<double>(count));
  }
  return best;
}

}  // namespace bench
