// The submission JSON: the shape of every action, key order, number kinds and
// the two flavours (the item shapes are checked through Python, in
// tests/test_parse.py), and taking JSON apart without allocating.
//
// Expected texts are written by hand from the vocabulary tables. dump() walks
// objects in container order, so a literal with keys in byte order checks
// content and order at once; doubles always print with a fraction ("2.0"),
// integers never do, and an unsigned number above 2^63 prints unchanged only
// if it kept its unsigned kind.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "alloc_hooks.hpp"
#include "fyrn/json.hpp"
#include "fyrn/tape.hpp"
#include "wire_test_util.hpp"

using namespace fyrn;
using wire_test::seq_key;

// Records are built with designated initializers; absent optionals are the point.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

// Base58 texts of the test keys, from the PyPI base58 package.
const std::pair<const char*, const char*> kKeyTexts[] = {
    {"@K0", "11111111111111111111111111111111"},              // 32 × 0x00
    {"@K1", wire_test::kKey11Text},
    {"@K2", wire_test::kSeqKeyText},
    {"@H", "CZ8YUVdk7znjrUmnb5n7kgySk9yRAsQDYmyCxzfSky9t"},   // 32 × 0xAB
};

Pubkey key(uint8_t b) { return wire_test::key_of(b); }
Hash hash_ab() { return wire_test::hash_of(0xab); }
Commission builder(uint8_t fee) { return Commission{key(0x11), fee}; }

// expand replaces the placeholders with the key texts.
std::string expand(std::string text) {
  for (const auto& [from, to] : kKeyTexts) {
    for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos)) {
      text.replace(pos, std::string(from).size(), to);
    }
  }
  return text;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

item::Order limit_example() { return {.symbol = "BTC-USD", .is_buy = true, .price = 50000.5, .size = 0.25}; }
const std::string kLimitText = R"({"l":{"b":true,"c":"BTC-USD","i":false,"px":50000.5,"r":false,"sz":0.25,"tif":"GTC"}})";

item::Order market(std::optional<double> slippage) {
  return {.symbol = "ETH-USD", .price = 123.0, .size = 2.0, .order_type = TriggerType{true, 99.0}, .slippage = slippage};
}

item::ConditionalFields conditional(double limit, std::optional<double> slippage) {
  return {.symbol = "BTC-USD", .is_buy = true, .size = 1.0, .trigger_price = 49000.0, .limit_price = limit, .slippage = slippage};
}

// One of every item shape, with the optional fields that change it.
std::vector<OrderItem> every_item() {
  item::Order alo{.symbol = "BTC-USD", .is_buy = true, .price = kInf, .size = 0.25, .reduce_only = true,
                  .order_type = LimitType{Tif::ALO}, .client_id = hash_ab(), .builder_code = builder(3)};
  item::Order m = market(0.005);
  m.builder_code = builder(5);
  auto tp = conditional(0.0, std::nullopt);
  tp.builder_code = builder(15);
  item::Range r{.symbol = "SOL-USD", .size = 3.0, .pmin = 90.0, .pmax = 110.5, .lmin = 89.0, .sl_slippage = 0.02,
                .tp_slippage = 0.03};
  item::TrailingStop t{.symbol = "BTC-USD", .is_buy = true, .size = 0.5, .trail_bps = 25, .step_bps = 5, .slippage = 0.01};
  item::TriggerBasket b{"BTC-USD", false, 45000.0, {limit_example(), item::Stop{conditional(51000.0, 0.01)}}};
  item::OnFill inner{Box<OrderItem>(market(std::nullopt)), {item::Cancel{"SOL-USD", hash_ab()}}};
  return {alo, m, item::Modify{"SOL-USD", hash_ab(), 2.0}, item::Cancel{"SOL-USD", hash_ab()},
          item::CancelAll{{"SOL-USD", "BTC-USD"}}, item::Stop{conditional(kNaN, 0.01)}, item::TakeProfit{tp}, r, t, b,
          item::OnFill{Box<OrderItem>(inner), {}}};
}

