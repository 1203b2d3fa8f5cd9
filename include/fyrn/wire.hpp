// fyrn/wire.hpp: the canonical signing message.
//
// An Action is lowered into wire actions (the exchange's own vocabulary) and
// written, with nonce, account and network byte, into one compact binary
// message: little-endian fixed-width integers, no names, no padding. Every
// signature is made over exactly these bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "fyrn/error.hpp"
#include "fyrn/keys.hpp"
#include "fyrn/model.hpp"

namespace fyrn {

// to_fixed_point converts a model double to the wire's u64: value × 1e8 as a
// double product, rounded half away from zero; NaN and negatives give 0, values
// past 2^64−1 saturate.
uint64_t to_fixed_point(double value);

// message_level returns the format level of the message for `action`: 4 (a
// conditional leaf), 3 (a builder code), 2 (explicit market slippage) or 0.
uint8_t message_level(const Action& action);

// serialize_for_sdk_signing clears `buffer` (keeping its capacity) and writes
// the signing message for (action, domain, nonce, account) into it. On error
// the buffer is left exactly as it was.
Status serialize_for_sdk_signing(const Action& action, SignatureDomain domain, uint64_t nonce,
                                 const Pubkey& account, std::vector<uint8_t>& buffer);

}  // namespace fyrn
