// action_args.hpp: Python arguments into actions, shared by the Signer methods
// and the prepare functions, so that signing and preparing build every action
// the same way.
//
// Argument conversions check a Python type (their TypeErrors carry the
// "argument '<param>': " prefix); builders parse and validate the converted
// values into one Action. Everything returns false with a Python exception set
// on failure and leaves no partial result.
#pragma once

#include "pyref.hpp"

#include <optional>
#include <string_view>
#include <vector>

#include "fyrn/keys.hpp"
#include "fyrn/model.hpp"

namespace fyrn::py {

// ---- argument conversions (nullptr: an optional argument left out) ----------

bool opt_u64(PyObject* obj, const char* param, std::optional<uint64_t>& out);
bool opt_f64(PyObject* obj, const char* param, std::optional<double>& out);
bool opt_text(PyObject* obj, const char* param, std::optional<std::string_view>& out);
// list_arg: a list or subclass ("PyList" TypeError with the prefix otherwise).
bool list_arg(PyObject* obj, const char* param);
// dict_arg: a dict or subclass ("PyDict" TypeError with the prefix otherwise).
bool dict_arg(PyObject* obj, const char* param);

// ---- parsing -----------------------------------------------------------------

// pubkey_from decodes a base58 public key (ValueError with the key error).
bool pubkey_from(std::string_view text, fyrn::Pubkey& out);
// domain_from parses a network name (ValueError "invalid signature domain ...").
bool domain_from(std::string_view text, fyrn::SignatureDomain& out);

// ---- builders ----------------------------------------------------------------

// orders_action parses a list of order dictionaries into one Orders action.
bool orders_action(PyObject* list, const char* param, fyrn::Action& out);
// approve_action checks the builder-code fee (1..=15) and builds the approval.
bool approve_action(const fyrn::Pubkey& to, uint64_t fee, fyrn::Action& out);
// transfer_action parses the kind (absent: internal) and builds the transfer.
bool transfer_action(const fyrn::Pubkey& from, const fyrn::Pubkey& to, double amount,
                     std::optional<std::string_view> kind, fyrn::Transfer& out);
// liquidator_action parses a liquidator configuration dictionary.
bool liquidator_action(PyObject* config, fyrn::Action& out);

// The builders without checks of their own.
inline fyrn::Action agent_wallet_action(const fyrn::Pubkey& agent, bool del) {
  return fyrn::Action(fyrn::action::AgentWalletCreation{agent, del});
}
inline fyrn::Action revoke_action(const fyrn::Pubkey& to) {
  return fyrn::Action(fyrn::action::RevokeCommissionFee{to});
}
inline fyrn::Action remove_sub_account_action(const fyrn::Pubkey& to_remove) {
  return fyrn::Action(fyrn::action::RemoveSubAccount{to_remove});
}
inline fyrn::Action create_sub_account_action(std::string_view name, std::optional<double> margin_amount) {
  return fyrn::Action(fyrn::action::CreateSubAccount{std::string(name), margin_amount});
}
inline fyrn::Action faucet_action(const fyrn::Pubkey& user) {
  return fyrn::Action(fyrn::action::Faucet{user, std::nullopt});
}

}  // namespace fyrn::py
