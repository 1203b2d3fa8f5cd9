// fyrn/wire.hpp: the canonical signing message.
//
// An Action is lowered into wire actions (the exchange's own vocabulary) and
// written, with nonce, account and network byte, into one compact binary
// message: little-endian fixed-width integers, no names, no padding. Every
// signature is made over exactly these bytes.
//
// Wire actions borrow from the model: symbols, names and lists are views into
// the Action or OrderItem they were lowered from, which must outlive them.
// Lowering therefore allocates nothing for a leaf order; only nested lists
// (baskets, on-fill children, proposals, settings maps, sorted liquidator
// instruments) own a vector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "fyrn/error.hpp"
#include "fyrn/keys.hpp"
#include "fyrn/model.hpp"

namespace fyrn {

// to_fixed_point converts a model double to the wire's u64: value × 1e8 as a
// double product, rounded half away from zero; NaN and negatives give 0, values
// past 2^64−1 saturate.
uint64_t to_fixed_point(double value);

// TxTag numbers the 55 wire actions. The reserved numbers are never written
// but keep their places so that every other number stays fixed.
enum class TxTag : uint32_t {
  MarketOrder = 0,
  LimitOrder = 1,
  ModifyOrder = 2,
  CancelOrder = 3,
  CancelAll = 4,
  Stop = 5,
  TakeProfit = 6,
  RangeOco = 7,
  TriggerBasket = 8,
  TrailingStop = 9,
  OnFill = 10,
  Price = 11,
  Reserved12 = 12,
  PythOracle = 13,
  Reserved14 = 14,
  Reserved15 = 15,
  Faucet = 16,
  AgentWalletCreation = 17,
  UpdateUserSettings = 18,
  WhitelistFaucet = 19,
  Reserved20 = 20,
  Reserved21 = 21,
  Reserved22 = 22,
  Reserved23 = 23,
  Reserved24 = 24,
  Reserved25 = 25,
  Reserved26 = 26,
  CreateSubAccount = 27,
  RemoveSubAccount = 28,
  Transfer = 29,
  CreateMultisig = 30,
  MultisigPropose = 31,
  MultisigApprove = 32,
  MultisigReject = 33,
  MultisigCancel = 34,
  MultisigExecute = 35,
  UpdateMultisigPolicy = 36,
  RenameSubAccount = 37,
  Reserved38 = 38,
  Reserved39 = 39,
  ApproveCommissionFee = 40,
  RevokeCommissionFee = 41,
  Reserved42 = 42,
  LiquidatorConfig = 43,
  Reserved44 = 44,
  Reserved45 = 45,
  Reserved46 = 46,
  Reserved47 = 47,
  Reserved48 = 48,
  Reserved49 = 49,
  Reserved50 = 50,
  Reserved51 = 51,
  Reserved52 = 52,
  Reserved53 = 53,
  Reserved54 = 54,
};
inline constexpr uint32_t kTxTagCount = 55;

// TxCommission is a builder code on the wire: key, then fee in basis points.
struct TxCommission {
  Pubkey to;
  uint8_t fee = 1;

