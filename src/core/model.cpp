#include "fyrn/model.hpp"

#include <algorithm>

namespace fyrn {

Result<Commission> Commission::make(const Pubkey& to, uint8_t fee) {
  if (fee == 0 || fee > 15) return Error::invalid_order("builder-code fee must be 1..=15 bps");
  Commission c;
  c.to = to;
  c.fee = fee;
  return c;
}

std::vector<const LiquidatorInstrumentConfig*> LiquidatorConfig::sorted_instruments() const {
  std::vector<const LiquidatorInstrumentConfig*> out;
  out.reserve(instruments.size());
  for (const auto& inst : instruments) out.push_back(&inst);
  // std::string compares as unsigned bytes (char_traits<char>::lt), a proper
  // prefix first.
  std::stable_sort(out.begin(), out.end(),
                   [](const auto* a, const auto* b) { return a->symbol < b->symbol; });
  return out;
}

}  // namespace fyrn