// shape_cases: one of every admin action (and an order list), with its
// submission JSON, key placeholders not yet expanded.
std::vector<std::pair<Action, std::string>> shape_cases() {
  LiquidatorInstrumentConfig i{"", 2.0, 2.5, 0.25, 0.75, 1.5, 30, 12.5, kNaN, 0.125};
  LiquidatorConfig cfg{{}, 1000.0, 0.5, kInf, 0.1, 2.0};
  for (const char* sym : {"ETH-USD", "BTC-USD", "BTC-USD", "btc-usd"}) {
    i.symbol = sym;
    cfg.instruments.push_back(i);
    i.max_exposure += 1.0;
  }
  auto inst = [](const char* symbol, const char* exposure) {
    return std::string(R"({"max_adl_notional":null,"max_adl_percent":0.125,"max_exposure":)") + exposure +
           R"(,"max_sweep_bps":12.5,"reserve":2.5,"rfactor":0.25,"symbol":")" + symbol +
           R"(","volume_min":1.5,"volume_percent":0.75,"volume_rampup":30})";
  };
  const std::string cancel = R"({"cx":{"c":"SOL-USD","oid":"@H"}})";
  action::MultisigPropose inner{key(0), {action::Orders{{item::Cancel{"SOL-USD", hash_ab()}}}}, 9};
  action::MultisigPropose outer{key(0x11), {action::Orders{{limit_example()}}, action::RevokeCommissionFee{seq_key()}, inner}, 42};

  return {
      {action::Orders{{limit_example(), item::Cancel{"SOL-USD", hash_ab()}}}, "[" + kLimitText + "," + cancel + "]"},
      {action::OraclePrices{{{1700000000, "BTC-USD", 50000.5}, {1700000001, "ETH-USD", kNaN}}},
       R"([{"px":{"c":"BTC-USD","px":50000.5,"t":1700000000}},{"px":{"c":"ETH-USD","px":null,"t":1700000001}}])"},
      {action::PythOracle{{{1700000000, 3, 123456789, -8}, {1700000001, 4, 9223372036854775813ull, 2}}},
       R"([{"o":{"oracles":[{"e":-8,"fi":3,"px":123456789,"t":1700000000},{"e":2,"fi":4,"px":9223372036854775813,"t":1700000001}]}}])"},
      {action::Faucet{key(0), std::nullopt}, R"([{"faucet":{"u":"@K0"}}])"},
      {action::Faucet{key(0), 100.0}, R"([{"faucet":{"amount":100.0,"u":"@K0"}}])"},
      {action::AgentWalletCreation{key(0x11), true}, R"([{"agentWalletCreation":{"a":"@K1","d":true}}])"},
      {action::WhitelistFaucet{seq_key(), false}, R"([{"whitelistFaucet":{"target":"@K2","whitelist":false}}])"},
      {action::CreateSubAccount{"bot-1", 12.5}, R"([{"createSubAccount":{"marginAmount":12.5,"name":"bot-1"}}])"},
      {action::CreateSubAccount{"bot-1", std::nullopt}, R"([{"createSubAccount":{"name":"bot-1"}}])"},
      {action::RemoveSubAccount{seq_key()}, R"([{"removeSubAccount":{"toRemove":"@K2"}}])"},
      {action::RenameSubAccount{key(0x11), "main"}, R"([{"renameSubAccount":{"account":"@K1","name":"main"}}])"},
      {action::Transfer{{key(0x11), key(0), 0.5, TransferKind::External}},
       R"([{"transfer":{"from":"@K1","k":"external","marginAmount":0.5,"to":"@K0"}}])"},
      {action::CreateMultisig{{key(0), seq_key()}, 2, 60, 86400},
       R"([{"createMultisig":{"proposalLifetimeSecs":86400,"signers":["@K0","@K2"],"threshold":2,"timeLockSecs":60}}])"},
      // Inner lists are concatenated; `extra` has no JSON form.
      {outer, R"([{"msp":{"a":[)" + kLimitText + R"(,{"rbc":{"to":"@K2"}},{"msp":{"a":[)" + cancel + R"(],"m":"@K0"}}],"m":"@K1"}}])"},
      {action::MultisigApprove{key(0x11), 7}, R"([{"msa":{"m":"@K1","p":7}}])"},
      {action::MultisigReject{key(0x11), 0}, R"([{"msr":{"m":"@K1","p":0}}])"},
      {action::MultisigCancel{key(0x11), 18446744073709551615ull}, R"([{"msc":{"m":"@K1","p":18446744073709551615}}])"},
      {action::MultisigExecute{seq_key(), 3}, R"([{"mse":{"m":"@K2","p":3}}])"},
      {action::UpdateMultisigPolicy{key(0x11), {seq_key()}, 1, 0, 3600},
       R"([{"msu":{"m":"@K1","proposalLifetimeSecs":3600,"signers":["@K2"],"threshold":1,"timeLockSecs":0}}])"},
      {action::ApproveCommissionFee{builder(15)}, R"([{"abc":{"fee":15,"to":"@K1"}}])"},
      {action::RevokeCommissionFee{key(0x11)}, R"([{"rbc":{"to":"@K1"}}])"},
      // Instruments by symbol bytes, equal symbols in input order.
      {action::UpdateLiquidatorConfig{cfg}, R"([{"liq":{"cross_exposure":1000.0,"instruments":[)" + inst("BTC-USD", "3.0") +
                                                "," + inst("BTC-USD", "4.0") + "," + inst("ETH-USD", "2.0") + "," +
                                                inst("btc-usd", "5.0") +
                                                R"(],"scoring_skew":0.5,"sweep_sds":2.0,"toxicity":null,"urgency_size_fraction":0.1}}])"},
  };
}

}  // namespace

