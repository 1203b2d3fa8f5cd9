// fyrn/unwind.hpp: letting a thread that is being ended pass a catch (...).
//
// pthread_exit() ends a thread by unwinding its stack with a forced unwind, a
// foreign (non-C++) exception that runs destructors and that every catch (...)
// catches. CPython does this to a daemon thread that wants the interpreter lock
// back after finalisation began, so it can run through any library frame that
// calls into Python. Swallowing it aborts the process: every catch (...) calls
// pass_forced_unwind() first.
#pragma once

namespace fyrn {

// pass_forced_unwind returns when the exception being handled is a C++
// exception; for a forced unwind it goes on unwinding and does not return.
// Call it only inside a catch (...) handler, before anything else there.
void pass_forced_unwind();

}  // namespace fyrn
