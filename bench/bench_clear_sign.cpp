// bench_clear_sign: the offchain wallet mode's own work for a three-order
// bracket (limit entry, stop, take-profit): clear-sign text plus envelope, as
// a fraction of one Ed25519 signature (libsodium) over as many bytes as the
// envelope.
#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "fyrn/clear_sign.hpp"
#include "fyrn/json.hpp"
#include "fyrn/wallet.hpp"
#include "fyrn/wire.hpp"
#include "native_bench.hpp"

using bench::best_ns;

int main() {
  if (sodium_init() < 0) return 1;
  using namespace fyrn;

  uint8_t sk[crypto_sign_SECRETKEYBYTES];
  const Pubkey account = bench::seeded_account(sk);

  // The bracket as the preparation builds it: real message bytes and the
  // preparation-flavour JSON.
  item::Order entry;
  entry.symbol = "BTC-USD";
  entry.is_buy = true;
  entry.price = 65000.0;
  entry.size = 0.1;
  item::Stop stop;
  stop.symbol = "BTC-USD";
  stop.size = 0.1;
  stop.trigger_price = 63000.0;
  stop.slippage = 0.01;
  item::TakeProfit take;
  take.symbol = "BTC-USD";
  take.is_buy = true;
  take.size = 0.1;
  take.trigger_price = 69500.0;
  take.limit_price = 69450.5;
  const Action action(action::Orders{{OrderItem(entry), OrderItem(stop), OrderItem(take)}});

  PreparedMessage prepared;
  prepared.nonce = 1700000000000000000ULL;
  if (!serialize_for_sdk_signing(action, SignatureDomain::Mainnet, prepared.nonce, account, prepared.message_bytes).ok()) {
    return 1;
  }
  auto actions = action_to_json(action, JsonFlavour::Prepare);
  if (!actions) return 1;
  prepared.actions = std::move(*actions);
  prepared.account = account.to_base58();
  prepared.signer = prepared.account;

  size_t sink = 0;
  std::vector<uint8_t> envelope;
  auto text_and_envelope = [&] {
    auto text = build_clear_sign_text(prepared, SignatureDomain::Mainnet);
    auto m = offchain_message(*text, SignatureDomain::Mainnet, account);
    sink += m->size();
    envelope = std::move(*m);
  };
  auto text_only = [&] {
    auto text = build_clear_sign_text(prepared, SignatureDomain::Mainnet);
    sink += text->size();
  };
  auto full_mode = [&] {  // includes the record checks (two base58 key decodes)
    auto w = prepare_wallet_message(prepared, SignatureMode::Offchain);
    sink += w->message.size();
  };
  text_and_envelope();
  uint8_t sig[crypto_sign_BYTES];
  auto sign = [&] {
    crypto_sign_detached(sig, nullptr, envelope.data(), envelope.size(), sk);
    sink += sig[0];
  };

  uint8_t digest[crypto_hash_sha256_BYTES];
  auto hash_only = [&] {
    crypto_hash_sha256(digest, prepared.message_bytes.data(), prepared.message_bytes.size());
    sink += digest[0];
  };

  best_ns(5, 5000, text_and_envelope);  // warm-up: caches, clock frequency
  const double t_hash = best_ns(30, 5000, hash_only);
  const double t_text = best_ns(30, 5000, text_only);
  const double t_both = best_ns(30, 5000, text_and_envelope);
  const double t_full = best_ns(30, 3000, full_mode);
  const double t_sign = best_ns(30, 300, sign);

  std::printf("bracket: message %zu bytes, clear-sign envelope %zu bytes\n", prepared.message_bytes.size(),
              envelope.size());
  std::printf("sha256 of message         %9.1f ns (part of the text: its Signable-Hash)\n", t_hash);
  std::printf("clear-sign text           %9.1f ns\n", t_text);
  std::printf("text + envelope           %9.1f ns\n", t_both);
  std::printf("prepare_wallet_message    %9.1f ns (offchain, with record checks and a record copy)\n", t_full);
  std::printf("ed25519 sign of envelope  %9.1f ns (libsodium crypto_sign_detached)\n", t_sign);
  std::printf("text+envelope / sign = %.3f (target <= 0.3)\n", t_both / t_sign);
  return sink == 0 ? 2 : 0;
}
