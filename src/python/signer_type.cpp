// signer_type.cpp: the `Signer` class.
//
// Every method binds its arguments, takes its use of the signer, converts the
// arguments in parameter order (type-level conversions, optional nonce last),
// then parses dictionaries and keys, draws a nonce only once everything parsed,
// signs and converts the result. Batch signing keeps the interpreter lock while
// the workers run; they see only core records, never a Python object.
#include "signer_type.hpp"

#include <cstddef>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "binder.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "keypair_type.hpp"
#include "parse_actions.hpp"
#include "parse_orders.hpp"
#include "parse_util.hpp"

#include "fyrn/batch.hpp"
#include "fyrn/nonce.hpp"

namespace fyrn::py {
namespace {

struct SignerObject {
  PyObject_HEAD
  fyrn::Signer signer;
  // The base58 public key as a str, made once: every result dict reuses it.
  PyObject* pubkey;
  // 0: free; n > 0: n shared uses; -1: one exclusive use.
  Py_ssize_t borrow;
};

PyTypeObject* g_signer_type = nullptr;

SignerObject* as_signer(PyObject* self) { return reinterpret_cast<SignerObject*>(self); }

using Use = SignerBorrow::Use;

constexpr const char kInvalidStrategy[] = "Invalid nonce strategy. Use 'timestamp', 'counter', or 'high_frequency'";

// ---- construction ------------------------------------------------------

template <typename... Args>
PyObject* new_signer(PyTypeObject* type, Args&&... args) {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  SignerObject* s = as_signer(self);
  try {
    new (&s->signer) fyrn::Signer(std::forward<Args>(args)...);
  } catch (abi::__forced_unwind&) {
    throw;  // the thread is ending without the lock: touch nothing
  } catch (...) {
    // tp_free only: the signer member was never constructed.
    type->tp_free(self);
    Py_DECREF(type);
    throw;
  }
  s->borrow = 0;
  s->pubkey = text_to_py(s->signer.pubkey_base58());
  if (s->pubkey == nullptr) {
    Py_DECREF(self);
    return nullptr;
  }
  return self;
}

bool domain_of(PyObject* obj, fyrn::SignatureDomain& out) {
  std::string_view text;
  if (!to_text(obj, "signature_domain", text)) return false;
  auto domain = fyrn::signature_domain_from_str(text);
  if (!domain) {
    raise_error(domain.error());
    return false;
  }
  out = *domain;
  return true;
}

const fyrn::Keypair* keypair_arg(PyObject* obj) {
  const fyrn::Keypair* keypair = keypair_of(obj);
  if (keypair == nullptr) parse::raise_type_mismatch(obj, "Keypair", "keypair");
  return keypair;
}

const char* const kNewParams[] = {"keypair", "signature_domain"};
const CallSpec kNew{"__new__", "Signer", kNewParams, 2, 2};

// bind_tuple binds a (tuple, dict) call like a vectorcall one.
bool bind_tuple(const CallSpec& spec, PyObject* args, PyObject* kwargs, PyObject** out) {
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  std::vector<PyObject*> flat(static_cast<size_t>(nargs));
  for (Py_ssize_t i = 0; i < nargs; ++i) flat[static_cast<size_t>(i)] = PyTuple_GET_ITEM(args, i);
  PyRef kwnames;
  if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) > 0) {
    kwnames = PyRef::steal(PyTuple_New(PyDict_GET_SIZE(kwargs)));
    if (!kwnames) return false;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t pos = 0;
    Py_ssize_t k = 0;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      Py_INCREF(key);
      PyTuple_SET_ITEM(kwnames.get(), k++, key);
      flat.push_back(value);
    }
  }
  return bind(spec, flat.data(), nargs, kwnames.get(), out);
}

PyObject* signer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    PyObject* argv[2];
    if (!bind_tuple(kNew, args, kwargs, argv)) return nullptr;
    const fyrn::Keypair* keypair = keypair_arg(argv[0]);
    fyrn::SignatureDomain domain;
    if (keypair == nullptr || !domain_of(argv[1], domain)) return nullptr;
    return new_signer(type, *keypair, domain);
  });
}

const char* const kFromBase58Params[] = {"s", "signature_domain"};
const CallSpec kFromBase58{"from_base58", "Signer", kFromBase58Params, 2, 2};

