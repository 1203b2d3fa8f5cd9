"""compute_order_id: base58 of SHA-256 over the caller's raw preimage."""
import hashlib
import struct

import base58
import pytest
from hypothesis import given, settings, strategies as st

import _native

# Identifier preimage of the reference limit order (BTC-USD, buy, 50000.5 x 0.25,
# GTC), account 32 x 0x11, nonce 1700000000000000000.
ORDER_ENCODING = bytes.fromhex(
    "01 00 00 00 07 00 00 00 00 00 00 00 42 54 43 2d 55 53 44 01 80 40 34 2a 8c 04 00 00"
    " 40 78 7d 01 00 00 00 00 00 00 00 00 00 00"
)
ACCOUNT = bytes([0x11]) * 32
NONCE = 1700000000000000000


def preimage(seqno: int) -> bytes:
    return struct.pack("<I", seqno) + ORDER_ENCODING + ACCOUNT + struct.pack("<Q", NONCE)


def oracle(data: bytes) -> str:
    return base58.b58encode(hashlib.sha256(data).digest()).decode()


def test_reference_preimage_layout():
    assert len(ORDER_ENCODING) == 42
    assert len(preimage(0)) == 86


@pytest.mark.parametrize(
    "seqno, expected",
    [
        (0, "DTp1n46uncCa9vCFLcfs9yBHexJgfzrMGoqCy6hqfRqG"),
        (1, "6wjCPfiTvmEn3gcECbCQRqqNeLCV47oHSMK3Qgk7VAWx"),
    ],
)
def test_worked_examples(seqno, expected):
    assert _native.compute_order_id(preimage(seqno)) == expected
    assert _native.compute_order_id(wincode_bytes=preimage(seqno)) == expected


class BytesSubclass(bytes):
    pass


@pytest.mark.parametrize(
    "data",
    [b"", b"\x00", b"\x00" * 32, bytes(range(256)), b"\xff" * 1000, BytesSubclass(b"abc")],
    ids=["empty", "zero", "zeros32", "all-bytes", "long", "bytes-subclass"],
)
def test_matches_hashlib_and_base58(data):
    assert _native.compute_order_id(data) == oracle(bytes(data))


@settings(max_examples=50, deadline=None)
@given(st.binary(max_size=300))
def test_random_inputs_match_oracle(data):
    assert _native.compute_order_id(data) == oracle(data)


@pytest.mark.parametrize(
    "value, type_name",
    [
        (bytearray(b"abc"), "bytearray"),
        ("abc", "str"),
        (memoryview(b"abc"), "memoryview"),
        (123, "int"),
        ([1, 2, 3], "list"),
    ],
)
def test_other_types_raise_type_error_naming_the_parameter(value, type_name):
    with pytest.raises(TypeError) as err:
        _native.compute_order_id(value)
    assert str(err.value) == (
        f"argument 'wincode_bytes': '{type_name}' object cannot be converted to 'PyBytes'"
    )


def test_none_and_missing_argument():
    with pytest.raises(TypeError, match="wincode_bytes"):
        _native.compute_order_id(None)
    with pytest.raises(TypeError) as err:
        _native.compute_order_id()
    assert str(err.value) == "compute_order_id() missing 1 required positional argument: 'wincode_bytes'"


def test_docstring_and_signature():
    assert _native.compute_order_id.__doc__ == (
        "Compute SHA256 hash from raw bytes.\n\n"
        "This is a raw utility and does not apply FYRN order-ID canonicalization."
    )
    assert _native.compute_order_id.__text_signature__ == "(wincode_bytes)"
