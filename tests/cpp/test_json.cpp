// The submission JSON: the shape of every action and item, key order, number
// kinds and the two flavours.
//
// Expected texts are written by hand from the vocabulary tables. nlohmann's
// dump() walks objects in container order, so comparing against a literal with
// keys in byte order checks content and order at once; doubles always print
// with a fraction ("2.0"), integers never do, so the literal also tells a
// double from an integer.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "fyrn/json.hpp"

using namespace fyrn;

namespace {

// Base58 texts of the test keys, from the PyPI base58 package.
constexpr const char* kZeroKeyB58 = "11111111111111111111111111111111";
constexpr const char* kKey11B58 = "29d2S7vB453rNYFdR5Ycwt7y9haRT5fwVwL9zTmBhfV2";       // 32 × 0x11
constexpr const char* kKeySeqB58 = "4wBqpZM9xaSheZzJSMawUKKwhdpChKbZ5eu5ky4Vigw";        // 1, 2, …, 32
constexpr const char* kHashABB58 = "CZ8YUVdk7znjrUmnb5n7kgySk9yRAsQDYmyCxzfSky9t";       // 32 × 0xAB

Pubkey filled_key(uint8_t b) {
  Pubkey p;
  p.bytes.fill(b);
  return p;
}
Pubkey seq_key() {
  Pubkey p;
  for (int i = 0; i < 32; ++i) p.bytes[i] = static_cast<uint8_t>(i + 1);
  return p;
}
Hash hash_ab() {
  Hash h;
  h.bytes.fill(0xab);
  return h;
}
Commission builder(uint8_t fee) { return Commission{filled_key(0x11), fee}; }

// Replaces the placeholders @K0, @K1, @K2 and @H with the key texts.
std::string expand(std::string text) {
  const std::pair<const char*, const char*> subs[] = {
      {"@K0", kZeroKeyB58}, {"@K1", kKey11B58}, {"@K2", kKeySeqB58}, {"@H", kHashABB58}};
  for (const auto& [from, to] : subs) {
    for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos)) {
      text.replace(pos, std::string(from).size(), to);
    }
  }
  return text;
}

std::string dump_list(const std::vector<Json>& list) { return Json(list).dump(); }

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

item::Order limit_example() {
  item::Order o;
  o.symbol = "BTC-USD";
  o.is_buy = true;
  o.price = 50000.5;
  o.size = 0.25;
  return o;
}

item::Order market(double size, std::optional<double> slippage) {
  item::Order o;
  o.symbol = "ETH-USD";
  o.price = 123.0;  // never written for a market order
  o.size = size;
  o.order_type = TriggerType{true, 99.0};
  o.slippage = slippage;
  return o;
}

item::Order non_market_trigger() {
  item::Order o = market(1.0, std::nullopt);
  o.order_type = TriggerType{false, 10.0};
  return o;
}

template <typename T>
T conditional(double limit, std::optional<double> slippage) {
  T s;
  s.symbol = "BTC-USD";
  s.is_buy = true;
  s.size = 1.0;
  s.trigger_price = 49000.0;
  s.limit_price = limit;
  s.slippage = slippage;
  return s;
}

item::Range range_item() {
  item::Range r;
  r.symbol = "SOL-USD";
  r.size = 3.0;
  r.pmin = 90.0;
  r.pmax = 110.5;
  r.lmin = 89.0;
  r.iso = true;
  r.sl_slippage = 0.02;
  r.tp_slippage = 0.03;
  return r;
}

item::TrailingStop trailing(std::optional<double> limit) {
  item::TrailingStop t;
  t.symbol = "BTC-USD";
  t.is_buy = true;
  t.size = 0.5;
  t.trail_bps = 25;
  t.step_bps = 5;
  t.limit_price = limit;
  t.slippage = 0.01;
  return t;
}

struct ItemCase {
  const char* name;
  OrderItem item;
  const char* signer;   // expected signer-flavour JSON
  const char* prepare;  // expected preparation-flavour JSON; nullptr: same as signer
};

