// The clear-sign text: line templates, field errors, nesting, the header, and
// the number reader. Expected lines are written by hand from the line
// templates; the number renderings are checked against Python's decimal
// arithmetic on random doubles of every exponent in tests/test_wallet.py.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fyrn/clear_sign.hpp"
#include "fyrn/json.hpp"

using namespace fyrn;
using namespace fyrn::clear_sign;

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

std::string line_of(const std::string& json) {
  auto r = action_line(Json::parse(json), 0);
  return r.ok() ? *r : "ERROR " + r.error().display();
}

std::string field_failure(const std::string& name) {
  return "ERROR signing failed: invalid offchain clear-sign field: " + name;
}

uint64_t to_bits(double d) {
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

}  // namespace

// ---- lines ---------------------------------------------------------------

TEST(ClearSignLine, EveryTemplate) {
  const std::string limit = R"({"l": {"tif": "GTC", "c": "BTC-USD", "b": true, "px": 65000, "sz": 0.1, "r": false}})";
  const std::string stop = R"({"st": {"c": "BTC-USD", "d": false, "tr": 49000, "sz": 0.25}})";
  const std::pair<std::string, std::string> cases[] = {
      {limit, "Limit BTC-USD Buy px=65000.00000000 sz=0.10000000 tif=GTC ro=false iso=false"},
      {R"({"l": {"tif": "IOC", "c": "ETH-USD", "b": false, "px": "65000.5", "sz": 0.30000000000000004, "r": true, "i": true}})",
       "Limit ETH-USD Sell px=65000.50000000 sz=0.30000000 tif=IOC ro=true iso=true"},
      {R"({"l": {"tif": "ALO", "c": "X", "b": true, "px": 18446744073709551615, "sz": -2, "r": false, "i": false}})",
       "Limit X Buy px=18446744073709551616.00000000 sz=-2.00000000 tif=ALO ro=false iso=false"},
      {R"({"m": {"c": "SOL-USD", "b": false, "sz": 2, "r": true, "slippage": 50}})",
       "Market SOL-USD Sell sz=2.00000000 ro=true iso=false slippage=50.00000000bps"},
      {R"({"m": {"c": "SOL-USD", "b": true, "sz": 1.5, "r": false, "i": true, "slippage": null}})",
       "Market SOL-USD Buy sz=1.50000000 ro=false iso=true"},
      {R"({"st": {"c": "BTC-USD", "d": true, "tr": 49000, "sz": 0.25, "lim": null, "slippage": null}})",
       "Stop BTC-USD Above thresh=49000.00000000 sz=0.25000000 limit=-"},
      {R"({"tp": {"c": "BTC-USD", "d": true, "tr": 70000.5, "sz": 1, "lim": 69999.99, "slippage": 0.000000025}})",
       "TakeProfit BTC-USD Above thresh=70000.50000000 sz=1.00000000 limit=69999.99000000 slippage=0.00000003bps"},
      {R"({"rng": {"c": "SOL-USD", "d": true, "pmin": 90, "pmax": 110.5, "sz": 3, "lmin": 89, "lmax": null,
                   "slSlippage": 0.02, "tpSlippage": "0.03"}})",
       "Range SOL-USD Buy min=90.00000000 max=110.50000000 sz=3.00000000 lmin=89.00000000 lmax=- "
       "sl_slippage=0.02000000bps tp_slippage=0.03000000bps"},
      {R"({"rng": {"c": "SOL-USD", "d": false, "pmin": 90, "pmax": 110.5, "sz": 3, "tpSlippage": 1}})",
       "Range SOL-USD Sell min=90.00000000 max=110.50000000 sz=3.00000000 lmin=- lmax=- tp_slippage=1.00000000bps"},
      {R"({"trl": {"c": "BTC-USD", "b": true, "sz": 0.5, "trb": 25, "stb": 5, "lim": null, "slippage": 0.01}})",
       "Trailing BTC-USD Buy sz=0.50000000 trail=25bps step=5bps limit=- slippage=0.01000000bps"},
      {R"({"trl": {"c": "BTC-USD", "b": false, "sz": 0.5, "trb": 18446744073709551615, "stb": 0, "lim": 100}})",
       "Trailing BTC-USD Sell sz=0.50000000 trail=18446744073709551615bps step=0bps limit=100.00000000"},
      {R"({"trig": {"actions": [)" + limit + "," + stop + R"(], "c": "BTC-USD", "d": false, "tr": 45000}})",
       "Trigger BTC-USD Below thresh=45000.00000000 nested=2"},
      {R"({"trig": {"actions": [], "c": "ETH-USD", "d": true, "tr": "1e3"}})", "Trigger ETH-USD Above thresh=1000.00000000 nested=0"},
      {R"({"cx": {"c": "SOL-USD", "oid": "CZ8YUVdk7znjrUmnb5n7kgySk9yRAsQDYmyCxzfSky9t"}})",
       "Cancel SOL-USD oid=CZ8YUVdk7znjrUmnb5n7kgySk9yRAsQDYmyCxzfSky9t"},
      {R"({"mod": {"c": "SOL-USD", "oid": "X", "sz": 2}})", "Modify SOL-USD oid=X sz=2.00000000"},
      {R"({"cxa": {"c": []}})", "CancelAll *"},
      {R"({"cxa": {"c": ["BTC-USD", "ETH-USD"]}})", "CancelAll BTC-USD,ETH-USD"},
      // Plain numbers are not quantised: the float 0.000000025 is just below the half.
      {R"({"faucet": {"u": "U1", "amount": 0.000000025}})", "Faucet user=U1 amount=0.00000002"},
      {R"({"faucet": {"u": "U1"}})", "Faucet user=U1 amount=-"},
      {R"({"agentWalletCreation": {"a": "A1", "d": true}})", "AgentWallet agent=A1 delete=true"},
      // Bytewise name order: 'B' < '_' < 'a' < 0xC3.
      {"{\"updateUserSettings\": {\"m\": {\"\xc3\xa9\": 1, \"a\": 2.5, \"_\": 3, \"B\": -4}}}",
       "UpdateLeverage B:-4.00000000,_:3.00000000,a:2.50000000,\xc3\xa9:1.00000000"},
      {R"({"updateUserSettings": {"m": {}}})", "UpdateLeverage "},
      {R"({"createSubAccount": {"name": "bot-1", "marginAmount": 12.5}})", "CreateSubAccount name=bot-1 amt=12.50000000"},
      {R"({"createSubAccount": {"name": "bot-1", "marginAmount": null}})", "CreateSubAccount name=bot-1 amt=-"},
      {R"({"removeSubAccount": {"toRemove": "K2"}})", "RemoveSubAccount K2"},
      {R"({"renameSubAccount": {"account": "K1", "name": "main"}})", "RenameSubAccount account=K1 name=main"},
      {R"({"rsa": {"account": "K1", "name": "main"}})", "RenameSubAccount account=K1 name=main"},
      {R"({"abc": {"to": "K1", "fee": 10}})", "ApproveCommissionFee to=K1 max_fee=10"},
      {R"({"rbc": {"to": "K1"}})", "RevokeCommissionFee to=K1"},
      {R"({"whitelistFaucet": {"target": "T", "whitelist": false}})", "WhitelistFaucet target=T whitelist=false"},
      {R"({"transfer": {"k": "internal", "from": "F", "to": "T", "marginAmount": 12.5}})",
       "Transfer Internal from=F to=T amt=12.50000000"},
      {R"({"transfer": {"k": "external", "from": "F", "to": "T", "marginAmount": "0.000000025"}})",
       "Transfer External from=F to=T amt=0.00000002"},
      // Text is copied verbatim, control characters included: the exchange
      // rebuilds the same bytes.
      {R"({"cx": {"c": "BTC\nUSD\t", "oid": ""}})", "Cancel BTC\nUSD\t oid="},
      // Members the line does not show are ignored.
      {R"({"rbc": {"to": "K1", "extra": [1, {"x": null}]}})", "RevokeCommissionFee to=K1"},
  };
  for (const auto& [json, expected] : cases) {
    EXPECT_EQ(line_of(json), expected) << json;
  }
}

