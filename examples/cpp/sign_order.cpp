// sign_order: signs one limit order with a fixed key and nonce and prints the
// signed transaction in its submission JSON form.
//
// Every input is fixed, so the output is the same on every run: Ed25519
// signatures are deterministic.
#include <cstdint>
#include <cstdio>
#include <utility>

#include "fyrn/json.hpp"
#include "fyrn/keys.hpp"
#include "fyrn/model.hpp"
#include "fyrn/signer.hpp"

namespace {

// A well-known test seed (bytes 1..32); never use a fixed key for real funds.
constexpr uint8_t kSeed[32] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                               17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
constexpr uint64_t kNonce = 1700000000000000000;

int fail(const fyrn::Error& error) {
  std::fprintf(stderr, "sign_order: %s\n", error.display().c_str());
  return 1;
}

}  // namespace

int main() {
  auto keypair = fyrn::Keypair::from_bytes(kSeed, sizeof kSeed);
  if (!keypair) return fail(keypair.error());

  fyrn::item::Order order;
  order.symbol = "BTC-USD";
  order.is_buy = true;
  order.price = 65000.0;
  order.size = 0.1;
  order.order_type = fyrn::LimitType{fyrn::Tif::GTC};

  fyrn::Signer signer(*keypair, fyrn::SignatureDomain::Mainnet);
  fyrn::Action action = fyrn::action::Orders{{fyrn::OrderItem(std::move(order))}};
  auto tx = signer.sign_action(action, kNonce, signer.pubkey());
  if (!tx) return fail(tx.error());

  fyrn::Json out = {
      {"actions", tx->actions}, {"nonce", tx->nonce},         {"account", tx->account},
      {"signer", tx->signer},   {"signature", tx->signature},
  };
  if (tx->order_id) out["order_id"] = *tx->order_id;
  if (tx->order_ids) out["order_ids"] = *tx->order_ids;
  std::printf("%s\n", out.dump(2).c_str());
  return 0;
}
