// pyref.hpp: an owning reference to a Python object, so that no path of the
// shell leaks or double-frees.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace fyrn::py {

namespace detail {
// The thread state of the call running on this thread, noted by guarded() on
// entry (the lock is held then).
inline thread_local PyThreadState* t_call_tstate = nullptr;

inline bool interpreter_finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing() != 0;
#else
  return _Py_IsFinalizing() != 0;
#endif
}

// The thread state holding the lock (3.11: process-wide), or this thread's
// attached one (3.12+: nullptr while detached); never a fatal error.
inline PyThreadState* current_tstate_unchecked() {
#if PY_VERSION_HEX >= 0x030D0000
  return PyThreadState_GetUnchecked();
#else
  return _PyThreadState_UncheckedGet();
#endif
}
}  // namespace detail

// note_call_thread records this thread's state; call with the lock held.
inline void note_call_thread() { detail::t_call_tstate = PyThreadState_Get(); }

// python_usable says whether this thread may touch Python objects. It is false
// in one situation only: once finalisation has begun, CPython ends a daemon
// thread that tries to take the lock back with pthread_exit(), whose forced
// unwind runs the destructors of the call's frames without the lock. They
// must then leave every object alone (leaked: the process is ending).
inline bool python_usable() {
  if (!detail::interpreter_finalizing()) [[likely]] return true;
  PyThreadState* mine = detail::t_call_tstate;
  return mine == nullptr || detail::current_tstate_unchecked() == mine;
}

class PyRef {
 public:
  PyRef() = default;
  // steal takes over a new reference (may be nullptr after a failed call).
  static PyRef steal(PyObject* obj) { return PyRef(obj); }
  // borrow adds a reference to a borrowed object.
  static PyRef borrow(PyObject* obj) {
    Py_XINCREF(obj);
    return PyRef(obj);
  }

  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      drop();
      obj_ = std::exchange(other.obj_, nullptr);
    }
    return *this;
  }
  ~PyRef() { drop(); }

  PyObject* get() const { return obj_; }
  // release hands the reference to the caller (for returning to Python).
  PyObject* release() { return std::exchange(obj_, nullptr); }
  explicit operator bool() const { return obj_ != nullptr; }

 private:
  explicit PyRef(PyObject* obj) : obj_(obj) {}
  void drop() {
    if (obj_ != nullptr && python_usable()) Py_DECREF(obj_);
  }
  PyObject* obj_ = nullptr;
};

}  // namespace fyrn::py