TEST(ClearSignLine, FieldErrors) {
  const std::string limit_tail = R"("c": "BTC-USD", "b": true, "px": 65000, "sz": 0.1, "r": false)";
  auto limit = [&](const std::string& extra) { return R"({"l": {"tif": "GTC", )" + limit_tail + extra + "}}"; };
  auto limit_px = [](const std::string& px) {
    return R"({"l": {"tif": "GTC", "c": "B", "b": true, "px": )" + px + R"(, "sz": 1, "r": false}})";
  };
  const std::string unsupported = "ERROR signing failed: unsupported offchain clear-sign action: ";
  const std::pair<std::string, std::string> cases[] = {
      {R"({"l": {"tif": "gtc", )" + limit_tail + "}}", field_failure("tif")},
      {R"({"l": {)" + limit_tail + "}}", field_failure("tif")},
      {R"({"l": {"tif": "FOK"}})", field_failure("tif")},  // tif is read before everything else
      {limit(R"(, "i": null)"), field_failure("i")},
      {limit(R"(, "i": 1)"), field_failure("i")},
      {R"({"l": {"tif": "GTC", "b": true}})", field_failure("c")},
      {R"({"l": {"tif": "GTC", "c": 7, "b": true}})", field_failure("c")},
      {R"({"l": {"tif": "GTC", "c": "X", "b": 1}})", field_failure("b")},
      {R"({"l": {"tif": "GTC", "c": "X", "b": true, "px": 1, "sz": 1, "r": null}})", field_failure("r")},
      {R"({"l": {"tif": "GTC", "c": "X", "b": true, "sz": 1, "r": false}})", field_failure("finite number")},
      {limit_px("null"), field_failure("finite number")},
      {limit_px(R"("NaN")"), field_failure("finite number")},
      {R"({"abc": {"to": "K", "fee": 10.0}})", field_failure("fee")},
      {R"({"abc": {"to": "K", "fee": -1}})", field_failure("fee")},
      {R"({"abc": {"to": "K"}})", field_failure("fee")},
      {R"({"trl": {"c": "X", "b": true, "sz": 1, "trb": 2.5, "stb": 1}})", field_failure("trb")},
      {R"({"l": {"tif": "GTC"}, "m": {"c": "X"}})", field_failure("action tag")},
      {"[]", field_failure("action tag")},
      {R"({"l": 5})", field_failure("action body")},
      {R"({"L": {}})", unsupported + "L"},
      {R"({"of": {"actions": [], "trigger": {}}})", unsupported + "of"},
      {R"({"cxa": {"c": "BTC-USD"}})", field_failure("c")},
      {R"({"cxa": {}})", field_failure("c")},
      {R"({"cxa": {"c": ["BTC-USD", 1]}})", field_failure("symbol")},
      {R"({"updateUserSettings": {"m": [["BTC-USD", 5]]}})", field_failure("m")},
      {R"({"updateUserSettings": {"m": {"BTC-USD": true}}})", field_failure("finite number")},
      {R"({"transfer": {"k": "Internal", "from": "F", "to": "T", "marginAmount": 1}})", field_failure("transfer kind")},
      {R"({"transfer": {"from": "F", "to": "T", "marginAmount": 1}})", field_failure("k")},
      {R"({"transfer": {"k": "internal", "from": "F", "to": "T"}})", field_failure("finite number")},
      {R"({"rng": {"c": "X", "d": true, "pmin": 1, "pmax": 2, "sz": 1, "slSlippage": "x"}})", field_failure("finite number")},
      {R"({"st": {"c": "X", "d": true, "tr": 1, "sz": 1, "lim": "-"}})", field_failure("finite number")},
      {R"({"trig": {"actions": {}, "c": "X", "d": true, "tr": 1}})", field_failure("actions")},
      {R"({"trig": {"c": "X", "d": true, "tr": 1}})", field_failure("actions")},
      // Nested errors come first and are reported as they are.
      {R"({"trig": {"actions": [{"zz": {}}], "c": "X", "d": true, "tr": 1}})", unsupported + "zz"},
      {R"({"trig": {"actions": [{"cx": {"c": "X", "oid": "o"}}, {"l": {"tif": "bad"}}]}})", field_failure("tif")},
      {R"({"trig": {"actions": [{"cx": {"c": "X", "oid": "o"}}], "d": true, "tr": 1}})", field_failure("c")},
  };
  for (const auto& [json, expected] : cases) {
    EXPECT_EQ(line_of(json), expected) << json;
  }
}

