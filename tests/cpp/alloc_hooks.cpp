// alloc_hooks.cpp: every replaceable global allocation function of the test
// binary, counting and failing on request (alloc_hooks.hpp).
#include "alloc_hooks.hpp"

#include <cstdlib>
#include <new>

// The state lives in this file only: a thread_local shared across files is
// reached through a TLS wrapper, which the sanitizer builds mishandle.
namespace alloc_hooks {
State& state() {
  static thread_local State s;
  return s;
}
}  // namespace alloc_hooks

// The whole replaceable set goes to malloc/free, so that no form (nothrow,
// array, aligned, sized) pairs a library allocation with a free() here:
// std::stable_sort's buffer, for one, comes from the nothrow form.
// GCC pairs the inlined std::allocator calls with these replacements and
// misreports malloc/free as mismatched.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
void* counted_malloc(size_t n, size_t align) noexcept {
  alloc_hooks::State& hooks = alloc_hooks::state();
  if (hooks.counting) ++hooks.allocations;
  if (hooks.failing) {
    if (hooks.successes_left == 0) return nullptr;
    --hooks.successes_left;
  }
  if (n == 0) n = 1;
  if (align <= alignof(std::max_align_t)) return std::malloc(n);
  return std::aligned_alloc(align, (n + align - 1) / align * align);
}
void* counted_new(size_t n, size_t align) {
  if (void* p = counted_malloc(n, align)) return p;
  throw std::bad_alloc();
}
}  // namespace
void* operator new(size_t n) { return counted_new(n, 0); }
void* operator new[](size_t n) { return counted_new(n, 0); }
void* operator new(size_t n, std::align_val_t a) { return counted_new(n, static_cast<size_t>(a)); }
void* operator new[](size_t n, std::align_val_t a) { return counted_new(n, static_cast<size_t>(a)); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return counted_malloc(n, 0); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return counted_malloc(n, 0); }
void* operator new(size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return counted_malloc(n, static_cast<size_t>(a));
}
void* operator new[](size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return counted_malloc(n, static_cast<size_t>(a));
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop

