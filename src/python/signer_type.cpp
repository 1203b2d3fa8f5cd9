// signer_type.cpp: the `Signer` class, a Python handle on one fyrn::Signer.
//
// Each instance carries a borrow state: methods that change its settings or
// use its reusable message buffer take it exclusively, all others share it.
// A conflicting call (reachable through Python callbacks that run during
// argument conversion) raises RuntimeError "Already borrowed" (exclusive use
// requested) or "Already mutably borrowed" (shared use requested).
//
// Every method binds its arguments, takes its use of the signer and converts
// its arguments: one-transaction methods convert the optional nonce first, then
// their own arguments' types in parameter order, then parse dictionaries and
// keys into an action (action_args.hpp, shared with the prepare functions),
// draw a nonce only once everything parsed, sign and convert the result. Batch
// signing keeps the interpreter lock while the workers run; they see only core
// records, never a Python object.
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
#include "exports.hpp"
#include "heap_type.hpp"
#include "key_table.hpp"
#include "keypair_type.hpp"
#include "parse_orders.hpp"
#include "parse_util.hpp"
#include "prepare_functions.hpp"
#include "read_prepared.hpp"
#include "wallet_functions.hpp"

#include "fyrn/batch.hpp"
#include "fyrn/nonce.hpp"
#include "fyrn/signer.hpp"

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

// ---- the borrow ----------------------------------------------------------

enum class Use { Shared, Exclusive };

// SignerBorrow holds one use of a Signer object for its lifetime. Check it
// with operator bool right after construction: false means self is no Signer
// (TypeError set) or the use conflicts with one in progress (RuntimeError set).
class SignerBorrow {
 public:
  SignerBorrow(PyObject* self, Use use) : use_(use) {
    if (g_signer_type == nullptr || !PyObject_TypeCheck(self, g_signer_type)) {
      raise_type_mismatch(self, "Signer");
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

  ~SignerBorrow() {
    // Ended by a forced unwind without the lock: the object is left as it is.
    if (signer_ == nullptr || !python_usable()) return;
    SignerObject* s = as_signer(self_);
    if (use_ == Use::Exclusive) {
      s->borrow = 0;
    } else {
      --s->borrow;
    }
  }

  SignerBorrow(const SignerBorrow&) = delete;
  SignerBorrow& operator=(const SignerBorrow&) = delete;

  explicit operator bool() const { return signer_ != nullptr; }
  fyrn::Signer& signer() const { return *signer_; }

 private:
  PyObject* self_ = nullptr;
  fyrn::Signer* signer_ = nullptr;
  Use use_;
};

// own_pubkey borrows the str of the signer's public key; `signer` is the
// member of a SignerObject (methods hand out nothing else).
static_assert(std::is_standard_layout_v<SignerObject>, "own_pubkey steps back from the member with offsetof");
PyObject* own_pubkey(const fyrn::Signer& signer) {
  const char* base = reinterpret_cast<const char*>(&signer) - offsetof(SignerObject, signer);
  return reinterpret_cast<const SignerObject*>(base)->pubkey;
}

// ---- construction ------------------------------------------------------

constexpr const char kInvalidStrategy[] = "Invalid nonce strategy. Use 'timestamp', 'counter', or 'high_frequency'";

template <typename... Args>
PyObject* new_signer(PyTypeObject* type, Args&&... args) {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  SignerObject* s = as_signer(self);
  try {
    new (&s->signer) fyrn::Signer(std::forward<Args>(args)...);
  } catch (...) {
    fyrn::pass_forced_unwind();  // the thread is ending without the lock: touch nothing
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
  if (keypair == nullptr) raise_type_mismatch(obj, "Keypair", "keypair");
  return keypair;
}

PyObject* signer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    constexpr const CallSpec& spec = spec_of<"Signer.__new__(keypair, signature_domain)">;
    BoundArgs<spec> argv;
    if (!bind_tuple(args, kwargs, argv)) return nullptr;
    const fyrn::Keypair* keypair = keypair_arg(argv[0]);
    fyrn::SignatureDomain domain;
    if (keypair == nullptr || !domain_of(argv[1], domain)) return nullptr;
    return new_signer(type, *keypair, domain);
  });
}

PyObject* signer_from_base58(PyObject* const* argv) {
  std::string_view text;
  std::string_view domain_text;
  if (!to_secret_text(argv[0], "s", text) || !to_text(argv[1], "signature_domain", domain_text)) return nullptr;
  auto keypair = fyrn::Keypair::from_base58(text);
  if (!keypair) return raise_error(keypair.error());
  fyrn::SignatureDomain domain;
  if (!domain_from(domain_text, domain)) return nullptr;
  return new_signer(g_signer_type, *keypair, domain);
}