std::vector<ItemCase> item_cases() {
  std::vector<ItemCase> cases;
  cases.push_back({"limit", limit_example(),
                   R"({"l":{"b":true,"c":"BTC-USD","i":false,"px":50000.5,"r":false,"sz":0.25,"tif":"GTC"}})", nullptr});
  {
    item::Order o = limit_example();
    o.order_type = LimitType{Tif::ALO};
    o.reduce_only = true;
    o.builder_code = builder(3);
    o.client_id = hash_ab();  // never written
    o.slippage = 0.5;         // only market orders write slippage
    cases.push_back({"limit ALO with builder code", o,
                     R"({"l":{"b":true,"builderCode":{"fee":3,"to":"@K1"},"c":"BTC-USD","i":false,"px":50000.5,"r":true,"sz":0.25,"tif":"ALO"}})",
                     nullptr});
  }
  {
    item::Order o = limit_example();
    o.order_type = LimitType{Tif::IOC};
    o.price = kInf;
    o.size = kNaN;
    cases.push_back({"limit IOC, non-finite numbers", o,
                     R"({"l":{"b":true,"c":"BTC-USD","i":false,"px":null,"r":false,"sz":null,"tif":"IOC"}})", nullptr});
  }
  {
    item::Order o = market(1.5, 0.005);
    o.builder_code = builder(5);
    o.reduce_only = true;
    o.iso = true;
    cases.push_back({"market with slippage and builder code", o,
                     R"({"m":{"b":false,"builderCode":{"fee":5,"to":"@K1"},"c":"ETH-USD","i":true,"r":true,"slippage":0.005,"sz":1.5}})",
                     nullptr});
  }
  cases.push_back({"market without slippage", market(2.0, std::nullopt),
                   R"({"m":{"b":false,"c":"ETH-USD","i":false,"r":false,"sz":2.0}})", nullptr});
  cases.push_back({"market with NaN slippage", market(2.0, kNaN),
                   R"({"m":{"b":false,"c":"ETH-USD","i":false,"r":false,"slippage":null,"sz":2.0}})", nullptr});
  cases.push_back({"modify", item::Modify{"SOL-USD", hash_ab(), 2.0},
                   R"({"mod":{"c":"SOL-USD","oid":"@H","sz":2.0}})", nullptr});
  cases.push_back({"cancel", item::Cancel{"SOL-USD", hash_ab()}, R"({"cx":{"c":"SOL-USD","oid":"@H"}})", nullptr});
  cases.push_back({"cancel all, empty", item::CancelAll{}, R"({"cxa":{"c":[]}})", nullptr});
  cases.push_back({"cancel all keeps symbol order", item::CancelAll{{"SOL-USD", "BTC-USD"}},
                   R"({"cxa":{"c":["SOL-USD","BTC-USD"]}})", nullptr});
  cases.push_back({"stop, NaN limit, slippage", conditional<item::Stop>(kNaN, 0.01),
                   R"({"st":{"c":"BTC-USD","d":true,"i":false,"lim":null,"sz":1.0,"tr":49000.0}})",
                   R"({"st":{"c":"BTC-USD","d":true,"i":false,"lim":null,"slippage":0.01,"sz":1.0,"tr":49000.0}})"});
  cases.push_back({"stop, no slippage", conditional<item::Stop>(48000.0, std::nullopt),
                   R"({"st":{"c":"BTC-USD","d":true,"i":false,"lim":48000.0,"sz":1.0,"tr":49000.0}})", nullptr});
  {
    auto tp = conditional<item::TakeProfit>(0.0, kNaN);
    tp.builder_code = builder(15);
    tp.iso = true;
    cases.push_back({"take profit, zero limit, NaN slippage", tp,
                     R"({"tp":{"builderCode":{"fee":15,"to":"@K1"},"c":"BTC-USD","d":true,"i":true,"lim":0.0,"sz":1.0,"tr":49000.0}})",
                     R"({"tp":{"builderCode":{"fee":15,"to":"@K1"},"c":"BTC-USD","d":true,"i":true,"lim":0.0,"slippage":null,"sz":1.0,"tr":49000.0}})"});
  }
  cases.push_back({"range", range_item(),
                   R"({"rng":{"c":"SOL-USD","d":false,"i":true,"lmax":null,"lmin":89.0,"pmax":110.5,"pmin":90.0,"sz":3.0}})",
                   R"({"rng":{"c":"SOL-USD","d":false,"i":true,"lmax":null,"lmin":89.0,"pmax":110.5,"pmin":90.0,"slSlippage":0.02,"sz":3.0,"tpSlippage":0.03}})"});
  {
    auto r = range_item();
    r.sl_slippage.reset();
    cases.push_back({"range, take-profit slippage only", r,
                     R"({"rng":{"c":"SOL-USD","d":false,"i":true,"lmax":null,"lmin":89.0,"pmax":110.5,"pmin":90.0,"sz":3.0}})",
                     R"({"rng":{"c":"SOL-USD","d":false,"i":true,"lmax":null,"lmin":89.0,"pmax":110.5,"pmin":90.0,"sz":3.0,"tpSlippage":0.03}})"});
  }
  cases.push_back({"trailing stop without limit", trailing(std::nullopt),
                   R"({"trl":{"b":true,"c":"BTC-USD","i":false,"lim":null,"stb":5,"sz":0.5,"trb":25}})",
                   R"({"trl":{"b":true,"c":"BTC-USD","i":false,"lim":null,"slippage":0.01,"stb":5,"sz":0.5,"trb":25}})"});
  cases.push_back({"trailing stop with limit", trailing(51000.25),
                   R"({"trl":{"b":true,"c":"BTC-USD","i":false,"lim":51000.25,"stb":5,"sz":0.5,"trb":25}})",
                   R"({"trl":{"b":true,"c":"BTC-USD","i":false,"lim":51000.25,"slippage":0.01,"stb":5,"sz":0.5,"trb":25}})"});
  {
    item::TriggerBasket t;
    t.symbol = "BTC-USD";
    t.is_buy = false;
    t.trigger_price = 45000.0;
    t.actions.push_back(limit_example());
    t.actions.push_back(conditional<item::Stop>(kNaN, 0.01));
    cases.push_back(
        {"trigger basket, nested flavour", t,
         R"({"trig":{"actions":[{"l":{"b":true,"c":"BTC-USD","i":false,"px":50000.5,"r":false,"sz":0.25,"tif":"GTC"}},{"st":{"c":"BTC-USD","d":true,"i":false,"lim":null,"sz":1.0,"tr":49000.0}}],"c":"BTC-USD","d":false,"tr":45000.0}})",
         R"({"trig":{"actions":[{"l":{"b":true,"c":"BTC-USD","i":false,"px":50000.5,"r":false,"sz":0.25,"tif":"GTC"}},{"st":{"c":"BTC-USD","d":true,"i":false,"lim":null,"slippage":0.01,"sz":1.0,"tr":49000.0}}],"c":"BTC-USD","d":false,"tr":45000.0}})"});
  }
  {
    item::OnFill inner;
    inner.trigger = Box<OrderItem>(OrderItem(market(2.0, std::nullopt)));
    inner.actions.push_back(item::Cancel{"SOL-USD", hash_ab()});
    item::OnFill outer;
    outer.trigger = Box<OrderItem>(OrderItem(inner));
    cases.push_back(
        {"on-fill whose trigger is an on-fill", outer,
         R"({"of":{"actions":[],"trigger":{"of":{"actions":[{"cx":{"c":"SOL-USD","oid":"@H"}}],"trigger":{"m":{"b":false,"c":"ETH-USD","i":false,"r":false,"sz":2.0}}}}}})",
         nullptr});
  }
  return cases;
}