// Refusals reach the caller from any depth, in both flavours.
TEST(ActionJson, Refusals) {
  item::Order trigger = market(std::nullopt);
  trigger.order_type = TriggerType{false, 99.0};
  const item::TriggerBasket basket{"BTC-USD", true, 1.0, {limit_example(), trigger}};
  const Error refused = Error::invalid_order("trigger orders are not supported by FYRN API; use market");
  const std::pair<Action, Error> cases[] = {
      {action::Orders{{limit_example(), trigger}}, refused},
      {action::Orders{{item::OnFill{Box<OrderItem>(trigger), {}}}}, refused},
      {action::Orders{{item::OnFill{Box<OrderItem>(limit_example()), {basket}}}}, refused},
      {action::LegacyWithdrawal1{}, Error::legacy_withdrawal()},
      {action::MultisigPropose{key(0), {action::Orders{{limit_example()}}, action::LegacyWithdrawal2{}}, {}},
       Error::legacy_withdrawal()},
  };
  for (const auto& [a, error] : cases) {
    EXPECT_EQ(action_to_json(a, JsonFlavour::Signer).error(), error);
    EXPECT_EQ(action_to_json(a, JsonFlavour::Prepare).error(), error);
  }
  EXPECT_EQ(order_item_to_json(basket, JsonFlavour::Prepare).error(), refused);
  EXPECT_EQ(order_item_to_json(limit_example(), JsonFlavour::Signer)->dump(), kLimitText);
}

TEST(ActionJson, EveryShape) {
  for (const auto& [a, expected] : shape_cases()) {
    SCOPED_TRACE(expected);
    for (auto flavour : {JsonFlavour::Signer, JsonFlavour::Prepare}) {
      auto r = action_to_json(a, flavour);
      ASSERT_TRUE(r.ok()) << r.error().display();
      EXPECT_EQ(Json(*r).dump(), expand(expected));
    }
  }
  // The flavour reaches orders inside a proposal.
  const Action stop_in_proposal = action::MultisigPropose{key(0), {action::Orders{{item::Stop{conditional(kNaN, 0.25)}}}}, {}};
  EXPECT_EQ(Json(*action_to_json(stop_in_proposal, JsonFlavour::Signer)).dump().find("slippage"), std::string::npos);
  EXPECT_NE(Json(*action_to_json(stop_in_proposal, JsonFlavour::Prepare)).dump().find(R"("slippage":0.25)"), std::string::npos);
}

namespace {

// write_value writes one Json value with the tags of fyrn/tape.hpp.
void write_value(const Json& v, Tape& out) {
  if (v.is_null()) {
    out.null_value();
  } else if (v.is_boolean()) {
    out.flag(v.get<bool>());
  } else if (v.is_number_unsigned()) {
    out.unsigned_value(v.get<uint64_t>());
  } else if (v.is_number_float()) {
    out.float_value(v.get<double>());
  } else if (v.is_string()) {
    out.text_value(v.get_ref<const std::string&>());
  } else if (v.is_array()) {
    out.list(v.size());
    for (const Json& e : v) write_value(e, out);
  } else if (v.is_object()) {
    out.object(v.size());
    for (const auto& [key, member] : v.items()) {
      out.key(key);
      write_value(member, out);
    }
  } else {
    ADD_FAILURE() << "no tape tag for " << v.dump();
  }
}

// tape_of is the tape of `values` as a List: what the Json values would look
// like there.
Tape tape_of(const JsonList& values) {
  Tape out;
  out.list(values.size());
  for (const Json& v : values) write_value(v, out);
  return out;
}

}  // namespace

