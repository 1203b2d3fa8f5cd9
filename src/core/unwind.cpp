#include "fyrn/unwind.hpp"

#include <cxxabi.h>
#include <pthread.h>

#if defined(__GLIBCXX__)

// libstdc++ gives the forced unwind a type of its own; rethrowing it resumes
// the unwind where it stopped. The handler's reference is bound to the null
// object of that foreign exception (nothing reads it), which UBSan's null check
// would report.
__attribute__((no_sanitize("null"))) void fyrn::pass_forced_unwind() {
  try {
    throw;
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
  }
}

#else

// LLVM's libc++abi has no such type: a foreign exception in hand is known only
// by having no C++ type, and rethrowing it starts a fresh search for a handler,
// which finds none above the library (std::terminate). So the thread is ended
// again from here, which starts a new forced unwind. The old one is first taken
// off the handled-exceptions stack (its head is the first member of the C++
// ABI's __cxa_eh_globals): leaving the handler would otherwise delete it, and
// glibc's cleanup for an unwind that was not resumed aborts the process.
namespace fyrn::detail {
struct EhGlobals {
  void* caught_exceptions;
  unsigned int uncaught_exceptions;
};
}  // namespace fyrn::detail

extern "C" fyrn::detail::EhGlobals* __cxa_get_globals() noexcept;

void fyrn::pass_forced_unwind() {
  if (abi::__cxa_current_exception_type() != nullptr) return;
  __cxa_get_globals()->caught_exceptions = nullptr;
  pthread_exit(nullptr);
}

#endif
