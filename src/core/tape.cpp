#include "fyrn/tape.hpp"

#include <cmath>
#include <vector>

#include "fyrn/base58.hpp"
#include "fyrn/encoding.hpp"

namespace fyrn {

namespace {

// A result's identifiers: a flag and the text of order_id, a flag and the
// texts of order_ids.
void order_ids(const std::optional<std::string>& one, const std::optional<std::vector<std::string>>& many,
               Tape& out) {
  out.flag(one.has_value());
  if (one) out.text(*one);
  out.flag(many.has_value());
  if (many) {
    out.u64(many->size());
    for (const std::string& id : *many) out.text(id);
  }
}

}  // namespace

void render_prepared(const std::vector<uint8_t>& bytes, const std::optional<std::string>& order_id,
                     const ItemJson& actions, uint64_t nonce, Tape& out) {
  const std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  out.text(raw);
  out.text(base58::encode(bytes.data(), bytes.size()));
  out.text_of(base64_len(bytes.size()), [&](char* p) { base64_encode_to(p, bytes.data(), bytes.size()); });
  out.text_of(2 * bytes.size(), [&](char* p) { hex_encode_to(p, bytes.data(), bytes.size()); });
  order_ids(order_id, std::nullopt, out);
  actions.write_actions(out);
  out.u64(nonce);
}

void render_signed(const SignedTransaction& tx, const ItemJson& actions, Tape& out) {
  actions.write_actions(out);
  out.u64(tx.nonce);
  out.text(tx.signature);
  order_ids(tx.order_id, tx.order_ids, out);
}

ItemJson::Value ItemJson::num(double v) {
  if (!std::isfinite(v)) return null();  // as Json numbers are made (json.cpp)
  const Value n = add(TapeOp::Float);
  std::memcpy(&nodes_[n].bits, &v, sizeof v);
  return n;
}

void ItemJson::set(Value object, const char* key, Value value) {
  // Members are kept in ascending byte order of their keys, as a Json object
  // keeps them.
  Node& member = nodes_[value];
  member.key = key;
  Value* link = &nodes_[object].first;
  while (*link != kNone && nodes_[*link].key < member.key) link = &nodes_[*link].next;
  member.next = *link;
  *link = value;
  ++nodes_[object].count;
}

void ItemJson::write(Value v, Tape& out) const {
  const Node& n = nodes_[v];
  switch (n.kind) {
    case TapeOp::Null: out.null_value(); return;
    case TapeOp::False: out.flag(false); return;
    case TapeOp::True: out.flag(true); return;
    case TapeOp::Unsigned: out.unsigned_value(n.bits); return;
    case TapeOp::Float: {
      double d;
      std::memcpy(&d, &n.bits, sizeof d);
      out.float_value(d);
      return;
    }
    case TapeOp::Text: out.text_value(std::string_view(texts_).substr(n.bits, n.count)); return;
    case TapeOp::List:
      out.list(n.count);
      for (Value c = n.first; c != kNone; c = nodes_[c].next) write(c, out);
      return;
    case TapeOp::Object:
      out.object(n.count);
      for (Value c = n.first; c != kNone; c = nodes_[c].next) {
        out.key(nodes_[c].key);
        write(c, out);
      }
      return;
  }
}

void ItemJson::write_actions(Tape& out) const {
  out.list(roots_.size());
  for (const Value root : roots_) write(root, out);
}

}  // namespace fyrn
