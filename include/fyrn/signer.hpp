// fyrn/signer.hpp: the signer, which turns one action into one signed
// transaction.
//
// A Signer owns a copy of its keypair, its network domain, its nonce manager,
// two order-identifier switches and one reusable message buffer. Signing one
// action encodes the canonical message into that buffer, signs exactly those
// bytes with Ed25519, attaches order identifiers by the switches and converts
// the action to its submission JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fyrn/error.hpp"
#include "fyrn/json.hpp"
#include "fyrn/keys.hpp"
#include "fyrn/model.hpp"
#include "fyrn/nonce.hpp"
#include "fyrn/prepare.hpp"

namespace fyrn {

class Signer {
 public:
  // Signer makes a signer without an explicit nonce strategy (its nonces come
  // from the process clock): compute_order_id on, compute_batch_order_ids off.
  Signer(const Keypair& keypair, SignatureDomain domain);
  // Signer with a nonce manager of the given strategy (counter and
  // high-frequency value start at 0).
  Signer(const Keypair& keypair, SignatureDomain domain, NonceStrategy strategy);

  // A signer holds atomics and a buffer it hands out views of: not copyable.
  Signer(const Signer&) = delete;
  Signer& operator=(const Signer&) = delete;

  // sign_action signs one action for `account` with `nonce`, reusing this
  // signer's message buffer (so it needs exclusive use). A one-item Orders
  // action gets order_id when compute_order_id is on; a multi-item one gets
  // order_ids when compute_batch_order_ids is on and at least one item has an
  // identifier. Fails only where encoding or JSON conversion fails.
  Result<SignedTransaction> sign_action(const Action& action, uint64_t nonce, const Pubkey& account);

  // sign_single_item signs `item` as a one-item Orders transaction for this
  // signer's own account, with buffers of its own: safe on many threads at once.
  // Never yields order_ids.
  Result<SignedTransaction> sign_single_item(OrderItem item, uint64_t nonce) const;

  // sign_single_order_batch signs `items` as one Orders transaction for this
  // signer's own account, with buffers of its own. EmptyOrders for no items.
  Result<SignedTransaction> sign_single_order_batch(std::vector<OrderItem> items, uint64_t nonce) const;

  // sign_single_items signs items[i] (moved from) as sign_single_item does
  // with nonce base_nonce + i, into out[i], for i < n. Groups of up to eight
  // share one ed25519::sign_many call, which costs less per signature. On a
  // failure it returns the lowest-indexed failing item's Error and out is
  // unspecified. Safe on many threads at once. With `json` (n of them, a
  // batch's, see fyrn/tape.hpp), transaction i's JSON goes to json[i] and its
  // actions stay empty.
  Status sign_single_items(OrderItem* items, size_t n, uint64_t base_nonce, SignedTransaction* out,
                           ItemJson* json = nullptr) const;

  // sign_single_order_batches is sign_single_items for sign_single_order_batch:
  // batches[i] (moved from) becomes one transaction with nonce base_nonce + i.
  Status sign_single_order_batches(std::vector<OrderItem>* batches, size_t n, uint64_t base_nonce,
                                   SignedTransaction* out, ItemJson* json = nullptr) const;

  // sign_bytes returns the base58 Ed25519 signature of msg[0..msg_len).
  std::string sign_bytes(const uint8_t* msg, size_t msg_len) const;

  // next_nonce draws the next nonce by this signer's strategy.
  uint64_t next_nonce() const { return nonces_.next_nonce(); }

  // pubkey returns the signing key's public key, the signer's own account.
  const Pubkey& pubkey() const { return keypair_.pubkey(); }
  // pubkey_base58 is the cached text form of pubkey().
  const std::string& pubkey_base58() const { return pubkey_base58_; }
  // keypair returns the signer's own copy of its keypair.
  const Keypair& keypair() const { return keypair_; }
  // domain returns the network every message of this signer is bound to.
  SignatureDomain domain() const { return domain_; }
  // nonce_strategy returns the strategy next_nonce follows.
  NonceStrategy nonce_strategy() const { return nonces_.strategy(); }

  // computes_order_id, computes_batch_order_ids and their setters read and
  // flip the two order-identifier switches. The switches must not change
  // while another thread signs with this signer.
  bool computes_order_id() const { return compute_order_id_; }
  bool computes_batch_order_ids() const { return compute_batch_order_ids_; }
  void set_compute_order_id(bool enabled) { compute_order_id_ = enabled; }
  void set_compute_batch_order_ids(bool enabled) { compute_batch_order_ids_ = enabled; }

  // last_message holds the bytes of the last message sign_action signed.
  const std::vector<uint8_t>& last_message() const { return message_; }

  static constexpr size_t kMessageCapacity = 512;
  static constexpr size_t kIdScratchCapacity = 96;

 private:
  // sign_with encodes, identifies, signs and converts `action` using the
  // given buffers; the shared path of every signing entry point.
  Result<SignedTransaction> sign_with(const Action& action, uint64_t nonce, const Pubkey& account,
                                      std::vector<uint8_t>& message, std::vector<uint8_t>& scratch) const;
  // sign_own_account is sign_with for this signer's own account, with fresh
  // buffers: the thread-safe path of the batch entry points.
  Result<SignedTransaction> sign_own_account(const Action& action, uint64_t nonce) const;
  // sign_own_accounts signs actions[i] with nonce base_nonce + i for this
  // signer's own account into out[i], eight signatures per sign_many call;
  // JSON as sign_single_items says.
  Status sign_own_accounts(const Action* actions, size_t n, uint64_t base_nonce, SignedTransaction* out,
                           ItemJson* json) const;
  // assemble fills a transaction from its encoded body and signature.
  SignedTransaction assemble(TransactionBody&& body, const Pubkey& account, uint64_t nonce,
                             const uint8_t signature[64]) const;

  std::vector<uint8_t> message_;  // reused by sign_action
  std::vector<uint8_t> id_scratch_;
  NonceManager nonces_;
  Keypair keypair_;
  std::string pubkey_base58_;
  bool compute_order_id_ = true;
  bool compute_batch_order_ids_ = false;
  SignatureDomain domain_;
};

}  // namespace fyrn