PyObject* signer_with_nonce_manager(PyObject* const* argv) {
  const fyrn::Keypair* keypair = keypair_arg(argv[0]);
  std::string_view strategy_text;
  std::string_view domain_text;
  if (keypair == nullptr || !to_text(argv[1], "strategy", strategy_text) ||
      !to_text(argv[2], "signature_domain", domain_text)) {
    return nullptr;
  }
  auto strategy = fyrn::nonce_strategy_from_str(strategy_text);
  if (!strategy) return raise_value_error(kInvalidStrategy);
  fyrn::SignatureDomain domain;
  if (!domain_from(domain_text, domain)) return nullptr;
  return new_signer(g_signer_type, *keypair, domain, *strategy);
}

void signer_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  Py_XDECREF(as_signer(self)->pubkey);
  as_signer(self)->signer.~Signer();  // the keypair copy wipes its secret
  type->tp_free(self);
  Py_DECREF(type);
}

// ---- settings and getters -------------------------------------------------

template <void (fyrn::Signer::*Set)(bool)>
PyObject* set_flag(fyrn::Signer& s, PyObject* const* argv) {
  bool enabled = false;
  if (!to_bool(argv[0], "enabled", enabled)) return nullptr;
  (s.*Set)(enabled);
  Py_RETURN_NONE;
}

