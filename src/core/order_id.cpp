#include "fyrn/order_id.hpp"

#include "byte_writer.hpp"
#include "sha256.hpp"
#include "fyrn/base58.hpp"
#include "fyrn/wire.hpp"

namespace fyrn {

namespace {

// write_order_encoding writes the identifier encoding of a limit or market
// order: the level-0 wire payload without any builder-code field, except that
// a market order's slippage is appended as an option when present. Returns
// false for orders that have no identifier.
bool write_order_encoding(std::vector<uint8_t>& out, const item::Order& o) {
  detail::ByteWriter w(out);
  if (const auto* limit = std::get_if<LimitType>(&o.order_type)) {
    w.u32(static_cast<uint32_t>(TxTag::LimitOrder));
    w.str(o.symbol);
    w.boolean(o.is_buy);
    w.u64(to_fixed_point(o.price));
    w.u64(to_fixed_point(o.size));
    w.u32(static_cast<uint32_t>(limit->tif));
    w.boolean(o.reduce_only);
    w.boolean(o.iso);
    return true;
  }
  if (!std::get<TriggerType>(o.order_type).is_market) return false;
  w.u32(static_cast<uint32_t>(TxTag::MarketOrder));
  w.str(o.symbol);
  w.boolean(o.is_buy);
  w.u64(to_fixed_point(o.size));
  w.boolean(o.reduce_only);
  w.boolean(o.iso);
  if (o.slippage) {
    w.u8(1);
    w.u64(to_fixed_point(*o.slippage));
  }
  return true;
}

}  // namespace

std::optional<Hash> compute_order_item_id_with_seqno(const OrderItem& item, uint32_t seqno, uint64_t nonce,
                                                     const Pubkey& account, std::vector<uint8_t>& scratch) {
  const auto* order = std::get_if<item::Order>(&item.v);
  if (order == nullptr) return std::nullopt;
  scratch.clear();
  if (!write_order_encoding(scratch, *order)) return std::nullopt;

  uint8_t seq_le[4];
  for (int i = 0; i < 4; ++i) seq_le[i] = static_cast<uint8_t>(seqno >> (8 * i));
  uint8_t nonce_le[8];
  for (int i = 0; i < 8; ++i) nonce_le[i] = static_cast<uint8_t>(nonce >> (8 * i));

  Sha256 h;
  h.update(seq_le, sizeof seq_le);
  h.update(scratch.data(), scratch.size());
  h.update(account.data(), 32);
  h.update(nonce_le, sizeof nonce_le);
  Hash id;
  h.final(id.bytes.data());
  return id;
}

std::optional<std::string> single_order_id(const OrderItem& item, uint64_t nonce, const Pubkey& account,
                                           std::vector<uint8_t>& scratch) {
  auto id = compute_order_item_id_with_seqno(item, 0, nonce, account, scratch);
  if (!id) return std::nullopt;
  return base58::encode_32(id->data());
}

std::vector<std::string> batch_order_ids(const std::vector<OrderItem>& items, uint64_t nonce,
                                         const Pubkey& account, std::vector<uint8_t>& scratch) {
  std::vector<std::string> ids;
  for (size_t i = 0; i < items.size(); ++i) {
    // Items without an identifier still take their position's number.
    auto id = compute_order_item_id_with_seqno(items[i], static_cast<uint32_t>(i), nonce, account, scratch);
    if (id) ids.push_back(base58::encode_32(id->data()));
  }
  return ids;
}

}  // namespace fyrn
