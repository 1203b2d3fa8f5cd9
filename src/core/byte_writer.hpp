// byte_writer.hpp (core-internal): little-endian appends to a byte vector, the
// primitives of the wire encoding.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace fyrn::detail {

class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}

  void u8(uint8_t v) { out_.push_back(v); }
  void boolean(bool v) { out_.push_back(v ? 1 : 0); }
  void u16(uint16_t v) { le(v, 2); }
  void u32(uint32_t v) { le(v, 4); }
  void u64(uint64_t v) { le(v, 8); }
  void f64(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    le(bits, 8);
  }
  void bytes(const uint8_t* data, size_t len) { append(data, len); }
  // str writes the u64 byte length, then the bytes.
  void str(std::string_view s) {
    u64(s.size());
    bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  }

 private:
  void le(uint64_t v, size_t n) {
    uint8_t b[8];
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
    append(b, n);
  }
  // append grows by resize + memcpy: measurably cheaper than a range insert
  // for the short fields of a message.
  void append(const uint8_t* data, size_t n) {
    if (n == 0) return;
    const size_t at = out_.size();
    out_.resize(at + n);
    std::memcpy(out_.data() + at, data, n);
  }

  std::vector<uint8_t>& out_;
};

}  // namespace fyrn::detail