TEST(OrderItemJson, EveryShapeInBothFlavours) {
  for (const auto& c : item_cases()) {
    SCOPED_TRACE(c.name);
    auto signer = order_item_to_json(c.item, JsonFlavour::Signer);
    auto prepare = order_item_to_json(c.item, JsonFlavour::Prepare);
    ASSERT_TRUE(signer.ok()) << signer.error().display();
    ASSERT_TRUE(prepare.ok()) << prepare.error().display();
    EXPECT_EQ(signer->dump(), expand(c.signer));
    EXPECT_EQ(prepare->dump(), expand(c.prepare ? c.prepare : c.signer));
  }
}

TEST(OrderItemJson, NonMarketTriggerRefusedAtAnyDepth) {
  item::TriggerBasket basket;
  basket.actions.push_back(limit_example());
  basket.actions.push_back(non_market_trigger());
  item::OnFill on_fill_trigger;
  on_fill_trigger.trigger = Box<OrderItem>(OrderItem(non_market_trigger()));
  item::OnFill on_fill_action;
  on_fill_action.trigger = Box<OrderItem>(OrderItem(limit_example()));
  on_fill_action.actions.push_back(basket);

  const std::pair<const char*, OrderItem> cases[] = {
      {"top level", non_market_trigger()},
      {"basket child", basket},
      {"on-fill trigger", on_fill_trigger},
      {"basket inside on-fill actions", on_fill_action},
  };
  for (const auto& [name, it] : cases) {
    SCOPED_TRACE(name);
    for (auto flavour : {JsonFlavour::Signer, JsonFlavour::Prepare}) {
      auto r = order_item_to_json(it, flavour);
      ASSERT_FALSE(r.ok());
      EXPECT_EQ(r.error(), Error::invalid_order("trigger orders are not supported by FYRN API; use market"));
      EXPECT_EQ(r.error().display(), "invalid order: trigger orders are not supported by FYRN API; use market");
    }
    auto as_action = action_to_json(action::Orders{{limit_example(), it}});
    ASSERT_FALSE(as_action.ok());
    EXPECT_EQ(as_action.error().kind(), ErrorKind::InvalidOrder);
  }
}

