// Model records built from fuzzer bytes: every action kind, order items with
// random nesting, doubles that include NaN, infinities and negative zero,
// strings with NUL and bytes that are not UTF-8.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fyrn/keys.hpp"
#include "fyrn/model.hpp"

#define FYRN_FUZZ_CHECK(cond)            \
  do {                                   \
    if (!(cond)) __builtin_trap();       \
  } while (0)

namespace fuzz_gen {

using namespace fyrn;

struct Gen {
  FuzzedDataProvider& p;

  double num() {
    switch (p.ConsumeIntegralInRange<int>(0, 9)) {
      case 0: return std::numeric_limits<double>::quiet_NaN();
      case 1: return std::numeric_limits<double>::infinity();
      case 2: return -0.0;
      case 3: return -p.ConsumeFloatingPoint<double>();
      case 4: return 1.8446744073709552e19;  // 2^64: saturation edge after scaling
      case 5: return p.ConsumeFloatingPointInRange<double>(0.0, 1e12);
      case 6: return std::numeric_limits<double>::denorm_min();
      case 7: return static_cast<double>(p.ConsumeIntegral<uint32_t>()) / 1e8;
      default: return p.ConsumeFloatingPoint<double>();
    }
  }
  std::optional<double> opt_num() {
    if (p.ConsumeBool()) return std::nullopt;
    return num();
  }
  std::string str() { return p.ConsumeRandomLengthString(40); }
  bool flag() { return p.ConsumeBool(); }
  template <typename K>
  K key() {
    K k;
    auto bytes = p.ConsumeBytes<uint8_t>(32);
    for (size_t i = 0; i < bytes.size(); ++i) k.bytes[i] = bytes[i];
    return k;
  }
  std::optional<Commission> commission() {
    if (p.ConsumeBool()) return std::nullopt;
    auto c = Commission::make(key<Pubkey>(), p.ConsumeIntegralInRange<uint8_t>(0, 20));
    if (!c.ok()) return std::nullopt;
    return *c;
  }
  template <typename T>
  void conditional(T& c) {
    c.symbol = str();
    c.is_buy = flag();
    c.size = num();
    c.trigger_price = num();
    c.limit_price = p.ConsumeBool() ? NAN : num();
    c.iso = flag();
    c.builder_code = commission();
    c.slippage = opt_num();
  }

  OrderItem item(int depth) {
    const int max_kind = depth < 6 ? 9 : 6;
    switch (p.ConsumeIntegralInRange<int>(0, max_kind)) {
      case 0: {
        item::Order o;
        o.symbol = str();
        o.is_buy = flag();
        o.price = num();
        o.size = num();
        o.reduce_only = flag();
        o.iso = flag();
        if (p.ConsumeBool()) o.order_type = LimitType{static_cast<Tif>(p.ConsumeIntegralInRange<int>(0, 2))};
        else o.order_type = TriggerType{flag(), num()};
        if (p.ConsumeBool()) o.client_id = key<Hash>();
        o.builder_code = commission();
        o.slippage = opt_num();
        return o;
      }
      case 1: return item::Modify{str(), key<Hash>(), num()};
      case 2: return item::Cancel{str(), key<Hash>()};
      case 3: {
        item::CancelAll c;
        for (int n = p.ConsumeIntegralInRange<int>(0, 4); n > 0; --n) c.symbols.push_back(str());
        return c;
      }
      case 4: {
        item::Stop s;
        conditional(s);
        return s;
      }
      case 5: {
        item::TakeProfit t;
        conditional(t);
        return t;
      }
      case 6: {
        item::Range r;
        r.symbol = str();
        r.is_buy = flag();
        r.size = num();
        r.pmin = num();
        r.pmax = num();
        r.lmin = p.ConsumeBool() ? NAN : num();
        r.lmax = p.ConsumeBool() ? NAN : num();
        r.iso = flag();
        r.builder_code = commission();
        r.sl_slippage = opt_num();
        r.tp_slippage = opt_num();
        return r;
      }
      case 7: {
        item::TriggerBasket b;
        b.symbol = str();
        b.is_buy = flag();
        b.trigger_price = num();
        for (int n = p.ConsumeIntegralInRange<int>(0, 3); n > 0; --n) b.actions.push_back(item(depth + 1));
        return b;
      }
      case 8: {
        item::OnFill f;
        f.trigger = Box<OrderItem>(item(depth + 1));
        for (int n = p.ConsumeIntegralInRange<int>(0, 3); n > 0; --n) f.actions.push_back(item(depth + 1));
        return f;
      }
      default: {
        item::TrailingStop t;
        t.symbol = str();
        t.is_buy = flag();
        t.size = num();
        t.trail_bps = p.ConsumeIntegral<uint32_t>();
        t.step_bps = p.ConsumeIntegral<uint32_t>();
        t.limit_price = opt_num();
        t.iso = flag();
        t.builder_code = commission();
        t.slippage = opt_num();
        return t;
      }
    }
  }

