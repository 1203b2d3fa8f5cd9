// Wallet message modes: mode texts, the off-chain format byte and length
// limit, and the order of the prepared-record checks. (Each mode's bytes and
// the refusal of edited wallet messages are tested through Python, in
// tests/test_wallet.py.)
//
// Prepared records are assembled by hand: a payload followed by the signing
// suffix (nonce little-endian, account, network byte), so every field can be
// made to disagree with the bytes on purpose.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fyrn/base58.hpp"
#include "fyrn/clear_sign.hpp"
#include "fyrn/wallet.hpp"
#include "wire_test_util.hpp"

using namespace fyrn;

namespace {

const Error kSuffixDiffers = Error::signing_failed("prepared account or nonce differs from raw signing bytes");

using wire_test::key_of;
using wire_test::seq_key;
const char* const kAccountText = wire_test::kKey11Text;  // key_of(0x11)
const char* const kSignerText = wire_test::kSeqKeyText;

std::vector<Json> bracket_actions() {
  return {
      Json::parse(R"({"l": {"b": true, "c": "BTC-USD", "i": false, "px": 65000, "r": false, "sz": 0.1, "tif": "GTC"}})"),
      Json::parse(R"({"st": {"c": "BTC-USD", "d": false, "i": false, "lim": null, "slippage": 0.01, "sz": 0.1, "tr": 63000}})"),
      Json::parse(R"({"tp": {"c": "BTC-USD", "d": true, "i": false, "lim": 70000, "sz": 0.1, "tr": 69500}})"),
  };
}

PreparedMessage make_prepared(uint8_t domain_byte = 2, uint64_t nonce = 0x0102030405060708ull,
                              std::vector<Json> actions = bracket_actions()) {
  PreparedMessage p;
  p.message_bytes = {0x09, 0x00, 0xfe, 0x41};  // stands in for the encoded actions
  for (int i = 0; i < 8; ++i) p.message_bytes.push_back(static_cast<uint8_t>(nonce >> (8 * i)));
  const Pubkey account = key_of(0x11);
  p.message_bytes.insert(p.message_bytes.end(), account.bytes.begin(), account.bytes.end());
  p.message_bytes.push_back(domain_byte);
  p.actions = std::move(actions);
  p.account = kAccountText;
  p.signer = kSignerText;
  p.order_ids = std::vector<std::string>{"id0", "id1"};
  p.nonce = nonce;
  return p;
}

}  // namespace

// Mode names, matched exactly. (The refusal's text is checked through Python.)
TEST(SignatureMode, ExactNames) {
  EXPECT_STREQ(signature_mode_name(SignatureMode::Raw), "raw");
  EXPECT_STREQ(signature_mode_name(SignatureMode::Base58), "base58");
  EXPECT_STREQ(signature_mode_name(SignatureMode::Offchain), "offchain");
  for (const char* text : {"OFFCHAIN", "", "raw ", "offchain\n", "base5"}) {
    EXPECT_FALSE(signature_mode_from_str(text).ok()) << text;
  }
}

TEST(WalletMessage, FormatByte) {
  const std::pair<std::string, uint8_t> cases[] = {
      {"", 0}, {" ", 0}, {"~", 0}, {"Fyrn Exchange Transaction", 0}, {"a\n", 1},
      {std::string(1, '\x1f'), 1}, {std::string(1, '\x7f'), 1}, {"\xc3\xa9", 1}, {std::string(1, '\0'), 1},
  };
  for (const auto& [text, format] : cases) {
    auto m = offchain_message(text, SignatureDomain::Mainnet, seq_key());
    ASSERT_TRUE(m.ok());
    EXPECT_EQ((*m)[49], format) << text;
    EXPECT_EQ(m->size(), 85 + text.size());
  }
}

TEST(WalletMessage, TextLengthLimit) {
  // Pad one field until the whole text is exactly 65535 bytes, then one more.
  auto with_oid = [](size_t len) {
    return make_prepared(1, 7, {Json{{"cx", Json{{"c", "BTC-USD"}, {"oid", std::string(len, 'x')}}}}});
  };
  const size_t base = build_clear_sign_text(with_oid(0), SignatureDomain::Mainnet)->size();
  const size_t fill = 65535 - base;
  auto at_limit = prepare_wallet_message(with_oid(fill), SignatureMode::Offchain);
  ASSERT_TRUE(at_limit.ok()) << at_limit.error().display();
  EXPECT_EQ(at_limit->clear_sign_message->size(), 65535u);
  EXPECT_EQ(at_limit->message.size(), 85u + 65535u);
  EXPECT_EQ(at_limit->message[83], 0xff);
  EXPECT_EQ(at_limit->message[84], 0xff);
  const Error too_long = Error::signing_failed("offchain message exceeds 65535 bytes");
  EXPECT_EQ(prepare_wallet_message(with_oid(fill + 1), SignatureMode::Offchain).error(), too_long);
  EXPECT_EQ(offchain_message(std::string(65536, 'a'), SignatureDomain::Mainnet, seq_key()).error(), too_long);
  // The limit is the envelope's: other modes do not render text at all.
  EXPECT_TRUE(prepare_wallet_message(with_oid(fill + 1), SignatureMode::Raw).ok());
}