PyObject* signer_from_base58(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* argv[2];
    std::string_view text;
    std::string_view domain_text;
    if (!bind(kFromBase58, args, nargs, kwnames, argv) || !to_text(argv[0], "s", text) ||
        !to_text(argv[1], "signature_domain", domain_text)) {
      return nullptr;
    }
    auto keypair = fyrn::Keypair::from_base58(text);
    if (!keypair) return raise_error(keypair.error());
    auto domain = fyrn::signature_domain_from_str(domain_text);
    if (!domain) return raise_error(domain.error());
    return new_signer(g_signer_type, *keypair, *domain);
  });
}

const char* const kWithNonceParams[] = {"keypair", "strategy", "signature_domain"};
const CallSpec kWithNonce{"with_nonce_manager", "Signer", kWithNonceParams, 3, 3};

PyObject* signer_with_nonce_manager(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* argv[3];
    if (!bind(kWithNonce, args, nargs, kwnames, argv)) return nullptr;
    const fyrn::Keypair* keypair = keypair_arg(argv[0]);
    std::string_view strategy_text;
    std::string_view domain_text;
    if (keypair == nullptr || !to_text(argv[1], "strategy", strategy_text) ||
        !to_text(argv[2], "signature_domain", domain_text)) {
      return nullptr;
    }
    auto strategy = fyrn::nonce_strategy_from_str(strategy_text);
    if (!strategy) {
      PyErr_SetString(PyExc_ValueError, kInvalidStrategy);
      return nullptr;
    }
    auto domain = fyrn::signature_domain_from_str(domain_text);
    if (!domain) return raise_error(domain.error());
    return new_signer(g_signer_type, *keypair, *domain, *strategy);
  });
}

void signer_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  Py_XDECREF(as_signer(self)->pubkey);
  as_signer(self)->signer.~Signer();  // the keypair copy wipes its secret
  type->tp_free(self);
  Py_DECREF(type);
}

// ---- shared pieces of the methods ------------------------------------------

// method binds, takes the signer's use, then runs body(signer, argv).
template <size_t N, typename Body>
PyObject* method(PyObject* self, const CallSpec& spec, Use use, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames, Body&& body) {
  return guarded([&]() -> PyObject* {
    PyObject* argv[N == 0 ? 1 : N];
    if (!bind(spec, args, nargs, kwnames, argv)) return nullptr;
    SignerBorrow borrow(self, use);
    if (!borrow) return nullptr;
    return body(borrow.signer(), argv);
  });
}

// own_pubkey borrows the str of the signer's public key; `signer` is the
// member of a SignerObject (methods hand out nothing else).
static_assert(std::is_standard_layout_v<SignerObject>, "own_pubkey steps back from the member with offsetof");
PyObject* own_pubkey(const fyrn::Signer& signer) {
  const char* base = reinterpret_cast<const char*>(&signer) - offsetof(SignerObject, signer);
  return reinterpret_cast<const SignerObject*>(base)->pubkey;
}

// opt_u64 converts an optional unsigned 64-bit argument (nullptr: absent).
bool opt_u64(PyObject* obj, const char* param, std::optional<uint64_t>& out) {
  if (obj == nullptr) return true;
  uint64_t value = 0;
  if (!to_u64(obj, param, value)) return false;
  out = value;
  return true;
}

bool pubkey_from(std::string_view text, fyrn::Pubkey& out) {
  auto key = fyrn::Pubkey::from_base58(text);
  if (!key) {
    raise_error(key.error());
    return false;
  }
  out = *key;
  return true;
}

bool dict_arg(PyObject* obj, const char* param) {
  return PyDict_Check(obj) || parse::raise_type_mismatch(obj, "PyDict", param);
}

bool list_arg(PyObject* obj, const char* param) {
  return PyList_Check(obj) || parse::raise_type_mismatch(obj, "PyList", param);
}

// sign_one signs one action for the signer's own account, drawing a nonce by
// the signer's strategy only when none was given.
PyObject* sign_one(fyrn::Signer& signer, const fyrn::Action& action, const std::optional<uint64_t>& nonce) {
  const uint64_t n = nonce ? *nonce : signer.next_nonce();
  auto tx = signer.sign_action(action, n, signer.pubkey());
  if (!tx) return raise_error(tx.error());
  return signed_to_py(*tx, own_pubkey(signer));
}

// batch_base returns the base nonce of a non-empty batch: the one given, or
// the process clock (never the signer's own strategy).
uint64_t batch_base(const std::optional<uint64_t>& base_nonce) {
  return base_nonce ? *base_nonce : fyrn::next_timestamp();
}

// BatchList collects a batch's dictionaries while the batch is still being
// signed: each transaction is converted as soon as it is handed over, and the
// whole list is dropped if any item (or any conversion) fails.
class BatchList {
 public:
  BatchList(size_t n, PyObject* own_key)
      : list_(PyRef::steal(PyList_New(static_cast<Py_ssize_t>(n)))), own_key_(own_key) {}
  explicit operator bool() const { return static_cast<bool>(list_); }

