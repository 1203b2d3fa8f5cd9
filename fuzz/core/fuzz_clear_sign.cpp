// libFuzzer: clear-sign rendering of arbitrary JSON (action_line and the
// whole text), and its number helpers against the C library.
// Invariants: rendering never crashes whatever the JSON; a finite value that
// parse_decimal accepts equals strtod's correctly rounded value; fixed8
// output reads back within half a unit of its last place.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fyrn/clear_sign.hpp"
#include "fyrn/json.hpp"
#include "fyrn/prepare.hpp"
#include "gen.hpp"

using namespace fyrn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider p(data, size);
  const unsigned depth = p.ConsumeIntegralInRange<unsigned>(0, 40);
  const std::string literal = p.ConsumeRandomLengthString(64);
  const std::string rest = p.ConsumeRemainingBytesAsString();

  // parse_decimal against strtod, for the literal forms both read.
  if (auto v = clear_sign::parse_decimal(literal); v && std::isfinite(*v)) {
    const std::string z(literal);
    char* end = nullptr;
    const double ref = std::strtod(z.c_str(), &end);
    FYRN_FUZZ_CHECK(end == z.c_str() + z.size());
    FYRN_FUZZ_CHECK(std::memcmp(&ref, &*v, sizeof ref) == 0);
  }
  if (literal.size() >= 8) {
    double x;
    std::memcpy(&x, literal.data(), 8);
    if (std::isfinite(x) && std::fabs(x) < 1e15) {
      const std::string text = clear_sign::fixed8(x);
      auto back = clear_sign::parse_decimal(text);
      FYRN_FUZZ_CHECK(back && std::fabs(*back - x) <= 0.5e-8 * (1 + 1e-9) + std::fabs(x) * 1e-15);
      (void)clear_sign::quantise(x);
    }
  }

  Json json = Json::parse(rest, nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded()) return 0;
  (void)action_line(json, depth);
  PreparedMessage prepared;
  if (json.is_array()) {
    for (auto& a : json) prepared.actions.push_back(a);
  } else {
    prepared.actions.push_back(json);
  }
  prepared.message_bytes.assign(data, data + (size < 64 ? size : 64));
  prepared.account = "11111111111111111111111111111111";
  prepared.nonce = depth;
  (void)build_clear_sign_text(prepared, SignatureDomain::Devnet);
  return 0;
}
