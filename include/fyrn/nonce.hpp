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

}  // namespace fyrn
