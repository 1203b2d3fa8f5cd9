// sign_diff: the long differential run. Random seeds (with a share of extreme
// ones) and messages of random lengths (0..1200, skewed to short) are signed
// by libsodium's crypto_sign_detached and by every backend this CPU runs, one
// message per call and in batches of 1..40 mixed keys and lengths; every
// signature is compared byte for byte. Prints the count and the differences;
// exits 1 on any difference.
//
// Usage: sign_diff [count [seed]]   (count: signatures per backend and form)
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "signers.hpp"

namespace {

using fyrn_tools::Backend;
using fyrn_tools::Key;
using fyrn_tools::Message;

std::atomic<uint64_t> g_signed{0};
std::atomic<uint64_t> g_compared{0};
std::atomic<uint64_t> g_differences{0};
std::atomic<unsigned> g_finished{0};
std::mutex g_print;

void report(const char* backend, const char* form, const Key& key, const Message& m) {
  if (g_differences.fetch_add(1) >= 10) return;
  std::lock_guard<std::mutex> lock(g_print);
  char seed_hex[65];
  sodium_bin2hex(seed_hex, sizeof seed_hex, key.seed(), 32);
  std::fprintf(stderr, "DIFFERENCE: %s, %s, seed %s, message of %zu bytes:", backend, form, seed_hex, m.len);
  for (size_t i = 0; i < m.len; ++i) std::fprintf(stderr, "%02x", m.data[i]);
  std::fprintf(stderr, "\n");
}

void fill_seed(std::mt19937_64& rng, uint8_t seed[32]) {
  const uint64_t kind = rng() % 64;
  for (int i = 0; i < 32; ++i) seed[i] = static_cast<uint8_t>(rng());
  if (kind == 0) std::memset(seed, 0, 32);
  if (kind == 1) std::memset(seed, 0xff, 32);
  if (kind == 2) std::memset(seed, static_cast<int>(rng() & 0xff), 32);
  if (kind == 3) std::memset(seed, 0, rng() % 32);  // leading zero bytes
}

// message_length is skewed to short messages, where the padding boundaries of
// prefix ‖ M (M = 80, 81, 208 ...) and R ‖ A ‖ M (M = 48, 49, 176 ...) lie.
size_t message_length(std::mt19937_64& rng) {
  const double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
  return static_cast<size_t>(u * u * 1201.0) % 1201;
}

void worker(uint64_t count, uint64_t seed, const std::vector<Backend>* backends) {
  std::mt19937_64 rng(seed);
  std::vector<uint8_t> pool(1200 * 40);
  std::vector<Key> keys(40);
  std::vector<const Key*> key_ptrs(40);
  std::vector<Message> msgs(40);
  uint8_t expected[40][64], got[40][64];
  for (uint64_t done = 0; done < count;) {
    const size_t n = std::min<uint64_t>(1 + rng() % 40, count - done);
    for (auto& b : pool) b = static_cast<uint8_t>(rng());
    for (size_t i = 0; i < n; ++i) {
      fill_seed(rng, keys[i].seed());
      fyrn_tools::make_key(keys[i]);
      key_ptrs[i] = &keys[i];
      msgs[i] = {pool.data() + 1200 * i, message_length(rng)};
      crypto_sign_detached(expected[i], nullptr, msgs[i].data, msgs[i].len, keys[i].secret);
    }
    for (const Backend& backend : *backends) {
      for (size_t i = 0; i < n; ++i) {
        backend.sign(got[i], keys[i], msgs[i].data, msgs[i].len);
        if (std::memcmp(got[i], expected[i], 64) != 0) report(backend.name, "single", keys[i], msgs[i]);
      }
      g_compared += n;
      std::memset(got, 0, sizeof got);
      backend.sign_many(got, key_ptrs.data(), msgs.data(), n);
      for (size_t i = 0; i < n; ++i) {
        if (std::memcmp(got[i], expected[i], 64) != 0) report(backend.name, "batch", keys[i], msgs[i]);
      }
      g_compared += n;
    }
    done += n;
    g_signed += n;
  }
  sodium_memzero(keys.data(), keys.size() * sizeof(Key));
  ++g_finished;
}

}  // namespace

int main(int argc, char** argv) {
  if (sodium_init() < 0) return 2;
  const uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10000000;
  uint64_t seed = 0;
  if (argc > 2) {
    seed = std::strtoull(argv[2], nullptr, 10);
  } else {
    randombytes_buf(&seed, sizeof seed);
  }
  const std::vector<Backend> backends = fyrn_tools::library_backends();
  std::printf("sign-diff: %" PRIu64 " signatures against crypto_sign_detached, seed %" PRIu64 "; backends:", count,
              seed);
  for (const Backend& b : backends) std::printf(" [%s]", b.name);
  std::printf(", one message per call and batches of 1..40\n");
  std::fflush(stdout);

  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; ++t) {
    const uint64_t share = count / threads + (t < count % threads ? 1 : 0);
    pool.emplace_back(worker, share, seed + 0x9e3779b97f4a7c15ULL * (t + 1), &backends);
  }
  // A progress line a minute: a run of 10^7 takes a while on a shared machine.
  const auto start = std::chrono::steady_clock::now();
  auto next_report = start + std::chrono::minutes(1);
  while (g_signed.load() < count && g_finished.load() < threads) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto now = std::chrono::steady_clock::now();
    if (now >= next_report) {
      next_report += std::chrono::minutes(1);
      const double seconds = std::chrono::duration<double>(now - start).count();
      std::printf("sign-diff: %" PRIu64 " of %" PRIu64 " signatures after %.0f s, %" PRIu64 " differences\n",
                  g_signed.load(), count, seconds, g_differences.load());
      std::fflush(stdout);
    }
  }
  for (auto& t : pool) t.join();
  std::printf("sign-diff: %" PRIu64 " signatures, %" PRIu64 " compared signatures, %" PRIu64 " differences\n",
              g_signed.load(), g_compared.load(), g_differences.load());
  return g_differences.load() == 0 && g_signed.load() == count ? 0 : 1;
}