LiquidatorInstrumentConfig instrument(const char* symbol, double base) {
  LiquidatorInstrumentConfig i;
  i.symbol = symbol;
  i.max_exposure = base;
  i.reserve = base + 0.5;
  i.rfactor = 0.25;
  i.volume_percent = 0.75;
  i.volume_min = 1.5;
  i.volume_rampup = 30;
  i.max_sweep_bps = 12.5;
  i.max_adl_notional = kNaN;
  i.max_adl_percent = 0.125;
  return i;
}

std::string instrument_text(const char* symbol, const char* base, const char* reserve) {
  return std::string(R"({"max_adl_notional":null,"max_adl_percent":0.125,"max_exposure":)") + base +
         R"(,"max_sweep_bps":12.5,"reserve":)" + reserve + R"(,"rfactor":0.25,"symbol":")" + symbol +
         R"(","volume_min":1.5,"volume_percent":0.75,"volume_rampup":30})";
}

LiquidatorConfig liquidator() {
  LiquidatorConfig c;
  c.instruments = {instrument("ETH-USD", 1.0), instrument("BTC-USD", 2.0), instrument("BTC-USD", 3.0),
                   instrument("btc-usd", 4.0)};
  c.cross_exposure = 1000.0;
  c.scoring_skew = 0.5;
  c.toxicity = kInf;
  c.urgency_size_fraction = 0.1;
  c.sweep_sds = 2.0;
  return c;
}

struct ActionCase {
  const char* name;
  Action action;
  std::string expected;  // the whole list
};