  // take converts transaction i; false (with a Python exception set) stops the batch.
  bool take(size_t i, fyrn::SignedTransaction&& tx) {
    PyObject* dict = signed_to_py(tx, own_key_);
    if (dict == nullptr) {
      failed_ = true;
      return false;
    }
    PyList_SET_ITEM(list_.get(), static_cast<Py_ssize_t>(i), dict);
    return true;
  }

  // finish returns the list, or nullptr with the exception of the first failure.
  PyObject* finish(const fyrn::Status& status) {
    if (failed_) return nullptr;
    if (!status) return raise_error(status.error());
    return list_.release();
  }

 private:
  PyRef list_;
  PyObject* own_key_;
  bool failed_ = false;
};

template <typename Items, typename SignStreamed>
PyObject* sign_batch(fyrn::Signer& s, Items&& items, const std::optional<uint64_t>& base_nonce,
                     SignStreamed&& sign_streamed) {
  if (items.empty()) return PyList_New(0);
  BatchList out(items.size(), own_pubkey(s));
  if (!out) return nullptr;
  const fyrn::Status status =
      sign_streamed(s, std::move(items), batch_base(base_nonce),
                    [&](size_t i, fyrn::SignedTransaction&& tx) { return out.take(i, std::move(tx)); });
  return out.finish(status);
}

#define FYRN_METHOD(fn) PyObject* fn(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)

