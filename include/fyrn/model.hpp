// fyrn/model.hpp: the actions and order items the library signs.
//
// Records are plain values, owned by one holder and moved from stage to stage.
// Prices, sizes and amounts stay doubles exactly as given; only the wire
// encoding converts them. Variant order is fixed: wire tags and every consumer
// dispatch on it.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "fyrn/error.hpp"
#include "fyrn/keys.hpp"

namespace fyrn {

// Box is a single-owner heap cell with deep copy, for recursive records.
template <typename T>
class Box {
 public:
  Box() = default;
  explicit Box(T value) : p_(std::make_unique<T>(std::move(value))) {}
  Box(const Box& other) : p_(other.p_ ? std::make_unique<T>(*other.p_) : nullptr) {}
  Box(Box&&) noexcept = default;
  Box& operator=(const Box& other) {
    if (this != &other) p_ = other.p_ ? std::make_unique<T>(*other.p_) : nullptr;
    return *this;
  }
  Box& operator=(Box&&) noexcept = default;

  T& operator*() { return *p_; }
  const T& operator*() const { return *p_; }
  T* operator->() { return p_.get(); }
  const T* operator->() const { return p_.get(); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  std::unique_ptr<T> p_;
};

// Commission is a builder code: who receives a fee and how many basis points.
// It exists only through Commission::make, so 1 <= fee <= 15 always holds.
struct Commission {
  Pubkey to;
  uint8_t fee = 1;

  // Commission::make validates the fee: InvalidOrder "builder-code fee must be
  // 1..=15 bps" outside 1..=15.
  static Result<Commission> make(const Pubkey& to, uint8_t fee);
  bool operator==(const Commission&) const = default;
};

// Tif is the time in force of a limit order.
enum class Tif : uint8_t { GTC = 0, IOC = 1, ALO = 2 };

// OrderType says how an Order executes.
struct LimitType {
  Tif tif = Tif::GTC;
};
struct TriggerType {
  bool is_market = true;    // true: executes as a market order
  double trigger_px = 0.0;  // 0.0 when not given
};
using OrderType = std::variant<LimitType, TriggerType>;

enum class TransferKind : uint8_t { Internal = 0, External = 1 };

struct OrderItem;

namespace item {

struct Order {
  std::string symbol;
  bool is_buy = false;
  double price = 0.0;
  double size = 0.0;
  bool reduce_only = false;
  bool iso = false;
  OrderType order_type = LimitType{};
  std::optional<Hash> client_id;
  std::optional<Commission> builder_code;
  std::optional<double> slippage;
};

struct Modify {
  std::string symbol;
  Hash order_id;
  double amount = 0.0;  // the new size
};

struct Cancel {
  std::string symbol;
  Hash order_id;
};

struct CancelAll {
  std::vector<std::string> symbols;  // may be empty
};

// Fields shared by Stop and TakeProfit.
struct ConditionalFields {
  std::string symbol;
  bool is_buy = false;
  double size = 0.0;
  double trigger_price = 0.0;
  double limit_price = NAN;  // NaN: not given
  bool iso = false;
  std::optional<Commission> builder_code;
  std::optional<double> slippage;
};
struct Stop : ConditionalFields {};
struct TakeProfit : ConditionalFields {};

struct Range {
  std::string symbol;
  bool is_buy = false;
  double size = 0.0;
  double pmin = 0.0;
  double pmax = 0.0;
  double lmin = NAN;  // NaN: not given
  double lmax = NAN;  // NaN: not given
  bool iso = false;
  std::optional<Commission> builder_code;
  std::optional<double> sl_slippage;
  std::optional<double> tp_slippage;
};

struct TriggerBasket {
  std::string symbol;
  bool is_buy = false;
  double trigger_price = 0.0;
  std::vector<OrderItem> actions;  // placed when the trigger fires
};

struct OnFill {
  Box<OrderItem> trigger;
  std::vector<OrderItem> actions;  // placed when the trigger order fills
};

struct TrailingStop {
  std::string symbol;
  bool is_buy = false;
  double size = 0.0;
  uint32_t trail_bps = 0;
  uint32_t step_bps = 0;
  std::optional<double> limit_price;
  bool iso = false;
  std::optional<Commission> builder_code;
  std::optional<double> slippage;
};

}  // namespace item

// OrderItem is one order or order-like instruction inside an Orders action.
struct OrderItem {
  using Variant = std::variant<item::Order, item::Modify, item::Cancel, item::CancelAll, item::Stop,
                               item::TakeProfit, item::Range, item::TriggerBasket, item::OnFill,
                               item::TrailingStop>;
  Variant v;

