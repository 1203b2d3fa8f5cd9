#include "fyrn/signer.hpp"

#include <algorithm>
#include <optional>
#include <utility>
#include <variant>

#include "fyrn/base58.hpp"
#include "fyrn/prepare.hpp"
#include "fyrn/tape.hpp"

namespace fyrn {

Signer::Signer(const Keypair& keypair, SignatureDomain domain)
    : Signer(keypair, domain, NonceStrategy::Timestamp) {}

Signer::Signer(const Keypair& keypair, SignatureDomain domain, NonceStrategy strategy)
    : nonces_(strategy), keypair_(keypair), pubkey_base58_(keypair.pubkey().to_base58()), domain_(domain) {
  message_.reserve(kMessageCapacity);
  id_scratch_.reserve(kIdScratchCapacity);
}

SignedTransaction Signer::assemble(TransactionBody&& body, const Pubkey& account, uint64_t nonce,
                                   const uint8_t signature[64]) const {
  SignedTransaction tx;
  tx.actions = std::move(body.actions);
  tx.account = account == keypair_.pubkey() ? pubkey_base58_ : account.to_base58();
  tx.signer = pubkey_base58_;
  tx.signature = base58::encode_64(signature);
  tx.order_id = std::move(body.order_id);
  tx.order_ids = std::move(body.order_ids);
  tx.nonce = nonce;
  return tx;
}

Result<SignedTransaction> Signer::sign_with(const Action& action, uint64_t nonce, const Pubkey& account,
                                            std::vector<uint8_t>& message, std::vector<uint8_t>& scratch) const {
  const OrderIdSwitches ids{.single = compute_order_id_, .batch = compute_batch_order_ids_};
  Result<TransactionBody> body =
      encode_transaction(action, domain_, nonce, account, ids, JsonFlavour::Signer, message, scratch);
  if (!body) return std::move(body).error();

  Signature sig;
  keypair_.sign(sig, message.data(), message.size());
  return assemble(std::move(body).value(), account, nonce, sig.data());
}

Status Signer::sign_own_accounts(const Action* actions, size_t n, uint64_t base_nonce, SignedTransaction* out,
                                 ItemJson* json) const {
  constexpr size_t kGroup = 8;  // the lanes of the batch signer
  const OrderIdSwitches ids{.single = compute_order_id_, .batch = compute_batch_order_ids_};
  std::vector<uint8_t> messages[kGroup];
  for (auto& m : messages) m.reserve(kMessageCapacity);
  std::vector<uint8_t> scratch;
  scratch.reserve(kIdScratchCapacity);
  for (size_t begin = 0; begin < n; begin += kGroup) {
    const size_t count = std::min(kGroup, n - begin);
    std::optional<TransactionBody> bodies[kGroup];
    ed25519::SignInput in[kGroup];
    for (size_t k = 0; k < count; ++k) {
      Result<TransactionBody> body =
          encode_transaction(actions[begin + k], domain_, base_nonce + begin + k, keypair_.pubkey(), ids,
                             JsonFlavour::Signer, messages[k], scratch, json ? &json[begin + k] : nullptr);
      if (!body) return std::move(body).error();
      bodies[k] = std::move(body).value();
      in[k] = ed25519::SignInput{keypair_.signing_key(), messages[k].data(), messages[k].size()};
    }
    uint8_t sigs[kGroup][64];
    ed25519::sign_many(sigs, in, count);
    for (size_t k = 0; k < count; ++k) {
      out[begin + k] = assemble(std::move(*bodies[k]), keypair_.pubkey(), base_nonce + begin + k, sigs[k]);
    }
  }
  return {};
}

Result<SignedTransaction> Signer::sign_own_account(const Action& action, uint64_t nonce) const {
  std::vector<uint8_t> message;
  message.reserve(kMessageCapacity);
  std::vector<uint8_t> scratch;
  scratch.reserve(kIdScratchCapacity);
  return sign_with(action, nonce, keypair_.pubkey(), message, scratch);
}

Result<SignedTransaction> Signer::sign_action(const Action& action, uint64_t nonce, const Pubkey& account) {
  return sign_with(action, nonce, account, message_, id_scratch_);
}

Result<SignedTransaction> Signer::sign_single_item(OrderItem item, uint64_t nonce) const {
  action::Orders orders;
  orders.orders.reserve(1);
  orders.orders.push_back(std::move(item));
  return sign_own_account(Action(std::move(orders)), nonce);
}

Result<SignedTransaction> Signer::sign_single_order_batch(std::vector<OrderItem> items, uint64_t nonce) const {
  if (items.empty()) return Error::empty_orders();
  return sign_own_account(Action(action::Orders{std::move(items)}), nonce);
}

Status Signer::sign_single_items(OrderItem* items, size_t n, uint64_t base_nonce, SignedTransaction* out,
                                 ItemJson* json) const {
  std::vector<Action> actions;
  actions.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    action::Orders orders;
    orders.orders.reserve(1);
    orders.orders.push_back(std::move(items[i]));
    actions.emplace_back(std::move(orders));
  }
  return sign_own_accounts(actions.data(), n, base_nonce, out, json);
}

Status Signer::sign_single_order_batches(std::vector<OrderItem>* batches, size_t n, uint64_t base_nonce,
                                         SignedTransaction* out, ItemJson* json) const {
  std::vector<Action> actions;
  actions.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    if (batches[i].empty()) {
      // One by one, the lists before it would be signed first, and could fail first.
      Status before = sign_own_accounts(actions.data(), i, base_nonce, out, json);
      if (!before) return before;
      return Error::empty_orders();
    }
    actions.emplace_back(action::Orders{std::move(batches[i])});
  }
  return sign_own_accounts(actions.data(), n, base_nonce, out, json);
}

std::string Signer::sign_bytes(const uint8_t* msg, size_t msg_len) const {
  Signature sig;
  keypair_.sign(sig, msg, msg_len);
  return base58::encode_64(sig.data());
}

}  // namespace fyrn
