// The clear-sign text: line templates, field errors, nesting, the header, and
// the two number renderings checked against exact oracles written here.
//
// Expected lines are written by hand from the line templates. The 8-decimal
// rendering is compared with an exact big-integer decimal expansion, and the
// quantisation with a model of the rule in exact integer arithmetic (no
// floating-point operation decides anything in either oracle).
//
// Still to add at the Python level once the entry points exist: a hypothesis
// property comparing every rendered number with Python's decimal (exact
// value quantised to 1e-8, ROUND_HALF_EVEN for plain numbers; the scaled
// float rounded ROUND_HALF_UP for quantised ones), and the header hash with
// hashlib over real prepared message bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
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

// ---- exact decimal oracle -------------------------------------------------

// Big is a non-negative integer in base 2^32 limbs, least significant first.
struct Big {
  std::vector<uint32_t> limbs;

  explicit Big(uint64_t v) {
    while (v != 0) {
      limbs.push_back(static_cast<uint32_t>(v));
      v >>= 32;
    }
  }
  bool zero() const { return limbs.empty(); }
  void trim() {
    while (!limbs.empty() && limbs.back() == 0) limbs.pop_back();
  }
  void mul_small(uint32_t m) {
    uint64_t carry = 0;
    for (auto& l : limbs) {
      const uint64_t t = uint64_t{l} * m + carry;
      l = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    if (carry != 0) limbs.push_back(static_cast<uint32_t>(carry));
  }
  void add_one() {
    for (auto& l : limbs) {
      if (++l != 0) return;
    }
    limbs.push_back(1);
  }
  bool bit(size_t i) const {
    const size_t w = i / 32;
    return w < limbs.size() && ((limbs[w] >> (i % 32)) & 1) != 0;
  }
  // any_below reports whether a bit below position i is set.
  bool any_below(size_t i) const {
    for (size_t b = 0; b < i; ++b) {
      if (bit(b)) return true;
    }
    return false;
  }
  void shl(size_t k) {
    const size_t words = k / 32, bits = k % 32;
    std::vector<uint32_t> out(words, 0);
    uint32_t carry = 0;
    for (uint32_t l : limbs) {
      out.push_back(bits == 0 ? l : (l << bits) | carry);
      carry = bits == 0 ? 0 : l >> (32 - bits);
    }
    if (carry != 0) out.push_back(carry);
    limbs = std::move(out);
    trim();
  }
  void shr(size_t k) {
    const size_t words = k / 32, bits = k % 32;
    if (words >= limbs.size()) {
      limbs.clear();
      return;
    }
    std::vector<uint32_t> out(limbs.begin() + static_cast<long>(words), limbs.end());
    if (bits != 0) {
      for (size_t i = 0; i < out.size(); ++i) {
        const uint32_t hi = i + 1 < out.size() ? out[i + 1] : 0;
        out[i] = (out[i] >> bits) | (hi << (32 - bits));
      }
    }
    limbs = std::move(out);
    trim();
  }
  // divmod_small divides in place and returns the remainder.
  uint32_t divmod_small(uint32_t d) {
    uint64_t rem = 0;
    for (size_t i = limbs.size(); i-- > 0;) {
      const uint64_t cur = (rem << 32) | limbs[i];
      limbs[i] = static_cast<uint32_t>(cur / d);
      rem = cur % d;
    }
    trim();
    return static_cast<uint32_t>(rem);
  }
  std::string decimal() const {
    if (zero()) return "0";
    Big t = *this;
    std::string out;
    while (!t.zero()) {
      uint32_t chunk = t.divmod_small(1000000000);
      for (int i = 0; i < 9; ++i) {
        out.push_back(static_cast<char>('0' + chunk % 10));
        chunk /= 10;
      }
    }
    while (out.size() > 1 && out.back() == '0') out.pop_back();
    return std::string(out.rbegin(), out.rend());
  }
};

// Decompose a finite double into sign, integer mantissa and binary exponent.
void decompose(double x, bool& negative, uint64_t& mantissa, int& exponent) {
  uint64_t bits;
  std::memcpy(&bits, &x, 8);
  negative = (bits >> 63) != 0;
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
  mantissa = biased == 0 ? fraction : fraction | (uint64_t{1} << 52);
  exponent = (biased == 0 ? 1 : biased) - 1075;
}

// oracle_fixed8 renders |x|·10^8 rounded half to even, exactly, with the point
// put back in.
std::string oracle_fixed8(double x) {
  bool negative;
  uint64_t m;
  int e;
  decompose(x, negative, m, e);
  Big n(m);
  n.mul_small(100000000);
  if (e >= 0) {
    n.shl(static_cast<size_t>(e));
  } else {
    const size_t k = static_cast<size_t>(-e);
    const bool half = n.bit(k - 1);
    const bool sticky = n.any_below(k - 1);
    n.shr(k);
    if (half && (sticky || n.bit(0))) n.add_one();
  }
  std::string digits = n.decimal();
  if (digits.size() < 9) digits.insert(0, 9 - digits.size(), '0');
  digits.insert(digits.size() - 8, ".");
  return (negative ? "-" : "") + digits;
}

// ---- exact model of the quantisation --------------------------------------

using u128 = unsigned __int128;

double from_bits(uint64_t b) {
  double d;
  std::memcpy(&d, &b, 8);
  return d;
}
uint64_t to_bits(double d) {
  uint64_t b;
  std::memcpy(&b, &d, 8);
  return b;
}
int bit_length(u128 v) {
  int n = 0;
  while (v != 0) {
    ++n;
    v >>= 1;
  }
  return n;
}

// round_to_double returns the double nearest to (q + fraction)·2^shift, where
// `sticky` says the true value lies strictly above q·2^shift; ties to even.
// Only normal results occur here.
double round_to_double(u128 q, bool sticky, int shift) {
  const int len = bit_length(q);
  if (len > 53) {
    const int drop = len - 53;
    const u128 rem = q & ((u128{1} << drop) - 1);
    const u128 half = u128{1} << (drop - 1);
    q >>= drop;
    shift += drop;
    if (rem > half || (rem == half && (sticky || (q & 1) != 0))) ++q;
  }
  return std::ldexp(static_cast<double>(static_cast<uint64_t>(q)), shift);  // ≤ 2^53: exact
}

// product_1e8 is the double nearest to x·10^8 (x ≥ 0 normal or subnormal).
double product_1e8(double x) {
  bool negative;
  uint64_t m;
  int e;
  decompose(x, negative, m, e);
  if (m == 0) return 0.0;
  return round_to_double(u128{m} * 100000000u, false, e);
}

// round_away rounds a non-negative double half away from zero; values are
// below 2^64 + 2^12 here, so the result fits in u128.
u128 round_away(double v) {
  bool negative;
  uint64_t m;
  int e;
  decompose(v, negative, m, e);
  if (e >= 0) return u128{m} << e;
  if (-e > 64) return 0;  // below 2^-11: rounds to 0
  const int k = -e;
  const u128 q = u128{m} >> k;
  const u128 rem = u128{m} & ((u128{1} << k) - 1);
  return rem >= (u128{1} << (k - 1)) ? q + 1 : q;
}

// quotient_1e8 is the double nearest to n/10^8, by long division.
double quotient_1e8(uint64_t n) {
  const int shift = 117 - bit_length(n);
  const u128 num = u128{n} << shift;
  const u128 q = num / 100000000u;
  const bool sticky = num % 100000000u != 0;
  return round_to_double(q, sticky, -shift);
}

double model_quantise(double x) {
  if (std::isnan(x) || x <= 0) return x;
  const double p = product_1e8(x);
  if (p >= 18446744073709551616.0) return x;
  const u128 n = round_away(p);
  if (n == 0) return x;
  const double first = quotient_1e8(static_cast<uint64_t>(n));
  uint64_t y = to_bits(first);  // positive: neighbours are the bit patterns ±1
  for (int candidate = 0; candidate < 16; ++candidate) {
    const u128 r = round_away(product_1e8(from_bits(y)));
    if (r == n) return from_bits(y);
    y += r < n ? 1 : -1;
  }
  return first;
}

// scaled_text writes n as a decimal with 8 fractional digits.
std::string scaled_text(uint64_t n) {
  std::string digits = std::to_string(n);
  if (digits.size() < 9) digits.insert(0, 9 - digits.size(), '0');
  digits.insert(digits.size() - 8, ".");
  return digits;
}

// random_double draws doubles of every magnitude: sign, exponent and
// mantissa uniformly over the given exponent range.
double random_double(std::mt19937_64& rng, int min_exp, int max_exp) {
  const uint64_t mantissa = rng() & ((uint64_t{1} << 52) - 1);
  const uint64_t biased = static_cast<uint64_t>(min_exp + static_cast<int>(rng() % static_cast<uint64_t>(max_exp - min_exp + 1)) + 1023);
  const uint64_t sign = rng() & (uint64_t{1} << 63);
  return from_bits(sign | (biased << 52) | mantissa);
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
      {R"({"m": {"c": "SOL-USD", "b": true, "sz": 1.5, "r": false}})", "Market SOL-USD Buy sz=1.50000000 ro=false iso=false"},
      {stop, "Stop BTC-USD Below thresh=49000.00000000 sz=0.25000000 limit=-"},
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
      {R"({"faucet": {"u": "U1", "amount": 100}})", "Faucet user=U1 amount=100.00000000"},
      // Plain numbers are not quantised: the float 0.000000025 is just below the half.
      {R"({"faucet": {"u": "U1", "amount": 0.000000025}})", "Faucet user=U1 amount=0.00000002"},
      {R"({"faucet": {"u": "U1"}})", "Faucet user=U1 amount=-"},
      {R"({"agentWalletCreation": {"a": "A1", "d": true}})", "AgentWallet agent=A1 delete=true"},
      {R"({"updateUserSettings": {"m": {"SOL-USD": 5, "BTC-USD": "10"}}})", "UpdateLeverage BTC-USD:10.00000000,SOL-USD:5.00000000"},
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
      {limit_px("true"), field_failure("finite number")},
      {limit_px("[1]"), field_failure("finite number")},
      {limit_px(R"("NaN")"), field_failure("finite number")},
      {limit_px(R"("inf")"), field_failure("finite number")},
      {limit_px(R"("-Infinity")"), field_failure("finite number")},
      {limit_px(R"("1e400")"), field_failure("finite number")},
      {limit_px(R"(" 1")"), field_failure("finite number")},
      {limit_px(R"("1,5")"), field_failure("finite number")},
      {limit_px(R"("")"), field_failure("finite number")},
      {R"({"abc": {"to": "K", "fee": 10.0}})", field_failure("fee")},
      {R"({"abc": {"to": "K", "fee": -1}})", field_failure("fee")},
      {R"({"abc": {"to": "K", "fee": "10"}})", field_failure("fee")},
      {R"({"abc": {"to": "K"}})", field_failure("fee")},
      {R"({"trl": {"c": "X", "b": true, "sz": 1, "trb": 2.5, "stb": 1}})", field_failure("trb")},
      {R"({"l": {"tif": "GTC"}, "m": {"c": "X"}})", field_failure("action tag")},
      {"{}", field_failure("action tag")},
      {"[]", field_failure("action tag")},
      {R"("l")", field_failure("action tag")},
      {R"({"l": 5})", field_failure("action body")},
      {R"({"l": null})", field_failure("action body")},
      {R"({"px": {"c": "BTC-USD", "px": 1.0, "t": 1}})", unsupported + "px"},
      {R"({"L": {}})", unsupported + "L"},
      {R"({"of": {"actions": [], "trigger": {}}})", unsupported + "of"},
      {R"({"liquidatorConfig": {}})", unsupported + "liquidatorConfig"},
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

// The renderer reads what the preparation writes.
TEST(ClearSignLine, ReadsPreparationJson) {
  item::Order limit{.symbol = "BTC-USD", .is_buy = true, .price = 65000.5, .size = 0.1, .order_type = LimitType{Tif::IOC}};
  item::ConditionalFields fields{.symbol = "ETH-USD", .is_buy = false, .size = 2.0, .trigger_price = 3000.0, .slippage = 0.005};
  const Action action(action::Orders{{OrderItem(limit), OrderItem(item::Stop{fields})}});
  auto json = action_to_json(action, JsonFlavour::Prepare);
  ASSERT_TRUE(json.ok());
  ASSERT_EQ(json->size(), 2u);
  auto first = action_line((*json)[0], 0);
  auto second = action_line((*json)[1], 0);
  ASSERT_TRUE(first.ok() && second.ok());
  EXPECT_EQ(*first, "Limit BTC-USD Buy px=65000.50000000 sz=0.10000000 tif=IOC ro=false iso=false");
  EXPECT_EQ(*second, "Stop ETH-USD Below thresh=3000.00000000 sz=2.00000000 limit=- slippage=0.00500000bps");

  Pubkey k0, k1;
  k1.bytes.fill(0x11);
  const std::string t0 = "11111111111111111111111111111111", t1 = "29d2S7vB453rNYFdR5Ycwt7y9haRT5fwVwL9zTmBhfV2";
  const std::pair<Action, std::string> others[] = {
      {action::Transfer{{k0, k1, 12.5, TransferKind::External}}, "Transfer External from=" + t0 + " to=" + t1 + " amt=12.50000000"},
      {action::ApproveCommissionFee{{k1, 7}}, "ApproveCommissionFee to=" + t1 + " max_fee=7"},
      {action::RevokeCommissionFee{k0}, "RevokeCommissionFee to=" + t0},
      {action::UpdateUserSettings{{{"SOL-USD", 5.0}, {"BTC-USD", 10.0}}}, "UpdateLeverage BTC-USD:10.00000000,SOL-USD:5.00000000"},
      {action::Faucet{k1, std::nullopt}, "Faucet user=" + t1 + " amount=-"},
      {action::CreateSubAccount{"bot-1", 0.5}, "CreateSubAccount name=bot-1 amt=0.50000000"},
      {action::RemoveSubAccount{k1}, "RemoveSubAccount " + t1},
      {action::RenameSubAccount{k0, "main"}, "RenameSubAccount account=" + t0 + " name=main"},
      {action::AgentWalletCreation{k1, true}, "AgentWallet agent=" + t1 + " delete=true"},
      {action::WhitelistFaucet{k0, true}, "WhitelistFaucet target=" + t0 + " whitelist=true"},
  };
  for (const auto& [a, expected] : others) {
    auto list = action_to_json(a, JsonFlavour::Prepare);
    ASSERT_TRUE(list.ok() && list->size() == 1) << expected;
    auto line = action_line((*list)[0], 0);
    EXPECT_EQ(line.ok() ? *line : line.error().display(), expected);
  }
}

TEST(ClearSignText, HeaderAndLines) {
  // Standard SHA-256 test vectors (FIPS 180-2, examples B.1 and B.2) as the
  // message bytes: the hash covers the bytes, whatever they are.
  const std::pair<std::string, std::string> vectors[] = {
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
  };
  for (const auto& [bytes, digest] : vectors) {
    PreparedMessage p;
    p.message_bytes.assign(bytes.begin(), bytes.end());
    p.account = "29d2S7vB453rNYFdR5Ycwt7y9haRT5fwVwL9zTmBhfV2";
    p.nonce = 18446744073709551615ull;
    p.actions = {Json::parse(R"({"cx": {"c": "SOL-USD", "oid": "o1"}})"), Json::parse(R"({"cxa": {"c": []}})")};
    auto text = build_clear_sign_text(p, SignatureDomain::Testnet);
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(*text,
              "Fyrn Exchange Transaction\nNetwork: testnet\nAccount: 29d2S7vB453rNYFdR5Ycwt7y9haRT5fwVwL9zTmBhfV2\n"
              "Nonce: 18446744073709551615\nActions: 2\nSignable-Hash: " + digest + "\n"
              "[0] Cancel SOL-USD oid=o1\n[1] CancelAll *\n");
  }
  PreparedMessage p;
  p.account = "A";
  auto empty = build_clear_sign_text(p, SignatureDomain::Mainnet);
  ASSERT_TRUE(empty.ok());
  EXPECT_EQ(*empty, "Fyrn Exchange Transaction\nNetwork: mainnet\nAccount: A\nNonce: 0\nActions: 0\nSignable-Hash: " +
                        vectors[2].second + "\n");
  // Indices count from 0 past 9; the first failing entry fails the whole text.
  p.actions.assign(12, Json::parse(R"({"rbc": {"to": "K"}})"));
  auto twelve = build_clear_sign_text(p, SignatureDomain::Devnet);
  ASSERT_TRUE(twelve.ok());
  EXPECT_NE(twelve->find("Network: devnet\n"), std::string::npos);
  EXPECT_TRUE(twelve->ends_with("\n[9] RevokeCommissionFee to=K\n[10] RevokeCommissionFee to=K\n[11] RevokeCommissionFee to=K\n"));
  p.actions[11] = Json::parse(R"({"rbc": {}})");
  EXPECT_EQ(build_clear_sign_text(p, SignatureDomain::Devnet).error(), field_error("to"));
}

// ---- numbers -------------------------------------------------------------

TEST(ClearSignNumber, ParseDecimal) {
  const double inf = std::numeric_limits<double>::infinity();
  const double denorm = std::numeric_limits<double>::denorm_min();
  const std::pair<const char*, double> accepted[] = {
      {"65000.5", 65000.5}, {"+1.5", 1.5},   {"-2", -2.0},      {"1.", 1.0},
      {".5", 0.5},          {"1E3", 1000.0}, {"1e-3", 0.001},   {"0.1", 0.1},
      {"1e-400", 0.0},      {"4.9e-324", denorm}, {"2.5e-324", denorm}, {"2.4e-324", 0.0},
      {"1e-320", 1e-320},   {"1e400", inf},  {"-1e400", -inf},  {"inf", inf},
      {"Infinity", inf},    {"+inf", inf},
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
  // Readers: integers convert to the nearest double, underflow is a finite value.
  auto number_of = [](const Json& j) { return number(&j); };
  EXPECT_EQ(*number_of(Json(uint64_t{9007199254740993})), 9007199254740992.0);
  EXPECT_EQ(*number_of(Json(int64_t{-9007199254740993})), -9007199254740992.0);
  EXPECT_EQ(*number_of(Json("1e-400")), 0.0);
  EXPECT_EQ(number_of(Json(std::numeric_limits<double>::quiet_NaN())).error(), field_error("finite number"));
  EXPECT_EQ(number(nullptr).error(), field_error("finite number"));
}

TEST(ClearSignNumber, Fixed8Examples) {
  const std::pair<double, const char*> cases[] = {
      {0.001953125, "0.00195312"}, {0.005859375, "0.00585938"}, {2.5, "2.50000000"},
      {-0.0, "-0.00000000"},       {-1e-10, "-0.00000000"},     {1e-8, "0.00000001"},
      {5e-9, "0.00000001"},  // the float 5e-9 is slightly above the half
      {0.000000025, "0.00000002"},
      {18446744073709551616.0, "18446744073709551616.00000000"},
      {std::numeric_limits<double>::denorm_min(), "0.00000000"},
  };
  for (const auto& [x, expected] : cases) {
    EXPECT_EQ(fixed8(x), expected);
    EXPECT_EQ(oracle_fixed8(x), expected);  // the oracle itself, on known values
  }
}

// The claim the renderer rests on: to_chars(fixed, 8) is the exact binary
// value rounded half to even, for every finite double.
TEST(ClearSignNumber, Fixed8MatchesExactOracle) {
  std::mt19937_64 rng(20261206);
  std::vector<double> xs = {std::numeric_limits<double>::max(),        -std::numeric_limits<double>::max(),
                            std::numeric_limits<double>::min(),        std::numeric_limits<double>::denorm_min(),
                            18446744073709551616.0,                    std::nextafter(18446744073709551616.0, 0.0),
                            std::nextafter(18446744073709551616.0, 1e300), 5e-9, std::nextafter(5e-9, 0.0),
                            std::nextafter(5e-9, 1.0),                 0.0};
  for (int i = 0; i < 150000; ++i) {  // any bit pattern: every exponent
    double x;
    do x = from_bits(rng()); while (!std::isfinite(x));
    xs.push_back(x);
  }
  for (int i = 0; i < 150000; ++i) xs.push_back(random_double(rng, -40, 70));  // where prices live
  for (int i = 0; i < 30000; ++i) {  // exact ties: odd multiples of 2^-9
    const uint64_t odd = (rng() >> 11) | 1;
    xs.push_back(std::ldexp(static_cast<double>(odd), -9) * ((rng() & 1) != 0 ? -1 : 1));
    xs.push_back(std::ldexp(static_cast<double>(odd & 0xfffff), -9));
  }
  size_t mismatches = 0;
  for (double x : xs) {
    const std::string got = fixed8(x), want = oracle_fixed8(x);
    if (got != want && ++mismatches <= 5) ADD_FAILURE() << std::hexfloat << x << ": " << got << " vs " << want;
  }
  EXPECT_EQ(mismatches, 0u);
}

TEST(ClearSignNumber, QuantiseExamples) {
  const std::pair<double, const char*> cases[] = {
      {0.1 + 0.2, "0.30000000"}, {65000.0, "65000.00000000"}, {0.000000025, "0.00000003"},
      {0.001953125, "0.00195313"},  // half away from zero, where plain rendering goes to even
      {1e-9, "0.00000000"},      {-0.000000025, "-0.00000002"},  // not positive: unchanged
      {1.8446744073709552e11, "184467440737.09552002"},        // x·10^8 ≥ 2^64: unchanged
  };
  for (const auto& [x, expected] : cases) EXPECT_EQ(fixed8(quantise(x)), expected) << x;
}

TEST(ClearSignNumber, QuantiseMatchesModel) {
  std::mt19937_64 rng(7);
  std::vector<double> xs = {std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min(),
                            std::nextafter(18446744073709551616.0 / 1e8, 0.0), 18446744073709551616.0 / 1e8,
                            -1.0, 0.0, -0.0, std::numeric_limits<double>::max()};
  for (int i = 0; i < 100000; ++i) xs.push_back(std::fabs(random_double(rng, -30, 38)));
  for (int i = 0; i < 50000; ++i) {  // near the halves of the 10^-8 grid
    const uint64_t n = rng() % 100000000000000ull;
    const double x = (static_cast<double>(n) + 0.5) / 1e8;
    for (double y : {x, std::nextafter(x, 0.0), std::nextafter(x, 1e300)}) xs.push_back(y);
  }
  for (int i = 0; i < 50000; ++i) xs.push_back(std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 38)));
  for (int i = 0; i < 20000; ++i) {
    double x;
    do x = from_bits(rng()); while (!std::isfinite(x));
    xs.push_back(x);
  }
  size_t mismatches = 0, exact = 0;
  for (double x : xs) {
    const double got = quantise(x), want = model_quantise(x);
    if (to_bits(got) != to_bits(want) && ++mismatches <= 5) {
      ADD_FAILURE() << std::hexfloat << x << ": " << got << " vs model " << want;
    }
    // Where floats are much finer than the 10^-8 grid, the text is
    // exactly the scaled value rounded half away from zero.
    const double p = product_1e8(x);
    if (x > 0 && p >= 1 && p < 1125899906842624.0) {  // 2^50
      ++exact;
      const uint64_t n = static_cast<uint64_t>(round_away(p));
      if (fixed8(got) != scaled_text(n) && ++mismatches <= 5) ADD_FAILURE() << std::hexfloat << x << " shows " << fixed8(got);
    }
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_GT(exact, 100000u);
}
