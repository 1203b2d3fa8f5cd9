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

// set_error_text raises type(text). Texts carry callers' strings: decoding
// with replacement means a decoding problem never hides the error itself.
inline void set_error_text(PyObject* type, std::string_view text) {
  PyRef message = PyRef::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
  if (message) PyErr_SetObject(type, message.get());
}

// raise_error sets ValueError(error.display()) and returns nullptr.
PyObject* raise_error(const fyrn::Error& error);

// raise_panic sets the panic exception with `message` and returns nullptr.
PyObject* raise_panic(const char* message);

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
