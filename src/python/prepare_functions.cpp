// prepare_functions.cpp: the py_prepare_* functions, which build an action from
// plain arguments and prepare it for an external wallet, and
// py_finalize_transaction, which finishes it with the wallet's signature.
//
// Every prepare function converts in the same order: the types of all its
// arguments in parameter order, then the network name, then its own inputs
// (order lists, configuration dicts, key texts), then account and signer,
// then what comes last (an order dict, a builder-code fee, a transfer kind).
// The first failure ends the call.
#include "prepare_functions.hpp"

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "action_args.hpp"
#include "binder.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "functions.hpp"
#include "parse_orders.hpp"
#include "read_prepared.hpp"

#include "fyrn/batch.hpp"
#include "fyrn/prepare.hpp"

namespace fyrn::py {
namespace {

// Common holds the arguments every prepare function takes.
struct Common {
  std::string_view domain_text;
  std::string_view account_text;
  std::optional<std::string_view> signer_text;
  std::optional<uint64_t> nonce;

  fyrn::SignatureDomain domain = fyrn::SignatureDomain::Mainnet;
  fyrn::Pubkey account;
  std::optional<fyrn::Pubkey> signer;
};

constexpr int index_of(const CallSpec& spec, std::string_view name) {
  for (int i = 0; i < spec.n_params; ++i) {
    if (std::string_view(spec.params[i]) == name) return i;
  }
  return -1;
}

PyObject* prepared(const fyrn::Result<fyrn::PreparedMessage>& result) {
  if (!result) return raise_error(result.error());
  return prepared_to_py(*result);
}

// prepare_call runs one prepare function. `own` converts the function's own
// arguments: convert(i, obj) checks the type of parameter i (obj is nullptr
// for an optional one left out), early() parses its inputs, finish(common)
// does the late conversions, prepares and returns the result.
template <const CallSpec& Spec, typename Own>
PyObject* prepare_call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Own own) {
  constexpr int kDomain = index_of(Spec, "signature_domain");
  constexpr int kAccount = index_of(Spec, "account");
  constexpr int kSigner = index_of(Spec, "signer");
  constexpr int kNonce = index_of(Spec, "nonce") >= 0 ? index_of(Spec, "nonce") : index_of(Spec, "base_nonce");
  static_assert(kDomain >= 0 && kAccount >= 0 && kSigner >= 0 && kNonce >= 0);
  return guarded([&]() -> PyObject* {
    BoundArgs<Spec> argv;
    if (!bind_args(args, nargs, kwnames, argv)) return nullptr;
    Common c;
    for (int i = 0; i < Spec.n_params; ++i) {
      PyObject* obj = argv[i];
      bool ok;
      if (i == kDomain) {
        ok = to_text(obj, "signature_domain", c.domain_text);
      } else if (i == kAccount) {
        ok = to_text(obj, "account", c.account_text);
      } else if (i == kSigner) {
        ok = opt_text(obj, "signer", c.signer_text);
      } else if (i == kNonce) {
        ok = opt_u64(obj, Spec.params[i], c.nonce);
      } else {
        ok = own.convert(i, obj);
      }
      if (!ok) return nullptr;
    }
    if (!domain_from(c.domain_text, c.domain) || !own.early() || !pubkey_from(c.account_text, c.account)) {
      return nullptr;
    }
    if (c.signer_text) {
      fyrn::Pubkey signer;
      if (!pubkey_from(*c.signer_text, signer)) return nullptr;
      c.signer = signer;
    }
    return own.finish(c);
  });
}

// An Own without checks of its own at one stage or another.
struct NoEarly {
  bool early() { return true; }
};

// KeyOwn is a function whose own arguments start with one key text.
struct KeyOwn {
  const char* param;
  std::string_view text;
  fyrn::Pubkey key;
  bool convert_key(PyObject* obj) { return to_text(obj, param, text); }
  bool early() { return pubkey_from(text, key); }
};

// ApproveOwn: a recipient key, then a fee checked last.
struct ApproveOwn : KeyOwn {
  uint64_t fee = 0;
  ApproveOwn() : KeyOwn{"to_pubkey", {}, {}} {}
  bool convert(int i, PyObject* obj) { return i == 0 ? convert_key(obj) : to_uint(obj, "fee", 255, fee); }
  PyObject* finish(const Common& c) {
    fyrn::Action action;
    if (!approve_action(key, fee, action)) return nullptr;
    return prepared(fyrn::prepare_action(action, c.domain, c.account, c.signer, c.nonce));
  }
};

// KeyActionOwn: one key text, built into an action by Make.
template <fyrn::Action (*Make)(const fyrn::Pubkey&)>
struct KeyActionOwn : KeyOwn {
  explicit KeyActionOwn(const char* param) : KeyOwn{param, {}, {}} {}
  bool convert(int, PyObject* obj) { return convert_key(obj); }
  PyObject* finish(const Common& c) {
    return prepared(fyrn::prepare_action(Make(key), c.domain, c.account, c.signer, c.nonce));
  }
};

// OrdersOwn: a list of order dicts, parsed right after the network name.
struct OrdersOwn {
  PyObject* list = nullptr;
  std::vector<fyrn::OrderItem> items;
  bool convert(int, PyObject* obj) {
    list = obj;
    return list_arg(obj, "orders");
  }
  bool early() { return parse_order_list(list, "orders", items); }
};

}  // namespace

