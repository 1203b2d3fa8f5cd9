#include "fyrn/tape.hpp"

#include <vector>

#include "fyrn/base58.hpp"
#include "fyrn/encoding.hpp"

namespace fyrn {

void Tape::scalar(const Json& value) {
  using Kind = Json::value_t;
  switch (value.type()) {
    case Kind::null:
    case Kind::discarded:
      op(TapeOp::Null);
      return;
    case Kind::boolean:
      flag(value.get_ref<const Json::boolean_t&>());
      return;
    case Kind::number_unsigned:
      op(TapeOp::Unsigned);
      u64(value.get_ref<const Json::number_unsigned_t&>());
      return;
    case Kind::number_integer: {
      op(TapeOp::Signed);
      const int64_t v = value.get_ref<const Json::number_integer_t&>();
      raw(&v, sizeof v);
      return;
    }
    case Kind::number_float: {
      op(TapeOp::Float);
      const double v = value.get_ref<const Json::number_float_t&>();
      raw(&v, sizeof v);
      return;
    }
    case Kind::string:
      op(TapeOp::Text);
      text(value.get_ref<const Json::string_t&>());
      return;
    case Kind::binary: {
      const auto& bytes = value.get_ref<const Json::binary_t&>();
      op(TapeOp::Binary);
      text(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
      return;
    }
    case Kind::array:
    case Kind::object:
      break;  // containers are written by json()
  }
}

void Tape::json(const JsonList& values) {
  // One frame per open container: the next element or member to write.
  struct Frame {
    const Json* array;  // null for an object
    size_t index;
    Json::object_t::const_iterator member, end;
  };
  std::vector<Frame> frames;
  auto start = [&](const Json& value) {
    if (value.is_array()) {
      const auto& array = value.get_ref<const Json::array_t&>();
      op(TapeOp::List);
      u64(array.size());
      frames.push_back(Frame{&value, 0, {}, {}});
    } else if (value.is_object()) {
      const auto& object = value.get_ref<const Json::object_t&>();
      op(TapeOp::Object);
      u64(object.size());
      frames.push_back(Frame{nullptr, 0, object.begin(), object.end()});
    } else {
      scalar(value);
    }
  };
  op(TapeOp::List);
  u64(values.size());
  for (const Json& root : values) {
    start(root);
    while (!frames.empty()) {
      Frame& f = frames.back();
      if (f.array != nullptr) {
        const auto& array = f.array->get_ref<const Json::array_t&>();
        if (f.index == array.size()) {
          frames.pop_back();
        } else {
          start(array[f.index++]);  // may grow `frames`: `f` is not used after
        }
      } else if (f.member == f.end) {
        frames.pop_back();
      } else {
        const auto& [name, member] = *f.member++;
        key(name);
        start(member);
      }
    }
  }
}

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

void render_prepared(const std::vector<uint8_t>& bytes, const TransactionBody& body, uint64_t nonce, Tape& out) {
  const std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  out.text(raw);
  out.text(base58::encode(bytes.data(), bytes.size()));
  out.text_of(base64_len(bytes.size()), [&](char* p) { base64_encode_to(p, bytes.data(), bytes.size()); });
  out.text_of(2 * bytes.size(), [&](char* p) { hex_encode_to(p, bytes.data(), bytes.size()); });
  order_ids(body.order_id, body.order_ids, out);
  out.json(body.actions);
  out.u64(nonce);
}

void render_signed(const SignedTransaction& tx, Tape& out) {
  out.json(tx.actions);
  out.u64(tx.nonce);
  out.text(tx.signature);
  order_ids(tx.order_id, tx.order_ids, out);
}

}  // namespace fyrn
