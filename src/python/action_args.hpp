// action_args.hpp: the arguments of each action, converted the same way by the
// Signer methods and the prepare functions, so that signing and preparing
// cannot build an action differently.
//
// Each *Args type converts one action's own arguments in three steps, which
// its callers interleave with their own (the nonce, or the network name,
// account and signer):
//   convert(i, obj)  checks the Python type of own argument i (nullptr: an
//                    optional one left out); TypeErrors name the parameter;
//   parse()          decodes key texts, order lists and configuration dicts;
//   build(a, out)    does the last checks and builds the action; `a` is the
//                    account the action is for.
// Every step returns false with a Python exception set on failure.
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
// pubkey_from decodes a base58 public key (ValueError with the key error).
bool pubkey_from(std::string_view text, fyrn::Pubkey& out);
// domain_from parses a network name (ValueError "invalid signature domain ...").
bool domain_from(std::string_view text, fyrn::SignatureDomain& out);

// ---- orders ------------------------------------------------------------------

// OrderArgs: one order dict, parsed with the other inputs (Signer.sign).
struct OrderArgs {
  PyObject* order = nullptr;
  fyrn::OrderItem item;
  bool convert(int i, PyObject* obj);
  bool parse();
  bool build(const fyrn::Pubkey& account, fyrn::Action& out);
};

// PreparedOrderArgs: one order dict, parsed last, with an "on_fill" key
// attaching its actions (py_prepare_order).
struct PreparedOrderArgs {
  PyObject* order = nullptr;
  bool convert(int i, PyObject* obj);
  bool parse() { return true; }
  bool build(const fyrn::Pubkey& account, fyrn::Action& out);
};

// OrderListArgs: a list of order dicts ("orders"), all in one action.
struct OrderListArgs {
  PyObject* list = nullptr;
  std::vector<fyrn::OrderItem> items;
  bool convert(int i, PyObject* obj);
  bool parse();
  bool build(const fyrn::Pubkey& account, fyrn::Action& out);
};

// ---- other actions -------------------------------------------------------------

struct FaucetArgs {
  bool convert(int, PyObject*) { return true; }
  bool parse() { return true; }
  bool build(const fyrn::Pubkey& account, fyrn::Action& out);
};

struct AgentWalletArgs {
  std::string_view agent_text;
  bool del = false;
  fyrn::Pubkey agent;
  bool convert(int i, PyObject* obj);
  bool parse();
  bool build(const fyrn::Pubkey& account, fyrn::Action& out);
};

// ApproveArgs: recipient and fee; the fee (1..=15) is checked last.
struct ApproveArgs {
  std::string_view recipient_text;
  uint64_t fee = 0;
  fyrn::Pubkey to;
  bool convert(int i, PyObject* obj);
  bool parse();
  bool build(const fyrn::Pubkey& account, fyrn::Action& out);
};

struct RevokeArgs {
  std::string_view recipient_text;
  fyrn::Pubkey to;
  bool convert(int i, PyObject* obj);
  bool parse();
  bool build(const fyrn::Pubkey& account, fyrn::Action& out);
};

struct RemoveSubAccountArgs {
  std::string_view text;
  fyrn::Pubkey to_remove;
  bool convert(int i, PyObject* obj);
  bool parse();
  bool build(const fyrn::Pubkey& account, fyrn::Action& out);
};

struct CreateSubAccountArgs {
  std::string_view name;
  std::optional<double> margin_amount;
  bool convert(int i, PyObject* obj);
  bool parse() { return true; }
  bool build(const fyrn::Pubkey& account, fyrn::Action& out);
};

// TransferArgs: both keys, the amount and the kind, parsed last.
struct TransferArgs {
  std::string_view from_text;
  std::string_view recipient_text;
  double amount = 0.0;
  std::optional<std::string_view> kind;
  fyrn::Pubkey from;
  fyrn::Pubkey to;
  bool convert(int i, PyObject* obj);
  bool parse();
  bool build(const fyrn::Pubkey& account, fyrn::Action& out);
};

struct LiquidatorConfigArgs {
  PyObject* config = nullptr;
  fyrn::action::UpdateLiquidatorConfig action;
  bool convert(int i, PyObject* obj);
  bool parse();
  bool build(const fyrn::Pubkey& account, fyrn::Action& out);
};

// The signer-only actions: their tuple sequences convert with the types.

struct UserSettingsArgs {
  fyrn::action::UpdateUserSettings action;
  bool convert(int i, PyObject* obj);
  bool parse() { return true; }
  bool build(const fyrn::Pubkey& account, fyrn::Action& out);
};

struct OraclePricesArgs {
  fyrn::action::OraclePrices action;
  bool convert(int i, PyObject* obj);
  bool parse() { return true; }
  bool build(const fyrn::Pubkey& account, fyrn::Action& out);
};

struct PythOracleArgs {
  fyrn::action::PythOracle action;
  bool convert(int i, PyObject* obj);
  bool parse() { return true; }
  bool build(const fyrn::Pubkey& account, fyrn::Action& out);
};

struct WhitelistFaucetArgs {
  std::string_view text;
  fyrn::action::WhitelistFaucet action;
  bool convert(int i, PyObject* obj);
  bool parse();
  bool build(const fyrn::Pubkey& account, fyrn::Action& out);
};

}  // namespace fyrn::py