std::vector<ActionCase> action_cases() {
  std::vector<ActionCase> cases;
  const std::string limit_text =
      R"({"l":{"b":true,"c":"BTC-USD","i":false,"px":50000.5,"r":false,"sz":0.25,"tif":"GTC"}})";
  const std::string cancel_text = R"({"cx":{"c":"SOL-USD","oid":"@H"}})";

  cases.push_back({"orders: one element per item",
                   action::Orders{{limit_example(), item::Cancel{"SOL-USD", hash_ab()}}},
                   "[" + limit_text + "," + cancel_text + "]"});
  cases.push_back({"oracle prices: one element per price",
                   action::OraclePrices{{{1700000000, "BTC-USD", 50000.5}, {1700000001, "ETH-USD", kNaN}}},
                   R"([{"px":{"c":"BTC-USD","px":50000.5,"t":1700000000}},{"px":{"c":"ETH-USD","px":null,"t":1700000001}}])"});
  cases.push_back({"pyth: one element for all updates",
                   action::PythOracle{{{1700000000, 3, 123456789, -8}, {1700000001, 4, 9223372036854775813ull, 2}}},
                   R"([{"o":{"oracles":[{"e":-8,"fi":3,"px":123456789,"t":1700000000},{"e":2,"fi":4,"px":9223372036854775813,"t":1700000001}]}}])"});
  cases.push_back({"faucet without amount", action::Faucet{filled_key(0), std::nullopt}, R"([{"faucet":{"u":"@K0"}}])"});
  cases.push_back({"faucet with amount", action::Faucet{filled_key(0), 100.0},
                   R"([{"faucet":{"amount":100.0,"u":"@K0"}}])"});
  // Symbols in byte order: 'B' 0x42 < '_' 0x5F < 'a' < 'b' < 'z' < 0xC3 ('é').
  cases.push_back({"user settings: byte order, repeated symbol keeps its last value",
                   action::UpdateUserSettings{{{"b", 3.0}, {"\xc3\xa9", 1.0}, {"a", 5.0}, {"B", 10.0}, {"_", 2.0},
                                               {"z", 4.0}, {"a", 7.5}}},
                   "[{\"updateUserSettings\":{\"m\":{\"B\":10.0,\"_\":2.0,\"a\":7.5,\"b\":3.0,\"z\":4.0,"
                   "\"\xc3\xa9\":1.0}}}]"});
  cases.push_back({"user settings, empty", action::UpdateUserSettings{}, R"([{"updateUserSettings":{"m":{}}}])"});
  cases.push_back({"agent wallet", action::AgentWalletCreation{filled_key(0x11), true},
                   R"([{"agentWalletCreation":{"a":"@K1","d":true}}])"});
  cases.push_back({"whitelist faucet", action::WhitelistFaucet{seq_key(), false},
                   R"([{"whitelistFaucet":{"target":"@K2","whitelist":false}}])"});
  cases.push_back({"create sub-account with margin", action::CreateSubAccount{"bot-1", 12.5},
                   R"([{"createSubAccount":{"marginAmount":12.5,"name":"bot-1"}}])"});
  cases.push_back({"create sub-account without margin", action::CreateSubAccount{"bot-1", std::nullopt},
                   R"([{"createSubAccount":{"name":"bot-1"}}])"});
  cases.push_back({"remove sub-account", action::RemoveSubAccount{seq_key()},
                   R"([{"removeSubAccount":{"toRemove":"@K2"}}])"});
  cases.push_back({"rename sub-account", action::RenameSubAccount{filled_key(0x11), "main"},
                   R"([{"renameSubAccount":{"account":"@K1","name":"main"}}])"});
  cases.push_back({"internal transfer",
                   action::Transfer{{filled_key(0), filled_key(0x11), 12.5, TransferKind::Internal}},
                   R"([{"transfer":{"from":"@K0","k":"internal","marginAmount":12.5,"to":"@K1"}}])"});
  cases.push_back({"external transfer",
                   action::Transfer{{filled_key(0x11), filled_key(0), 0.5, TransferKind::External}},
                   R"([{"transfer":{"from":"@K1","k":"external","marginAmount":0.5,"to":"@K0"}}])"});
  cases.push_back({"create multisig", action::CreateMultisig{{filled_key(0), seq_key()}, 2, 60, 86400},
                   R"([{"createMultisig":{"proposalLifetimeSecs":86400,"signers":["@K0","@K2"],"threshold":2,"timeLockSecs":60}}])"});
  {
    action::MultisigPropose inner{filled_key(0), {action::Orders{{item::Cancel{"SOL-USD", hash_ab()}}}}, 9};
    action::MultisigPropose p{filled_key(0x11),
                              {action::Orders{{limit_example()}}, action::RevokeCommissionFee{seq_key()}, inner},
                              42};
    cases.push_back({"multisig proposal concatenates inner lists", p,
                     R"([{"msp":{"a":[)" + limit_text + R"(,{"rbc":{"to":"@K2"}},{"msp":{"a":[)" + cancel_text +
                         R"(],"m":"@K0"}}],"m":"@K1"}}])"});
  }
  cases.push_back({"multisig approve", action::MultisigApprove{filled_key(0x11), 7}, R"([{"msa":{"m":"@K1","p":7}}])"});
  cases.push_back({"multisig reject", action::MultisigReject{filled_key(0x11), 0}, R"([{"msr":{"m":"@K1","p":0}}])"});
  cases.push_back({"multisig cancel", action::MultisigCancel{filled_key(0x11), 18446744073709551615ull},
                   R"([{"msc":{"m":"@K1","p":18446744073709551615}}])"});
  cases.push_back({"multisig execute", action::MultisigExecute{seq_key(), 3}, R"([{"mse":{"m":"@K2","p":3}}])"});
  cases.push_back({"multisig policy", action::UpdateMultisigPolicy{filled_key(0x11), {seq_key()}, 1, 0, 3600},
                   R"([{"msu":{"m":"@K1","proposalLifetimeSecs":3600,"signers":["@K2"],"threshold":1,"timeLockSecs":0}}])"});
  cases.push_back({"approve builder code", action::ApproveCommissionFee{builder(15)},
                   R"([{"abc":{"fee":15,"to":"@K1"}}])"});
  cases.push_back({"builder-code fee written as stored", action::ApproveCommissionFee{Commission{seq_key(), 0}},
                   R"([{"abc":{"fee":0,"to":"@K2"}}])"});
  cases.push_back({"revoke builder code", action::RevokeCommissionFee{filled_key(0x11)},
                   R"([{"rbc":{"to":"@K1"}}])"});
  cases.push_back({"liquidator configuration, instruments by symbol bytes", action::UpdateLiquidatorConfig{liquidator()},
                   R"([{"liq":{"cross_exposure":1000.0,"instruments":[)" + instrument_text("BTC-USD", "2.0", "2.5") +
                       "," + instrument_text("BTC-USD", "3.0", "3.5") + "," +
                       instrument_text("ETH-USD", "1.0", "1.5") + "," + instrument_text("btc-usd", "4.0", "4.5") +
                       R"(],"scoring_skew":0.5,"sweep_sds":2.0,"toxicity":null,"urgency_size_fraction":0.1}}])"});
  return cases;
}

