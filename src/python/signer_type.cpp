// signer_type.cpp: the `Signer` class.
//
// Every method binds its arguments, takes its use of the signer and converts
// its arguments: one-transaction methods convert the optional nonce first, then
// their own arguments' types in parameter order, then parse dictionaries and
// keys into an action (action_args.hpp, shared with the prepare functions),
// draw a nonce only once everything parsed, sign and convert the result. Batch
// signing keeps the interpreter lock while the workers run; they see only core
// records, never a Python object.
#include "signer_type.hpp"

#include <cstddef>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "action_args.hpp"
#include "binder.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "keypair_type.hpp"
#include "parse_actions.hpp"
#include "parse_orders.hpp"
#include "parse_util.hpp"
#include "prepare_functions.hpp"
#include "read_prepared.hpp"
#include "wallet_functions.hpp"

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

#define FYRN_SIGNER_SPEC(var, takes_self, name, required, ...) \
  FYRN_CALL_SPEC(var, "Signer", takes_self, name, required, __VA_ARGS__)

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
  return to_text(obj, "signature_domain", text) && domain_from(text, out);
}

const fyrn::Keypair* keypair_arg(PyObject* obj) {
  const fyrn::Keypair* keypair = keypair_of(obj);
  if (keypair == nullptr) parse::raise_type_mismatch(obj, "Keypair", "keypair");
  return keypair;
}

FYRN_SIGNER_SPEC(kNew, false, "__new__", 2, "keypair", "signature_domain");

// bind_tuple binds a (tuple, dict) call like a vectorcall one.
template <const CallSpec& Spec>
bool bind_tuple(PyObject* args, PyObject* kwargs, BoundArgs<Spec>& out) {
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
  return bind_args(flat.data(), nargs, kwnames.get(), out);
}

PyObject* signer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    BoundArgs<kNew> argv;
    if (!bind_tuple(args, kwargs, argv)) return nullptr;
    const fyrn::Keypair* keypair = keypair_arg(argv[0]);
    fyrn::SignatureDomain domain;
    if (keypair == nullptr || !domain_of(argv[1], domain)) return nullptr;
    return new_signer(type, *keypair, domain);
  });
}

FYRN_SIGNER_SPEC(kFromBase58, false, "from_base58", 2, "s", "signature_domain");

PyObject* signer_from_base58(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    BoundArgs<kFromBase58> argv;
    std::string_view text;
    std::string_view domain_text;
    if (!bind_args(args, nargs, kwnames, argv) || !to_secret_text(argv[0], "s", text) ||
        !to_text(argv[1], "signature_domain", domain_text)) {
      return nullptr;
    }
    auto keypair = fyrn::Keypair::from_base58(text);
    if (!keypair) return raise_error(keypair.error());
    fyrn::SignatureDomain domain;
    if (!domain_from(domain_text, domain)) return nullptr;
    return new_signer(g_signer_type, *keypair, domain);
  });
}

FYRN_SIGNER_SPEC(kWithNonce, false, "with_nonce_manager", 3, "keypair", "strategy", "signature_domain");

