// libFuzzer: random model actions through lowering, serialisation, JSON
// conversion, preparation, clear-sign text, wallet messages and finalisation.
// Invariants: a serialised message ends in its nonce, account and network
// byte, and a failed serialisation leaves the buffer untouched; a prepared
// message carries the serialised bytes, reads back its own network and
// finalises with a genuine signature that verifies; every wallet mode that
// builds validates against itself.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fyrn/base58.hpp"
#include "fyrn/clear_sign.hpp"
#include "fyrn/json.hpp"
#include "fyrn/prepare.hpp"
#include "fyrn/wallet.hpp"
#include "fyrn/wire.hpp"
#include "gen.hpp"

using namespace fyrn;

namespace {

const Keypair& signing_key() {
  static const Keypair kp = [] {
    uint8_t seed[32];
    for (int i = 0; i < 32; ++i) seed[i] = static_cast<uint8_t>(i + 1);
    return *Keypair::from_bytes(seed, 32);
  }();
  return kp;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider p(data, size);
  fuzz_gen::Gen g{p};
  const Action action = g.action();
  const SignatureDomain domain = g.domain();
  const uint64_t nonce = p.ConsumeIntegral<uint64_t>();
  const Pubkey account = p.ConsumeBool() ? signing_key().pubkey() : g.key<Pubkey>();

  const uint8_t level = message_level(action);
  auto lowered = action_to_tx_actions(action, level);
  if (lowered.ok()) {
    std::vector<uint8_t> out;
    for (const TxAction& tx : *lowered) write_tx_action(out, tx);
  }

  std::vector<uint8_t> buffer{0xEE, 0xEE, 0xEE};
  const Status st = serialize_for_sdk_signing(action, domain, nonce, account, buffer);
  if (st.ok()) {
    FYRN_FUZZ_CHECK(buffer.size() >= kMessageSuffixLen);
    const uint8_t* suffix = buffer.data() + buffer.size() - kMessageSuffixLen;
    uint64_t n = 0;
    for (int i = 7; i >= 0; --i) n = (n << 8) | suffix[i];
    FYRN_FUZZ_CHECK(n == nonce);
    FYRN_FUZZ_CHECK(std::memcmp(suffix + 8, account.data(), 32) == 0);
    FYRN_FUZZ_CHECK(suffix[40] == signature_domain_byte(domain));
  } else {
    FYRN_FUZZ_CHECK(buffer == (std::vector<uint8_t>{0xEE, 0xEE, 0xEE}));
  }
  (void)action_to_json(action, JsonFlavour::Signer);
  (void)action_to_json(action, JsonFlavour::Prepare);

  const Pubkey signer = signing_key().pubkey();
  auto prepared = prepare_action(action, domain, account, signer, nonce);
  if (!prepared.ok()) return 0;
  FYRN_FUZZ_CHECK(st.ok() && prepared->message_bytes == buffer);
  auto d = prepared_domain(*prepared);
  FYRN_FUZZ_CHECK(d.ok() == !prepared->actions.empty());
  if (!d.ok()) return 0;
  FYRN_FUZZ_CHECK(*d == domain);
  (void)build_clear_sign_text(*prepared, domain);

  for (SignatureMode mode : {SignatureMode::Raw, SignatureMode::Base58, SignatureMode::Offchain}) {
    auto wallet = prepare_wallet_message(*prepared, mode);
    if (!wallet.ok()) {
      FYRN_FUZZ_CHECK(mode == SignatureMode::Offchain);  // only the clear-sign text may refuse
      continue;
    }
    auto again = validate_wallet_message(*wallet);
    FYRN_FUZZ_CHECK(again.ok() && again->message == wallet->message);
    Signature sig;
    signing_key().sign(sig, wallet->message.data(), wallet->message.size());
    auto tx = finalize_with_message(wallet->prepared, base58::encode_64(sig.data()), &wallet->message);
    FYRN_FUZZ_CHECK(tx.ok() && tx->nonce == nonce && tx->account == account.to_base58());
    if (mode == SignatureMode::Raw) FYRN_FUZZ_CHECK(wallet->message == prepared->message_bytes);
  }
  return 0;
}
