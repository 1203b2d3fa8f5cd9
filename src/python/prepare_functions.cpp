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

// prepare_call runs one prepare function: the types of all arguments in
// parameter order (the common ones here, the action's own through Args), the
// network name, the action's own inputs, account and signer, then the last
// checks of the action and Finish, which prepares it.
template <const CallSpec& Spec, typename Args, PyObject* (*Finish)(Args&, const Common&)>
PyObject* prepare_call(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  constexpr int kDomain = index_of(Spec, "signature_domain");
  constexpr int kAccount = index_of(Spec, "account");
  constexpr int kSigner = index_of(Spec, "signer");
  constexpr int kNonce = index_of(Spec, "nonce") >= 0 ? index_of(Spec, "nonce") : index_of(Spec, "base_nonce");
  static_assert(kDomain >= 0 && kAccount >= 0 && kSigner >= 0 && kNonce >= 0);
  return guarded([&]() -> PyObject* {
    BoundArgs<Spec> argv;
    if (!bind_args(args, nargs, kwnames, argv)) return nullptr;
    Common c;
    Args own;
    for (int i = 0, own_index = 0; i < Spec.n_params; ++i) {
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
        ok = own.convert(own_index++, obj);
      }
      if (!ok) return nullptr;
    }
    if (!domain_from(c.domain_text, c.domain) || !own.parse() || !pubkey_from(c.account_text, c.account)) {
      return nullptr;
    }
    if (c.signer_text) {
      fyrn::Pubkey signer;
      if (!pubkey_from(*c.signer_text, signer)) return nullptr;
      c.signer = signer;
    }
    return Finish(own, c);
  });
}

// prepare_one builds the action and prepares it as one transaction.
template <typename Args>
PyObject* prepare_one(Args& own, const Common& c) {
  fyrn::Action action;
  if (!own.build(c.account, action)) return nullptr;
  auto prepared = fyrn::prepare_action(action, c.domain, c.account, c.signer, c.nonce);
  if (!prepared) return raise_error(prepared.error());
  return prepared_to_py(*prepared);
}

// prepare_each prepares every order as its own transaction, nonces base + i,
// converting each result while later ones are still being prepared.
PyObject* prepare_each(OrderListArgs& own, const Common& c) {
  BatchList out(own.items.size());
  if (!out) return nullptr;
  const fyrn::Status status =
      fyrn::prepare_all_streamed(std::move(own.items), c.domain, c.account, c.signer, c.nonce,
                                 [&](size_t i, fyrn::PreparedMessage&& m) { return out.put(i, prepared_to_py(m)); });
  return out.finish(status);
}

}  // namespace

PyObject* finalize_prepared_dict(PyObject* dict, std::string_view signature) {
  fyrn::PreparedMessage message;
  PreparedForms forms;
  if (!prepared_from_py(dict, message, &forms)) return nullptr;
  auto tx = fyrn::finalize_with_message(std::move(message), signature);
  if (!tx) return raise_error(tx.error());
  return signed_to_py(*tx, nullptr, &forms);
}

#define FYRN_PREPARE(fn, spec, Own) \
  FYRN_PY_FUNCTION(fn) { return prepare_call<spec, Own, &prepare_one<Own>>(module, args, nargs, kwnames); }

FYRN_PREPARE(py_prepare_order, kPrepareOrder, PreparedOrderArgs)
FYRN_PREPARE(py_prepare_order_group, kPrepareOrderGroup, OrderListArgs)
FYRN_PREPARE(py_prepare_agent_wallet_auth, kPrepareAgentWalletAuth, AgentWalletArgs)
FYRN_PREPARE(py_prepare_approve_builder_code, kPrepareApproveBuilderCode, ApproveArgs)
FYRN_PREPARE(py_prepare_update_liquidator_config, kPrepareUpdateLiquidatorConfig, LiquidatorConfigArgs)
FYRN_PREPARE(py_prepare_approve_commission_fee, kPrepareApproveCommissionFee, ApproveArgs)
FYRN_PREPARE(py_prepare_revoke_builder_code, kPrepareRevokeBuilderCode, RevokeArgs)
FYRN_PREPARE(py_prepare_revoke_commission_fee, kPrepareRevokeCommissionFee, RevokeArgs)
FYRN_PREPARE(py_prepare_faucet_request, kPrepareFaucetRequest, FaucetArgs)
FYRN_PREPARE(py_prepare_create_sub_account, kPrepareCreateSubAccount, CreateSubAccountArgs)
FYRN_PREPARE(py_prepare_remove_sub_account, kPrepareRemoveSubAccount, RemoveSubAccountArgs)
FYRN_PREPARE(py_prepare_transfer, kPrepareTransfer, TransferArgs)

#undef FYRN_PREPARE

FYRN_PY_FUNCTION(py_prepare_all_orders) {
  return prepare_call<kPrepareAllOrders, OrderListArgs, &prepare_each>(module, args, nargs, kwnames);
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
