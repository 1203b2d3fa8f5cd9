"""An independent Python model of order identifiers, used as a test oracle.

SHA-256 over: sequence number (u32 LE), the order encoding, the 32 account
bytes, the nonce (u64 LE). The encoding uses u32/u64 little-endian integers,
one-byte booleans, strings as u64 length + UTF-8, and fixed point (value * 1e8,
rounded half away from zero, clamped to u64).
"""

import hashlib
import math
import struct

import base58

TIF = {"GTC": 0, "IOC": 1, "ALO": 2}


def fixed_point(value: float) -> int:
    product = float(value) * 1e8
    if math.isnan(product) or product < 0:
        return 0
    if product >= 2.0**64:
        return 2**64 - 1
    whole = math.trunc(product)
    return whole + 1 if product - whole >= 0.5 else whole  # the subtraction is exact


def _string(text: str) -> bytes:
    raw = text.encode("utf-8")
    return struct.pack("<Q", len(raw)) + raw


def limit_encoding(symbol, is_buy, price, size, tif="GTC", reduce_only=False, iso=False) -> bytes:
    return (struct.pack("<I", 1) + _string(symbol) + bytes([is_buy])
            + struct.pack("<QQI", fixed_point(price), fixed_point(size), TIF[tif]) + bytes([reduce_only, iso]))


def market_encoding(symbol, is_buy, size, reduce_only=False, iso=False, slippage=None) -> bytes:
    out = struct.pack("<I", 0) + _string(symbol) + bytes([is_buy]) + struct.pack("<Q", fixed_point(size))
    out += bytes([reduce_only, iso])
    return out if slippage is None else out + b"\x01" + struct.pack("<Q", fixed_point(slippage))


def order_id(encoding: bytes, nonce: int, account: bytes, seqno: int = 0) -> str:
    digest = hashlib.sha256(struct.pack("<I", seqno) + encoding + account + struct.pack("<Q", nonce)).digest()
    return base58.b58encode(digest).decode()


def dict_order_id(o, nonce, account58, seqno=0):
    """The identifier of a simplified limit or market order dict."""
    kind, flags = o.get("order_type", {}), (o.get("reduce_only", False), o.get("iso", False))
    if kind.get("type") == "market":
        encoding = market_encoding(o["symbol"], o["is_buy"], o["size"], *flags, slippage=o.get("slippage"))
    else:
        tif = kind.get("tif", "GTC").upper()
        encoding = limit_encoding(o["symbol"], o["is_buy"], o["price"], o["size"], tif, *flags)
    return order_id(encoding, nonce, base58.b58decode(account58), seqno)