  OrderItem() = default;
  template <typename T, typename = std::enable_if_t<!std::is_same_v<std::decay_t<T>, OrderItem>>>
  OrderItem(T&& alternative) : v(std::forward<T>(alternative)) {}
};

struct Transfer {
  Pubkey from;
  Pubkey to;
  double amount = 0.0;
  TransferKind kind = TransferKind::Internal;
};

struct OraclePrice {
  uint64_t timestamp = 0;
  std::string symbol;
  double price = 0.0;
};

struct PythPrice {
  uint64_t timestamp = 0;
  uint64_t feed_index = 0;
  uint64_t price = 0;
  int16_t exponent = 0;
};

struct LiquidatorInstrumentConfig {
  std::string symbol;
  double max_exposure = 0.0;
  double reserve = 0.0;
  double rfactor = 0.0;
  double volume_percent = 0.0;
  double volume_min = 0.0;
  uint64_t volume_rampup = 0;
  double max_sweep_bps = 0.0;
  double max_adl_notional = 0.0;
  double max_adl_percent = 0.0;
};

struct LiquidatorConfig {
  std::vector<LiquidatorInstrumentConfig> instruments;  // input order
  double cross_exposure = 0.0;
  double scoring_skew = 0.0;
  double toxicity = 0.0;
  double urgency_size_fraction = 0.0;
  double sweep_sds = 0.0;

  // sorted_instruments returns the instruments in ascending byte order of their
  // symbols (stable: equal symbols keep input order). Wire and JSON both use it.
  std::vector<const LiquidatorInstrumentConfig*> sorted_instruments() const;
};

struct Action;

namespace action {

struct Orders { std::vector<OrderItem> orders; };
struct OraclePrices { std::vector<OraclePrice> prices; };
struct PythOracle { std::vector<PythPrice> updates; };
struct Faucet { Pubkey user; std::optional<double> amount; };
struct UpdateUserSettings { std::vector<std::pair<std::string, double>> max_leverage; };
struct AgentWalletCreation { Pubkey agent; bool delete_ = false; };
struct WhitelistFaucet { Pubkey target; bool whitelist = false; };
struct CreateSubAccount { std::string name; std::optional<double> margin_amount; };
struct RemoveSubAccount { Pubkey to_remove; };
struct RenameSubAccount { Pubkey account; std::string name; };
struct Transfer { fyrn::Transfer transfer; };
struct LegacyWithdrawal1 {};  // no field is read anywhere
struct LegacyWithdrawal2 {};
struct CreateMultisig {
  std::vector<Pubkey> signers;
  uint32_t threshold = 0;
  uint32_t time_lock_secs = 0;
  uint32_t proposal_lifetime_secs = 0;
};
struct MultisigPropose {
  Pubkey multisig;
  std::vector<Action> actions;
  std::optional<uint32_t> extra;  // copied unchanged into the wire proposal
};
struct MultisigApprove { Pubkey multisig; uint64_t proposal = 0; };
struct MultisigReject { Pubkey multisig; uint64_t proposal = 0; };
struct MultisigCancel { Pubkey multisig; uint64_t proposal = 0; };
struct MultisigExecute { Pubkey multisig; uint64_t proposal = 0; };
struct UpdateMultisigPolicy {
  Pubkey multisig;
  std::vector<Pubkey> signers;
  uint32_t threshold = 0;
  uint32_t time_lock_secs = 0;
  uint32_t proposal_lifetime_secs = 0;
};
struct ApproveCommissionFee { Commission commission; };
struct RevokeCommissionFee { Pubkey to; };
struct UpdateLiquidatorConfig { LiquidatorConfig config; };

}  // namespace action

// Action is everything the library signs, one per transaction.
struct Action {
  using Variant =
      std::variant<action::Orders, action::OraclePrices, action::PythOracle, action::Faucet,
                   action::UpdateUserSettings, action::AgentWalletCreation, action::WhitelistFaucet,
                   action::CreateSubAccount, action::RemoveSubAccount, action::RenameSubAccount,
                   action::Transfer, action::LegacyWithdrawal1, action::LegacyWithdrawal2,
                   action::CreateMultisig, action::MultisigPropose, action::MultisigApprove,
                   action::MultisigReject, action::MultisigCancel, action::MultisigExecute,
                   action::UpdateMultisigPolicy, action::ApproveCommissionFee,
                   action::RevokeCommissionFee, action::UpdateLiquidatorConfig>;
  Variant v;

  Action() = default;
  template <typename T, typename = std::enable_if_t<!std::is_same_v<std::decay_t<T>, Action>>>
  Action(T&& alternative) : v(std::forward<T>(alternative)) {}
};

}  // namespace fyrn
