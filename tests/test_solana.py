"""Solana funding instructions and unsigned transactions, checked against solders
(curve25519-dalek decompression decides which addresses are wallets)."""
import base64
import random

import pytest
from solders.hash import Hash
from solders.instruction import AccountMeta, Instruction
from solders.keypair import Keypair as SoldersKeypair
from solders.message import Message
from solders.pubkey import Pubkey
from solders.token import ID as TOKEN_PROGRAM
from solders.token.associated import get_associated_token_address
from solders.transaction import Transaction

import _native
from helpers import raises

USDC_MINT = Pubkey.from_string("EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v")
ATA_PROGRAM = Pubkey.from_string("ATokenGPvbdGVxr1b2hvZbsiqW5xWH25efTNsLJA8knL")
PROGRAM = "DHg5DcgAaC5qmgsdmpw2A7X6kzd69H17kRh56RszTkmD"
EXCHANGE = "AiNv1GXds37RYNz3vtxVdDy4Z5YkwBFaqrj9Xd7643uE"
EXCHANGE_USDC = "38MyfX4dAKDNBY4FYk4cFnsqZgEckBKkFLMjJYioa7pa"

BUILD = {True: _native.build_deposit_instruction, False: _native.build_withdraw_intent_instruction}
EXPORT = {True: _native.export_deposit_transaction, False: _native.export_withdraw_intent_transaction}
KINDS = pytest.mark.parametrize("deposit", [True, False], ids=["deposit", "withdraw_intent"])

rng = random.Random(4)


def wallet() -> str:
    return str(SoldersKeypair.from_seed(rng.randbytes(32)).pubkey())


def blockhash() -> str:
    return str(Hash(rng.randbytes(32)))


def solders_instruction(ix: dict) -> Instruction:
    metas = [AccountMeta(Pubkey.from_string(a["pubkey"]), a["is_signer"], a["is_writable"]) for a in ix["accounts"]]
    return Instruction(Pubkey.from_string(ix["program_id"]), ix["data"], metas)


def invalid(reason: str) -> str:
    return "invalid Solana instruction: " + reason


def leading_zero_wallet() -> str:
    while True:
        key = Pubkey.from_bytes(b"\0" + rng.randbytes(31))
        if key.is_on_curve():
            return str(key)


P = 2**255 - 19


def curve_cases():
    """Random strings, and what random sampling almost never hits: y >= p (not
    reduced), x = 0 with the sign bit set, the small-order points, derived addresses."""
    out = [rng.randbytes(32) for _ in range(384)]
    for y in list(range(P, 2**255)) + [0, 1, 2, P - 1, P - 2]:
        out += [(y | sign << 255).to_bytes(32, "little") for sign in (0, 1)]
    for h in ("00" * 32, "26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc05",
              "c7176a703d4dd84fba3c0b760d10670f2a2053fa2c39ccc64ec7fd7792ac037a"):  # orders 1, 2, 4 and 8
        out += [bytes.fromhex(h), bytes.fromhex(h[:62] + "%02x" % (int(h[62:], 16) ^ 0x80))]
    out.append(b"\xff" * 32)
    return out + [bytes(Pubkey.find_program_address([rng.randbytes(32)], ATA_PROGRAM)[0]) for _ in range(16)]


def test_wallet_addresses_are_the_on_curve_ones():
    for raw in curve_cases():
        owner, wallet_like = str(Pubkey.from_bytes(raw)), Pubkey.from_bytes(raw).is_on_curve()
        try:
            _native.build_deposit_instruction(owner, 1)
            assert wallet_like, raw.hex()
        except ValueError as e:
            assert not wallet_like and str(e) == OFF_CURVE, raw.hex()


@KINDS
def test_instruction_dict(deposit):
    for owner in [leading_zero_wallet()] + [wallet() for _ in range(20)]:
        ix = BUILD[deposit](owner, 1)
        assert list(ix) == ["program_id", "accounts", "data"] and ix["program_id"] == PROGRAM
        assert ix["data"] == bytes([2 if deposit else 4, 1, 0, 0, 0, 0, 0, 0, 0])
        ata = str(get_associated_token_address(Pubkey.from_string(owner), USDC_MINT))
        expected = [(owner, True, True), (ata, False, deposit), (EXCHANGE, False, False),
                    (str(USDC_MINT), False, False), (EXCHANGE_USDC, False, deposit)]
        expected += [(str(TOKEN_PROGRAM), False, False)] if deposit else []
        assert [list(a) for a in ix["accounts"]] == [["pubkey", "is_signer", "is_writable"]] * len(expected)
        assert [(a["pubkey"], a["is_signer"], a["is_writable"]) for a in ix["accounts"]] == expected
    assert BUILD[deposit](owner, 0x0102030405060708)["data"][1:] == bytes(range(8, 0, -1))


@KINDS
def test_exported_transaction_matches_solders(deposit):
    for amount in (1, 25_000_000, 2**64 - 1):
        owner, recent = wallet(), blockhash()
        raw = base64.b64decode(EXPORT[deposit](owner, amount, recent), validate=True)
        ix = solders_instruction(BUILD[deposit](owner, amount))
        payer = Pubkey.from_string(owner)
        expected = Transaction.new_unsigned(Message.new_with_blockhash([ix], payer, Hash.from_string(recent)))
        assert raw == bytes(expected)


OWNER, ZERO_LED = wallet(), leading_zero_wallet()
AMOUNT, OWNER_B58 = invalid("amount must be positive"), invalid("owner must be a base58 public key")
OFF_CURVE = invalid("owner must be an on-curve wallet")
OWNER_ERRORS = [  # (owner, amount, error); ZERO_LED's text starts with exactly one "1"
    (OWNER, 0, AMOUNT), ("0OIl", 0, AMOUNT), *[(c + OWNER[1:], 1, OWNER_B58) for c in "0OIl"],
    (ZERO_LED[1:], 1, OWNER_B58), ("1" + ZERO_LED, 1, OWNER_B58), ("", 1, OWNER_B58), ("1" * 45, 1, OWNER_B58),
    (OWNER[:-2] + "é", 1, OWNER_B58),
    (str(get_associated_token_address(Pubkey.from_string(OWNER), USDC_MINT)), 1, OFF_CURVE),
]


@KINDS
@pytest.mark.parametrize("owner, amount, message", OWNER_ERRORS)
def test_instruction_errors(deposit, owner, amount, message):
    raises(ValueError, message, BUILD[deposit], owner, amount)
    raises(ValueError, message, EXPORT[deposit], owner, amount, "not a blockhash 0")  # before any blockhash error


GOOD_HASH = str(Hash(b"\0" + rng.randbytes(31)))


@KINDS
@pytest.mark.parametrize("recent", ["", "2" * 45, GOOD_HASH[1:], "1" + GOOD_HASH, "0" + GOOD_HASH[1:], "1" * 32 + "é"])
def test_blockhash_errors(deposit, recent):
    raises(ValueError, invalid("recent blockhash must be a base58 32-byte hash"), EXPORT[deposit], wallet(), 7, recent)
