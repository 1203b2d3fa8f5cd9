// fyrn/tape.hpp: batch results rendered where they are made.
//
// A batch worker that has signed or prepared a group of items renders the
// results into a Tape: one contiguous buffer holding every text of the result already
// rendered (base58, base64, hex) and the shape and scalars of its JSON. The
// thread that turns results into the caller's objects then reads one buffer
// front to back, instead of rendering texts itself and chasing the record's
// many small allocations, made and to be freed on another core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "fyrn/json.hpp"
#include "fyrn/prepare.hpp"

namespace fyrn {

// TapeOp tags one JSON value on a tape (the kinds an order's JSON has). List
// and Object are followed by their element count (8 bytes), an Object's
// members by key then value; Unsigned and Float by 8 bytes, Text by a text. A
// key is one byte, its position in kJsonKeys (fyrn/json.hpp), or kTapeKeyText
// and its text.
enum class TapeOp : uint8_t { Null, False, True, Unsigned, Float, Text, List, Object };
inline constexpr uint8_t kTapeKeyText = 0xFF;
static_assert(std::size(kJsonKeys) < kTapeKeyText, "a key's position fits one byte");

// TapeKey is an object key read from a tape: its position in kJsonKeys, or
// kNoJsonKey and its text.
struct TapeKey {
  size_t index;
  std::string_view text;
};

// Tape is a write-once buffer of fields, read back in the order written.
class Tape {
 public:
  void u64(uint64_t v) { raw(&v, sizeof v); }
  void flag(bool v) { op(v ? TapeOp::True : TapeOp::False); }
  // text writes the length (8 bytes) and the bytes.
  void text(std::string_view s) {
    u64(s.size());
    raw(s.data(), s.size());
  }
  // text_of writes a text of n bytes that fill(p) writes at p.
  template <typename Fill>
  void text_of(size_t n, Fill&& fill) {
    u64(n);
    const size_t at = buf_.size();
    buf_.resize(at + n);
    fill(buf_.data() + at);
  }
  // key writes an object key (see TapeOp).
  void key(std::string_view name) {
    const size_t index = json_key_index(name);
    if (index != kNoJsonKey) {
      buf_.push_back(static_cast<char>(index));
      return;
    }
    buf_.push_back(static_cast<char>(kTapeKeyText));
    text(name);
  }
  // The JSON values, tagged as TapeOp describes (flag writes a boolean).
  void null_value() { op(TapeOp::Null); }
  void unsigned_value(uint64_t v) {
    op(TapeOp::Unsigned);
    u64(v);
  }
  void float_value(double v) {
    op(TapeOp::Float);
    raw(&v, sizeof v);
  }
  void text_value(std::string_view s) {
    op(TapeOp::Text);
    text(s);
  }
  // list and object start a container of n elements or members.
  void list(size_t n) {
    op(TapeOp::List);
    u64(n);
  }
  void object(size_t n) {
    op(TapeOp::Object);
    u64(n);
  }
  void reserve(size_t n) { buf_.reserve(n); }
  const std::string& data() const { return buf_; }

 private:
  friend class TapeReader;
  void op(TapeOp o) { buf_.push_back(static_cast<char>(o)); }
  void raw(const void* p, size_t n) { buf_.append(static_cast<const char*>(p), n); }

  std::string buf_;
};

// ItemJson is the JSON of an orders action's items, what action_to_json
// (fyrn/json.hpp) makes of them, made for a tape: the same values from the
// same code, kept in flat buffers (texts copied) that build reuses from one
// action to the next instead of the Json values' allocations per member.
class ItemJson {
 public:
  // build makes the JSON of `items`; it fails where action_to_json fails.
  Status build(const std::vector<OrderItem>& items, JsonFlavour flavour);
  // write_actions writes action_to_json's list for the items built last as a
  // List (members in ascending byte order of their keys, as Json objects keep
  // them).
  void write_actions(Tape& out) const;

