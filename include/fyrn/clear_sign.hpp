// fyrn/clear_sign.hpp: the human-readable "clear-sign" text of a prepared
// transaction, shown by wallets that display what they sign.
//
// The text is rendered from the prepared submission JSON, strictly: every
// field a line shows must be present with the expected JSON type, and an
// unknown action fails the whole text, so a wallet never shows a guessed or
// partial description. The exchange rebuilds these exact bytes to check an
// offchain signature: the text is a wire format, byte for byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fyrn/error.hpp"
#include "fyrn/json.hpp"
#include "fyrn/keys.hpp"
#include "fyrn/prepare.hpp"

namespace fyrn {

// build_clear_sign_text renders the whole text: the header (network, account,
// nonce, action count, SHA-256 of message_bytes in lowercase hex), then
// "[i] <action line>\n" per action. `domain` names the network; callers take
// it from the message's last byte. Fails with SigningFailed on the first
// action that does not render.
Result<std::string> build_clear_sign_text(const PreparedMessage& prepared, SignatureDomain domain);

// action_line renders one action entry without index and newline. `depth` is
// 0 for a top-level entry and grows by one per enclosing trigger.
Result<std::string> action_line(const Json& action, unsigned depth);

namespace clear_sign {

// kMaxDepth: trigger nesting accepted below a top-level entry.
inline constexpr unsigned kMaxDepth = 32;

// field_error is SigningFailed "invalid offchain clear-sign field: {name}".
Error field_error(std::string_view name);
// unsupported_action is SigningFailed "unsupported offchain clear-sign action: {key}".
Error unsupported_action(std::string_view key);

// field returns the member `key` of the object `body`, or nullptr.
const Json* field(const Json& body, std::string_view key);

// text reads a JSON string (a view into `body`); field error `key` otherwise.
Result<std::string_view> text(const Json& body, std::string_view key);
// boolean reads JSON true/false; field error `key` otherwise.
Result<bool> boolean(const Json& body, std::string_view key);
// integer reads a JSON integer in 0..2^64−1 (no float, no negative); field
// error `key` otherwise.
Result<uint64_t> integer(const Json& body, std::string_view key);

// number reads a field value (nullptr: missing) as a finite double: integers
// become the nearest double, floats stay as they are, strings are parsed as a
// decimal floating-point literal. Anything else, unparsable or non-finite:
// field error "finite number".
Result<double> number(const Json* value);
// safe is `number` followed by `quantise`.
Result<double> safe(const Json* value);
// optional: absent or null gives nullopt ("-"), otherwise `safe` when
// `quantised`, else `number`.
Result<std::optional<double>> optional(const Json* value, bool quantised);
// optional_slippage appends " {label}={value}bps" (value quantised) for a
// present, non-null `key` of `body`, and nothing when absent or null.
Status optional_slippage(const Json& body, std::string_view key, std::string_view label, std::string& out);

// parse_decimal parses a decimal floating-point literal: optional sign
// ('+' or '-'), digits with an optional point, optional exponent. The whole
// text must be consumed; no whitespace, hex or digit separators. Underflow
// yields the correctly rounded subnormal or zero; overflow yields ±infinity;
// "inf", "infinity" and "nan" (any case) parse to non-finite values, which
// `number` then refuses. nullopt when the text is not such a literal.
std::optional<double> parse_decimal(std::string_view text);

// quantise maps a finite double to the double shown for it at a resolution
// of 10^−8 with halves away from zero: for 0 < x and x·10^8 < 2^64, with
// n = round(x·10^8) ≥ 1, the first of at most 16 neighbouring doubles from
// n/10^8 whose scaled rounding is n (else n/10^8 itself); x unchanged
// otherwise.
double quantise(double x);

// append_fixed8 appends the exact binary value of finite `x` rounded to 8
// fractional digits, ties to even: no exponent, '-' for a set sign bit
// (also for -0.0), at least one digit before the point.
void append_fixed8(double x, std::string& out);
// fixed8 returns what append_fixed8 appends.
std::string fixed8(double x);

}  // namespace clear_sign

}  // namespace fyrn
