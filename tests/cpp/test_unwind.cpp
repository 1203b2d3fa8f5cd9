// pass_forced_unwind inside catch (...): a thread ended by pthread_exit() goes
// on unwinding (its destructors run, the code after the handler does not), and
// a C++ exception stays the one being handled.
#include <gtest/gtest.h>

#include <pthread.h>

#include <stdexcept>
#include <string>

#include "fyrn/unwind.hpp"

namespace {

struct Trace {
  bool destroyed = false;
  bool handler_went_on = false;
  bool returned = false;
};

struct Guard {
  Trace* trace;
  ~Guard() { trace->destroyed = true; }
};

void* ended_inside_try(void* arg) {
  auto* trace = static_cast<Trace*>(arg);
  Guard guard{trace};
  try {
    pthread_exit(nullptr);
  } catch (...) {
    fyrn::pass_forced_unwind();
    trace->handler_went_on = true;
  }
  trace->returned = true;
  return nullptr;
}

TEST(Unwind, ForcedUnwindPassesCatchAll) {
  for (int i = 0; i < 3; ++i) {  // the thread's handled-exception state must not leak into the next
    Trace trace;
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, nullptr, ended_inside_try, &trace), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    EXPECT_TRUE(trace.destroyed);
    EXPECT_FALSE(trace.handler_went_on);
    EXPECT_FALSE(trace.returned);
  }
}

TEST(Unwind, CxxExceptionStaysHandled) {
  std::string seen;
  try {
    throw std::runtime_error("kept");
  } catch (...) {
    fyrn::pass_forced_unwind();
    try {
      throw;
    } catch (const std::runtime_error& e) {
      seen = e.what();
    }
  }
  EXPECT_EQ(seen, "kept");
}

}  // namespace
