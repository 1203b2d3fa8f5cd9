#include "fyrn/nonce.hpp"

#include <time.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "fyrn/error.hpp"

namespace fyrn {
namespace {
std::atomic<uint64_t> g_last_timestamp_nanos{0};

// advance_past stores and returns `now`, or one more than `last`'s current
// value if that is larger (saturating at the top of the range).
uint64_t advance_past(std::atomic<uint64_t>& last, uint64_t now) {
  uint64_t seen = last.load(std::memory_order_relaxed);
  for (;;) {
    const uint64_t bumped = seen == UINT64_MAX ? seen : seen + 1;
    const uint64_t candidate = now > bumped ? now : bumped;
    if (last.compare_exchange_weak(seen, candidate, std::memory_order_acq_rel, std::memory_order_relaxed)) {
      return candidate;
    }
  }
}
}  // namespace

uint64_t next_timestamp() {
  timespec ts;
  if (clock_gettime(CLOCK_REALTIME, &ts) != 0) {
    throw Panic(std::string("time went backwards: the system clock cannot be read: ") + std::strerror(errno));
  }
  if (ts.tv_sec < 0) throw Panic("time went backwards: system clock is before the Unix epoch");
  const unsigned __int128 wide =
      static_cast<unsigned __int128>(ts.tv_sec) * 1000000000u + static_cast<unsigned __int128>(ts.tv_nsec);
  if (wide > UINT64_MAX) {
    throw Panic("Unix timestamp in nanoseconds exceeds u64: the system clock is too far in the future");
  }
  return advance_past(g_last_timestamp_nanos, static_cast<uint64_t>(wide));
}

uint64_t NonceManager::next_nonce() const {
  switch (strategy_) {
    case NonceStrategy::Timestamp:
      return next_timestamp();
    case NonceStrategy::Counter:
      return counter_.fetch_add(1, std::memory_order_relaxed);
    case NonceStrategy::HighFrequency:
      return advance_past(last_high_frequency_, next_timestamp());
  }
  throw Panic("unreachable: unknown nonce strategy");
}

std::optional<NonceStrategy> nonce_strategy_from_str(std::string_view name) {
  if (name == "timestamp") return NonceStrategy::Timestamp;
  if (name == "counter") return NonceStrategy::Counter;
  if (name == "high_frequency") return NonceStrategy::HighFrequency;
  return std::nullopt;
}

}  // namespace fyrn
