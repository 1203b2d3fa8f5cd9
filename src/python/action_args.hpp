// action_args.hpp: the arguments of each action, converted the same way by the
// Signer methods and the prepare functions, so that signing and preparing
// cannot build an action differently.
//
// Each *Args type takes kArity arguments of its own and converts them in three
// steps, which its callers interleave with their own (the nonce, or the
// network name, account and signer):
//   convert(i, obj)  checks the Python type of own argument i (nullptr: an
//                    optional one left out); TypeErrors name the parameter;
//   parse()          decodes key texts, order lists and configuration dicts;
//   build(a, out)    does the last checks and builds the action; `a` is the
//                    account the action is for.
// Every step returns false with a Python exception set on failure.
#pragma once

#include "binder.hpp"
#include "errors.hpp"
#include "parse_actions.hpp"
#include "parse_orders.hpp"
#include "pyref.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fyrn/keys.hpp"
#include "fyrn/model.hpp"

namespace fyrn::py {

namespace detail {

inline fyrn::Action one_item(fyrn::OrderItem item) {
  fyrn::action::Orders orders;
  orders.orders.reserve(1);
  orders.orders.push_back(std::move(item));
  return fyrn::Action(std::move(orders));
}

}  // namespace detail

// ---- orders ------------------------------------------------------------------

// OrderArgs: one order dict, parsed with the other inputs (Signer.sign). Its
// type is the order parser's to check ("PyDict", no prefix).
struct OrderArgs {
  static constexpr int kArity = 1;
  PyObject* order = nullptr;
  fyrn::OrderItem item;

  bool convert(int, PyObject* obj) {
    order = obj;
    return true;
  }
  bool parse() { return parse_order_item(order, item); }
  bool build(const fyrn::Pubkey&, fyrn::Action& out) {
    out = detail::one_item(std::move(item));
    return true;
  }
};

// PreparedOrderArgs: one order dict, parsed last, with an "on_fill" key
// attaching its actions (py_prepare_order).
struct PreparedOrderArgs {
  static constexpr int kArity = 1;
  PyObject* order = nullptr;

  bool convert(int, PyObject* obj) {
    order = obj;
    return true;
  }
  bool parse() { return true; }
  bool build(const fyrn::Pubkey&, fyrn::Action& out) {
    fyrn::OrderItem item;
    if (!parse_order_with_on_fill(order, item)) return false;
    out = detail::one_item(std::move(item));
    return true;
  }
};

// OrderListArgs: a list of order dicts ("orders"), all in one action.
struct OrderListArgs {
  static constexpr int kArity = 1;
  PyObject* list = nullptr;
  std::vector<fyrn::OrderItem> items;

  bool convert(int, PyObject* obj) {
    list = obj;
    return list_arg(obj, "orders");
  }
  bool parse() { return parse_order_list(list, "orders", items); }
  bool build(const fyrn::Pubkey&, fyrn::Action& out) {
    out = fyrn::Action(fyrn::action::Orders{std::move(items)});
    return true;
  }
};

// ---- accounts, builder codes, transfers --------------------------------------

// FaucetArgs: nothing of its own; the faucet is for the account itself.
struct FaucetArgs {
  static constexpr int kArity = 0;
  bool convert(int, PyObject*) { return true; }
  bool parse() { return true; }
  bool build(const fyrn::Pubkey& account, fyrn::Action& out) {
    out = fyrn::Action(fyrn::action::Faucet{account, std::nullopt});
    return true;
  }
};

struct AgentWalletArgs {
  static constexpr int kArity = 2;
  std::string_view agent_text;
  bool del = false;
  fyrn::Pubkey agent;

  bool convert(int i, PyObject* obj) {
    return i == 0 ? to_text(obj, "agent_pubkey", agent_text) : to_bool(obj, "delete", del);
  }
  bool parse() { return pubkey_from(agent_text, agent); }
  bool build(const fyrn::Pubkey&, fyrn::Action& out) {
    out = fyrn::Action(fyrn::action::AgentWalletCreation{agent, del});
    return true;
  }
};

// ApproveArgs: recipient and fee; the fee (1..=15) is checked last.
struct ApproveArgs {
  static constexpr int kArity = 2;
  std::string_view recipient_text;
  uint64_t fee = 0;
  fyrn::Pubkey to;

  bool convert(int i, PyObject* obj) {
    return i == 0 ? to_text(obj, "to_pubkey", recipient_text) : to_uint(obj, "fee", 255, fee);
  }
  bool parse() { return pubkey_from(recipient_text, to); }
  bool build(const fyrn::Pubkey&, fyrn::Action& out) {
    auto commission = fyrn::Commission::make(to, static_cast<uint8_t>(fee));
    if (!commission) return raise_error(commission.error());
    out = fyrn::Action(fyrn::action::ApproveCommissionFee{*commission});
    return true;
  }
};

struct RevokeArgs {
  static constexpr int kArity = 1;
  std::string_view recipient_text;
  fyrn::Pubkey to;

