// libFuzzer: finalisation, prepared_domain and wallet-message validation over
// edited records: flipped and truncated message bytes, other nonces,
// account, signer and signature texts, other wallet bytes and texts.
// Invariant: whatever finalize_with_message accepts carries a signature that
// verifies strictly for the record's signer over the signed bytes, and the
// message's suffix names the record's nonce and account.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fyrn/base58.hpp"
#include "fyrn/prepare.hpp"
#include "fyrn/wallet.hpp"
#include "gen.hpp"

using namespace fyrn;

namespace {

const Keypair& signing_key() {
  static const Keypair kp = [] {
    uint8_t seed[32];
    for (int i = 0; i < 32; ++i) seed[i] = static_cast<uint8_t>(7 * i + 3);
    return *Keypair::from_bytes(seed, 32);
  }();
  return kp;
}

std::string key_text(fuzz_gen::Gen& g, const std::string& original) {
  switch (g.p.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: return g.key<Pubkey>().to_base58();
    case 1: return g.str();
    case 2: return std::string(g.p.ConsumeIntegralInRange<size_t>(0, 100), '1');
    case 3: {
      std::string t = original;
      if (!t.empty()) t[g.p.ConsumeIntegralInRange<size_t>(0, t.size() - 1)] = g.p.ConsumeIntegral<char>();
      return t;
    }
    default: return original;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider p(data, size);
  fuzz_gen::Gen g{p};
  const Action action = g.action();
  const Pubkey account = g.key<Pubkey>();
  auto made = prepare_action(action, g.domain(), account, signing_key().pubkey(), p.ConsumeIntegral<uint64_t>());
  if (!made.ok()) return 0;
  PreparedMessage prepared = std::move(made).value();
  Signature genuine;
  signing_key().sign(genuine, prepared.message_bytes.data(), prepared.message_bytes.size());

  // Edits.
  for (int edits = p.ConsumeIntegralInRange<int>(0, 4); edits > 0; --edits) {
    switch (p.ConsumeIntegralInRange<int>(0, 7)) {
      case 0:
        if (!prepared.message_bytes.empty())
          prepared.message_bytes[p.ConsumeIntegralInRange<size_t>(0, prepared.message_bytes.size() - 1)] ^=
              static_cast<uint8_t>(1u << p.ConsumeIntegralInRange<int>(0, 7));
        break;
      case 1: prepared.message_bytes.resize(p.ConsumeIntegralInRange<size_t>(0, prepared.message_bytes.size())); break;
      case 2: prepared.nonce = p.ConsumeIntegral<uint64_t>(); break;
      case 3: prepared.account = key_text(g, prepared.account); break;
      case 4: prepared.signer = key_text(g, prepared.signer); break;
      case 5: prepared.actions.clear(); break;
      case 6: prepared.message_bytes.back() = p.ConsumeIntegral<uint8_t>(); break;
      default: prepared.message_bytes = p.ConsumeBytes<uint8_t>(p.ConsumeIntegralInRange<size_t>(0, 200)); break;
    }
    if (prepared.message_bytes.empty()) break;  // back() above needs a byte
  }
  (void)prepared_domain(prepared);

  std::string signature;
  switch (p.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: signature = base58::encode_64(genuine.data()); break;
    case 1: signature = g.str(); break;
    case 2: {
      auto raw = p.ConsumeBytes<uint8_t>(p.ConsumeIntegralInRange<size_t>(60, 68));
      signature = base58::encode(raw.data(), raw.size());
      break;
    }
    default: signature = std::string(p.ConsumeIntegralInRange<size_t>(80, 100), 'z'); break;
  }
  std::vector<uint8_t> other = p.ConsumeBytes<uint8_t>(p.ConsumeIntegralInRange<size_t>(0, 64));
  const bool with_other = p.ConsumeBool();
  const std::vector<uint8_t>* signed_bytes = with_other ? &other : nullptr;

  auto tx = finalize_with_message(prepared, signature, signed_bytes);
  if (tx.ok()) {
    const std::vector<uint8_t>& msg = with_other ? other : prepared.message_bytes;
    Signature sig;
    auto n = base58::decode_into(tx->signature, sig.data(), sig.size());
    FYRN_FUZZ_CHECK(n.ok() && *n == 64);
    auto signer = Pubkey::from_base58(tx->signer);
    FYRN_FUZZ_CHECK(signer.ok() && verify_signature(sig, msg.data(), msg.size(), *signer));
    const auto& mb = prepared.message_bytes;
    FYRN_FUZZ_CHECK(mb.size() >= kSigningSuffixLen);
    uint64_t nonce = 0;
    for (int i = 7; i >= 0; --i) nonce = (nonce << 8) | mb[mb.size() - 41 + i];
    FYRN_FUZZ_CHECK(nonce == tx->nonce);
    FYRN_FUZZ_CHECK(Pubkey::from_base58(tx->account).ok());
    FYRN_FUZZ_CHECK(std::memcmp(mb.data() + mb.size() - 33, Pubkey::from_base58(tx->account)->data(), 32) == 0);
  }

  // Wallet messages: built from the edited record, then edited themselves.
  auto mode = static_cast<SignatureMode>(p.ConsumeIntegralInRange<int>(0, 2));
  auto wallet = prepare_wallet_message(prepared, mode);
  if (!wallet.ok()) return 0;
  WalletMessage edited = *wallet;
  switch (p.ConsumeIntegralInRange<int>(0, 4)) {
    case 0:
      if (!edited.message.empty()) edited.message[p.ConsumeIntegralInRange<size_t>(0, edited.message.size() - 1)] ^= 1;
      break;
    case 1: edited.clear_sign_message = g.str(); break;
    case 2: edited.clear_sign_message.reset(); break;
    case 3: edited.signature_mode = static_cast<SignatureMode>(p.ConsumeIntegralInRange<int>(0, 2)); break;
    default: break;
  }
  auto valid = validate_wallet_message(edited);
  if (valid.ok()) {
    FYRN_FUZZ_CHECK(valid->message == edited.message && valid->clear_sign_message == edited.clear_sign_message);
  }
  return 0;
}
