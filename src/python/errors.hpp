// errors.hpp: how failures cross into Python.
//
// A core Error becomes ValueError(display text). A violated invariant
// (fyrn::Panic, or any other C++ exception) becomes the module's panic
// exception, a class derived directly from BaseException that is not exported
// as a module attribute. Nothing else is raised by the shell for core failures.
#pragma once

#include "pyref.hpp"

#include <exception>
#include <new>
#include <string_view>

#include "fyrn/error.hpp"
#include "fyrn/unwind.hpp"

namespace fyrn::py {

// Raised is what every raise_* function of the shell returns: an exception is
// set, and the value reads as the failure result of both conventions used here
// (false from a bool function, nullptr from one returning a new reference), so
// that `return raise_error(e);` fits either.
struct Raised {
  constexpr operator bool() const { return false; }  // NOLINT: implicit by design
  constexpr operator PyObject*() const { return nullptr; }  // NOLINT: implicit by design
};

// raise_error sets ValueError(error.display()).
Raised raise_error(const fyrn::Error& error);

// raise_value_error sets ValueError(text). Texts carry callers' strings (any
// bytes of valid UTF-8, NUL included); they are decoded with replacement, so
// a decoding problem never hides the error itself.
Raised raise_value_error(std::string_view text);

// raise_panic sets the panic exception with `message`.
Raised raise_panic(const char* message);

// init_panic_type creates the panic class once (during module init).
bool init_panic_type();

// guarded runs body (returning a new reference or nullptr with an exception
// set) and turns any escaping C++ exception into a Python exception, so that
// nothing unwinds through the interpreter. The one exception is the forced
// unwind of a thread ended by pthread_exit() (a daemon thread at interpreter
// exit): it must go on through the interpreter's frames, untouched and without
// touching Python (the thread no longer holds the lock), so guarded is not
// noexcept (that would turn the unwind into std::terminate).
template <typename Body>
PyObject* guarded(Body&& body) {
  note_call_thread();
  try {
    PyObject* result = body();
    if (result == nullptr && !PyErr_Occurred()) {
      PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    return result;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    return raise_panic(e.what());
  } catch (...) {
    pass_forced_unwind();
    return raise_panic("unknown internal failure");
  }
}

}  // namespace fyrn::py