PyObject* signer_with_nonce_manager(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    BoundArgs<kWithNonce> argv;
    if (!bind_args(args, nargs, kwnames, argv)) return nullptr;
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
    fyrn::SignatureDomain domain;
    if (!domain_from(domain_text, domain)) return nullptr;
    return new_signer(g_signer_type, *keypair, domain, *strategy);
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
template <const CallSpec& Spec, typename Body>
PyObject* method(PyObject* self, Use use, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Body&& body) {
  return guarded([&]() -> PyObject* {
    BoundArgs<Spec> argv;
    if (!bind_args(args, nargs, kwnames, argv)) return nullptr;
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

// one_transaction is every method that signs one action for the signer's own
// account: exclusive use, the optional nonce (the last parameter) converted
// first, then the action's own arguments (Args, see action_args.hpp); a nonce
// is drawn by the signer's strategy only once they all converted.
template <const CallSpec& Spec, typename Args>
PyObject* one_transaction(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  constexpr int kNonce = Spec.n_params - 1;
  static_assert(std::string_view(Spec.params[kNonce]) == "nonce");
  return method<Spec>(self, Use::Exclusive, args, nargs, kwnames,
                      [](fyrn::Signer& s, const BoundArgs<Spec>& argv) -> PyObject* {
                        std::optional<uint64_t> nonce;
                        if (!opt_u64(argv[kNonce], "nonce", nonce)) return nullptr;
                        Args own;
                        for (int i = 0; i < kNonce; ++i) {
                          if (!own.convert(i, argv[i])) return nullptr;
                        }
                        fyrn::Action action;
                        if (!own.parse() || !own.build(s.pubkey(), action)) return nullptr;
                        const uint64_t n = nonce ? *nonce : s.next_nonce();
                        auto tx = s.sign_action(action, n, s.pubkey());
                        if (!tx) return raise_error(tx.error());
                        return signed_to_py(*tx, own_pubkey(s));
                      });
}

// batch_base returns the base nonce of a non-empty batch: the one given, or
// the process clock (never the signer's own strategy).
uint64_t batch_base(const std::optional<uint64_t>& base_nonce) {
  return base_nonce ? *base_nonce : fyrn::next_timestamp();
}

template <typename Items, typename SignStreamed>
PyObject* sign_batch(fyrn::Signer& s, Items&& items, const std::optional<uint64_t>& base_nonce,
                     SignStreamed&& sign_streamed) {
  if (items.empty()) return PyList_New(0);
  BatchList out(items.size());
  if (!out) return nullptr;
  PyObject* own_key = own_pubkey(s);
  const fyrn::Status status =
      sign_streamed(s, std::move(items), batch_base(base_nonce),
                    [&](size_t i, fyrn::SignedTransaction&& tx) { return out.put(i, signed_to_py(tx, own_key)); });
  return out.finish(status);
}

#define FYRN_METHOD(fn) PyObject* fn(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)

// ---- settings and getters -------------------------------------------------

template <const CallSpec& Spec, void (fyrn::Signer::*Set)(bool)>
PyObject* set_flag(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return method<Spec>(self, Use::Exclusive, args, nargs, kwnames, [](fyrn::Signer& s, const auto& argv) -> PyObject* {
    bool enabled = false;
    if (!to_bool(argv[0], "enabled", enabled)) return nullptr;
    (s.*Set)(enabled);
    Py_RETURN_NONE;
  });
}

template <const CallSpec& Spec, bool (fyrn::Signer::*Get)() const>
PyObject* get_flag(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return method<Spec>(self, Use::Shared, args, nargs, kwnames,
                      [](fyrn::Signer& s, const auto&) -> PyObject* { return PyBool_FromLong((s.*Get)()); });
}

FYRN_SIGNER_SPEC(kSetComputeOrderId, true, "set_compute_order_id", 1, "enabled");
FYRN_SIGNER_SPEC(kSetComputeBatch, true, "set_compute_batch_order_ids", 1, "enabled");
FYRN_SIGNER_SPEC(kComputesOrderId, true, "computes_order_id", 0);
FYRN_SIGNER_SPEC(kComputesBatch, true, "computes_batch_order_ids", 0);

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

FYRN_SIGNER_SPEC(kSignBytes, true, "sign_bytes", 1, "message");
FYRN_METHOD(signer_sign_bytes) {
  return method<kSignBytes>(self, Use::Shared, args, nargs, kwnames,
                            [](fyrn::Signer& s, const auto& argv) -> PyObject* {
                              std::string_view message;
                              if (!to_bytes(argv[0], "message", message)) return nullptr;
                              const auto* data = reinterpret_cast<const uint8_t*>(message.data());
                              return text_to_py(s.sign_bytes(data, message.size()));
                            });
}

// ---- orders ----------------------------------------------------------------

FYRN_SIGNER_SPEC(kSign, true, "sign", 1, "order", "nonce");
FYRN_SIGNER_SPEC(kSignGroup, true, "sign_group", 1, "orders", "nonce");
FYRN_SIGNER_SPEC(kSignOrder, true, "sign_order", 1, "orders", "nonce");

FYRN_SIGNER_SPEC(kSignAll, true, "sign_all", 1, "orders", "base_nonce");
FYRN_METHOD(signer_sign_all) {
  return method<kSignAll>(self, Use::Shared, args, nargs, kwnames, [](fyrn::Signer& s, const auto& argv) -> PyObject* {
    std::optional<uint64_t> base_nonce;
    if (!list_arg(argv[0], "orders") || !opt_u64(argv[1], "base_nonce", base_nonce)) return nullptr;
    std::vector<fyrn::OrderItem> items;
    if (!parse_order_list(argv[0], "orders", items)) return nullptr;
    return sign_batch(s, std::move(items), base_nonce, &fyrn::sign_all_streamed);
  });
}

FYRN_SIGNER_SPEC(kSignOrdersBatch, true, "sign_orders_batch", 1, "batches", "base_nonce");
FYRN_METHOD(signer_sign_orders_batch) {
  return method<kSignOrdersBatch>(self, Use::Shared, args, nargs, kwnames,
                                  [](fyrn::Signer& s, const auto& argv) -> PyObject* {
                                    std::optional<uint64_t> base_nonce;
                                    if (!list_arg(argv[0], "batches") ||
                                        !opt_u64(argv[1], "base_nonce", base_nonce)) {
                                      return nullptr;
                                    }
                                    std::vector<std::vector<fyrn::OrderItem>> batches;
                                    if (!parse_order_batches(argv[0], "batches", batches)) return nullptr;
                                    return sign_batch(s, std::move(batches), base_nonce,
                                                      &fyrn::sign_orders_batch_streamed);
                                  });
}

// ---- other one-transaction actions -----------------------------------------

FYRN_SIGNER_SPEC(kSignFaucet, true, "sign_faucet", 0, "nonce");
FYRN_SIGNER_SPEC(kSignAgentWallet, true, "sign_agent_wallet", 2, "agent_pubkey", "delete", "nonce");
FYRN_SIGNER_SPEC(kApproveBuilderCode, true, "sign_approve_builder_code", 2, "to_pubkey", "fee", "nonce");
FYRN_SIGNER_SPEC(kApproveCommissionFee, true, "sign_approve_commission_fee", 2, "to_pubkey", "fee", "nonce");
FYRN_SIGNER_SPEC(kRevokeBuilderCode, true, "sign_revoke_builder_code", 1, "to_pubkey", "nonce");
FYRN_SIGNER_SPEC(kRevokeCommissionFee, true, "sign_revoke_commission_fee", 1, "to_pubkey", "nonce");
FYRN_SIGNER_SPEC(kUserSettings, true, "sign_user_settings", 1, "max_leverage", "nonce");
FYRN_SIGNER_SPEC(kLiquidatorConfig, true, "sign_update_liquidator_config", 1, "config", "nonce");
FYRN_SIGNER_SPEC(kOraclePrices, true, "sign_oracle_prices", 1, "oracles", "nonce");
FYRN_SIGNER_SPEC(kPythOracle, true, "sign_pyth_oracle", 1, "oracles", "nonce");
FYRN_SIGNER_SPEC(kRemoveSubAccount, true, "sign_remove_sub_account", 1, "to_remove", "nonce");
FYRN_SIGNER_SPEC(kTransfer, true, "sign_transfer", 3, "from_pubkey", "to_pubkey", "margin_amount", "kind", "nonce");
FYRN_SIGNER_SPEC(kCreateSubAccount, true, "sign_create_sub_account", 1, "name", "margin_amount", "nonce");
FYRN_SIGNER_SPEC(kWhitelistFaucet, true, "sign_whitelist_faucet", 2, "target_pubkey", "whitelist", "nonce");

// ---- prepared messages ---------------------------------------------------

enum PreparedKey : size_t { kSignerKey, kMessageBytesKey };
constexpr std::string_view kPreparedKeyNames[] = {"signer", "message_bytes"};
KeyTable g_prepared_keys(kPreparedKeyNames);

// sign_prepared_dict checks that a prepared dict names this signer and its
// network, signs its bytes and finalises it from the whole dict, exactly as
// py_finalize_transaction would with that signature.
PyObject* sign_prepared_dict(const fyrn::Signer& s, PyObject* dict) {
  PyObject* const* k = g_prepared_keys.keys();
  if (k == nullptr) return nullptr;
  PyRef value;
  std::string_view signer_text;
  if (!parse::require(dict, k[kSignerKey], "Missing 'signer'", value) || !parse::text_view(value.get(), signer_text)) {
    return nullptr;
  }
  if (signer_text != s.pubkey_base58()) {
    parse::raise_value_error("Prepared message signer " + std::string(signer_text) + " does not match signer pubkey " +
                             s.pubkey_base58());
    return nullptr;
  }
  std::vector<uint8_t> message;
  if (!parse::require(dict, k[kMessageBytesKey], "Missing 'message_bytes'", value) ||
      !bytes_from_py(value.get(), message)) {
    return nullptr;
  }
  if (message.empty() || message.back() != fyrn::signature_domain_byte(s.domain())) {
    parse::raise_value_error("Prepared message network domain does not match signer");
    return nullptr;
  }
  const std::string signature = s.sign_bytes(message.data(), message.size());
  return finalize_prepared_dict(dict, signature);
}

FYRN_SIGNER_SPEC(kSignPrepared, true, "sign_prepared", 1, "prepared");
FYRN_METHOD(signer_sign_prepared) {
  return method<kSignPrepared>(self, Use::Shared, args, nargs, kwnames,
                               [](fyrn::Signer& s, const auto& argv) -> PyObject* {
                                 PyObject* dict = argv[0];
                                 if (!dict_arg(dict, "prepared")) return nullptr;
                                 return sign_prepared_dict(s, dict);
                               });
}

// sign_wallet_dict signs a wallet dict in its mode, once it proved to be the
// wallet message of a preparation for this signer's key and network.
PyObject* sign_wallet_dict(const fyrn::Signer& s, PyObject* dict) {
  fyrn::WalletMessage wallet;
  PreparedForms forms;
  if (!validated_wallet_from_py(dict, wallet, &forms)) return nullptr;
  auto domain = fyrn::prepared_domain(wallet.prepared);
  if (!domain) return raise_error(domain.error());
  const auto mismatch = [] {
    return raise_error(
        fyrn::Error::signing_failed("prepared wallet signer or network does not match configured signer"));
  };
  if (*domain != s.domain()) return mismatch();
  auto signer = fyrn::Pubkey::from_base58(wallet.prepared.signer);
  if (!signer) return raise_error(signer.error());
  if (*signer != s.pubkey()) return mismatch();
  const std::string signature = s.sign_bytes(wallet.message.data(), wallet.message.size());
  return finalize_wallet(std::move(wallet), signature, &forms);
}

FYRN_SIGNER_SPEC(kSignWalletPrepared, true, "sign_wallet_prepared", 1, "wallet");
FYRN_METHOD(signer_sign_wallet_prepared) {
  return method<kSignWalletPrepared>(self, Use::Shared, args, nargs, kwnames,
                                     [](fyrn::Signer& s, const auto& argv) -> PyObject* {
                                       return dict_arg(argv[0], "wallet") ? sign_wallet_dict(s, argv[0]) : nullptr;
                                     });
}

#undef FYRN_METHOD

// ---- the class -------------------------------------------------------------

constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef g_methods[] = {
    method_def(kFromBase58, as_cfunction(&signer_from_base58), kFast | METH_STATIC,
               "Create a signer from base58-encoded secret key"),
    method_def(kWithNonce, as_cfunction(&signer_with_nonce_manager), kFast | METH_STATIC,
               "Create a signer with nonce management"),
    method_def(kSetComputeOrderId, as_cfunction(&set_flag<kSetComputeOrderId, &fyrn::Signer::set_compute_order_id>),
               kFast, "Enable/disable single-order ID computation."),
    method_def(kSetComputeBatch,
               as_cfunction(&set_flag<kSetComputeBatch, &fyrn::Signer::set_compute_batch_order_ids>), kFast,
               "Enable/disable batch order ID computation for multi-order transactions."),
    method_def(kComputesOrderId, as_cfunction(&get_flag<kComputesOrderId, &fyrn::Signer::computes_order_id>), kFast,
               "Whether single-order ID computation is enabled."),
    method_def(kComputesBatch, as_cfunction(&get_flag<kComputesBatch, &fyrn::Signer::computes_batch_order_ids>),
               kFast, "Whether batch order ID computation is enabled."),
    method_def(kSignBytes, as_cfunction(&signer_sign_bytes), kFast,
               "Sign raw message bytes and return a base58 Ed25519 signature."),
    method_def(kSign, as_cfunction(&one_transaction<kSign, OrderArgs>), kFast,
               "Sign a single order/cancel/cancelAll\n\nMost common use case - returns a single signed transaction.\n\n"
               "Example:\n    signed = signer.sign({\"type\": \"order\", \"symbol\": \"BTC-USD\", ...})"),
    method_def(kSignAll, as_cfunction(&signer_sign_all), kFast,
               "Sign multiple orders - each becomes its own transaction (parallel)\n\n"
               "Optimized for HFT: each order gets independent confirmation/rejection.\n"
               "Automatically parallelizes when > 10 orders.\n\n"
               "Example:\n    signed_txs = signer.sign_all([order1, order2, order3])  # Returns list"),
    method_def(kSignGroup, as_cfunction(&one_transaction<kSignGroup, OrderListArgs>), kFast,
               "Sign multiple orders atomically in ONE transaction\n\n"
               "Use for bracket orders (entry + stop loss + take profit) where\n"
               "all orders must succeed or fail together.\n\n"
               "Example:\n    bracket = [entry, stop_loss, take_profit]\n"
               "    signed = signer.sign_group(bracket)  # Single transaction"),
    method_def(kSignFaucet, as_cfunction(&one_transaction<kSignFaucet, FaucetArgs>), kFast,
               "Sign a faucet request (testnet only)"),
    method_def(kSignAgentWallet, as_cfunction(&one_transaction<kSignAgentWallet, AgentWalletArgs>), kFast,
               "Sign agent wallet creation/deletion"),
    method_def(kApproveBuilderCode, as_cfunction(&one_transaction<kApproveBuilderCode, ApproveArgs>), kFast,
               "Sign builder-code recipient approval (`abc`)"),
    method_def(kApproveCommissionFee, as_cfunction(&one_transaction<kApproveCommissionFee, ApproveArgs>), kFast,
               "Sign builder-code recipient approval (`abc`)"),
    method_def(kRevokeBuilderCode, as_cfunction(&one_transaction<kRevokeBuilderCode, RevokeArgs>), kFast,
               "Sign builder-code recipient revocation (`rbc`)"),
    method_def(kRevokeCommissionFee, as_cfunction(&one_transaction<kRevokeCommissionFee, RevokeArgs>), kFast,
               "Sign builder-code recipient revocation (`rbc`)"),
    method_def(kUserSettings, as_cfunction(&one_transaction<kUserSettings, UserSettingsArgs>), kFast,
               "Sign user settings update"),
    method_def(kLiquidatorConfig, as_cfunction(&one_transaction<kLiquidatorConfig, LiquidatorConfigArgs>), kFast,
               "Sign a liquidator config update (`liq`)"),
    method_def(kOraclePrices, as_cfunction(&one_transaction<kOraclePrices, OraclePricesArgs>), kFast,
               "Sign one or more oracle price updates (`px`)"),
    method_def(kPythOracle, as_cfunction(&one_transaction<kPythOracle, PythOracleArgs>), kFast,
               "Sign a batch Pyth oracle update (`o`)"),
    method_def(kRemoveSubAccount, as_cfunction(&one_transaction<kRemoveSubAccount, RemoveSubAccountArgs>), kFast,
               "Sign a sub-account removal"),
    method_def(kTransfer, as_cfunction(&one_transaction<kTransfer, TransferArgs>), kFast,
               "Sign a margin transfer between accounts.\n\n`kind` is \"internal\" (default) or \"external\"."),
    method_def(kCreateSubAccount, as_cfunction(&one_transaction<kCreateSubAccount, CreateSubAccountArgs>), kFast,
               "Sign a sub-account creation (optional initial margin transfer)"),
    method_def(kWhitelistFaucet, as_cfunction(&one_transaction<kWhitelistFaucet, WhitelistFaucetArgs>), kFast,
               "Sign whitelist/un-whitelist faucet access (`whitelistFaucet`)"),
    method_def(kSignOrder, as_cfunction(&one_transaction<kSignOrder, OrderListArgs>), kFast,
               "Deprecated: Use sign() for single, sign_all() for batch, sign_group() for atomic"),
    method_def(kSignOrdersBatch, as_cfunction(&signer_sign_orders_batch), kFast, "Deprecated: Use sign_all() instead"),
    method_def(kSignPrepared, as_cfunction(&signer_sign_prepared), kFast,
               "Sign a prepared message and finalize it into a signed transaction.\n\n"
               "This supports agent-wallet flows where prepared[\"account\"] is the trading\n"
               "account and prepared[\"signer\"] is this signer's pubkey.\n\n"
               "Args:\n    prepared: PreparedMessage dict from prepare_* functions\n\n"
               "Returns:\n    SignedTransaction dict ready for API submission"),
    method_def(kSignWalletPrepared, as_cfunction(&signer_sign_wallet_prepared), kFast,
               "Sign a wallet mode with this signer's key and configured network."),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef g_getset[] = {
    {"pubkey", &signer_pubkey, nullptr, "Get the signer's public key", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot g_slots[] = {
    {Py_tp_doc, const_cast<char*>("Signer(keypair, signature_domain)\n--\n\nHigh-performance transaction signer")},
    {Py_tp_new, reinterpret_cast<void*>(&signer_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&signer_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(&signer_repr)},
    {Py_tp_methods, g_methods},
    {Py_tp_getset, g_getset},
    {0, nullptr},
};

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