  // TxCommission::try_from validates the fee: InvalidOrder "builder-code fee
  // must be 1..=15 bps" outside 1..=15.
  static Result<TxCommission> try_from(const Commission& commission);
  bool operator==(const TxCommission&) const = default;
};

// Order payloads carry the message's format level in memory; it decides which
// trailing fields are written and is never written itself. Fixed-point fields
// hold the already converted u64.

struct TxMarketOrder {
  std::string_view symbol;
  bool is_buy = false;
  uint64_t size = 0;
  bool reduce_only = false;
  bool iso = false;
  std::optional<TxCommission> builder_code;
  std::optional<uint64_t> slippage;
  uint8_t level = 0;
};

struct TxLimitOrder {
  std::string_view symbol;
  bool is_buy = false;
  uint64_t price = 0;
  uint64_t size = 0;
  Tif tif = Tif::GTC;
  bool reduce_only = false;
  bool iso = false;
  std::optional<TxCommission> builder_code;
  uint8_t level = 0;
};

struct TxModifyOrder {
  Hash order_id;
  std::string_view symbol;
  double amount = 0.0;  // raw bits, not fixed-point
};

struct TxCancelOrder {
  std::string_view symbol;
  Hash order_id;
};

struct TxCancelAll {
  std::span<const std::string> symbols;
};

// Stop and take-profit share one layout.
struct TxConditional {
  std::string_view symbol;
  bool is_buy = false;
  uint64_t size = 0;
  uint64_t trigger_price = 0;
  std::optional<uint64_t> limit_price;
  bool iso = false;
  std::optional<TxCommission> builder_code;
  std::optional<uint64_t> slippage;
  uint8_t level = 0;
};
struct TxStop : TxConditional {};
struct TxTakeProfit : TxConditional {};

struct TxRangeOco {
  std::string_view symbol;
  bool is_buy = false;
  uint64_t size = 0;
  uint64_t pmin = 0;
  uint64_t pmax = 0;
  std::optional<uint64_t> lmin;
  std::optional<uint64_t> lmax;
  bool iso = false;
  std::optional<TxCommission> builder_code;
  std::optional<uint64_t> sl_slippage;
  std::optional<uint64_t> tp_slippage;
  uint8_t level = 0;
};

struct TxAction;

struct TxTriggerBasket {
  std::string_view symbol;
  bool is_buy = false;
  uint64_t trigger_price = 0;
  std::vector<TxAction> actions;
};

struct TxTrailingStop {
  std::string_view symbol;
  bool is_buy = false;
  uint64_t size = 0;
  uint32_t trail_bps = 0;
  uint32_t step_bps = 0;
  std::optional<uint64_t> limit_price;
  bool iso = false;
  std::optional<TxCommission> builder_code;
  std::optional<uint64_t> slippage;
  uint8_t level = 0;
};

struct TxOnFill {
  Box<TxAction> trigger;
  std::vector<TxAction> actions;
};

struct TxPrice {
  uint64_t timestamp = 0;
  std::string_view symbol;
  double price = 0.0;
};

struct TxPythOracle {
  std::span<const PythPrice> updates;
};

struct TxFaucet {
  Pubkey user;
  std::optional<double> amount;
};

struct TxAgentWalletCreation {
  Pubkey agent;
  bool delete_ = false;
};

// The leverage map: unique symbols in ascending byte order.
struct TxUpdateUserSettings {
  std::vector<std::pair<std::string_view, double>> max_leverage;
};

struct TxWhitelistFaucet {
  Pubkey target;
  bool whitelist = false;
};

struct TxCreateSubAccount {
  std::string_view name;
  std::optional<double> margin_amount;
};

struct TxRemoveSubAccount {
  Pubkey to_remove;
};

struct TxTransfer {
  TransferKind kind = TransferKind::Internal;
  Pubkey from;
  Pubkey to;
  double amount = 0.0;
};

struct TxCreateMultisig {
  std::span<const Pubkey> signers;
  uint32_t threshold = 0;
  uint32_t time_lock_secs = 0;
  uint32_t proposal_lifetime_secs = 0;
};

struct TxMultisigPropose {
  Pubkey multisig;
  std::vector<TxAction> actions;
  std::optional<uint32_t> extra;
};

struct TxMultisigProposalRef {
  Pubkey multisig;
  uint64_t proposal = 0;
};
struct TxMultisigApprove : TxMultisigProposalRef {};
struct TxMultisigReject : TxMultisigProposalRef {};
struct TxMultisigCancel : TxMultisigProposalRef {};
struct TxMultisigExecute : TxMultisigProposalRef {};

struct TxUpdateMultisigPolicy {
  Pubkey multisig;
  std::span<const Pubkey> signers;
  uint32_t threshold = 0;
  uint32_t time_lock_secs = 0;
  uint32_t proposal_lifetime_secs = 0;
};

struct TxRenameSubAccount {
  Pubkey account;
  std::string_view name;
};

struct TxApproveCommissionFee {
  Pubkey to;
  uint8_t fee = 1;
};

struct TxRevokeCommissionFee {
  Pubkey to;
};

// Instruments are already in ascending symbol order (stable).
struct TxLiquidatorConfig {
  double cross_exposure = 0.0;
  double scoring_skew = 0.0;
  double toxicity = 0.0;
  double urgency_size_fraction = 0.0;
  double sweep_sds = 0.0;
  std::vector<const LiquidatorInstrumentConfig*> instruments;
};

// TxAction is one wire action. Its tag follows from the payload type, so a
// payload can never travel under a wrong number; reserved tags have no payload
// type and cannot be built.
struct TxAction {
  using Payload =
      std::variant<TxMarketOrder, TxLimitOrder, TxModifyOrder, TxCancelOrder, TxCancelAll, TxStop,
                   TxTakeProfit, TxRangeOco, TxTriggerBasket, TxTrailingStop, TxOnFill, TxPrice,
                   TxPythOracle, TxFaucet, TxAgentWalletCreation, TxUpdateUserSettings,
                   TxWhitelistFaucet, TxCreateSubAccount, TxRemoveSubAccount, TxTransfer,
                   TxCreateMultisig, TxMultisigPropose, TxMultisigApprove, TxMultisigReject,
                   TxMultisigCancel, TxMultisigExecute, TxUpdateMultisigPolicy, TxRenameSubAccount,
                   TxApproveCommissionFee, TxRevokeCommissionFee, TxLiquidatorConfig>;
  Payload payload;

