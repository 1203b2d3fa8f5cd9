// fyrn/json.hpp: the exchange's submission JSON for actions, and the signed
// transaction record it travels in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fyrn/error.hpp"
#include "fyrn/model.hpp"

namespace fyrn {

// Json objects keep their keys in ascending byte order; numbers keep their
// unsigned / signed / double kind.
using Json = nlohmann::json;

// JsonFlavour: the signer's JSON and the preparation's JSON differ only in the
// slippage keys of conditional orders, which only the preparation writes.
enum class JsonFlavour : uint8_t { Signer, Prepare };

// action_to_json returns the submission JSON list of an action: one element per
// order item, one per oracle price, one otherwise.
Result<std::vector<Json>> action_to_json(const Action& action, JsonFlavour flavour = JsonFlavour::Signer);

// order_item_to_json returns the one-key object of one order item.
Result<Json> order_item_to_json(const OrderItem& item, JsonFlavour flavour = JsonFlavour::Signer);

// liquidator_config_to_json returns the liquidator configuration object, with
// the instruments in sorted_instruments() order.
Json liquidator_config_to_json(const LiquidatorConfig& config);

// SignedTransaction is one signed action in its submission form.
struct SignedTransaction {
  std::vector<Json> actions;
  std::string account;    // base58 of the account acted for
  std::string signer;     // base58 of the signing key
  std::string signature;  // base58 of the 64-byte Ed25519 signature
  std::optional<std::string> order_id;
  std::optional<std::vector<std::string>> order_ids;
  uint64_t nonce = 0;
};

}  // namespace fyrn
