// action_args.cpp: each action's own arguments, for signing and preparing.
#include "action_args.hpp"

#include <string>
#include <utility>

#include "binder.hpp"
#include "errors.hpp"
#include "parse_actions.hpp"
#include "parse_orders.hpp"
#include "parse_util.hpp"

namespace fyrn::py {

bool opt_u64(PyObject* obj, const char* param, std::optional<uint64_t>& out) {
  if (obj == nullptr) return true;
  uint64_t value = 0;
  if (!to_u64(obj, param, value)) return false;
  out = value;
  return true;
}

bool opt_f64(PyObject* obj, const char* param, std::optional<double>& out) {
  if (obj == nullptr) return true;
  double value = 0.0;
  if (!to_f64(obj, param, value)) return false;
  out = value;
  return true;
}

bool opt_text(PyObject* obj, const char* param, std::optional<std::string_view>& out) {
  if (obj == nullptr) return true;
  std::string_view value;
  if (!to_text(obj, param, value)) return false;
  out = value;
  return true;
}

bool list_arg(PyObject* obj, const char* param) {
  return PyList_Check(obj) || raise_type_mismatch(obj, "PyList", param);
}

bool dict_arg(PyObject* obj, const char* param) {
  return PyDict_Check(obj) || raise_type_mismatch(obj, "PyDict", param);
}

bool pubkey_from(std::string_view text, fyrn::Pubkey& out) {
  auto key = fyrn::Pubkey::from_base58(text);
  if (!key) return parse::raise_core_error(key.error());
  out = *key;
  return true;
}

bool domain_from(std::string_view text, fyrn::SignatureDomain& out) {
  auto domain = fyrn::signature_domain_from_str(text);
  if (!domain) return parse::raise_core_error(domain.error());
  out = *domain;
  return true;
}

namespace {

fyrn::Action one_item(fyrn::OrderItem item) {
  fyrn::action::Orders orders;
  orders.orders.reserve(1);
  orders.orders.push_back(std::move(item));
  return fyrn::Action(std::move(orders));
}

}  // namespace

// The order dict's type is the order parser's to check ("PyDict", no prefix).
bool OrderArgs::convert(int, PyObject* obj) {
  order = obj;
  return true;
}
bool OrderArgs::parse() { return parse_order_item(order, item); }
bool OrderArgs::build(const fyrn::Pubkey&, fyrn::Action& out) {
  out = one_item(std::move(item));
  return true;
}

bool PreparedOrderArgs::convert(int, PyObject* obj) {
  order = obj;
  return true;
}
bool PreparedOrderArgs::build(const fyrn::Pubkey&, fyrn::Action& out) {
  fyrn::OrderItem item;
  if (!parse_order_with_on_fill(order, item)) return false;
  out = one_item(std::move(item));
  return true;
}

bool OrderListArgs::convert(int, PyObject* obj) {
  list = obj;
  return list_arg(obj, "orders");
}
bool OrderListArgs::parse() { return parse_order_list(list, "orders", items); }
bool OrderListArgs::build(const fyrn::Pubkey&, fyrn::Action& out) {
  out = fyrn::Action(fyrn::action::Orders{std::move(items)});
  return true;
}

bool FaucetArgs::build(const fyrn::Pubkey& account, fyrn::Action& out) {
  out = fyrn::Action(fyrn::action::Faucet{account, std::nullopt});
  return true;
}

bool AgentWalletArgs::convert(int i, PyObject* obj) {
  return i == 0 ? to_text(obj, "agent_pubkey", agent_text) : to_bool(obj, "delete", del);
}
bool AgentWalletArgs::parse() { return pubkey_from(agent_text, agent); }
bool AgentWalletArgs::build(const fyrn::Pubkey&, fyrn::Action& out) {
  out = fyrn::Action(fyrn::action::AgentWalletCreation{agent, del});
  return true;
}

bool ApproveArgs::convert(int i, PyObject* obj) {
  return i == 0 ? to_text(obj, "to_pubkey", recipient_text) : to_uint(obj, "fee", 255, fee);
}
bool ApproveArgs::parse() { return pubkey_from(recipient_text, to); }
bool ApproveArgs::build(const fyrn::Pubkey&, fyrn::Action& out) {
  auto commission = fyrn::Commission::make(to, static_cast<uint8_t>(fee));
  if (!commission) return parse::raise_core_error(commission.error());
  out = fyrn::Action(fyrn::action::ApproveCommissionFee{*commission});
  return true;
}

bool RevokeArgs::convert(int, PyObject* obj) { return to_text(obj, "to_pubkey", recipient_text); }
bool RevokeArgs::parse() { return pubkey_from(recipient_text, to); }
bool RevokeArgs::build(const fyrn::Pubkey&, fyrn::Action& out) {
  out = fyrn::Action(fyrn::action::RevokeCommissionFee{to});
  return true;
}

bool RemoveSubAccountArgs::convert(int, PyObject* obj) { return to_text(obj, "to_remove", text); }
bool RemoveSubAccountArgs::parse() { return pubkey_from(text, to_remove); }
bool RemoveSubAccountArgs::build(const fyrn::Pubkey&, fyrn::Action& out) {
  out = fyrn::Action(fyrn::action::RemoveSubAccount{to_remove});
  return true;
}

bool CreateSubAccountArgs::convert(int i, PyObject* obj) {
  return i == 0 ? to_text(obj, "name", name) : opt_f64(obj, "margin_amount", margin_amount);
}
bool CreateSubAccountArgs::build(const fyrn::Pubkey&, fyrn::Action& out) {
  out = fyrn::Action(fyrn::action::CreateSubAccount{std::string(name), margin_amount});
  return true;
}

bool TransferArgs::convert(int i, PyObject* obj) {
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
bool TransferArgs::parse() { return pubkey_from(from_text, from) && pubkey_from(recipient_text, to); }
bool TransferArgs::build(const fyrn::Pubkey&, fyrn::Action& out) {
  fyrn::Transfer transfer{from, to, amount, fyrn::TransferKind::Internal};
  if (!parse_transfer_kind(kind, transfer.kind)) return false;
  out = fyrn::Action(fyrn::action::Transfer{transfer});
  return true;
}

// The configuration's type is the configuration parser's to check.
bool LiquidatorConfigArgs::convert(int, PyObject* obj) {
  config = obj;
  return true;
}
bool LiquidatorConfigArgs::parse() { return parse_liquidator_config(config, action.config); }
bool LiquidatorConfigArgs::build(const fyrn::Pubkey&, fyrn::Action& out) {
  out = fyrn::Action(std::move(action));
  return true;
}

bool UserSettingsArgs::convert(int, PyObject* obj) {
  return parse_user_settings(obj, "max_leverage", action.max_leverage);
}
bool UserSettingsArgs::build(const fyrn::Pubkey&, fyrn::Action& out) {
  out = fyrn::Action(std::move(action));
  return true;
}

bool OraclePricesArgs::convert(int, PyObject* obj) { return parse_oracle_prices(obj, "oracles", action.prices); }
bool OraclePricesArgs::build(const fyrn::Pubkey&, fyrn::Action& out) {
  out = fyrn::Action(std::move(action));
  return true;
}

bool PythOracleArgs::convert(int, PyObject* obj) { return parse_pyth_prices(obj, "oracles", action.updates); }
bool PythOracleArgs::build(const fyrn::Pubkey&, fyrn::Action& out) {
  out = fyrn::Action(std::move(action));
  return true;
}

bool WhitelistFaucetArgs::convert(int i, PyObject* obj) {
  return i == 0 ? to_text(obj, "target_pubkey", text) : to_bool(obj, "whitelist", action.whitelist);
}
bool WhitelistFaucetArgs::parse() { return pubkey_from(text, action.target); }
bool WhitelistFaucetArgs::build(const fyrn::Pubkey&, fyrn::Action& out) {
  out = fyrn::Action(std::move(action));
  return true;
}

}  // namespace fyrn::py
