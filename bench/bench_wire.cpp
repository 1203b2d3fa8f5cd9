// bench_wire: encoding a one-order limit message plus its identifier, as a
// fraction of one Ed25519 signature (libsodium) over the same bytes.
#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "fyrn/order_id.hpp"
#include "fyrn/wire.hpp"
#include "native_bench.hpp"

using bench::best_ns;

int main() {
  if (sodium_init() < 0) return 1;
  using namespace fyrn;

  item::Order order;
  order.symbol = "BTC-USD";
  order.is_buy = true;
  order.price = 50000.5;
  order.size = 0.25;
  const Action action(action::Orders{{OrderItem(order)}});
  const OrderItem& item = std::get<action::Orders>(action.v).orders[0];

  uint8_t sk[crypto_sign_SECRETKEYBYTES];
  const Pubkey account = bench::seeded_account(sk);

  std::vector<uint8_t> buffer;
  buffer.reserve(512);
  std::vector<uint8_t> scratch;
  scratch.reserve(96);
  uint64_t nonce = 1700000000000000000ULL;
  size_t sink = 0;

  auto encode = [&] {
    Status s = serialize_for_sdk_signing(action, SignatureDomain::Mainnet, ++nonce, account, buffer);
    sink += s.ok() ? buffer.size() : 0;
  };
  auto identify = [&] {
    auto id = single_order_id(item, nonce, account, scratch);
    sink += id ? id->size() : 0;
  };
  auto raw_id = [&] {
    auto id = compute_order_item_id_with_seqno(item, 0, nonce, account, scratch);
    sink += id ? id->bytes[0] : 0;
  };
  auto encode_and_identify = [&] {
    encode();
    identify();
  };
  uint8_t sig[crypto_sign_BYTES];
  auto sign = [&] {
    crypto_sign_detached(sig, nullptr, buffer.data(), buffer.size(), sk);
    sink += sig[0];
  };

  encode_and_identify();  // warm the buffers
  const double t_encode = best_ns(30, 20000, encode);
  const double t_id = best_ns(30, 20000, identify);
  const double t_raw_id = best_ns(30, 20000, raw_id);
  const double t_both = best_ns(30, 20000, encode_and_identify);
  const double t_sign = best_ns(30, 300, sign);

  const double t_both_raw = best_ns(30, 20000, [&] {
    encode();
    raw_id();
  });

  std::printf("message: %zu bytes (one GTC limit order)\n", buffer.size());
  std::printf("encode             %9.1f ns\n", t_encode);
  std::printf("identifier (sha256) %8.1f ns\n", t_raw_id);
  std::printf("identifier+base58  %9.1f ns\n", t_id);
  std::printf("ed25519 sign       %9.1f ns (libsodium crypto_sign_detached)\n", t_sign);
  // The signer attaches the identifier as base58 text, so that is the figure
  // that counts; the raw-digest line isolates the base58 encoder's share.
  std::printf("encode+id / sign = %.3f (target <= 0.05; identifier as base58 text)\n", t_both / t_sign);
  std::printf("encode+raw id / sign = %.3f (32-byte digest, no base58)\n", t_both_raw / t_sign);
  return sink == 0 ? 2 : 0;
}