template <bool (fyrn::Signer::*Get)() const>
PyObject* get_flag(fyrn::Signer& s, PyObject* const*) {
  return PyBool_FromLong((s.*Get)());
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

PyObject* sign_bytes(fyrn::Signer& s, PyObject* const* argv) {
  std::string_view message;
  if (!to_bytes(argv[0], "message", message)) return nullptr;
  const auto* data = reinterpret_cast<const uint8_t*>(message.data());
  return text_to_py(s.sign_bytes(data, message.size()));
}

// ---- one transaction ---------------------------------------------------------

// one_transaction is every method that signs one action for the signer's own
// account: the optional nonce (the last parameter) converted first, then the
// action's own arguments (Args, see action_args.hpp); a nonce is drawn by the
// signer's strategy only once they all converted.
template <typename Args>
PyObject* one_transaction(fyrn::Signer& s, PyObject* const* argv) {
  constexpr int kNonce = Args::kArity;
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
}

// ---- batches ---------------------------------------------------------------

// sign_batch signs a non-empty batch with base nonce the one given or the
// process clock (never the signer's own strategy).
template <typename Items, typename SignStreamed>
PyObject* sign_batch(fyrn::Signer& s, Items&& items, const std::optional<uint64_t>& base_nonce,
                     SignStreamed&& sign_streamed) {
  if (items.empty()) return PyList_New(0);
  RenderedList out(items.size(), RenderedList::Kind::Signed, own_pubkey(s));
  if (!out) return nullptr;
  const uint64_t base = base_nonce ? *base_nonce : fyrn::next_timestamp();
  const fyrn::Status status = sign_streamed(s, std::move(items), base, out);
  return out.finish(status);
}

PyObject* sign_all(fyrn::Signer& s, PyObject* const* argv) {
  std::optional<uint64_t> base_nonce;
  if (!list_arg(argv[0], "orders") || !opt_u64(argv[1], "base_nonce", base_nonce)) return nullptr;
  std::vector<fyrn::OrderItem> items;
  if (!parse_order_list(argv[0], "orders", items)) return nullptr;
  return sign_batch(s, std::move(items), base_nonce, &fyrn::sign_all_streamed);
}

PyObject* sign_orders_batch(fyrn::Signer& s, PyObject* const* argv) {
  std::optional<uint64_t> base_nonce;
  if (!list_arg(argv[0], "batches") || !opt_u64(argv[1], "base_nonce", base_nonce)) return nullptr;
  std::vector<std::vector<fyrn::OrderItem>> batches;
  if (!parse_order_batches(argv[0], "batches", batches)) return nullptr;
  return sign_batch(s, std::move(batches), base_nonce, &fyrn::sign_orders_batch_streamed);
}

// ---- prepared messages ---------------------------------------------------

constexpr std::string_view kPreparedKeyNames[] = {"signer", "message_bytes"};
KeyTable<kPreparedKeyNames> g_prepared_keys;

// sign_prepared checks that a prepared dict names this signer and its
// network, signs its bytes and finalises it from the whole dict, exactly as
// py_finalize_transaction would with that signature.
PyObject* sign_prepared(fyrn::Signer& s, PyObject* const* argv) {
  PyObject* dict = argv[0];
  if (!dict_arg(dict, "prepared")) return nullptr;
  auto k = g_prepared_keys.keys();
  if (!k) return nullptr;
  PyRef value;
  std::string_view signer_text;
  if (!parse::require(dict, k["signer"], "Missing 'signer'", value) ||
      !to_text(value.get(), nullptr, signer_text)) {
    return nullptr;
  }
  if (signer_text != s.pubkey_base58()) {
    return raise_value_error("Prepared message signer " + std::string(signer_text) +
                             " does not match signer pubkey " + s.pubkey_base58());
  }
  std::vector<uint8_t> message;
  if (!parse::require(dict, k["message_bytes"], "Missing 'message_bytes'", value) ||
      !bytes_from_py(value.get(), message)) {
    return nullptr;
  }
  if (message.empty() || message.back() != fyrn::signature_domain_byte(s.domain())) {
    return raise_value_error("Prepared message network domain does not match signer");
  }
  const std::string signature = s.sign_bytes(message.data(), message.size());
  return finalize_prepared_dict(dict, signature);
}

// sign_wallet_prepared signs a wallet dict in its mode, once it proved to be
// the wallet message of a preparation for this signer's key and network.
PyObject* sign_wallet_prepared(fyrn::Signer& s, PyObject* const* argv) {
  if (!dict_arg(argv[0], "wallet")) return nullptr;
  fyrn::WalletMessage wallet;
  PreparedForms forms;
  if (!validated_wallet_from_py(argv[0], wallet, &forms)) return nullptr;
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

// ---- the class -------------------------------------------------------------

// A method body runs on the signer with the use its row names.
using Body = PyObject* (*)(fyrn::Signer& s, PyObject* const* argv);

template <Use U, Body F>
PyObject* borrowed(PyObject* self, PyObject* const* argv) {
  SignerBorrow borrow(self, U);
  if (!borrow) return nullptr;
  return F(borrow.signer(), argv);
}

// Rows: exclusive and shared take that use of the signer; action is a
// one-transaction method, exclusive, whose last parameter is the nonce.
template <Signature Sig, Body F>
PyMethodDef exclusive(const char* doc) {
  return method<Sig, &borrowed<Use::Exclusive, F>>(doc);
}

template <Signature Sig, Body F>
PyMethodDef shared(const char* doc) {
  return method<Sig, &borrowed<Use::Shared, F>>(doc);
}

template <Signature Sig, typename Args>
PyMethodDef action(const char* doc) {
  constexpr const CallSpec& spec = spec_of<Sig>;
  static_assert(spec.n_params == Args::kArity + 1 && param_index(spec, "nonce") == Args::kArity,
                "the action's own arguments, then the nonce");
  return exclusive<Sig, &one_transaction<Args>>(doc);
}

PyMethodDef g_methods[] = {
    static_method<"Signer.from_base58(s, signature_domain)", signer_from_base58>(
        "Create a signer from base58-encoded secret key"),
    static_method<"Signer.with_nonce_manager(keypair, strategy, signature_domain)", signer_with_nonce_manager>(
        "Create a signer with nonce management"),
    exclusive<"Signer.set_compute_order_id($self, enabled)", set_flag<&fyrn::Signer::set_compute_order_id>>(
        "Enable/disable single-order ID computation."),
    exclusive<"Signer.set_compute_batch_order_ids($self, enabled)",
              set_flag<&fyrn::Signer::set_compute_batch_order_ids>>(
        "Enable/disable batch order ID computation for multi-order transactions."),
    shared<"Signer.computes_order_id($self)", get_flag<&fyrn::Signer::computes_order_id>>(
        "Whether single-order ID computation is enabled."),
    shared<"Signer.computes_batch_order_ids($self)", get_flag<&fyrn::Signer::computes_batch_order_ids>>(
        "Whether batch order ID computation is enabled."),
    shared<"Signer.sign_bytes($self, message)", sign_bytes>(
        "Sign raw message bytes and return a base58 Ed25519 signature."),
    action<"Signer.sign($self, order, nonce=None)", OrderArgs>(
        "Sign a single order/cancel/cancelAll\n\nMost common use case - returns a single signed transaction.\n\n"
        "Example:\n    signed = signer.sign({\"type\": \"order\", \"symbol\": \"BTC-USD\", ...})"),
    shared<"Signer.sign_all($self, orders, base_nonce=None)", sign_all>(
        "Sign multiple orders - each becomes its own transaction (parallel)\n\n"
        "Optimized for HFT: each order gets independent confirmation/rejection.\n"
        "Automatically parallelizes when > 10 orders.\n\n"
        "Example:\n    signed_txs = signer.sign_all([order1, order2, order3])  # Returns list"),
    action<"Signer.sign_group($self, orders, nonce=None)", OrderListArgs>(
        "Sign multiple orders atomically in ONE transaction\n\n"
        "Use for bracket orders (entry + stop loss + take profit) where\n"
        "all orders must succeed or fail together.\n\n"
        "Example:\n    bracket = [entry, stop_loss, take_profit]\n"
        "    signed = signer.sign_group(bracket)  # Single transaction"),
    action<"Signer.sign_faucet($self, nonce=None)", FaucetArgs>("Sign a faucet request (testnet only)"),
    action<"Signer.sign_agent_wallet($self, agent_pubkey, delete, nonce=None)", AgentWalletArgs>(
        "Sign agent wallet creation/deletion"),
    action<"Signer.sign_approve_builder_code($self, to_pubkey, fee, nonce=None)", ApproveArgs>(
        "Sign builder-code recipient approval (`abc`)"),
    action<"Signer.sign_approve_commission_fee($self, to_pubkey, fee, nonce=None)", ApproveArgs>(
        "Sign builder-code recipient approval (`abc`)"),
    action<"Signer.sign_revoke_builder_code($self, to_pubkey, nonce=None)", RevokeArgs>(
        "Sign builder-code recipient revocation (`rbc`)"),
    action<"Signer.sign_revoke_commission_fee($self, to_pubkey, nonce=None)", RevokeArgs>(
        "Sign builder-code recipient revocation (`rbc`)"),
    action<"Signer.sign_user_settings($self, max_leverage, nonce=None)", UserSettingsArgs>(
        "Sign user settings update"),
    action<"Signer.sign_update_liquidator_config($self, config, nonce=None)", LiquidatorConfigArgs>(
        "Sign a liquidator config update (`liq`)"),
    action<"Signer.sign_oracle_prices($self, oracles, nonce=None)", OraclePricesArgs>(
        "Sign one or more oracle price updates (`px`)"),
    action<"Signer.sign_pyth_oracle($self, oracles, nonce=None)", PythOracleArgs>(
        "Sign a batch Pyth oracle update (`o`)"),
    action<"Signer.sign_remove_sub_account($self, to_remove, nonce=None)", RemoveSubAccountArgs>(
        "Sign a sub-account removal"),
    action<"Signer.sign_transfer($self, from_pubkey, to_pubkey, margin_amount, kind=None, nonce=None)",
           TransferArgs>("Sign a margin transfer between accounts.\n\n`kind` is \"internal\" (default) or \"external\"."),
    action<"Signer.sign_create_sub_account($self, name, margin_amount=None, nonce=None)", CreateSubAccountArgs>(
        "Sign a sub-account creation (optional initial margin transfer)"),
    action<"Signer.sign_whitelist_faucet($self, target_pubkey, whitelist, nonce=None)", WhitelistFaucetArgs>(
        "Sign whitelist/un-whitelist faucet access (`whitelistFaucet`)"),
    action<"Signer.sign_order($self, orders, nonce=None)", OrderListArgs>(
        "Deprecated: Use sign() for single, sign_all() for batch, sign_group() for atomic"),
    shared<"Signer.sign_orders_batch($self, batches, base_nonce=None)", sign_orders_batch>(
        "Deprecated: Use sign_all() instead"),
    shared<"Signer.sign_prepared($self, prepared)", sign_prepared>(
        "Sign a prepared message and finalize it into a signed transaction.\n\n"
        "This supports agent-wallet flows where prepared[\"account\"] is the trading\n"
        "account and prepared[\"signer\"] is this signer's pubkey.\n\n"
        "Args:\n    prepared: PreparedMessage dict from prepare_* functions\n\n"
        "Returns:\n    SignedTransaction dict ready for API submission"),
    shared<"Signer.sign_wallet_prepared($self, wallet)", sign_wallet_prepared>(
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

PyType_Spec g_spec = {"_native.Signer", sizeof(SignerObject), 0, kClassFlags, g_slots};

}  // namespace

PyTypeObject* signer_type() { return heap_type(g_signer_type, g_spec); }

}  // namespace fyrn::py
