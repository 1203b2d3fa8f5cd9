// A rendered JSON list reads back as the values it was written from, every
// kind of value and any nesting.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "fyrn/tape.hpp"

namespace fyrn {
namespace {

// read_value rebuilds one JSON value from a tape, as the reader of batch
// results walks it.
Json read_value(TapeReader& in) {
  switch (in.op()) {
    case TapeOp::Null:
      return nullptr;
    case TapeOp::False:
      return false;
    case TapeOp::True:
      return true;
    case TapeOp::Unsigned:
      return in.u64();
    case TapeOp::Signed:
      return in.i64();
    case TapeOp::Float:
      return in.f64();
    case TapeOp::Text:
      return std::string(in.text());
    case TapeOp::Binary: {
      const std::string_view b = in.text();
      return Json::binary(std::vector<uint8_t>(b.begin(), b.end()));
    }
    case TapeOp::List: {
      Json list = Json::array();
      for (size_t n = in.count(); n > 0; --n) list.push_back(read_value(in));
      return list;
    }
    case TapeOp::Object: {
      Json object = Json::object();
      for (size_t n = in.count(); n > 0; --n) {
        const TapeKey key = in.key();
        object[key.index == kNoJsonKey ? std::string(key.text) : std::string(kJsonKeys[key.index])] = read_value(in);
      }
      return object;
    }
  }
  ADD_FAILURE() << "unknown tag";
  return nullptr;
}

TEST(Tape, JsonReadsBackAsWritten) {
  JsonList values = {
      Json::parse(R"({"l": {"b": true, "c": "BTC-USD", "i": false, "px": 50000.5, "sz": 0.25, "tif": "GTC"}})"),
      Json::parse(R"([[], {}, [[1, [2, {"k": [null]}]]], "", {"a": {"b": {"c": {}}}}, {"BTC-USD": 1, "": 2, "px": 3}])"),
      Json(UINT64_MAX), Json(INT64_MIN), Json(-0.0), Json(nullptr), Json::binary({0, 255, 7}),
      Json(std::string("\0x\xff", 3)),
  };
  Tape tape;
  tape.json(values);
  tape.u64(42);  // what follows the list is read where it was written
  TapeReader in(tape);
  const Json back = read_value(in);
  ASSERT_EQ(back.size(), values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(back[i], values[i]) << i;
    EXPECT_EQ(back[i].type(), values[i].type()) << i;
  }
  EXPECT_TRUE(std::signbit(back[4].get<double>()));
  EXPECT_EQ(in.u64(), 42u);
  release_json(values);
}

}  // namespace
}  // namespace fyrn
