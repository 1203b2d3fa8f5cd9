// fyrn/prepare.hpp: transactions prepared for an external wallet, and their
// finalisation with the wallet's signature.
//
// Preparing is signing without the signature: the same message encoding, the
// same order identifiers and the (preparation-flavour) submission JSON, handed
// out as a PreparedMessage. The wallet signs `message_bytes`; finalisation
// checks that signature strictly against the record and assembles the
// SignedTransaction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fyrn/error.hpp"
#include "fyrn/json.hpp"
#include "fyrn/keys.hpp"
#include "fyrn/model.hpp"

namespace fyrn {

// kSigningSuffixLen: every signing message ends in nonce (u64 little-endian),
// account (32 bytes) and the network byte.
inline constexpr size_t kSigningSuffixLen = 41;

// PreparedMessage is everything a signed transaction needs except its
// signature. There is no network field: the network is the last byte of
// message_bytes.
struct PreparedMessage {
  std::vector<uint8_t> message_bytes;  // the exact bytes to sign
  JsonList actions;                    // submission JSON (preparation flavour)
  std::string account;                 // base58 of the trading account
  std::string signer;                  // base58 of the key that must sign
  std::optional<std::string> order_id;
  std::optional<std::vector<std::string>> order_ids;
  uint64_t nonce = 0;
};

// OrderIdSwitches says which order identifiers a transaction carries: `single`
// for a one-item orders action, `batch` for a multi-item one.
struct OrderIdSwitches {
  bool single = true;
  bool batch = true;
};

// TransactionBody is what signing and preparing both derive from an action:
// the submission JSON and the order identifiers. The message bytes go to the
// buffer the caller passes.
struct TransactionBody {
  JsonList actions;
  std::optional<std::string> order_id;
  std::optional<std::vector<std::string>> order_ids;
};

class ItemJson;

// encode_transaction writes the signing message of (action, domain, nonce,
// account) into `message` (cleared first), computes the order identifiers the
// switches ask for (`scratch` is their reusable encoding buffer) and converts
// the action to its JSON: into body.actions, or for an orders action into
// `orders_json` when given (a batch's, see fyrn/tape.hpp), body.actions then
// left empty. The one path shared by the signer, the preparation and
// therefore finalisation. Fails where encoding or JSON conversion fails.
Result<TransactionBody> encode_transaction(const Action& action, SignatureDomain domain, uint64_t nonce,
                                           const Pubkey& account, OrderIdSwitches ids, JsonFlavour flavour,
                                           std::vector<uint8_t>& message, std::vector<uint8_t>& scratch,
                                           ItemJson* orders_json = nullptr);

// prepare_action prepares one action for `account`. `signer` defaults to the
// account and `nonce` to the process clock (next_timestamp). Orders actions
// always carry their identifiers: order_id for one item, order_ids for more.
Result<PreparedMessage> prepare_action(const Action& action, SignatureDomain domain, const Pubkey& account,
                                       const std::optional<Pubkey>& signer, std::optional<uint64_t> nonce);

class RenderedSink;

// prepare_all_streamed prepares item i as its own one-item orders transaction
// with nonce base + i (base: the given one, or one process-clock value for the
// whole call), renders each on the thread that prepared it (render_prepared,
// fyrn/tape.hpp) and hands it to `sink` in input order while later ones are
// still being prepared; on the worker pool from kParallelThreshold items
// (fyrn/batch.hpp). The shared account is `account`, the signer `signer` or
// else the account. Each carries order_id, never order_ids. No items: nothing
// handed over and no nonce drawn. Nonces past 2^64−1 fail with InvalidNonce
// before anything is prepared; any failing item fails the whole call.
Status prepare_all_streamed(std::vector<OrderItem> items, SignatureDomain domain, const Pubkey& account,
                            const std::optional<Pubkey>& signer, std::optional<uint64_t> base_nonce,
                            RenderedSink& sink);

// finalize_with_message checks `signature` (base58 text) against the record
// and returns the signed transaction, consuming the record. The signature must
// verify strictly for the record's signer over `signed_bytes` when given (the
// bytes a wallet mode had signed), else over message_bytes; the record's
// nonce and account must match the message's signing suffix. Every check
// failure is SigningFailed, EmptyOrders, InvalidSignatureLength or a key
// error. The signature text is kept exactly as supplied.
Result<SignedTransaction> finalize_with_message(PreparedMessage prepared, std::string_view signature,
                                                const std::vector<uint8_t>* signed_bytes = nullptr);

}  // namespace fyrn