  bool convert(int, PyObject* obj) { return to_text(obj, "to_pubkey", recipient_text); }
  bool parse() { return pubkey_from(recipient_text, to); }
  bool build(const fyrn::Pubkey&, fyrn::Action& out) {
    out = fyrn::Action(fyrn::action::RevokeCommissionFee{to});
    return true;
  }
};

struct RemoveSubAccountArgs {
  static constexpr int kArity = 1;
  std::string_view text;
  fyrn::Pubkey to_remove;

  bool convert(int, PyObject* obj) { return to_text(obj, "to_remove", text); }
  bool parse() { return pubkey_from(text, to_remove); }
  bool build(const fyrn::Pubkey&, fyrn::Action& out) {
    out = fyrn::Action(fyrn::action::RemoveSubAccount{to_remove});
    return true;
  }
};

struct CreateSubAccountArgs {
  static constexpr int kArity = 2;
  std::string_view name;
  std::optional<double> margin_amount;

  bool convert(int i, PyObject* obj) {
    return i == 0 ? to_text(obj, "name", name) : opt_f64(obj, "margin_amount", margin_amount);
  }
  bool parse() { return true; }
  bool build(const fyrn::Pubkey&, fyrn::Action& out) {
    out = fyrn::Action(fyrn::action::CreateSubAccount{std::string(name), margin_amount});
    return true;
  }
};

// TransferArgs: both keys, the amount, and the kind, checked last: absent is
// internal, otherwise exactly "internal" or "external" (ValueError "Invalid
// transfer kind: <text>" for anything else).
struct TransferArgs {
  static constexpr int kArity = 4;
  std::string_view from_text;
  std::string_view recipient_text;
  double amount = 0.0;
  std::optional<std::string_view> kind;
  fyrn::Pubkey from;
  fyrn::Pubkey to;

  bool convert(int i, PyObject* obj) {
    switch (i) {
      case 0:
        return to_text(obj, "from_pubkey", from_text);
      case 1:
        return to_text(obj, "to_pubkey", recipient_text);
      case 2:
        return to_f64(obj, "margin_amount", amount);
      default:
        return opt_text(obj, "kind", kind);
    }
  }
  bool parse() { return pubkey_from(from_text, from) && pubkey_from(recipient_text, to); }
  bool build(const fyrn::Pubkey&, fyrn::Action& out) {
    fyrn::Transfer transfer{from, to, amount, fyrn::TransferKind::Internal};
    if (kind && *kind == "external") {
      transfer.kind = fyrn::TransferKind::External;
    } else if (kind && *kind != "internal") {
      return raise_value_error("Invalid transfer kind: " + std::string(*kind));
    }
    out = fyrn::Action(fyrn::action::Transfer{transfer});
    return true;
  }
};

// LiquidatorConfigArgs: the configuration dict; its type is the
// configuration parser's to check.
struct LiquidatorConfigArgs {
  static constexpr int kArity = 1;
  PyObject* config = nullptr;
  fyrn::action::UpdateLiquidatorConfig action;

  bool convert(int, PyObject* obj) {
    config = obj;
    return true;
  }
  bool parse() { return parse_liquidator_config(config, action.config); }
  bool build(const fyrn::Pubkey&, fyrn::Action& out) {
    out = fyrn::Action(std::move(action));
    return true;
  }
};

// ---- the signer-only actions: their tuple sequences convert with the types ----

struct UserSettingsArgs {
  static constexpr int kArity = 1;
  fyrn::action::UpdateUserSettings action;

  bool convert(int, PyObject* obj) { return parse_user_settings(obj, "max_leverage", action.max_leverage); }
  bool parse() { return true; }
  bool build(const fyrn::Pubkey&, fyrn::Action& out) {
    out = fyrn::Action(std::move(action));
    return true;
  }
};

struct OraclePricesArgs {
  static constexpr int kArity = 1;
  fyrn::action::OraclePrices action;

  bool convert(int, PyObject* obj) { return parse_oracle_prices(obj, "oracles", action.prices); }
  bool parse() { return true; }
  bool build(const fyrn::Pubkey&, fyrn::Action& out) {
    out = fyrn::Action(std::move(action));
    return true;
  }
};

struct PythOracleArgs {
  static constexpr int kArity = 1;
  fyrn::action::PythOracle action;

  bool convert(int, PyObject* obj) { return parse_pyth_prices(obj, "oracles", action.updates); }
  bool parse() { return true; }
  bool build(const fyrn::Pubkey&, fyrn::Action& out) {
    out = fyrn::Action(std::move(action));
    return true;
  }
};

struct WhitelistFaucetArgs {
  static constexpr int kArity = 2;
  std::string_view text;
  fyrn::action::WhitelistFaucet action;

  bool convert(int i, PyObject* obj) {
    return i == 0 ? to_text(obj, "target_pubkey", text) : to_bool(obj, "whitelist", action.whitelist);
  }
  bool parse() { return pubkey_from(text, action.target); }
  bool build(const fyrn::Pubkey&, fyrn::Action& out) {
    out = fyrn::Action(std::move(action));
    return true;
  }
};

}  // namespace fyrn::py