// A batch writes its orders' JSON straight to its tape (ItemJson): the same
// bytes as the Json values written there, for every item shape alone and all
// of them in one list, in both flavours, and the same refusal, with one
// ItemJson reused throughout.
TEST(ActionJson, ItemTapeIsTheJsonValuesTape) {
  item::Order trigger = market(std::nullopt);
  trigger.order_type = TriggerType{false, 99.0};
  item::Order odd = limit_example();
  odd.size = -0.0;
  odd.price = kNaN;
  std::vector<OrderItem> all = every_item();
  all.push_back(odd);
  std::vector<std::vector<OrderItem>> lists = {all, {}};
  for (const OrderItem& item : all) lists.push_back({item});
  lists.insert(lists.begin() + 3, {limit_example(), item::TriggerBasket{"BTC-USD", true, 1.0, {trigger}}});
  ItemJson item_json;
  for (const auto& items : lists) {
    for (auto flavour : {JsonFlavour::Signer, JsonFlavour::Prepare}) {
      const Result<JsonList> values = action_to_json(action::Orders{items}, flavour);
      const Status built = item_json.build(items, flavour);
      ASSERT_EQ(built.ok(), values.ok());
      if (!values) {
        EXPECT_EQ(built.error(), values.error());
        continue;
      }
      Tape got;
      item_json.write_actions(got);
      EXPECT_EQ(got.data(), tape_of(*values).data()) << Json(*values).dump();
    }
  }
}

// ---- release without allocating --------------------------------------------

namespace {

// Chains of one kind nested `depth` deep, built without recursion.
Json chain(size_t depth, int shape) {
  Json v = 7;
  for (size_t i = 0; i < depth; ++i) {
    Json next = shape == 1 ? Json::object() : Json::array();
    switch (shape) {
      case 0: next.push_back(std::move(v)); break;                          // [[[7]]]
      case 1: next["k"] = std::move(v); break;                              // {"k": {"k": 7}}
      case 2: next.push_back(std::move(v)); next.push_back("x"); break;     // the chain first
      default: next.push_back(Json::object({{"a", 1}})); next.push_back(std::move(v)); break;  // the chain last
    }
    v = std::move(next);
  }
  return v;
}

Json random_tree(std::mt19937& rng, int depth) {
  if (depth == 0 || rng() % 4 == 0) return Json(static_cast<uint64_t>(rng() % 100));
  Json v = rng() % 2 ? Json::array() : Json::object();
  for (unsigned i = 0, n = rng() % 5; i < n; ++i) {
    if (v.is_array()) {
      v.push_back(random_tree(rng, depth - 1));
    } else {
      v[std::to_string(rng() % 8)] = random_tree(rng, depth - 1);
    }
  }
  return v;
}

size_t released_with_allocations(Json& v) {
  alloc_hooks::state().allocations = 0;
  alloc_hooks::state().counting = true;
  release_json(v);
  alloc_hooks::state().counting = false;
  return alloc_hooks::state().allocations;
}

}  // namespace

// nlohmann's destructor allocates for any non-empty container; release_json
// must take every shape apart in place, at a depth where recursion would
// overflow the stack, and leave only an empty container behind.
TEST(JsonRelease, AllocatesNothingAtAnyDepthOrShape) {
  for (int shape = 0; shape < 4; ++shape) {
    SCOPED_TRACE(shape);
    Json v = chain(1'000'000, shape);
    EXPECT_EQ(released_with_allocations(v), 0u);
    EXPECT_TRUE(v.empty());
  }
  std::mt19937 rng(15);
  for (int i = 0; i < 2000; ++i) {
    Json v = random_tree(rng, 8);
    const bool scalar = !v.is_structured();
    const Json copy = v;
    EXPECT_EQ(released_with_allocations(v), 0u);
    EXPECT_TRUE(scalar ? v == copy : v.empty()) << copy.dump();
  }
  JsonList list{chain(50, 0), chain(50, 1), Json("text")};
  alloc_hooks::state().allocations = 0;
  alloc_hooks::state().counting = true;
  list = JsonList();
  alloc_hooks::state().counting = false;
  EXPECT_EQ(alloc_hooks::state().allocations, 0u);
}

// Memory running out at any allocation while an action's JSON is built: the
// bad_alloc reaches the caller. Whatever was half built is dropped on the way
// without allocating (an allocation there, in a noexcept destructor, would be
// std::terminate), and so is a finished result.
TEST(JsonRelease, OutOfMemoryAtEveryAllocationReachesTheCaller) {
  std::vector<Action> actions;
  for (auto& it : every_item()) actions.push_back(action::Orders{{it, limit_example()}});
  for (auto& [a, text] : shape_cases()) actions.push_back(std::move(a));
  actions.push_back(action::UpdateUserSettings{{{"BTC-USD", 3.0}, {"ETH-USD", 5.0}}});
  for (size_t a = 0; a < actions.size(); ++a) {
    SCOPED_TRACE(a);
    size_t failures = 0;
    for (size_t k = 0;; ++k) {
      bool built = false;
      {
        alloc_hooks::OutOfMemoryAfter exhausted(k);
        try {
          built = action_to_json(actions[a], JsonFlavour::Prepare).ok();
        } catch (const std::bad_alloc&) {
          ++failures;
          continue;
        }
      }
      ASSERT_TRUE(built);
      break;
    }
    EXPECT_GT(failures, 0u);
  }
}