TEST(ClearSignLine, NestingBound) {
  auto nest = [](int levels) {
    Json action = Json::parse(R"({"cx": {"c": "X", "oid": "o"}})");
    for (int i = 0; i < levels; ++i) {
      Json body = {{"actions", Json::array({action})}, {"c", "T"}, {"d", true}, {"tr", 1}};
      action = Json{{"trig", body}};
    }
    return action;
  };
  auto ok32 = action_line(nest(32), 0);
  ASSERT_TRUE(ok32.ok()) << ok32.error().display();
  EXPECT_EQ(*ok32, "Trigger T Above thresh=1.00000000 nested=1");
  auto fail33 = action_line(nest(33), 0);
  ASSERT_FALSE(fail33.ok());
  EXPECT_EQ(fail33.error(), field_error("action nesting"));
  // The bound is checked before the shape of the action.
  EXPECT_EQ(action_line(Json("not an action"), 33).error(), field_error("action nesting"));
  EXPECT_EQ(action_line(Json("not an action"), 32).error(), field_error("action tag"));
}

TEST(ClearSignText, HeaderAndLines) {
  // The SHA-256 of no bytes (FIPS 180-2): the hash covers the message bytes.
  const std::string head = "Fyrn Exchange Transaction\nNetwork: testnet\nAccount: A\nNonce: 18446744073709551615\n";
  const std::string hash = "Signable-Hash: e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\n";
  PreparedMessage p;
  p.account = "A";
  p.nonce = 18446744073709551615ull;
  EXPECT_EQ(*build_clear_sign_text(p, SignatureDomain::Testnet), head + "Actions: 0\n" + hash);
  // Indices count from 0 past 9; the first failing entry fails the whole text.
  p.actions.assign(11, Json::parse(R"({"rbc": {"to": "K"}})"));
  p.actions[0] = Json::parse(R"({"cxa": {"c": []}})");
  auto eleven = build_clear_sign_text(p, SignatureDomain::Testnet);
  ASSERT_TRUE(eleven.ok());
  EXPECT_TRUE(eleven->starts_with(head + "Actions: 11\n" + hash + "[0] CancelAll *\n[1] RevokeCommissionFee to=K\n"));
  EXPECT_TRUE(eleven->ends_with("\n[9] RevokeCommissionFee to=K\n[10] RevokeCommissionFee to=K\n"));
  p.actions[10] = Json::parse(R"({"rbc": {}})");
  EXPECT_EQ(build_clear_sign_text(p, SignatureDomain::Devnet).error(), field_error("to"));
}

