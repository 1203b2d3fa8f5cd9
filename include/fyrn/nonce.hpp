// fyrn/nonce.hpp: the process-wide nanosecond clock and the nonce strategies.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string_view>

namespace fyrn {

// next_timestamp returns the next value of the process-wide clock: the Unix
// time in nanoseconds, or one more than the last value handed out if that is
// larger. Strictly increasing across all threads; lock-free. Throws Panic if
// the wall clock is before 1970 or beyond 64 bits of nanoseconds.
uint64_t next_timestamp();

// NonceStrategy chooses where a signer's nonces come from.
enum class NonceStrategy : uint8_t { Timestamp, Counter, HighFrequency };

// nonce_strategy_from_str matches "timestamp", "counter" or "high_frequency"
// exactly; nullopt otherwise.
std::optional<NonceStrategy> nonce_strategy_from_str(std::string_view name);

// NonceManager hands out a signer's nonces by its strategy. Its counter and its
// last high-frequency nonce are atomics of its own, so next_nonce may run on
// many threads at once and every caller gets a distinct value. A signer made
// without an explicit strategy uses Timestamp.
class NonceManager {
 public:
  explicit NonceManager(NonceStrategy strategy = NonceStrategy::Timestamp) : strategy_(strategy) {}
  NonceManager(const NonceManager&) = delete;
  NonceManager& operator=(const NonceManager&) = delete;

  // strategy returns the strategy this manager was made with.
  NonceStrategy strategy() const { return strategy_; }

  // next_nonce returns the next nonce: the process clock (Timestamp), the
  // counter 0, 1, 2, … (Counter), or the process clock forced above this
  // manager's previous high-frequency nonce (HighFrequency). Throws Panic only
  // where next_timestamp does.
  uint64_t next_nonce() const;

 private:
  NonceStrategy strategy_;
  mutable std::atomic<uint64_t> counter_{0};
  mutable std::atomic<uint64_t> last_high_frequency_{0};
};

}  // namespace fyrn
