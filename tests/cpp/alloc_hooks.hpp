// alloc_hooks.hpp: the test binary's replacement of the global allocation
// functions, for tests that count heap allocations or make them fail.
#pragma once

#include <cstddef>

namespace alloc_hooks {

// While `counting` is set, every allocation on this thread adds one to
// `allocations`.
extern thread_local bool counting;
extern thread_local size_t allocations;

// While `failing` is set, every allocation on this thread after the first
// `successes_left` fails (bad_alloc, or nullptr from a nothrow form), as when
// memory has run out for good.
extern thread_local bool failing;
extern thread_local size_t successes_left;

// OutOfMemoryAfter makes allocations on this thread fail from the (n + 1)-th
// on, for its lifetime.
class OutOfMemoryAfter {
 public:
  explicit OutOfMemoryAfter(size_t n) {
    successes_left = n;
    failing = true;
  }
  OutOfMemoryAfter(const OutOfMemoryAfter&) = delete;
  OutOfMemoryAfter& operator=(const OutOfMemoryAfter&) = delete;
  ~OutOfMemoryAfter() { failing = false; }
};

}  // namespace alloc_hooks