  TxAction() = default;
  template <typename T, typename = std::enable_if_t<!std::is_same_v<std::decay_t<T>, TxAction>>>
  TxAction(T&& p) : payload(std::forward<T>(p)) {}

  // tag returns the wire number of this action.
  TxTag tag() const;
};

// Level predicates: what decides the message's format level. Nested items of
// TriggerBasket and OnFill, and inner actions of MultisigPropose, count.
//
// order_item_contains_leaf_conditional reports a Stop, TakeProfit, Range or
// TrailingStop anywhere in `item`.
bool order_item_contains_leaf_conditional(const OrderItem& item);
// order_item_has_builder_code reports a builder code on an Order, Stop,
// TakeProfit, Range or TrailingStop anywhere in `item`.
bool order_item_has_builder_code(const OrderItem& item);
// order_item_has_explicit_slippage reports an Order's own slippage anywhere in
// `item`; a conditional order's slippage never counts.
bool order_item_has_explicit_slippage(const OrderItem& item);
// action_contains_leaf_conditional, action_has_builder_code and
// action_has_explicit_slippage are the three predicates over every order item
// of `action`, inner proposal actions included.
bool action_contains_leaf_conditional(const Action& action);
bool action_has_builder_code(const Action& action);
bool action_has_explicit_slippage(const Action& action);

// message_level returns the format level of the message for `action`: 4 (a
// conditional leaf), 3 (a builder code), 2 (explicit market slippage) or 0.
uint8_t message_level(const Action& action);

// multisig_nested_level returns the level at which a proposal's inner actions
// are lowered: the message level when it is 2 or 3, otherwise 1.
inline uint8_t multisig_nested_level(uint8_t level) { return (level == 2 || level == 3) ? level : 1; }

// order_item_to_tx_action lowers one order item at format level `level` into
// exactly one wire action (which may hold children lowered at the same level).
// Errors: InvalidOrder for a limit order with slippage, a non-market trigger
// order, an on-fill trigger that is not an Order, a builder-code fee outside
// 1..=15.
Result<TxAction> order_item_to_tx_action(const OrderItem& item, uint8_t level);

// action_to_tx_actions lowers one model action at format level `level`. Orders
// give one wire action per item, oracle prices one per price, every other
// action exactly one. Legacy withdrawals fail with LegacyWithdrawal.
Result<std::vector<TxAction>> action_to_tx_actions(const Action& action, uint8_t level);

// write_tx_action appends the tag and payload of `tx` to `out`. Never fails
// for lowered actions; a hand-built TxOnFill with an empty trigger box is a
// broken invariant and throws Panic.
void write_tx_action(std::vector<uint8_t>& out, const TxAction& tx);

// kMessageHeaderLen / kMessageSuffixLen: the optional header and the fixed
// suffix (nonce, account, domain byte) of every message.
inline constexpr size_t kMessageHeaderLen = 21;
inline constexpr size_t kMessageSuffixLen = 41;

// serialize_for_sdk_signing clears `buffer` (keeping its capacity) and writes
// the signing message for (action, domain, nonce, account) into it. On error
// the buffer is left exactly as it was.
Status serialize_for_sdk_signing(const Action& action, SignatureDomain domain, uint64_t nonce,
                                 const Pubkey& account, std::vector<uint8_t>& buffer);

}  // namespace fyrn