  // The builder the item JSON is written against (see json.cpp): values are
  // node numbers, and a value is set or pushed once.
  using Value = uint32_t;
  struct Guard {
    explicit Guard(Value) noexcept {}
  };
  Value object() { return add(TapeOp::Object); }
  Value array() { return add(TapeOp::List); }
  Value text(std::string_view s) {
    const Value v = add(TapeOp::Text);
    nodes_[v].bits = texts_.size();
    nodes_[v].count = static_cast<uint32_t>(s.size());
    texts_.append(s);
    return v;
  }
  Value owned(const std::string& s) { return text(s); }
  Value flag(bool v) { return add(v ? TapeOp::True : TapeOp::False); }
  Value null() { return add(TapeOp::Null); }
  Value num(double v);
  Value num_u(uint64_t v) {
    const Value n = add(TapeOp::Unsigned);
    nodes_[n].bits = v;
    return n;
  }
  void set(Value object, const char* key, Value value);
  void push(Value array, Value value) { append(array, value); }
  Value tagged(const char* outer, Value inner) {
    const Value o = object();
    set(o, outer, inner);
    return o;
  }

 private:
  static constexpr Value kNone = UINT32_MAX;
  struct Node {
    TapeOp kind;
    std::string_view key;  // as an object member
    uint64_t bits = 0;     // an Unsigned, a Float's double, a Text's offset in texts_
    Value first = kNone, last = kNone, next = kNone;  // children, in order (no `last` for an object)
    uint32_t count = 0;                               // of children, or a Text's length
  };
  Value add(TapeOp kind) {
    nodes_.push_back(Node{kind, {}});
    return static_cast<Value>(nodes_.size() - 1);
  }
  void append(Value parent, Value child) {
    Node& p = nodes_[parent];
    (p.last == kNone ? p.first : nodes_[p.last].next) = child;
    p.last = child;
    ++p.count;
  }
  void write(Value v, Tape& out) const;

  std::vector<Node> nodes_;
  std::string texts_;
  std::vector<Value> roots_;  // one per item
};

// TapeReader reads a tape's fields in the order they were written. Reading
// past the end, or a field of another kind, is a fault of the code that wrote
// the tape: the reader does not check.
class TapeReader {
 public:
  explicit TapeReader(const Tape& tape) : at_(tape.buf_.data()) {}

  uint64_t u64() { return fixed<uint64_t>(); }
  double f64() { return fixed<double>(); }
  size_t count() { return fixed<uint64_t>(); }
  bool flag() { return op() == TapeOp::True; }
  TapeOp op() { return static_cast<TapeOp>(*at_++); }
  TapeKey key() {
    const uint8_t index = static_cast<uint8_t>(*at_++);
    if (index != kTapeKeyText) return TapeKey{index, {}};
    return TapeKey{kNoJsonKey, text()};
  }
  std::string_view text() {
    const size_t n = count();
    const std::string_view s(at_, n);
    at_ += n;
    return s;
  }

 private:
  template <typename T>
  T fixed() {
    T v;
    std::memcpy(&v, at_, sizeof v);
    at_ += sizeof v;
    return v;
  }
  const char* at_;
};

// The fields of a rendered result, in order. Neither carries the account or
// the signer: every result of a batch shares them (see RenderedSink).
//
// render_prepared: the message bytes, their base58, base64 and hex texts, a
// flag and the text of order_id, a flag and the texts (count first) of
// order_ids, the actions, the nonce. A prepared orders transaction: its
// message, order_id (never order_ids) and the JSON of its items.
void render_prepared(const std::vector<uint8_t>& message, const std::optional<std::string>& order_id,
                     const ItemJson& actions, uint64_t nonce, Tape& out);
// render_signed: the actions, the nonce, the signature text, then order_id and
// order_ids as render_prepared writes them. A signed orders transaction, whose
// actions are the JSON of its items.
void render_signed(const SignedTransaction& tx, const ItemJson& actions, Tape& out);

// RenderedSink takes over the rendered results of a streamed batch on the
// calling thread: begin once, with the account and signer texts every result
// of the batch shares, then take(i, in) per item in index order, `in` being
// at the start of result i (several results share one tape), which take
// reads whole. Returning false from either stops the batch.
class RenderedSink {
 public:
  virtual bool begin(std::string_view account, std::string_view signer) = 0;
  virtual bool take(size_t i, TapeReader& in) = 0;

 protected:
  ~RenderedSink() = default;
};

}  // namespace fyrn
