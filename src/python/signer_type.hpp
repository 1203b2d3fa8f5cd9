// signer_type.hpp: the `Signer` class, a Python handle on one fyrn::Signer.
//
// Each instance carries a borrow state: methods that change its settings or
// use its reusable message buffer take it exclusively, all others share it.
// A conflicting call (reachable through Python callbacks that run during
// argument conversion) raises RuntimeError "Already borrowed" (exclusive use
// requested) or "Already mutably borrowed" (shared use requested).
#pragma once

#include "pyref.hpp"

#include "fyrn/signer.hpp"

namespace fyrn::py {

// signer_type returns the Signer class, creating it on first use (at module
// import). nullptr with the panic exception set if it cannot be created.
PyTypeObject* signer_type();

// SignerBorrow holds one use of a Signer object for its lifetime. Check it
// with operator bool right after construction: false means self is no Signer
// (TypeError set) or the use conflicts with one in progress (RuntimeError set).
class SignerBorrow {
 public:
  enum class Use { Shared, Exclusive };
  SignerBorrow(PyObject* self, Use use);
  ~SignerBorrow();
  SignerBorrow(const SignerBorrow&) = delete;
  SignerBorrow& operator=(const SignerBorrow&) = delete;

  explicit operator bool() const { return signer_ != nullptr; }
  fyrn::Signer& signer() const { return *signer_; }

 private:
  PyObject* self_ = nullptr;
  fyrn::Signer* signer_ = nullptr;
  Use use_;
};

}  // namespace fyrn::py
