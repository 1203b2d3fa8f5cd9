#include "fyrn/prepare.hpp"

#include <algorithm>
#include <utility>
#include <variant>

#include "fyrn/base58.hpp"
#include "fyrn/batch.hpp"
#include "fyrn/nonce.hpp"
#include "fyrn/order_id.hpp"
#include "fyrn/tape.hpp"
#include "fyrn/wire.hpp"
#include "parallel.hpp"

namespace fyrn {
namespace {

constexpr size_t kMessageCapacity = 512;
constexpr size_t kIdScratchCapacity = 96;

// The longest base58 text of 64 bytes; anything longer is refused before the
// (length-dependent) decode runs.
constexpr size_t kMaxSignatureText = 88;

uint64_t read_u64_le(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// code_points counts the characters of UTF-8 text (every byte that does not
// continue a multi-byte sequence).
size_t code_points(std::string_view text) {
  size_t n = 0;
  for (const char c : text) n += (static_cast<uint8_t>(c) & 0xC0) != 0x80;
  return n;
}

// assemble builds the prepared record from what encode_transaction produced.
PreparedMessage assemble(std::vector<uint8_t> message, TransactionBody body, const Pubkey& account,
                         const std::optional<Pubkey>& signer, uint64_t nonce) {
  PreparedMessage out;
  out.message_bytes = std::move(message);
  out.actions = std::move(body.actions);
  out.account = account.to_base58();
  out.signer = signer && *signer != account ? signer->to_base58() : out.account;
  out.order_id = std::move(body.order_id);
  out.order_ids = std::move(body.order_ids);
  out.nonce = nonce;
  return out;
}

Result<PreparedMessage> prepare_resolved(const Action& action, SignatureDomain domain, const Pubkey& account,
                                         const std::optional<Pubkey>& signer, uint64_t nonce, OrderIdSwitches ids) {
  std::vector<uint8_t> message;
  message.reserve(kMessageCapacity);
  std::vector<uint8_t> scratch;
  scratch.reserve(kIdScratchCapacity);
  Result<TransactionBody> body =
      encode_transaction(action, domain, nonce, account, ids, JsonFlavour::Prepare, message, scratch);
  if (!body) return std::move(body).error();
  return assemble(std::move(message), std::move(body).value(), account, signer, nonce);
}

Action one_item_orders(OrderItem item) {
  action::Orders orders;
  orders.orders.reserve(1);
  orders.orders.push_back(std::move(item));
  return Action(std::move(orders));
}

}  // namespace

Result<TransactionBody> encode_transaction(const Action& action, SignatureDomain domain, uint64_t nonce,
                                           const Pubkey& account, OrderIdSwitches ids, JsonFlavour flavour,
                                           std::vector<uint8_t>& message, std::vector<uint8_t>& scratch,
                                           ItemJson* orders_json) {
  if (Status encoded = serialize_for_sdk_signing(action, domain, nonce, account, message); !encoded) {
    return std::move(encoded).error();
  }
  TransactionBody body;
  const auto* orders = std::get_if<action::Orders>(&action.v);
  if (orders != nullptr) {
    const size_t n = orders->orders.size();
    if (n == 1 && ids.single) {
      body.order_id = single_order_id(orders->orders[0], nonce, account, scratch);
    } else if (n >= 2 && ids.batch) {
      std::vector<std::string> found = batch_order_ids(orders->orders, nonce, account, scratch);
      if (!found.empty()) body.order_ids = std::move(found);
    }
  }
  if (orders != nullptr && orders_json != nullptr) {
    if (Status built = orders_json->build(orders->orders, flavour); !built) return std::move(built).error();
    return body;
  }
  Result<JsonList> json = action_to_json(action, flavour);
  if (!json) return std::move(json).error();
  body.actions = std::move(json).value();
  return body;
}

Result<PreparedMessage> prepare_action(const Action& action, SignatureDomain domain, const Pubkey& account,
                                       const std::optional<Pubkey>& signer, std::optional<uint64_t> nonce) {
  const uint64_t n = nonce ? *nonce : next_timestamp();
  return prepare_resolved(action, domain, account, signer, n, OrderIdSwitches{});
}

Status prepare_all_streamed(std::vector<OrderItem> items, SignatureDomain domain, const Pubkey& account,
                            const std::optional<Pubkey>& signer, std::optional<uint64_t> base_nonce,
                            RenderedSink& sink) {
  if (items.empty()) return {};  // and no nonce drawn
  const uint64_t base = base_nonce ? *base_nonce : next_timestamp();
  if (Status s = check_batch_nonce_range(base, items.size()); !s) return s;
  const Pubkey resolved_signer = signer ? *signer : account;
  if (!sink.begin(account.to_base58(), resolved_signer.to_base58())) return {};
  return render_groups_streamed(
      items.size(),
      [&](size_t b, size_t n, Tape& tape) -> Status {
        // Reused by the group's items. An item is prepared as a one-item
        // orders transaction: its identifier is the item's with sequence
        // number 0, exactly what the shared path computes for a single item.
        std::vector<uint8_t> message, scratch;
        message.reserve(kMessageCapacity);
        scratch.reserve(kIdScratchCapacity);
        ItemJson json;
        for (size_t i = b; i < b + n; ++i) {
          Result<TransactionBody> body =
              encode_transaction(one_item_orders(std::move(items[i])), domain, base + i, account,
                                 OrderIdSwitches{.single = true, .batch = false}, JsonFlavour::Prepare, message,
                                 scratch, &json);
          if (!body) return std::move(body).error();
          render_prepared(message, body->order_id, json, base + i, tape);
        }
        return {};
      },
      sink);
}

Result<SignedTransaction> finalize_with_message(PreparedMessage prepared, std::string_view signature,
                                                const std::vector<uint8_t>* signed_bytes) {
  if (code_points(signature) > kMaxSignatureText) {
    return Error::signing_failed("signature must encode exactly 64 bytes");
  }
  if (prepared.actions.empty()) return Error::empty_orders();
  Signature sig;
  Result<size_t> decoded = base58::decode_into(signature, sig.data(), sig.size());
  if (!decoded) {
    if (decoded.error().kind() == ErrorKind::InvalidBase58) return Error::signing_failed("signature must be base58");
    return std::move(decoded).error();
  }
  if (*decoded != 64) return Error::invalid_signature_length(*decoded);

  Result<Pubkey> account = Pubkey::from_base58(prepared.account);
  if (!account) return std::move(account).error();
  Result<Pubkey> signer = prepared.signer == prepared.account ? account : Pubkey::from_base58(prepared.signer);
  if (!signer) return std::move(signer).error();

  const std::vector<uint8_t>& message = prepared.message_bytes;
  if (message.size() < kSigningSuffixLen) {
    return Error::signing_failed("prepared message is missing its signing suffix");
  }
  const uint8_t* suffix = message.data() + message.size() - kSigningSuffixLen;
  const uint8_t domain_byte = message.back();
  if (read_u64_le(suffix) != prepared.nonce || !std::equal(account->bytes.begin(), account->bytes.end(), suffix + 8) ||
      domain_byte < 1 || domain_byte > 3) {
    return Error::signing_failed("prepared account, nonce, or network domain does not match message bytes");
  }

  const std::vector<uint8_t>& verified = signed_bytes != nullptr ? *signed_bytes : message;
  if (!verify_signature(sig, verified.data(), verified.size(), *signer)) {
    return Error::signing_failed("signature does not verify for the prepared signer and message");
  }

  SignedTransaction tx;
  tx.actions = std::move(prepared.actions);
  tx.account = std::move(prepared.account);
  tx.signer = std::move(prepared.signer);
  tx.signature = std::string(signature);
  tx.order_id = std::move(prepared.order_id);
  tx.order_ids = std::move(prepared.order_ids);
  tx.nonce = prepared.nonce;
  return tx;
}

}  // namespace fyrn
