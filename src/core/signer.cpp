#include "fyrn/signer.hpp"

#include <utility>
#include <variant>

#include "fyrn/base58.hpp"
#include "fyrn/prepare.hpp"

namespace fyrn {

Signer::Signer(const Keypair& keypair, SignatureDomain domain)
    : Signer(keypair, domain, NonceStrategy::Timestamp) {}

Signer::Signer(const Keypair& keypair, SignatureDomain domain, NonceStrategy strategy)
    : nonces_(strategy), keypair_(keypair), pubkey_base58_(keypair.pubkey().to_base58()), domain_(domain) {
  message_.reserve(kMessageCapacity);
  id_scratch_.reserve(kIdScratchCapacity);
}

Result<SignedTransaction> Signer::sign_with(const Action& action, uint64_t nonce, const Pubkey& account,
                                            std::vector<uint8_t>& message, std::vector<uint8_t>& scratch) const {
  const OrderIdSwitches ids{.single = compute_order_id_, .batch = compute_batch_order_ids_};
  Result<TransactionBody> body =
      encode_transaction(action, domain_, nonce, account, ids, JsonFlavour::Signer, message, scratch);
  if (!body) return std::move(body).error();

  Signature sig;
  keypair_.sign(sig, message.data(), message.size());

  SignedTransaction tx;
  tx.actions = std::move(body->actions);
  tx.account = account == keypair_.pubkey() ? pubkey_base58_ : account.to_base58();
  tx.signer = pubkey_base58_;
  tx.signature = base58::encode_64(sig.data());
  tx.order_id = std::move(body->order_id);
  tx.order_ids = std::move(body->order_ids);
  tx.nonce = nonce;
  return tx;
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

std::string Signer::sign_bytes(const uint8_t* msg, size_t msg_len) const {
  Signature sig;
  keypair_.sign(sig, msg, msg_len);
  return base58::encode_64(sig.data());
}

}  // namespace fyrn
