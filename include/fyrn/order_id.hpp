// fyrn/order_id.hpp: order identifiers, SHA-256 over (sequence number, the
// order's canonical encoding, account, nonce).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fyrn/keys.hpp"
#include "fyrn/model.hpp"

namespace fyrn {

// compute_order_item_id_with_seqno returns the identifier of a limit or market
// Order, or nullopt for every other item (never fails). `scratch` is cleared
// and reused for the order encoding (create it with capacity 96).
std::optional<Hash> compute_order_item_id_with_seqno(const OrderItem& item, uint32_t seqno, uint64_t nonce,
                                                     const Pubkey& account, std::vector<uint8_t>& scratch);

// single_order_id is the identifier attached to a one-item orders transaction:
// base58 of item 0's identifier with sequence number 0, if it has one.
std::optional<std::string> single_order_id(const OrderItem& item, uint64_t nonce, const Pubkey& account,
                                           std::vector<uint8_t>& scratch);

// batch_order_ids lists the base58 identifiers of a multi-item transaction in
// item order; items without one are skipped but still count for the sequence
// numbers.
std::vector<std::string> batch_order_ids(const std::vector<OrderItem>& items, uint64_t nonce,
                                         const Pubkey& account, std::vector<uint8_t>& scratch);

}  // namespace fyrn