TEST(PreparedDomain, ChecksInOrder) {
  const Error missing_suffix = Error::signing_failed("prepared message is missing its signing suffix");
  const Error bad_domain = Error::signing_failed("prepared message has an invalid network domain");
  const Error bad_text = Pubkey::from_base58("0OIl").error();  // not base58
  const Error short_key = Pubkey::from_base58("1111").error();
  ASSERT_EQ(bad_text.kind(), ErrorKind::InvalidBase58);
  ASSERT_EQ(short_key.kind(), ErrorKind::InvalidKeyLength);

  // Each case breaks one check and everything after it, so only the
  // earliest check can produce the expected error.
  const struct {
    const char* what;
    bool clear_actions;
    size_t keep_bytes;  // the message's last bytes kept; 0: all
    uint64_t nonce_delta;
    const char* account;  // nullptr: unchanged
    const char* signer;
    int domain_byte;  // -1: unchanged
    Error expected;
  } cases[] = {
      {"no actions, short bytes", true, 40, 0, "0OIl", nullptr, -1, Error::empty_orders()},
      {"40 bytes, wrong nonce", false, 40, 1, nullptr, "0OIl", -1, missing_suffix},
      {"nonce differs, account not base58", false, 0, 1, "0OIl", nullptr, 9, kSuffixDiffers},
      {"account not base58, signer not base58", false, 0, 0, "0OIl", "1111", -1, bad_text},
      {"account too short", false, 0, 0, "1111", nullptr, -1, short_key},
      {"account another key, signer not base58", false, 0, 0, kSignerText, "0OIl", -1, kSuffixDiffers},
      {"signer too short, domain 0", false, 0, 0, nullptr, "1111", 0, short_key},
      {"domain 0", false, 0, 0, nullptr, nullptr, 0, bad_domain},
      {"domain 4", false, 0, 0, nullptr, nullptr, 4, bad_domain},
  };
  for (const auto& c : cases) {
    PreparedMessage p = make_prepared();
    if (c.clear_actions) p.actions.clear();
    if (c.keep_bytes) p.message_bytes.erase(p.message_bytes.begin(), p.message_bytes.end() - c.keep_bytes);
    p.nonce += c.nonce_delta;
    if (c.account) p.account = c.account;
    if (c.signer) p.signer = c.signer;
    if (c.domain_byte >= 0) p.message_bytes.back() = static_cast<uint8_t>(c.domain_byte);
    auto got = prepared_domain(p);
    ASSERT_FALSE(got.ok()) << c.what;
    EXPECT_EQ(got.error(), c.expected) << c.what << ": " << got.error().display();
    // Every mode checks the record first.
    for (SignatureMode mode : {SignatureMode::Raw, SignatureMode::Base58, SignatureMode::Offchain}) {
      EXPECT_EQ(prepare_wallet_message(p, mode).error(), c.expected) << c.what;
    }
  }

  // The suffix alone is enough, and the signer may differ from the account.
  PreparedMessage bare = make_prepared(3, 0);
  bare.message_bytes.erase(bare.message_bytes.begin(), bare.message_bytes.begin() + 4);
  ASSERT_EQ(bare.message_bytes.size(), kSigningSuffixLen);
  EXPECT_EQ(*prepared_domain(bare), SignatureDomain::Devnet);
}


// A finalised record keeps every field, and the signer is the record's own
// (here not the account). The C++ caller reads these; Python's finaliser
// takes its texts from the prepared dict instead.
TEST(Finalize, KeepsTheRecordsFields) {
  const Keypair signer = Keypair::generate();
  PreparedMessage p = make_prepared();
  p.signer = signer.pubkey().to_base58();
  Signature sig;
  signer.sign(sig, p.message_bytes.data(), p.message_bytes.size());
  const std::string text = base58::encode(sig.data(), sig.size());
  const PreparedMessage copy = p;
  auto tx = finalize_with_message(std::move(p), text);
  ASSERT_TRUE(tx.ok()) << tx.error().display();
  EXPECT_EQ(tx->signer, copy.signer);
  EXPECT_EQ(tx->account, copy.account);
  EXPECT_EQ(tx->signature, text);
  EXPECT_EQ(tx->nonce, copy.nonce);
  EXPECT_EQ(tx->order_ids, copy.order_ids);
  EXPECT_EQ(tx->order_id, copy.order_id);
  EXPECT_EQ(tx->actions, copy.actions);
}