  std::vector<Pubkey> keys() {
    std::vector<Pubkey> out;
    for (int n = p.ConsumeIntegralInRange<int>(0, 4); n > 0; --n) out.push_back(key<Pubkey>());
    return out;
  }

  Action action(int depth = 0) {
    switch (p.ConsumeIntegralInRange<int>(0, depth < 2 ? 22 : 21)) {
      case 0: {
        action::Orders o;
        for (int n = p.ConsumeIntegralInRange<int>(0, 5); n > 0; --n) o.orders.push_back(item(0));
        return o;
      }
      case 1: {
        action::OraclePrices o;
        for (int n = p.ConsumeIntegralInRange<int>(0, 4); n > 0; --n)
          o.prices.push_back({p.ConsumeIntegral<uint64_t>(), str(), num()});
        return o;
      }
      case 2: {
        action::PythOracle o;
        for (int n = p.ConsumeIntegralInRange<int>(0, 4); n > 0; --n)
          o.updates.push_back({p.ConsumeIntegral<uint64_t>(), p.ConsumeIntegral<uint64_t>(),
                               p.ConsumeIntegral<uint64_t>(), p.ConsumeIntegral<int16_t>()});
        return o;
      }
      case 3: return action::Faucet{key<Pubkey>(), opt_num()};
      case 4: {
        action::UpdateUserSettings u;
        for (int n = p.ConsumeIntegralInRange<int>(0, 5); n > 0; --n) u.max_leverage.emplace_back(str(), num());
        return u;
      }
      case 5: return action::AgentWalletCreation{key<Pubkey>(), flag()};
      case 6: return action::WhitelistFaucet{key<Pubkey>(), flag()};
      case 7: return action::CreateSubAccount{str(), opt_num()};
      case 8: return action::RemoveSubAccount{key<Pubkey>()};
      case 9: return action::RenameSubAccount{key<Pubkey>(), str()};
      case 10:
        return action::Transfer{Transfer{key<Pubkey>(), key<Pubkey>(), num(),
                                         flag() ? TransferKind::External : TransferKind::Internal}};
      case 11: return action::LegacyWithdrawal1{};
      case 12: return action::LegacyWithdrawal2{};
      case 13:
        return action::CreateMultisig{keys(), p.ConsumeIntegral<uint32_t>(), p.ConsumeIntegral<uint32_t>(),
                                      p.ConsumeIntegral<uint32_t>()};
      case 14: return action::MultisigApprove{key<Pubkey>(), p.ConsumeIntegral<uint64_t>()};
      case 15: return action::MultisigReject{key<Pubkey>(), p.ConsumeIntegral<uint64_t>()};
      case 16: return action::MultisigCancel{key<Pubkey>(), p.ConsumeIntegral<uint64_t>()};
      case 17: return action::MultisigExecute{key<Pubkey>(), p.ConsumeIntegral<uint64_t>()};
      case 18:
        return action::UpdateMultisigPolicy{key<Pubkey>(), keys(), p.ConsumeIntegral<uint32_t>(),
                                            p.ConsumeIntegral<uint32_t>(), p.ConsumeIntegral<uint32_t>()};
      case 19: {
        auto c = Commission::make(key<Pubkey>(), p.ConsumeIntegralInRange<uint8_t>(1, 15));
        return action::ApproveCommissionFee{*c};
      }
      case 20: return action::RevokeCommissionFee{key<Pubkey>()};
      case 21: {
        action::UpdateLiquidatorConfig l;
        for (int n = p.ConsumeIntegralInRange<int>(0, 4); n > 0; --n) {
          LiquidatorInstrumentConfig i;
          i.symbol = str();
          i.max_exposure = num();
          i.reserve = num();
          i.rfactor = num();
          i.volume_percent = num();
          i.volume_min = num();
          i.volume_rampup = p.ConsumeIntegral<uint64_t>();
          i.max_sweep_bps = num();
          i.max_adl_notional = num();
          i.max_adl_percent = num();
          l.config.instruments.push_back(std::move(i));
        }
        l.config.cross_exposure = num();
        l.config.scoring_skew = num();
        l.config.toxicity = num();
        l.config.urgency_size_fraction = num();
        l.config.sweep_sds = num();
        return l;
      }
      default: {
        action::MultisigPropose m;
        m.multisig = key<Pubkey>();
        for (int n = p.ConsumeIntegralInRange<int>(0, 3); n > 0; --n) m.actions.push_back(action(depth + 1));
        if (p.ConsumeBool()) m.extra = p.ConsumeIntegral<uint32_t>();
        return m;
      }
    }
  }

  SignatureDomain domain() {
    return static_cast<SignatureDomain>(p.ConsumeIntegralInRange<int>(1, 3));
  }
};

}  // namespace fuzz_gen