TEST(ActionJson, EveryShape) {
  for (const auto& c : action_cases()) {
    SCOPED_TRACE(c.name);
    for (auto flavour : {JsonFlavour::Signer, JsonFlavour::Prepare}) {
      auto r = action_to_json(c.action, flavour);
      ASSERT_TRUE(r.ok()) << r.error().display();
      EXPECT_EQ(dump_list(*r), expand(c.expected));
    }
  }
}

TEST(ActionJson, FlavourReachesProposalsAndOrders) {
  action::Orders orders{{conditional<item::Stop>(kNaN, 0.25)}};
  Action proposal = action::MultisigPropose{filled_key(0), {orders}, std::nullopt};
  for (const Action& a : {Action(orders), proposal}) {
    auto signer = action_to_json(a, JsonFlavour::Signer);
    auto prepare = action_to_json(a, JsonFlavour::Prepare);
    ASSERT_TRUE(signer.ok() && prepare.ok());
    EXPECT_EQ(dump_list(*signer).find("slippage"), std::string::npos);
    EXPECT_NE(dump_list(*prepare).find(R"("slippage":0.25)"), std::string::npos);
  }
}

TEST(ActionJson, LegacyWithdrawalsRefusedAlsoInsideProposals) {
  const std::pair<const char*, Action> cases[] = {
      {"first form", action::LegacyWithdrawal1{}},
      {"second form", action::LegacyWithdrawal2{}},
      {"inside a proposal",
       action::MultisigPropose{filled_key(0), {action::Orders{{limit_example()}}, action::LegacyWithdrawal2{}}, {}}},
  };
  for (const auto& [name, a] : cases) {
    SCOPED_TRACE(name);
    auto r = action_to_json(a);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error(), Error::legacy_withdrawal());
  }
}

TEST(ActionJson, NumberKinds) {
  // Unsigned model integers stay unsigned, even above the signed range; the
  // Pyth exponent is the one signed integer; doubles stay doubles even when
  // integral.
  auto pyth = action_to_json(action::PythOracle{{{1, 2, 9223372036854775808ull, -8}}});
  ASSERT_TRUE(pyth.ok());
  const Json& o = (*pyth)[0]["o"]["oracles"][0];
  EXPECT_TRUE(o["px"].is_number_unsigned());
  EXPECT_EQ(o["px"].get<uint64_t>(), 9223372036854775808ull);
  EXPECT_TRUE(o["t"].is_number_unsigned());
  EXPECT_TRUE(o["fi"].is_number_unsigned());
  EXPECT_TRUE(o["e"].is_number_integer() && !o["e"].is_number_unsigned());
  EXPECT_EQ(o["e"].get<int64_t>(), -8);

  auto approve = action_to_json(action::MultisigApprove{filled_key(0), UINT64_MAX});
  ASSERT_TRUE(approve.ok());
  EXPECT_TRUE((*approve)[0]["msa"]["p"].is_number_unsigned());
  EXPECT_EQ((*approve)[0]["msa"]["p"].get<uint64_t>(), UINT64_MAX);

  auto limit = order_item_to_json(item::Order{limit_example()});
  ASSERT_TRUE(limit.ok());
  EXPECT_TRUE((*limit)["l"]["px"].is_number_float());
  auto trail = order_item_to_json(trailing(std::nullopt));
  ASSERT_TRUE(trail.ok());
  EXPECT_TRUE((*trail)["trl"]["trb"].is_number_unsigned());
}

}  // namespace
