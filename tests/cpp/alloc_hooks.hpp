// alloc_hooks.hpp: the test binary's replacement of the global allocation
// functions, for tests that count heap allocations or make them fail.
#pragma once

#include <cstddef>

namespace alloc_hooks {

// State is the calling thread's: allocations on other threads (worker pools)
// are neither counted nor failed.
struct State {
  // While `counting` is set, every allocation adds one to `allocations`.
  bool counting = false;
  size_t allocations = 0;
  // While `failing` is set, every allocation after the first
  // `successes_left` fails (bad_alloc, or nullptr from a nothrow form), as
  // when memory has run out for good.
  bool failing = false;
  size_t successes_left = 0;
};

// state returns this thread's hook state.
State& state();

// OutOfMemoryAfter makes allocations on this thread fail from the (n + 1)-th
// on, for its lifetime.
class OutOfMemoryAfter {
 public:
  explicit OutOfMemoryAfter(size_t n) {
    state().successes_left = n;
    state().failing = true;
  }
  OutOfMemoryAfter(const OutOfMemoryAfter&) = delete;
  OutOfMemoryAfter& operator=(const OutOfMemoryAfter&) = delete;
  ~OutOfMemoryAfter() { state().failing = false; }
};

}  // namespace alloc_hooks
