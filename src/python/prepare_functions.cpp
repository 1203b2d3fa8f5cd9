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
#include "exports.hpp"
#include "read_prepared.hpp"

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

// prepare_call runs one prepare function: the types of all arguments in
// parameter order (the common ones here, the action's own through Args), the
// network name, the action's own inputs, account and signer, then the last
// checks of the action and Finish, which prepares it.
template <const CallSpec& Spec, typename Args, PyObject* (*Finish)(Args&, const Common&)>
PyObject* prepare_call(PyObject* const* argv) {
  constexpr int kDomain = param_index(Spec, "signature_domain");
  constexpr int kAccount = param_index(Spec, "account");
  constexpr int kSigner = param_index(Spec, "signer");
  constexpr int kNonce = param_index(Spec, "nonce") >= 0 ? param_index(Spec, "nonce") : param_index(Spec, "base_nonce");
  static_assert(kDomain >= 0 && kAccount >= 0 && kSigner >= 0 && kNonce >= 0);
  static_assert(Spec.n_params == Args::kArity + 4, "the action's own arguments and the four common ones");
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
  RenderedList out(own.items.size(), RenderedList::Kind::Prepared);
  if (!out) return nullptr;
  const fyrn::Status status =
      fyrn::prepare_all_streamed(std::move(own.items), c.domain, c.account, c.signer, c.nonce, out);
  return out.finish(status);
}

// prepare is the row of a prepare function: Args converts and builds its
// action, Finish prepares it (as one transaction unless told otherwise).
template <Signature Sig, typename Args, PyObject* (*Finish)(Args&, const Common&) = &prepare_one<Args>>
PyMethodDef prepare(const char* doc) {
  return function<Sig, &prepare_call<spec_of<Sig>, Args, Finish>>(doc);
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

namespace {

PyObject* py_finalize_transaction(PyObject* const* argv) {
  std::string_view signature;
  if (!dict_arg(argv[0], "prepared") || !to_text(argv[1], "signature", signature)) return nullptr;
  return finalize_prepared_dict(argv[0], signature);
}

// The examples below name the functions without their py_ prefix and without
// the network argument: that is the documented text, quoted as it stands.
constexpr char kPrepareOrderDoc[] =
    "Prepare a single order for external wallet signing\n\n"
    "Use this when you don't have access to the private key and need\n"
    "to sign with an external wallet.\n\n"
    "Args:\n"
    "    order: Order dict with type, symbol, is_buy, price, size, etc.\n"
    "    account: Account public key (base58)\n"
    "    signer: Signer public key (defaults to account)\n"
    "    nonce: Transaction nonce (defaults to current timestamp)\n\n"
    "Returns:\n"
    "    PreparedMessage dict with message_bytes to sign\n\n"
    "Example:\n"
    "    prepared = prepare_order(order, \"account_pubkey\")\n"
    "    signature = wallet.sign_message(prepared[\"message_bytes\"])\n"
    "    signed = finalize_transaction(prepared, signature)";
constexpr char kFinalizeDoc[] =
    "Finalize a prepared message with a signature from an external wallet\n\n"
    "Args:\n"
    "    prepared: PreparedMessage dict from prepare_* functions\n"
    "    signature: Base58-encoded signature from wallet\n\n"
    "Returns:\n"
    "    SignedTransaction dict ready for API submission\n\n"
    "Example:\n"
    "    prepared = prepare_order(order, \"account_pubkey\")\n"
    "    signature = wallet.sign_message(prepared[\"message_bytes\"])\n"
    "    signed = finalize_transaction(prepared, signature)";
constexpr char kApproveDoc[] = "Prepare builder-code recipient approval for external signing";
constexpr char kRevokeDoc[] = "Prepare builder-code recipient revocation for external signing";

PyMethodDef g_functions[] = {
    prepare<"py_prepare_order(order, signature_domain, account, signer=None, nonce=None)", PreparedOrderArgs>(
        kPrepareOrderDoc),
    prepare<"py_prepare_all_orders(orders, signature_domain, account, signer=None, base_nonce=None)",
            OrderListArgs, &prepare_each>(
        "Prepare multiple orders - each becomes its own transaction (parallel)\n\n"
        "Optimized for HFT: each order gets independent confirmation/rejection.\n\n"
        "Example:\n"
        "    prepared_list = prepare_all_orders([order1, order2], \"account_pubkey\")"),
    prepare<"py_prepare_order_group(orders, signature_domain, account, signer=None, nonce=None)", OrderListArgs>(
        "Prepare multiple orders as ONE atomic transaction\n\n"
        "Use for bracket orders (entry + stop loss + take profit).\n\n"
        "Example:\n"
        "    bracket = [entry, stop_loss, take_profit]\n"
        "    prepared = prepare_order_group(bracket, \"account_pubkey\")"),
    prepare<"py_prepare_agent_wallet_auth(agent_pubkey, delete, signature_domain, account, signer=None, nonce=None)",
            AgentWalletArgs>(
        "Prepare agent wallet creation for external signing\n\n"
        "Example:\n"
        "    prepared = prepare_agent_wallet_auth(agent_pubkey, False, \"account_pubkey\")"),
    prepare<"py_prepare_approve_builder_code(to_pubkey, fee, signature_domain, account, signer=None, nonce=None)",
            ApproveArgs>(kApproveDoc),
    prepare<"py_prepare_update_liquidator_config(config, signature_domain, account, signer=None, nonce=None)",
            LiquidatorConfigArgs>("Prepare a liquidator config update for external signing"),
    prepare<"py_prepare_approve_commission_fee(to_pubkey, fee, signature_domain, account, signer=None, nonce=None)",
            ApproveArgs>(kApproveDoc),
    prepare<"py_prepare_revoke_builder_code(to_pubkey, signature_domain, account, signer=None, nonce=None)",
            RevokeArgs>(kRevokeDoc),
    prepare<"py_prepare_revoke_commission_fee(to_pubkey, signature_domain, account, signer=None, nonce=None)",
            RevokeArgs>(kRevokeDoc),
    prepare<"py_prepare_faucet_request(signature_domain, account, signer=None, nonce=None)", FaucetArgs>(
        "Prepare faucet request for external signing"),
    prepare<"py_prepare_create_sub_account(name, signature_domain, account, margin_amount=None, signer=None, "
            "nonce=None)",
            CreateSubAccountArgs>("Prepare a sub-account creation for external signing"),
    prepare<"py_prepare_remove_sub_account(to_remove, signature_domain, account, signer=None, nonce=None)",
            RemoveSubAccountArgs>("Prepare a sub-account removal for external signing"),
    prepare<"py_prepare_transfer(from_pubkey, to_pubkey, margin_amount, signature_domain, account, kind=None, "
            "signer=None, nonce=None)",
            TransferArgs>("Prepare a margin transfer for external signing"),
    function<"py_finalize_transaction(prepared, signature)", py_finalize_transaction>(kFinalizeDoc),
};

}  // namespace

std::span<PyMethodDef> prepare_functions() { return g_functions; }

}  // namespace fyrn::py
