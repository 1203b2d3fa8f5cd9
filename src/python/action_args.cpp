// action_args.cpp: argument conversions and action builders shared by signing
// and preparing.
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

bool orders_action(PyObject* list, const char* param, fyrn::Action& out) {
  std::vector<fyrn::OrderItem> items;
  if (!parse_order_list(list, param, items)) return false;
  out = fyrn::Action(fyrn::action::Orders{std::move(items)});
  return true;
}

bool approve_action(const fyrn::Pubkey& to, uint64_t fee, fyrn::Action& out) {
  auto commission = fyrn::Commission::make(to, static_cast<uint8_t>(fee));
  if (!commission) return parse::raise_core_error(commission.error());
  out = fyrn::Action(fyrn::action::ApproveCommissionFee{*commission});
  return true;
}

bool transfer_action(const fyrn::Pubkey& from, const fyrn::Pubkey& to, double amount,
                     std::optional<std::string_view> kind, fyrn::Transfer& out) {
  fyrn::Transfer transfer{from, to, amount, fyrn::TransferKind::Internal};
  if (!parse_transfer_kind(kind, transfer.kind)) return false;
  out = transfer;
  return true;
}

bool liquidator_action(PyObject* config, fyrn::Action& out) {
  fyrn::action::UpdateLiquidatorConfig action;
  if (!parse_liquidator_config(config, action.config)) return false;
  out = fyrn::Action(std::move(action));
  return true;
}

}  // namespace fyrn::py