PyObject* finalize_prepared_dict(PyObject* dict, std::string_view signature) {
  fyrn::PreparedMessage message;
  if (!prepared_from_py(dict, message)) return nullptr;
  auto tx = fyrn::finalize_with_message(std::move(message), signature);
  if (!tx) return raise_error(tx.error());
  return signed_to_py(*tx);
}

FYRN_PY_FUNCTION(py_prepare_order) {
  (void)module;
  struct Own : NoEarly {
    PyObject* order = nullptr;
    bool convert(int, PyObject* obj) {
      order = obj;  // checked by the order parser, last
      return true;
    }
    PyObject* finish(const Common& c) {
      fyrn::OrderItem item;
      if (!parse_order_with_on_fill(order, item)) return nullptr;
      return prepared(fyrn::prepare_message(std::move(item), c.domain, c.account, c.signer, c.nonce));
    }
  };
  return prepare_call<kPrepareOrder>(args, nargs, kwnames, Own{});
}

FYRN_PY_FUNCTION(py_prepare_all_orders) {
  (void)module;
  struct Own : OrdersOwn {
    PyObject* finish(const Common& c) {
      BatchList out(items.size());
      if (!out) return nullptr;
      const fyrn::Status status =
          fyrn::prepare_all_streamed(std::move(items), c.domain, c.account, c.signer, c.nonce,
                                     [&](size_t i, fyrn::PreparedMessage&& m) { return out.put(i, prepared_to_py(m)); });
      return out.finish(status);
    }
  };
  return prepare_call<kPrepareAllOrders>(args, nargs, kwnames, Own{});
}

FYRN_PY_FUNCTION(py_prepare_order_group) {
  (void)module;
  struct Own : OrdersOwn {
    PyObject* finish(const Common& c) {
      const fyrn::Action action(fyrn::action::Orders{std::move(items)});
      return prepared(fyrn::prepare_action(action, c.domain, c.account, c.signer, c.nonce));
    }
  };
  return prepare_call<kPrepareOrderGroup>(args, nargs, kwnames, Own{});
}

FYRN_PY_FUNCTION(py_prepare_agent_wallet_auth) {
  (void)module;
  struct Own : KeyOwn {
    bool del = false;
    Own() : KeyOwn{"agent_pubkey", {}, {}} {}
    bool convert(int i, PyObject* obj) { return i == 0 ? convert_key(obj) : to_bool(obj, "delete", del); }
    PyObject* finish(const Common& c) {
      return prepared(fyrn::prepare_action(agent_wallet_action(key, del), c.domain, c.account, c.signer, c.nonce));
    }
  };
  return prepare_call<kPrepareAgentWalletAuth>(args, nargs, kwnames, Own{});
}

FYRN_PY_FUNCTION(py_prepare_approve_builder_code) {
  (void)module;
  return prepare_call<kPrepareApproveBuilderCode>(args, nargs, kwnames, ApproveOwn{});
}

FYRN_PY_FUNCTION(py_prepare_approve_commission_fee) {
  (void)module;
  return prepare_call<kPrepareApproveCommissionFee>(args, nargs, kwnames, ApproveOwn{});
}