#define FYRN_SPEC(var, pyname, required, ...)                                                      \
  const char* const var##Params[] = {__VA_ARGS__};                                                 \
  constexpr int var##Count = static_cast<int>(sizeof(var##Params) / sizeof(var##Params[0]));     \
  const CallSpec var{pyname, "Signer", var##Params, var##Count, required};

// ---- settings and getters -------------------------------------------------

FYRN_SPEC(kSetComputeOrderId, "set_compute_order_id", 1, "enabled")
FYRN_METHOD(signer_set_compute_order_id) {
  return method<1>(self, kSetComputeOrderId, Use::Exclusive, args, nargs, kwnames,
                   [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
                     bool enabled = false;
                     if (!to_bool(argv[0], "enabled", enabled)) return nullptr;
                     s.set_compute_order_id(enabled);
                     Py_RETURN_NONE;
                   });
}

FYRN_SPEC(kSetComputeBatch, "set_compute_batch_order_ids", 1, "enabled")
FYRN_METHOD(signer_set_compute_batch_order_ids) {
  return method<1>(self, kSetComputeBatch, Use::Exclusive, args, nargs, kwnames,
                   [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
                     bool enabled = false;
                     if (!to_bool(argv[0], "enabled", enabled)) return nullptr;
                     s.set_compute_batch_order_ids(enabled);
                     Py_RETURN_NONE;
                   });
}

PyObject* signer_computes_order_id(PyObject* self, PyObject*) {
  SignerBorrow borrow(self, Use::Shared);
  if (!borrow) return nullptr;
  return PyBool_FromLong(borrow.signer().computes_order_id());
}

PyObject* signer_computes_batch_order_ids(PyObject* self, PyObject*) {
  SignerBorrow borrow(self, Use::Shared);
  if (!borrow) return nullptr;
  return PyBool_FromLong(borrow.signer().computes_batch_order_ids());
}

PyObject* signer_pubkey(PyObject* self, void*) {
  SignerBorrow borrow(self, Use::Shared);
  if (!borrow) return nullptr;
  PyObject* key = own_pubkey(borrow.signer());
  Py_INCREF(key);
  return key;
}

PyObject* signer_repr(PyObject* self) {
  SignerBorrow borrow(self, Use::Shared);
  if (!borrow) return nullptr;
  return PyUnicode_FromFormat("Signer(pubkey='%s')", borrow.signer().pubkey_base58().c_str());
}

FYRN_SPEC(kSignBytes, "sign_bytes", 1, "message")
FYRN_METHOD(signer_sign_bytes) {
  return method<1>(self, kSignBytes, Use::Shared, args, nargs, kwnames,
                   [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
                     std::string_view message;
                     if (!to_bytes(argv[0], "message", message)) return nullptr;
                     return text_to_py(
                         s.sign_bytes(reinterpret_cast<const uint8_t*>(message.data()), message.size()));
                   });
}

// ---- orders ----------------------------------------------------------------

FYRN_SPEC(kSign, "sign", 1, "order", "nonce")
FYRN_METHOD(signer_sign) {
  return method<2>(self, kSign, Use::Exclusive, args, nargs, kwnames, [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
    std::optional<uint64_t> nonce;
    if (!dict_arg(argv[0], "order") || !opt_u64(argv[1], "nonce", nonce)) return nullptr;
    fyrn::OrderItem item;
    if (!parse_order_item(argv[0], item)) return nullptr;
    fyrn::action::Orders orders;
    orders.orders.push_back(std::move(item));
    return sign_one(s, fyrn::Action(std::move(orders)), nonce);
  });
}

PyObject* sign_group_impl(const CallSpec& spec, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  return method<2>(self, spec, Use::Exclusive, args, nargs, kwnames, [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
    std::optional<uint64_t> nonce;
    if (!list_arg(argv[0], "orders") || !opt_u64(argv[1], "nonce", nonce)) return nullptr;
    std::vector<fyrn::OrderItem> items;
    if (!parse_order_list(argv[0], "orders", items)) return nullptr;
    return sign_one(s, fyrn::Action(fyrn::action::Orders{std::move(items)}), nonce);
  });
}

FYRN_SPEC(kSignGroup, "sign_group", 1, "orders", "nonce")
FYRN_METHOD(signer_sign_group) { return sign_group_impl(kSignGroup, self, args, nargs, kwnames); }

FYRN_SPEC(kSignOrder, "sign_order", 1, "orders", "nonce")
FYRN_METHOD(signer_sign_order) { return sign_group_impl(kSignOrder, self, args, nargs, kwnames); }

FYRN_SPEC(kSignAll, "sign_all", 1, "orders", "base_nonce")
FYRN_METHOD(signer_sign_all) {
  return method<2>(self, kSignAll, Use::Shared, args, nargs, kwnames, [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
    std::optional<uint64_t> base_nonce;
    if (!list_arg(argv[0], "orders") || !opt_u64(argv[1], "base_nonce", base_nonce)) return nullptr;
    std::vector<fyrn::OrderItem> items;
    if (!parse_order_list(argv[0], "orders", items)) return nullptr;
    return sign_batch(s, std::move(items), base_nonce, &fyrn::sign_all_streamed);
  });
}

FYRN_SPEC(kSignOrdersBatch, "sign_orders_batch", 1, "batches", "base_nonce")
FYRN_METHOD(signer_sign_orders_batch) {
  return method<2>(self, kSignOrdersBatch, Use::Shared, args, nargs, kwnames,
                   [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
                     std::optional<uint64_t> base_nonce;
                     if (!list_arg(argv[0], "batches") || !opt_u64(argv[1], "base_nonce", base_nonce)) return nullptr;
                     std::vector<std::vector<fyrn::OrderItem>> batches;
                     if (!parse_order_batches(argv[0], "batches", batches)) return nullptr;
                     return sign_batch(s, std::move(batches), base_nonce, &fyrn::sign_orders_batch_streamed);
                   });
}

// ---- other one-transaction actions -----------------------------------------

FYRN_SPEC(kSignFaucet, "sign_faucet", 0, "nonce")
FYRN_METHOD(signer_sign_faucet) {
  return method<1>(self, kSignFaucet, Use::Exclusive, args, nargs, kwnames,
                   [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
                     std::optional<uint64_t> nonce;
                     if (!opt_u64(argv[0], "nonce", nonce)) return nullptr;
                     return sign_one(s, fyrn::Action(fyrn::action::Faucet{s.pubkey(), std::nullopt}), nonce);
                   });
}

FYRN_SPEC(kSignAgentWallet, "sign_agent_wallet", 2, "agent_pubkey", "delete", "nonce")
FYRN_METHOD(signer_sign_agent_wallet) {
  return method<3>(self, kSignAgentWallet, Use::Exclusive, args, nargs, kwnames,
                   [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
                     std::string_view agent_text;
                     bool del = false;
                     std::optional<uint64_t> nonce;
                     if (!to_text(argv[0], "agent_pubkey", agent_text) || !to_bool(argv[1], "delete", del) ||
                         !opt_u64(argv[2], "nonce", nonce)) {
                       return nullptr;
                     }
                     fyrn::action::AgentWalletCreation action;
                     if (!pubkey_from(agent_text, action.agent)) return nullptr;
                     action.delete_ = del;
                     return sign_one(s, fyrn::Action(std::move(action)), nonce);
                   });
}

PyObject* approve_impl(const CallSpec& spec, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
  return method<3>(self, spec, Use::Exclusive, args, nargs, kwnames, [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
    std::string_view to_text_value;
    uint64_t fee = 0;
    std::optional<uint64_t> nonce;
    if (!to_text(argv[0], "to_pubkey", to_text_value) || !to_uint(argv[1], "fee", 255, fee) ||
        !opt_u64(argv[2], "nonce", nonce)) {
      return nullptr;
    }
    fyrn::Pubkey to;
    if (!pubkey_from(to_text_value, to)) return nullptr;
    auto commission = fyrn::Commission::make(to, static_cast<uint8_t>(fee));
    if (!commission) return raise_error(commission.error());
    return sign_one(s, fyrn::Action(fyrn::action::ApproveCommissionFee{*commission}), nonce);
  });
}

FYRN_SPEC(kApproveBuilderCode, "sign_approve_builder_code", 2, "to_pubkey", "fee", "nonce")
FYRN_METHOD(signer_sign_approve_builder_code) { return approve_impl(kApproveBuilderCode, self, args, nargs, kwnames); }

FYRN_SPEC(kApproveCommissionFee, "sign_approve_commission_fee", 2, "to_pubkey", "fee", "nonce")
FYRN_METHOD(signer_sign_approve_commission_fee) {
  return approve_impl(kApproveCommissionFee, self, args, nargs, kwnames);
}

PyObject* revoke_impl(const CallSpec& spec, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
  return method<2>(self, spec, Use::Exclusive, args, nargs, kwnames, [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
    std::string_view to_text_value;
    std::optional<uint64_t> nonce;
    if (!to_text(argv[0], "to_pubkey", to_text_value) || !opt_u64(argv[1], "nonce", nonce)) return nullptr;
    fyrn::action::RevokeCommissionFee action;
    if (!pubkey_from(to_text_value, action.to)) return nullptr;
    return sign_one(s, fyrn::Action(std::move(action)), nonce);
  });
}

FYRN_SPEC(kRevokeBuilderCode, "sign_revoke_builder_code", 1, "to_pubkey", "nonce")
FYRN_METHOD(signer_sign_revoke_builder_code) { return revoke_impl(kRevokeBuilderCode, self, args, nargs, kwnames); }

FYRN_SPEC(kRevokeCommissionFee, "sign_revoke_commission_fee", 1, "to_pubkey", "nonce")
FYRN_METHOD(signer_sign_revoke_commission_fee) {
  return revoke_impl(kRevokeCommissionFee, self, args, nargs, kwnames);
}

FYRN_SPEC(kUserSettings, "sign_user_settings", 1, "max_leverage", "nonce")
FYRN_METHOD(signer_sign_user_settings) {
  return method<2>(self, kUserSettings, Use::Exclusive, args, nargs, kwnames,
                   [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
                     fyrn::action::UpdateUserSettings action;
                     std::optional<uint64_t> nonce;
                     if (!parse_user_settings(argv[0], "max_leverage", action.max_leverage) ||
                         !opt_u64(argv[1], "nonce", nonce)) {
                       return nullptr;
                     }
                     return sign_one(s, fyrn::Action(std::move(action)), nonce);
                   });
}

FYRN_SPEC(kLiquidatorConfig, "sign_update_liquidator_config", 1, "config", "nonce")
FYRN_METHOD(signer_sign_update_liquidator_config) {
  return method<2>(self, kLiquidatorConfig, Use::Exclusive, args, nargs, kwnames,
                   [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
                     std::optional<uint64_t> nonce;
                     if (!opt_u64(argv[1], "nonce", nonce)) return nullptr;
                     fyrn::action::UpdateLiquidatorConfig action;
                     if (!parse_liquidator_config(argv[0], action.config)) return nullptr;
                     return sign_one(s, fyrn::Action(std::move(action)), nonce);
                   });
}

FYRN_SPEC(kOraclePrices, "sign_oracle_prices", 1, "oracles", "nonce")
FYRN_METHOD(signer_sign_oracle_prices) {
  return method<2>(self, kOraclePrices, Use::Exclusive, args, nargs, kwnames,
                   [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
                     fyrn::action::OraclePrices action;
                     std::optional<uint64_t> nonce;
                     if (!parse_oracle_prices(argv[0], "oracles", action.prices) ||
                         !opt_u64(argv[1], "nonce", nonce)) {
                       return nullptr;
                     }
                     return sign_one(s, fyrn::Action(std::move(action)), nonce);
                   });
}

FYRN_SPEC(kPythOracle, "sign_pyth_oracle", 1, "oracles", "nonce")
FYRN_METHOD(signer_sign_pyth_oracle) {
  return method<2>(self, kPythOracle, Use::Exclusive, args, nargs, kwnames,
                   [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
                     fyrn::action::PythOracle action;
                     std::optional<uint64_t> nonce;
                     if (!parse_pyth_prices(argv[0], "oracles", action.updates) ||
                         !opt_u64(argv[1], "nonce", nonce)) {
                       return nullptr;
                     }
                     return sign_one(s, fyrn::Action(std::move(action)), nonce);
                   });
}

FYRN_SPEC(kRemoveSubAccount, "sign_remove_sub_account", 1, "to_remove", "nonce")
FYRN_METHOD(signer_sign_remove_sub_account) {
  return method<2>(self, kRemoveSubAccount, Use::Exclusive, args, nargs, kwnames,
                   [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
                     std::string_view text;
                     std::optional<uint64_t> nonce;
                     if (!to_text(argv[0], "to_remove", text) || !opt_u64(argv[1], "nonce", nonce)) return nullptr;
                     fyrn::action::RemoveSubAccount action;
                     if (!pubkey_from(text, action.to_remove)) return nullptr;
                     return sign_one(s, fyrn::Action(std::move(action)), nonce);
                   });
}

FYRN_SPEC(kTransfer, "sign_transfer", 3, "from_pubkey", "to_pubkey", "margin_amount", "kind", "nonce")
FYRN_METHOD(signer_sign_transfer) {
  return method<5>(self, kTransfer, Use::Exclusive, args, nargs, kwnames,
                   [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
                     std::string_view from_text;
                     std::string_view to_text_value;
                     double amount = 0.0;
                     std::optional<std::string_view> kind_text;
                     std::optional<uint64_t> nonce;
                     if (!to_text(argv[0], "from_pubkey", from_text) ||
                         !to_text(argv[1], "to_pubkey", to_text_value) ||
                         !to_f64(argv[2], "margin_amount", amount)) {
                       return nullptr;
                     }
                     if (argv[3] != nullptr) {
                       std::string_view kind;
                       if (!to_text(argv[3], "kind", kind)) return nullptr;
                       kind_text = kind;
                     }
                     if (!opt_u64(argv[4], "nonce", nonce)) return nullptr;
                     fyrn::Transfer transfer;
                     transfer.amount = amount;
                     if (!pubkey_from(from_text, transfer.from) || !pubkey_from(to_text_value, transfer.to) ||
                         !parse_transfer_kind(kind_text, transfer.kind)) {
                       return nullptr;
                     }
                     return sign_one(s, fyrn::Action(fyrn::action::Transfer{transfer}), nonce);
                   });
}

FYRN_SPEC(kCreateSubAccount, "sign_create_sub_account", 1, "name", "margin_amount", "nonce")
FYRN_METHOD(signer_sign_create_sub_account) {
  return method<3>(self, kCreateSubAccount, Use::Exclusive, args, nargs, kwnames,
                   [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
                     std::string_view name;
                     fyrn::action::CreateSubAccount action;
                     std::optional<uint64_t> nonce;
                     if (!to_text(argv[0], "name", name)) return nullptr;
                     if (argv[1] != nullptr) {
                       double amount = 0.0;
                       if (!to_f64(argv[1], "margin_amount", amount)) return nullptr;
                       action.margin_amount = amount;
                     }
                     if (!opt_u64(argv[2], "nonce", nonce)) return nullptr;
                     action.name = std::string(name);
                     return sign_one(s, fyrn::Action(std::move(action)), nonce);
                   });
}

FYRN_SPEC(kWhitelistFaucet, "sign_whitelist_faucet", 2, "target_pubkey", "whitelist", "nonce")
FYRN_METHOD(signer_sign_whitelist_faucet) {
  return method<3>(self, kWhitelistFaucet, Use::Exclusive, args, nargs, kwnames,
                   [](fyrn::Signer& s, PyObject** argv) -> PyObject* {
                     std::string_view text;
                     bool whitelist = false;
                     std::optional<uint64_t> nonce;
                     if (!to_text(argv[0], "target_pubkey", text) || !to_bool(argv[1], "whitelist", whitelist) ||
                         !opt_u64(argv[2], "nonce", nonce)) {
                       return nullptr;
                     }
                     fyrn::action::WhitelistFaucet action;
                     if (!pubkey_from(text, action.target)) return nullptr;
                     action.whitelist = whitelist;
                     return sign_one(s, fyrn::Action(std::move(action)), nonce);
                   });
}

#undef FYRN_SPEC
#undef FYRN_METHOD

// ---- the class -------------------------------------------------------------

constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;

#define FYRN_DOC(sig, text) sig "\n--\n\n" text

PyMethodDef g_methods[] = {
    {"from_base58", as_cfunction(&signer_from_base58), kFast | METH_STATIC,
     FYRN_DOC("from_base58(s, signature_domain)", "Create a signer from base58-encoded secret key")},
    {"with_nonce_manager", as_cfunction(&signer_with_nonce_manager), kFast | METH_STATIC,
     FYRN_DOC("with_nonce_manager(keypair, strategy, signature_domain)", "Create a signer with nonce management")},
    {"set_compute_order_id", as_cfunction(&signer_set_compute_order_id), kFast,
     FYRN_DOC("set_compute_order_id($self, enabled)", "Enable/disable single-order ID computation.")},
    {"set_compute_batch_order_ids", as_cfunction(&signer_set_compute_batch_order_ids), kFast,
     FYRN_DOC("set_compute_batch_order_ids($self, enabled)",
              "Enable/disable batch order ID computation for multi-order transactions.")},
    {"computes_order_id", as_cfunction(&signer_computes_order_id), METH_NOARGS,
     FYRN_DOC("computes_order_id($self)", "Whether single-order ID computation is enabled.")},
    {"computes_batch_order_ids", as_cfunction(&signer_computes_batch_order_ids), METH_NOARGS,
     FYRN_DOC("computes_batch_order_ids($self)", "Whether batch order ID computation is enabled.")},
    {"sign_bytes", as_cfunction(&signer_sign_bytes), kFast,
     FYRN_DOC("sign_bytes($self, message)", "Sign raw message bytes and return a base58 Ed25519 signature.")},
    {"sign", as_cfunction(&signer_sign), kFast,
     FYRN_DOC("sign($self, order, nonce=None)",
              "Sign a single order/cancel/cancelAll\n\nMost common use case - returns a single signed transaction.\n\n"
              "Example:\n    signed = signer.sign({\"type\": \"order\", \"symbol\": \"BTC-USD\", ...})")},
    {"sign_all", as_cfunction(&signer_sign_all), kFast,
     FYRN_DOC("sign_all($self, orders, base_nonce=None)",
              "Sign multiple orders - each becomes its own transaction (parallel)\n\n"
              "Optimized for HFT: each order gets independent confirmation/rejection.\n"
              "Automatically parallelizes when > 10 orders.\n\n"
              "Example:\n    signed_txs = signer.sign_all([order1, order2, order3])  # Returns list")},
    {"sign_group", as_cfunction(&signer_sign_group), kFast,
     FYRN_DOC("sign_group($self, orders, nonce=None)",
              "Sign multiple orders atomically in ONE transaction\n\n"
              "Use for bracket orders (entry + stop loss + take profit) where\n"
              "all orders must succeed or fail together.\n\n"
              "Example:\n    bracket = [entry, stop_loss, take_profit]\n"
              "    signed = signer.sign_group(bracket)  # Single transaction")},
    {"sign_faucet", as_cfunction(&signer_sign_faucet), kFast,
     FYRN_DOC("sign_faucet($self, nonce=None)", "Sign a faucet request (testnet only)")},
    {"sign_agent_wallet", as_cfunction(&signer_sign_agent_wallet), kFast,
     FYRN_DOC("sign_agent_wallet($self, agent_pubkey, delete, nonce=None)", "Sign agent wallet creation/deletion")},
    {"sign_approve_builder_code", as_cfunction(&signer_sign_approve_builder_code), kFast,
     FYRN_DOC("sign_approve_builder_code($self, to_pubkey, fee, nonce=None)",
              "Sign builder-code recipient approval (`abc`)")},
    {"sign_approve_commission_fee", as_cfunction(&signer_sign_approve_commission_fee), kFast,
     FYRN_DOC("sign_approve_commission_fee($self, to_pubkey, fee, nonce=None)",
              "Sign builder-code recipient approval (`abc`)")},
    {"sign_revoke_builder_code", as_cfunction(&signer_sign_revoke_builder_code), kFast,
     FYRN_DOC("sign_revoke_builder_code($self, to_pubkey, nonce=None)",
              "Sign builder-code recipient revocation (`rbc`)")},
    {"sign_revoke_commission_fee", as_cfunction(&signer_sign_revoke_commission_fee), kFast,
     FYRN_DOC("sign_revoke_commission_fee($self, to_pubkey, nonce=None)",
              "Sign builder-code recipient revocation (`rbc`)")},
    {"sign_user_settings", as_cfunction(&signer_sign_user_settings), kFast,
     FYRN_DOC("sign_user_settings($self, max_leverage, nonce=None)", "Sign user settings update")},
    {"sign_update_liquidator_config", as_cfunction(&signer_sign_update_liquidator_config), kFast,
     FYRN_DOC("sign_update_liquidator_config($self, config, nonce=None)", "Sign a liquidator config update (`liq`)")},
    {"sign_oracle_prices", as_cfunction(&signer_sign_oracle_prices), kFast,
     FYRN_DOC("sign_oracle_prices($self, oracles, nonce=None)", "Sign one or more oracle price updates (`px`)")},
    {"sign_pyth_oracle", as_cfunction(&signer_sign_pyth_oracle), kFast,
     FYRN_DOC("sign_pyth_oracle($self, oracles, nonce=None)", "Sign a batch Pyth oracle update (`o`)")},
    {"sign_remove_sub_account", as_cfunction(&signer_sign_remove_sub_account), kFast,
     FYRN_DOC("sign_remove_sub_account($self, to_remove, nonce=None)", "Sign a sub-account removal")},
    {"sign_transfer", as_cfunction(&signer_sign_transfer), kFast,
     FYRN_DOC("sign_transfer($self, from_pubkey, to_pubkey, margin_amount, kind=None, nonce=None)",
              "Sign a margin transfer between accounts.\n\n`kind` is \"internal\" (default) or \"external\".")},
    {"sign_create_sub_account", as_cfunction(&signer_sign_create_sub_account), kFast,
     FYRN_DOC("sign_create_sub_account($self, name, margin_amount=None, nonce=None)",
              "Sign a sub-account creation (optional initial margin transfer)")},
    {"sign_whitelist_faucet", as_cfunction(&signer_sign_whitelist_faucet), kFast,
     FYRN_DOC("sign_whitelist_faucet($self, target_pubkey, whitelist, nonce=None)",
              "Sign whitelist/un-whitelist faucet access (`whitelistFaucet`)")},
    {"sign_order", as_cfunction(&signer_sign_order), kFast,
     FYRN_DOC("sign_order($self, orders, nonce=None)",
              "Deprecated: Use sign() for single, sign_all() for batch, sign_group() for atomic")},
    {"sign_orders_batch", as_cfunction(&signer_sign_orders_batch), kFast,
     FYRN_DOC("sign_orders_batch($self, batches, base_nonce=None)", "Deprecated: Use sign_all() instead")},
    // sign_prepared and sign_wallet_prepared join here with the external-wallet flow.
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef g_getset[] = {
    {"pubkey", &signer_pubkey, nullptr, "Get the signer's public key", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot g_slots[] = {
    {Py_tp_doc, const_cast<char*>(FYRN_DOC("Signer(keypair, signature_domain)", "High-performance transaction signer"))},
    {Py_tp_new, reinterpret_cast<void*>(&signer_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&signer_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(&signer_repr)},
    {Py_tp_methods, g_methods},
    {Py_tp_getset, g_getset},
    {0, nullptr},
};

#undef FYRN_DOC

#ifdef Py_TPFLAGS_IMMUTABLETYPE
constexpr unsigned kFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;
#else
constexpr unsigned kFlags = Py_TPFLAGS_DEFAULT;
#endif

PyType_Spec g_spec = {"_native.Signer", sizeof(SignerObject), 0, kFlags, g_slots};

}  // namespace

SignerBorrow::SignerBorrow(PyObject* self, Use use) : use_(use) {
  if (g_signer_type == nullptr || !PyObject_TypeCheck(self, g_signer_type)) {
    parse::raise_type_mismatch(self, "Signer");
    return;
  }
  SignerObject* s = as_signer(self);
  if (use == Use::Exclusive) {
    if (s->borrow != 0) {
      PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
      return;
    }
    s->borrow = -1;
  } else {
    if (s->borrow < 0) {
      PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
      return;
    }
    ++s->borrow;
  }
  self_ = self;
  signer_ = &s->signer;
}

SignerBorrow::~SignerBorrow() {
  // Ended by a forced unwind without the lock: the object is left as it is.
  if (signer_ == nullptr || !python_usable()) return;
  SignerObject* s = as_signer(self_);
  if (use_ == Use::Exclusive) {
    s->borrow = 0;
  } else {
    --s->borrow;
  }
}

PyTypeObject* signer_type() {
  if (g_signer_type == nullptr) {
    PyObject* type = PyType_FromSpec(&g_spec);
    if (type == nullptr) {
      PyErr_Clear();
      raise_panic("failed to create type object for Signer");
      return nullptr;
    }
    g_signer_type = reinterpret_cast<PyTypeObject*>(type);
  }
  return g_signer_type;
}

}  // namespace fyrn::py
