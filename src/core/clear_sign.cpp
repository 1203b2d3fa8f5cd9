#include "fyrn/clear_sign.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <type_traits>

#include "sha256.hpp"

// The whole text is appended to one std::string reserved up front; field
// values are read as views into the JSON, numbers go through a stack buffer.
// Nested trigger actions are rendered into the same string and cut off again.
//
// Wire format: the exchange rebuilds these bytes to verify offchain
// signatures, so every template, every separator and the number rendering
// are fixed. Text fields are copied verbatim: a symbol holding "\n" or other
// control characters goes into its line unchanged. Do not escape or filter
// here without changing the exchange side in the same release.

namespace fyrn {

namespace clear_sign {

namespace {

constexpr double kScale = 1e8;
constexpr double kTwo64 = 18446744073709551616.0;

// Reads bind the value of a Result or return its error from the enclosing
// function (which returns Status or Result<...>).
#define FYRN_CS_TRY(var, expr)                           \
  auto var##_result = (expr);                            \
  if (!var##_result.ok()) return std::move(var##_result).error(); \
  auto var = std::move(*var##_result)

#define FYRN_CS_CHECK(expr)                  \
  do {                                       \
    Status status_ = (expr);                 \
    if (!status_.ok()) return std::move(status_).error(); \
  } while (0)

void append_u64(uint64_t v, std::string& out) {
  char buf[20];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void append_bool(bool v, std::string& out) { out.append(v ? "true" : "false"); }

void append_optional(const std::optional<double>& v, std::string& out) {
  if (v) {
    append_fixed8(*v, out);
  } else {
    out.push_back('-');
  }
}

std::string_view side(bool buy) { return buy ? "Buy" : "Sell"; }
std::string_view direction(bool above) { return above ? "Above" : "Below"; }

// The one optional boolean: absent is false; present must be a boolean, null
// included.
Result<bool> optional_iso(const Json& body) {
  const Json* v = field(body, "i");
  if (v == nullptr) return false;
  if (!v->is_boolean()) return field_error("i");
  return v->get<bool>();
}

// to_double converts a JSON number or decimal string; nullopt for anything
// else. Finiteness is checked by the caller.
std::optional<double> to_double(const Json& v) {
  switch (v.type()) {
    case Json::value_t::number_unsigned:
      return static_cast<double>(v.get<uint64_t>());
    case Json::value_t::number_integer:
      return static_cast<double>(v.get<int64_t>());
    case Json::value_t::number_float:
      return v.get<double>();
    case Json::value_t::string:
      return parse_decimal(v.get_ref<const std::string&>());
    default:
      return std::nullopt;
  }
}

// c_locale is the "C" locale for strtod_l, whatever the host process set.
locale_t c_locale() {
  static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return loc;
}

class Renderer {
 public:
  explicit Renderer(std::string& out) : out_(out) {}

  Status line(const Json& action, unsigned depth);

 private:
  Status limit(const Json& body);
  Status market(const Json& body);
  Status conditional(const Json& body, std::string_view label);
  Status range(const Json& body);
  Status trailing(const Json& body);
  Status trigger(const Json& body, unsigned depth);
  Status cancel(const Json& body);
  Status modify(const Json& body);
  Status cancel_all(const Json& body);
  Status faucet(const Json& body);
  Status agent_wallet(const Json& body);
  Status user_settings(const Json& body);
  Status create_sub_account(const Json& body);
  Status remove_sub_account(const Json& body);
  Status rename_sub_account(const Json& body);
  Status approve_fee(const Json& body);
  Status revoke_fee(const Json& body);
  Status whitelist_faucet(const Json& body);
  Status transfer(const Json& body);

  // put appends the parts of a line template in order: text as is, doubles
  // with 8 decimals, booleans as true/false, counts in decimal, an absent
  // optional number as "-".
  template <typename... Parts>
  void put(const Parts&... parts) {
    (part(parts), ...);
  }
  void part(std::string_view s) { out_.append(s); }
  void part(const char* s) { out_.append(s); }  // not the bool overload
  void part(double v) { append_fixed8(v, out_); }
  void part(bool v) { append_bool(v, out_); }
  void part(uint64_t v) { append_u64(v, out_); }
  void part(const std::optional<double>& v) { append_optional(v, out_); }

  std::string& out_;
};

Status Renderer::line(const Json& action, unsigned depth) {
  if (depth > kMaxDepth) return field_error("action nesting");
  if (!action.is_object() || action.size() != 1) return field_error("action tag");
  const auto& [key, body] = *action.get_ref<const Json::object_t&>().begin();
  if (!body.is_object()) return field_error("action body");

  // Ordered roughly by how often each action is prepared. Compared as views:
  // a length check first, then a comparison of known length.
  const std::string_view k = key;
  if (k == "l") return limit(body);
  if (k == "cx") return cancel(body);
  if (k == "m") return market(body);
  if (k == "st") return conditional(body, "Stop");
  if (k == "tp") return conditional(body, "TakeProfit");
  if (k == "mod") return modify(body);
  if (k == "cxa") return cancel_all(body);
  if (k == "rng") return range(body);
  if (k == "trl") return trailing(body);
  if (k == "trig") return trigger(body, depth);
  if (k == "transfer") return transfer(body);
  if (k == "faucet") return faucet(body);
  if (k == "agentWalletCreation") return agent_wallet(body);
  if (k == "updateUserSettings") return user_settings(body);
  if (k == "createSubAccount") return create_sub_account(body);
  if (k == "removeSubAccount") return remove_sub_account(body);
  if (k == "renameSubAccount" || k == "rsa") return rename_sub_account(body);
  if (k == "abc") return approve_fee(body);
  if (k == "rbc") return revoke_fee(body);
  if (k == "whitelistFaucet") return whitelist_faucet(body);
  return unsupported_action(key);
}

Status Renderer::limit(const Json& body) {
  FYRN_CS_TRY(tif, text(body, "tif"));
  if (tif != "GTC" && tif != "IOC" && tif != "ALO") return field_error("tif");
  FYRN_CS_TRY(c, text(body, "c"));
  FYRN_CS_TRY(b, boolean(body, "b"));
  FYRN_CS_TRY(px, safe(field(body, "px")));
  FYRN_CS_TRY(sz, safe(field(body, "sz")));
  FYRN_CS_TRY(r, boolean(body, "r"));
  FYRN_CS_TRY(i, optional_iso(body));
  put("Limit ", c, " ", side(b), " px=", px, " sz=", sz, " tif=", tif, " ro=", r, " iso=", i);
  return {};
}

Status Renderer::market(const Json& body) {
  FYRN_CS_TRY(c, text(body, "c"));
  FYRN_CS_TRY(b, boolean(body, "b"));
  FYRN_CS_TRY(sz, safe(field(body, "sz")));
  FYRN_CS_TRY(r, boolean(body, "r"));
  FYRN_CS_TRY(i, optional_iso(body));
  put("Market ", c, " ", side(b), " sz=", sz, " ro=", r, " iso=", i);
  return optional_slippage(body, "slippage", "slippage", out_);
}

Status Renderer::conditional(const Json& body, std::string_view label) {
  FYRN_CS_TRY(c, text(body, "c"));
  FYRN_CS_TRY(d, boolean(body, "d"));
  FYRN_CS_TRY(tr, safe(field(body, "tr")));
  FYRN_CS_TRY(sz, safe(field(body, "sz")));
  FYRN_CS_TRY(lim, optional(field(body, "lim"), true));
  put(label, " ", c, " ", direction(d), " thresh=", tr, " sz=", sz, " limit=", lim);
  return optional_slippage(body, "slippage", "slippage", out_);
}

Status Renderer::range(const Json& body) {
  FYRN_CS_TRY(c, text(body, "c"));
  FYRN_CS_TRY(d, boolean(body, "d"));
  FYRN_CS_TRY(pmin, safe(field(body, "pmin")));
  FYRN_CS_TRY(pmax, safe(field(body, "pmax")));
  FYRN_CS_TRY(sz, safe(field(body, "sz")));
  FYRN_CS_TRY(lmin, optional(field(body, "lmin"), true));
  FYRN_CS_TRY(lmax, optional(field(body, "lmax"), true));
  put("Range ", c, " ", side(d), " min=", pmin, " max=", pmax, " sz=", sz, " lmin=", lmin, " lmax=", lmax);
  FYRN_CS_CHECK(optional_slippage(body, "slSlippage", "sl_slippage", out_));
  return optional_slippage(body, "tpSlippage", "tp_slippage", out_);
}

Status Renderer::trailing(const Json& body) {
  FYRN_CS_TRY(c, text(body, "c"));
  FYRN_CS_TRY(b, boolean(body, "b"));
  FYRN_CS_TRY(sz, safe(field(body, "sz")));
  FYRN_CS_TRY(trb, integer(body, "trb"));
  FYRN_CS_TRY(stb, integer(body, "stb"));
  FYRN_CS_TRY(lim, optional(field(body, "lim"), true));
  put("Trailing ", c, " ", side(b), " sz=", sz, " trail=", trb, "bps step=", stb, "bps limit=", lim);
  return optional_slippage(body, "slippage", "slippage", out_);
}

Status Renderer::trigger(const Json& body, unsigned depth) {
  const Json* actions = field(body, "actions");
  if (actions == nullptr || !actions->is_array()) return field_error("actions");
  // Nested lines are only checked, not shown: render each into the tail of
  // the output and cut it off again.
  const size_t mark = out_.size();
  for (const Json& nested : *actions) {
    Status status = line(nested, depth + 1);
    out_.resize(mark);
    if (!status.ok()) return status;
  }
  FYRN_CS_TRY(c, text(body, "c"));
  FYRN_CS_TRY(d, boolean(body, "d"));
  FYRN_CS_TRY(tr, safe(field(body, "tr")));
  put("Trigger ", c, " ", direction(d), " thresh=", tr, " nested=", actions->size());
  return {};
}

Status Renderer::cancel(const Json& body) {
  FYRN_CS_TRY(c, text(body, "c"));
  FYRN_CS_TRY(oid, text(body, "oid"));
  put("Cancel ", c, " oid=", oid);
  return {};
}

Status Renderer::modify(const Json& body) {
  FYRN_CS_TRY(c, text(body, "c"));
  FYRN_CS_TRY(oid, text(body, "oid"));
  FYRN_CS_TRY(sz, safe(field(body, "sz")));
  put("Modify ", c, " oid=", oid, " sz=", sz);
  return {};
}

Status Renderer::cancel_all(const Json& body) {
  const Json* symbols = field(body, "c");
  if (symbols == nullptr || !symbols->is_array()) return field_error("c");
  // Check every element before writing any.
  for (const Json& s : *symbols) {
    if (!s.is_string()) return field_error("symbol");
  }
  put("CancelAll ");
  if (symbols->empty()) {
    put("*");
    return {};
  }
  bool first = true;
  for (const Json& s : *symbols) {
    if (!first) put(",");
    first = false;
    put(s.get_ref<const std::string&>());
  }
  return {};
}

Status Renderer::faucet(const Json& body) {
  FYRN_CS_TRY(u, text(body, "u"));
  FYRN_CS_TRY(amount, optional(field(body, "amount"), false));
  put("Faucet user=", u, " amount=", amount);
  return {};
}

Status Renderer::agent_wallet(const Json& body) {
  FYRN_CS_TRY(a, text(body, "a"));
  FYRN_CS_TRY(d, boolean(body, "d"));
  put("AgentWallet agent=", a, " delete=", d);
  return {};
}

Status Renderer::user_settings(const Json& body) {
  const Json* m = field(body, "m");
  if (m == nullptr || !m->is_object()) return field_error("m");
  // Json objects are std::maps ordered by std::less<> over std::string, which
  // compares bytes as unsigned char: iteration order is the bytewise order the
  // text needs, and names are unique.
  static_assert(std::is_same_v<Json::object_comparator_t, std::less<>>);
  put("UpdateLeverage ");
  bool first = true;
  for (const auto& [name, value] : m->get_ref<const Json::object_t&>()) {
    FYRN_CS_TRY(v, number(&value));
    if (!first) put(",");
    first = false;
    put(name, ":", v);
  }
  return {};
}

Status Renderer::create_sub_account(const Json& body) {
  FYRN_CS_TRY(name, text(body, "name"));
  FYRN_CS_TRY(amount, optional(field(body, "marginAmount"), false));
  put("CreateSubAccount name=", name, " amt=", amount);
  return {};
}

Status Renderer::remove_sub_account(const Json& body) {
  FYRN_CS_TRY(to_remove, text(body, "toRemove"));
  put("RemoveSubAccount ", to_remove);
  return {};
}

Status Renderer::rename_sub_account(const Json& body) {
  FYRN_CS_TRY(account, text(body, "account"));
  FYRN_CS_TRY(name, text(body, "name"));
  put("RenameSubAccount account=", account, " name=", name);
  return {};
}

Status Renderer::approve_fee(const Json& body) {
  FYRN_CS_TRY(to, text(body, "to"));
  FYRN_CS_TRY(fee, integer(body, "fee"));
  put("ApproveCommissionFee to=", to, " max_fee=", fee);
  return {};
}

Status Renderer::revoke_fee(const Json& body) {
  FYRN_CS_TRY(to, text(body, "to"));
  put("RevokeCommissionFee to=", to);
  return {};
}

Status Renderer::whitelist_faucet(const Json& body) {
  FYRN_CS_TRY(target, text(body, "target"));
  FYRN_CS_TRY(whitelist, boolean(body, "whitelist"));
  put("WhitelistFaucet target=", target, " whitelist=", whitelist);
  return {};
}

Status Renderer::transfer(const Json& body) {
  FYRN_CS_TRY(k, text(body, "k"));
  std::string_view kind;
  if (k == "internal") {
    kind = "Internal";
  } else if (k == "external") {
    kind = "External";
  } else {
    return field_error("transfer kind");
  }
  FYRN_CS_TRY(from, text(body, "from"));
  FYRN_CS_TRY(to, text(body, "to"));
  FYRN_CS_TRY(amount, number(field(body, "marginAmount")));
  put("Transfer ", kind, " from=", from, " to=", to, " amt=", amount);
  return {};
}

}  // namespace

Error field_error(std::string_view name) {
  std::string reason = "invalid offchain clear-sign field: ";
  reason.append(name);
  return Error::signing_failed(std::move(reason));
}

Error unsupported_action(std::string_view key) {
  std::string reason = "unsupported offchain clear-sign action: ";
  reason.append(key);
  return Error::signing_failed(std::move(reason));
}

const Json* field(const Json& body, std::string_view key) {
  if (!body.is_object()) return nullptr;
  const auto& object = body.get_ref<const Json::object_t&>();
  // An action body has a handful of short names: a scan that compares
  // lengths first beats the tree's string comparisons. Bigger objects (only
  // a caller's own) go through the tree.
  if (object.size() <= 16) {
    for (const auto& [name, value] : object) {
      if (name.size() == key.size() && std::string_view(name) == key) return &value;
    }
    return nullptr;
  }
  const auto it = object.find(key);  // heterogeneous: no key string is built
  return it == object.end() ? nullptr : &it->second;
}

Result<std::string_view> text(const Json& body, std::string_view key) {
  const Json* v = field(body, key);
  if (v == nullptr || !v->is_string()) return field_error(key);
  return std::string_view(v->get_ref<const std::string&>());
}

Result<bool> boolean(const Json& body, std::string_view key) {
  const Json* v = field(body, key);
  if (v == nullptr || !v->is_boolean()) return field_error(key);
  return v->get<bool>();
}

Result<uint64_t> integer(const Json& body, std::string_view key) {
  const Json* v = field(body, key);
  if (v != nullptr) {
    if (v->is_number_unsigned()) return v->get<uint64_t>();
    if (v->is_number_integer()) {  // a signed kind, from C++-built values
      const int64_t i = v->get<int64_t>();
      if (i >= 0) return static_cast<uint64_t>(i);
    }
  }
  return field_error(key);
}

Result<double> number(const Json* value) {
  if (value != nullptr) {
    const std::optional<double> x = to_double(*value);
    if (x && std::isfinite(*x)) return *x;
  }
  return field_error("finite number");
}

Result<double> safe(const Json* value) {
  Result<double> x = number(value);
  if (!x.ok()) return x;
  return quantise(*x);
}

Result<std::optional<double>> optional(const Json* value, bool quantised) {
  if (value == nullptr || value->is_null()) return std::optional<double>();
  Result<double> x = quantised ? safe(value) : number(value);
  if (!x.ok()) return std::move(x).error();
  return std::optional<double>(*x);
}

Status optional_slippage(const Json& body, std::string_view key, std::string_view label, std::string& out) {
  const Json* value = field(body, key);
  if (value == nullptr || value->is_null()) return {};
  FYRN_CS_TRY(x, safe(value));
  out.push_back(' ');
  out.append(label);
  out.push_back('=');
  append_fixed8(x, out);
  out.append("bps");
  return {};
}

// The literal accepted is the usual decimal float syntax with an optional
// sign of either kind, as float parsers of the exchange's language family
// accept it ("+1.5", "1.", ".5", "1e-3"). Leading or trailing whitespace,
// hex, digit separators, an empty text or a doubled sign are refused.
// "inf"/"nan" and overflowing literals are accepted by the parser but are not
// finite, so every number reader refuses them with "finite number"; only
// underflow is a value (a subnormal or zero), never an error.
std::optional<double> parse_decimal(std::string_view s) {
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (s.empty() || s.front() == '-' || s.front() == '+') return std::nullopt;
  }
  if (s.empty()) return std::nullopt;
  double x = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), x, std::chars_format::general);
  if (r.ptr != s.data() + s.size()) return std::nullopt;
  if (r.ec == std::errc()) return x;
  if (r.ec != std::errc::result_out_of_range) return std::nullopt;
  // from_chars reports overflow and underflow (including some subnormal
  // results) alike and leaves x unset. The syntax is known good by now, so
  // strtod in the C locale gives the correctly rounded value: ±HUGE_VAL on
  // overflow, the subnormal or zero on underflow.
  const std::string copy(s);
  const locale_t loc = c_locale();
  return loc != static_cast<locale_t>(0) ? strtod_l(copy.c_str(), nullptr, loc) : std::strtod(copy.c_str(), nullptr);
}

double quantise(double x) {
  if (!(x > 0)) return x;
  const double scaled = x * kScale;
  if (!(scaled < kTwo64)) return x;
  // n < 2^64 and integral, so it is exact as a double; comparing doubles
  // avoids converting a candidate's 2^64 rounding to u64.
  const double n = std::round(scaled);  // half away from zero
  if (n == 0) return x;
  const double first = n / kScale;
  double y = first;
  for (int i = 0; i < 16; ++i) {
    const double r = std::round(y * kScale);
    if (r == n) return y;
    y = std::nextafter(y, r < n ? std::numeric_limits<double>::infinity() : 0.0);
  }
  return first;
}

namespace {

// fixed8_units gives |x| in units of 10^-8, exactly rounded (ties to even),
// when that count is below 2^64: x = m·2^e makes x·10^8 = m·5^8·2^(e+8),
// a 72-bit integer shifted, which 128-bit arithmetic holds exactly. False for
// larger or non-finite values.
bool fixed8_units(double x, uint64_t& units) {
  uint64_t bits = 0;
  std::memcpy(&bits, &x, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  if (biased == 0x7ff) return false;
  uint64_t m = bits & ((uint64_t{1} << 52) - 1);
  int e = -1074;
  if (biased != 0) {
    m |= uint64_t{1} << 52;
    e = biased - 1075;
  }
  const unsigned __int128 scaled = static_cast<unsigned __int128>(m) * 390625u;  // m·5^8 < 2^72
  const int shift = e + 8;
  unsigned __int128 n = 0;
  if (shift >= 0) {
    if (shift > 55) return false;
    n = scaled << shift;
  } else if (-shift < 74) {  // below 2^-74 of a unit (scaled < 2^72) it rounds to 0
    const int k = -shift;
    const unsigned __int128 one = 1;
    const unsigned __int128 rest = scaled & ((one << k) - 1);
    const unsigned __int128 half = one << (k - 1);
    n = scaled >> k;
    if (rest > half || (rest == half && (n & 1) != 0)) ++n;
  }
  if (n >> 64 != 0) return false;
  units = static_cast<uint64_t>(n);
  return true;
}

}  // namespace

void append_fixed8(double x, std::string& out) {
  uint64_t units = 0;
  if (fixed8_units(x, units)) {
    char buf[32];
    char* p = buf;
    if (std::signbit(x)) *p++ = '-';
    p = std::to_chars(p, buf + sizeof buf, units / 100000000).ptr;
    *p++ = '.';
    uint64_t fraction = units % 100000000;
    for (int i = 7; i >= 0; --i, fraction /= 10) p[i] = static_cast<char>('0' + fraction % 10);
    out.append(buf, p + 8);
    return;
  }
  // to_chars with a precision is exact too (Ryu printf in libstdc++). 309
  // integer digits at most for a finite double, plus sign, point and 8 digits.
  char buf[330];
  const auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, 8);
  out.append(buf, r.ptr);
}

std::string fixed8(double x) {
  std::string out;
  append_fixed8(x, out);
  return out;
}

#undef FYRN_CS_TRY
#undef FYRN_CS_CHECK

}  // namespace clear_sign

namespace {

constexpr char kHex[] = "0123456789abcdef";

}  // namespace

Result<std::string> build_clear_sign_text(const PreparedMessage& prepared, SignatureDomain domain) {
  uint8_t digest[32];
  Sha256::hash(digest, prepared.message_bytes.data(), prepared.message_bytes.size());

  std::string out;
  // Header ~160 bytes plus the account; a typical order line is under 120.
  out.reserve(192 + prepared.account.size() + 128 * prepared.actions.size());
  out.append("Fyrn Exchange Transaction\nNetwork: ");
  out.append(signature_domain_name(domain));
  out.append("\nAccount: ");
  out.append(prepared.account);
  out.append("\nNonce: ");
  clear_sign::append_u64(prepared.nonce, out);
  out.append("\nActions: ");
  clear_sign::append_u64(prepared.actions.size(), out);
  out.append("\nSignable-Hash: ");
  const size_t at = out.size();
  out.resize(at + 2 * sizeof digest);
  for (size_t i = 0; i < sizeof digest; ++i) {
    out[at + 2 * i] = kHex[digest[i] >> 4];
    out[at + 2 * i + 1] = kHex[digest[i] & 0x0f];
  }
  out.push_back('\n');

  clear_sign::Renderer renderer(out);
  for (size_t i = 0; i < prepared.actions.size(); ++i) {
    out.push_back('[');
    clear_sign::append_u64(i, out);
    out.append("] ");
    Status status = renderer.line(prepared.actions[i], 0);
    if (!status.ok()) return std::move(status).error();
    out.push_back('\n');
  }
  return out;
}

Result<std::string> action_line(const Json& action, unsigned depth) {
  std::string out;
  out.reserve(128);
  Status status = clear_sign::Renderer(out).line(action, depth);
  if (!status.ok()) return std::move(status).error();
  return out;
}

}  // namespace fyrn