FYRN_PY_FUNCTION(py_prepare_revoke_builder_code) {
  (void)module;
  return prepare_call<kPrepareRevokeBuilderCode>(args, nargs, kwnames, KeyActionOwn<&revoke_action>("to_pubkey"));
}

FYRN_PY_FUNCTION(py_prepare_revoke_commission_fee) {
  (void)module;
  return prepare_call<kPrepareRevokeCommissionFee>(args, nargs, kwnames,
                                                   KeyActionOwn<&revoke_action>("to_pubkey"));
}

FYRN_PY_FUNCTION(py_prepare_remove_sub_account) {
  (void)module;
  return prepare_call<kPrepareRemoveSubAccount>(args, nargs, kwnames,
                                                KeyActionOwn<&remove_sub_account_action>("to_remove"));
}

FYRN_PY_FUNCTION(py_prepare_update_liquidator_config) {
  (void)module;
  struct Own {
    PyObject* config = nullptr;
    fyrn::Action action;
    bool convert(int, PyObject* obj) {
      config = obj;  // checked by the configuration parser, right after the network name
      return true;
    }
    bool early() { return liquidator_action(config, action); }
    PyObject* finish(const Common& c) {
      return prepared(fyrn::prepare_action(action, c.domain, c.account, c.signer, c.nonce));
    }
  };
  return prepare_call<kPrepareUpdateLiquidatorConfig>(args, nargs, kwnames, Own{});
}

FYRN_PY_FUNCTION(py_prepare_faucet_request) {
  (void)module;
  struct Own : NoEarly {
    bool convert(int, PyObject*) { return true; }
    PyObject* finish(const Common& c) {
      return prepared(fyrn::prepare_action(faucet_action(c.account), c.domain, c.account, c.signer, c.nonce));
    }
  };
  return prepare_call<kPrepareFaucetRequest>(args, nargs, kwnames, Own{});
}

FYRN_PY_FUNCTION(py_prepare_create_sub_account) {
  (void)module;
  struct Own : NoEarly {
    std::string_view name;
    std::optional<double> margin_amount;
    bool convert(int i, PyObject* obj) {
      return i == 0 ? to_text(obj, "name", name) : opt_f64(obj, "margin_amount", margin_amount);
    }
    PyObject* finish(const Common& c) {
      return prepared(fyrn::prepare_action(create_sub_account_action(name, margin_amount), c.domain, c.account,
                                           c.signer, c.nonce));
    }
  };
  return prepare_call<kPrepareCreateSubAccount>(args, nargs, kwnames, Own{});
}

FYRN_PY_FUNCTION(py_prepare_transfer) {
  (void)module;
  struct Own {
    std::string_view from_text;
    std::string_view to_text_value;
    double amount = 0.0;
    std::optional<std::string_view> kind;
    fyrn::Pubkey from;
    fyrn::Pubkey to;
    bool convert(int i, PyObject* obj) {
      switch (i) {
        case 0:
          return to_text(obj, "from_pubkey", from_text);
        case 1:
          return to_text(obj, "to_pubkey", to_text_value);
        case 2:
          return to_f64(obj, "margin_amount", amount);
        default:
          return opt_text(obj, "kind", kind);
      }
    }
    bool early() { return pubkey_from(from_text, from) && pubkey_from(to_text_value, to); }
    PyObject* finish(const Common& c) {
      fyrn::Transfer transfer;
      if (!transfer_action(from, to, amount, kind, transfer)) return nullptr;
      return prepared(fyrn::prepare_transfer(transfer, c.domain, c.account, c.signer, c.nonce));
    }
  };
  return prepare_call<kPrepareTransfer>(args, nargs, kwnames, Own{});
}

FYRN_PY_FUNCTION(py_finalize_transaction) {
  (void)module;
  return guarded([&]() -> PyObject* {
    BoundArgs<kFinalizeTransaction> argv;
    std::string_view signature;
    if (!bind_args(args, nargs, kwnames, argv) || !dict_arg(argv[0], "prepared") ||
        !to_text(argv[1], "signature", signature)) {
      return nullptr;
    }
    return finalize_prepared_dict(argv[0], signature);
  });
}

}  // namespace fyrn::py
