// Native benchmark: the core batch signer on the worker pool against the same
// items signed one after another on one thread (the floor), without Python.
// Reports the speed-up and its ratio to the number of cores.
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "fyrn/batch.hpp"
#include "fyrn/signer.hpp"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<fyrn::OrderItem> orders(size_t n) {
  std::vector<fyrn::OrderItem> items;
  items.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    fyrn::item::Order o;
    o.symbol = "BTC-USD";
    o.is_buy = true;
    o.price = 50000.0 + static_cast<double>(i % 100);
    o.size = 0.25;
    items.emplace_back(std::move(o));
  }
  return items;
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main() {
  uint8_t seed[32] = {3};
  const fyrn::Signer signer(fyrn::Keypair::from_bytes(seed, 32).value(), fyrn::SignatureDomain::Devnet);
  constexpr size_t kItems = 10000;
  const auto items = orders(kItems);
  (void)fyrn::sign_all(signer, orders(100), 1);  // start the pool outside the timing

  double best_single = 1e300, best_pool = 1e300;
  for (int round = 0; round < 5; ++round) {  // alternate, so both see the same machine load
    auto start = Clock::now();
    for (size_t i = 0; i < 2000; ++i) {
      if (!signer.sign_single_item(items[i], 1 + i).ok()) return 1;
    }
    best_single = std::min(best_single, seconds_since(start) / 2000);
    start = Clock::now();
    if (!fyrn::sign_all(signer, items, 1).ok()) return 1;
    best_pool = std::min(best_pool, seconds_since(start) / kItems);
  }
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const double speedup = best_single / best_pool;
  std::printf("  one thread  %8.0f tx/s (floor)\n", 1 / best_single);
  std::printf("  pool        %8.0f tx/s on %u cores: speed-up %.2fx, %.2f of cores x floor (target >= 0.85)\n",
              1 / best_pool, cores, speedup, speedup / cores);
  return 0;
}