// ---- numbers -------------------------------------------------------------

TEST(ClearSignNumber, ParseDecimal) {
  const double inf = std::numeric_limits<double>::infinity();
  const double denorm = std::numeric_limits<double>::denorm_min();
  const std::pair<const char*, double> accepted[] = {
      {"+1.5", 1.5},          {"-2", -2.0},         {"1.", 1.0},           {".5", 0.5},
      {"1E3", 1000.0},        {"1e-400", 0.0},      {"2.5e-324", denorm},  {"2.4e-324", 0.0},
      {"1e-320", 1e-320},     {"1e400", inf},       {"inf", inf},          {"+inf", inf},
  };
  for (const auto& [text, expected] : accepted) {
    auto v = parse_decimal(text);
    ASSERT_TRUE(v.has_value()) << text;
    EXPECT_EQ(to_bits(*v), to_bits(expected)) << text;
  }
  // Underflow keeps its sign; NaN parses but is no number.
  EXPECT_EQ(to_bits(*parse_decimal("-1e-400")), to_bits(-0.0));
  EXPECT_TRUE(std::isnan(*parse_decimal("NaN")));
  for (const char* text : {"", "+", "-", "+-1", "++1", "-+1", " 1", "1 ", "0x10", "1e", "1e+", "1_000", "1,5", "abc", "1.2.3",
                           "\xef\xbc\x91"}) {
    EXPECT_FALSE(parse_decimal(text).has_value()) << text;
  }
  // Readers: integers convert to the nearest double.
  auto number_of = [](const Json& j) { return number(&j); };
  EXPECT_EQ(*number_of(Json(uint64_t{9007199254740993})), 9007199254740992.0);
  EXPECT_EQ(*number_of(Json(int64_t{-9007199254740993})), -9007199254740992.0);
  EXPECT_EQ(number_of(Json(std::numeric_limits<double>::quiet_NaN())).error(), field_error("finite number"));
  EXPECT_EQ(number(nullptr).error(), field_error("finite number"));
}

// fixed8 renders the exact value (a tie goes to even); quantised, the same
// value goes half away from zero. (The rule at large is checked against
// decimal through Python.)
TEST(ClearSignNumber, Fixed8PlainAndQuantised) {
  EXPECT_EQ(fixed8(0.001953125), "0.00195312");
  EXPECT_EQ(fixed8(quantise(0.001953125)), "0.00195313");
}
