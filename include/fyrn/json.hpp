// fyrn/json.hpp: the exchange's submission JSON for actions, and the signed
// transaction record it travels in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "fyrn/error.hpp"
#include "fyrn/model.hpp"

namespace fyrn {

// Json objects keep their keys in ascending byte order; numbers keep their
// unsigned / signed / double kind.
using Json = nlohmann::json;

// kJsonKeys is every key the submission JSON writes, in ascending byte order:
// the vocabulary by which a batch's results name their keys on a tape (see
// fyrn/tape.hpp) and the binding reuses one interned string per key.
inline constexpr std::string_view kJsonKeys[] = {
    "a", "abc", "account", "actions", "agentWalletCreation", "amount", "b", "builderCode", "c",
    "createMultisig", "createSubAccount", "cross_exposure", "cx", "cxa", "d", "e", "faucet", "fee", "fi",
    "from", "i", "instruments", "k", "l", "lim", "liq", "lmax", "lmin", "m", "marginAmount",
    "max_adl_notional", "max_adl_percent", "max_exposure", "max_sweep_bps", "mod", "msa", "msc", "mse", "msp",
    "msr", "msu", "name", "o", "of", "oid", "oracles", "p", "pmax", "pmin", "proposalLifetimeSecs", "px", "r",
    "rbc", "removeSubAccount", "renameSubAccount", "reserve", "rfactor", "rng", "scoring_skew", "signers",
    "slSlippage", "slippage", "st", "stb", "sweep_sds", "symbol", "sz", "t", "target", "threshold", "tif",
    "timeLockSecs", "to", "toRemove", "toxicity", "tp", "tpSlippage", "tr", "transfer", "trb", "trig",
    "trigger", "trl", "u", "updateUserSettings", "urgency_size_fraction", "volume_min", "volume_percent",
    "volume_rampup", "whitelist", "whitelistFaucet",
};
inline constexpr size_t kNoJsonKey = SIZE_MAX;

// json_key_index returns the position of `name` in kJsonKeys, or kNoJsonKey
// (a user-settings symbol, a key of a message read back from a caller).
size_t json_key_index(std::string_view name);

// kMaxJsonDepth: the deepest nesting of arrays and objects the library takes
// from a caller (an "actions" value read back from Python). nlohmann's own
// copy, comparison and serialisation recurse once per level; within this
// bound they stay far from the end of any thread's stack.
inline constexpr size_t kMaxJsonDepth = 10000;

// Destroying a non-empty nlohmann array or object allocates: the destructor
// first moves the children onto a heap stack so that it need not recurse. It
// is noexcept, so near memory exhaustion that allocation is std::terminate.
// The library therefore takes every value it owns apart itself, bottom-up and
// without allocating, before the destructor runs (copying a Json is no safer:
// a copy that fails half-way destroys what it built, so the library never
// copies one).

// release_json empties `value` into null children first, leaves last, so
// that every destructor involved finds nothing to flatten. Allocates nothing,
// needs a small bounded stack at any depth, never throws; `value` ends up an
// empty array or object (a scalar is left as it is).
void release_json(Json& value) noexcept;
// release_json empties every element of `values`, then the list itself.
void release_json(std::vector<Json>& values) noexcept;

// JsonList is a list of JSON values (the actions of a transaction) whose
// destruction and reassignment go through release_json, so that dropping one
// never allocates.
class JsonList : public std::vector<Json> {
 public:
  JsonList() = default;
  JsonList(std::vector<Json>&& values) noexcept : std::vector<Json>(std::move(values)) {}  // NOLINT: a list is a list
  JsonList(std::initializer_list<Json> values) : std::vector<Json>(values) {}
  JsonList(const JsonList&) = default;
  JsonList(JsonList&&) noexcept = default;
  JsonList& operator=(const JsonList& other) {
    if (this != &other) {
      JsonList copy(other);
      *this = std::move(copy);
    }
    return *this;
  }
  JsonList& operator=(JsonList&& other) noexcept { return assign_from(std::move(other)); }
  JsonList& operator=(std::vector<Json>&& other) noexcept { return assign_from(std::move(other)); }
  JsonList& operator=(std::initializer_list<Json> values) { return *this = JsonList(values); }
  ~JsonList() { release_json(*this); }

 private:
  JsonList& assign_from(std::vector<Json>&& other) noexcept {
    if (static_cast<std::vector<Json>*>(this) != &other) {
      release_json(*this);
      std::vector<Json>::operator=(std::move(other));
    }
    return *this;
  }
};

// ReleaseOnExit releases the value it watches when its scope ends, however
// it ends (an error returned half-way, a bad_alloc), before the value's own
// destructor runs. Never watch a variable the function returns by name: the
// named return value optimisation makes it the result.
template <typename T>
class ReleaseOnExit {
 public:
  explicit ReleaseOnExit(T& value) noexcept : value_(value) {}
  ReleaseOnExit(const ReleaseOnExit&) = delete;
  ReleaseOnExit& operator=(const ReleaseOnExit&) = delete;
  ~ReleaseOnExit() { release_json(value_); }

 private:
  T& value_;
};

// ReleaseOnUnwind releases the value it watches only when its scope is left
// by an exception: for a variable that becomes the function's result.
template <typename T>
class ReleaseOnUnwind {
 public:
  explicit ReleaseOnUnwind(T& value) noexcept : value_(value), exceptions_(std::uncaught_exceptions()) {}
  ReleaseOnUnwind(const ReleaseOnUnwind&) = delete;
  ReleaseOnUnwind& operator=(const ReleaseOnUnwind&) = delete;
  ~ReleaseOnUnwind() {
    if (std::uncaught_exceptions() > exceptions_) release_json(value_);
  }

 private:
  T& value_;
  int exceptions_;
};

// JsonFlavour: the signer's JSON and the preparation's JSON differ only in the
// slippage keys of conditional orders, which only the preparation writes.
enum class JsonFlavour : uint8_t { Signer, Prepare };

// action_to_json returns the submission JSON list of an action: one element per
// order item, one per oracle price, one otherwise.
Result<JsonList> action_to_json(const Action& action, JsonFlavour flavour = JsonFlavour::Signer);

// order_item_to_json returns the one-key object of one order item.
Result<Json> order_item_to_json(const OrderItem& item, JsonFlavour flavour = JsonFlavour::Signer);

// liquidator_config_to_json returns the liquidator configuration object, with
// the instruments in sorted_instruments() order.
Json liquidator_config_to_json(const LiquidatorConfig& config);

// SignedTransaction is one signed action in its submission form.
struct SignedTransaction {
  JsonList actions;
  std::string account;    // base58 of the account acted for
  std::string signer;     // base58 of the signing key
  std::string signature;  // base58 of the 64-byte Ed25519 signature
  std::optional<std::string> order_id;
  std::optional<std::vector<std::string>> order_ids;
  uint64_t nonce = 0;
};

}  // namespace fyrn
