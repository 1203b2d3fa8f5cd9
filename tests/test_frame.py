"""The module frame: attributes, import behaviour, argument binding, conversions
and exception mapping. The interpreter is the oracle for every binding message."""

import math
import operator
import subprocess
import sys
import textwrap

import pytest

import _native

# Every public name, in registration order. Later areas insert their names at
# their fixed places in this list.
EXPECTED_EXPORTS = [
    # prepare_wallet_message and finalize_wallet_message go first
    "export_deposit_transaction",
    "export_withdraw_intent_transaction",
    "build_deposit_instruction",
    "build_withdraw_intent_instruction",
    "Keypair",
    "Signer",
    "random_hash",
    "current_timestamp",
    "validate_pubkey",
    "validate_hash",
    "compute_order_id",
    "compute_order_id_from_order",
    # py_prepare_* and py_finalize_transaction go last
]

STANDARD_MODULE_ATTRIBUTES = {"__doc__", "__file__", "__loader__", "__name__", "__package__", "__spec__"}


def test_module_holds_exactly_the_registered_names_in_order():
    public = [name for name in vars(_native) if name not in STANDARD_MODULE_ATTRIBUTES]
    assert public == EXPECTED_EXPORTS
    assert _native.__doc__ == "High-performance transaction signing for FYRN DEX"


def test_reimport_returns_the_cached_module_object():
    first = _native
    del sys.modules["_native"]
    try:
        import _native as second
    finally:
        sys.modules["_native"] = first
    assert second is first


def test_panic_class_derives_from_base_exception_and_is_not_exported():
    # The clock's invariant failures cannot be provoked here; find the class
    # through the interpreter's registry of BaseException subclasses instead.
    # (The binder probe below carries a copy of the same class.)
    panics = [c for c in BaseException.__subclasses__() if c.__module__ == "_native"]
    assert panics
    for panic in panics:
        assert panic.__qualname__ == "PanicException"
        assert panic.__bases__ == (BaseException,)
        assert not issubclass(panic, Exception)
        assert all(value is not panic for value in vars(_native).values())


def test_subinterpreter_import_is_refused():
    pytest.importorskip("_xxsubinterpreters")
    code = textwrap.dedent(
        """
        import _native, _xxsubinterpreters as interpreters
        interp = interpreters.create()
        try:
            interpreters.run_string(interp, "import _native")
        except interpreters.RunFailedError as e:
            print("refused:", e)
        else:
            print("accepted")
        """
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("refused: ")
    assert "ImportError" in result.stdout
    assert "_native does not support sub-interpreters" in result.stdout


@pytest.mark.parametrize(
    "name, signature, doc",
    [
        ("random_hash", "()", "Generate a random hash (for client order IDs)"),
        ("current_timestamp", "()", "Get the current Unix timestamp in nanoseconds"),
        ("validate_pubkey", "(s)", "Validate a base58-encoded public key"),
        ("validate_hash", "(s)", "Validate a base58-encoded hash"),
    ],
)
def test_function_docstrings_and_text_signatures(name, signature, doc):
    fn = getattr(_native, name)
    assert fn.__text_signature__ == signature
    assert fn.__doc__ == doc
    assert fn.__module__ == "_native"


# --- argument binding against the interpreter ---------------------------------

probe = pytest.importorskip("_fyrn_probe", reason="the binder probe is built with the C++ tests")

# (parameters, number required)
SIGNATURES = [
    ((), 0),
    (("s",), 1),
    (("a", "b"), 2),
    (("a", "b", "c"), 3),
    (("a", "b", "c", "d"), 4),
    (("a",), 0),
    (("a", "b"), 1),
    (("a", "b", "c", "d"), 2),
    (("a", "b", "c"), 1),
]

CALLS = [
    ((), {}),
    ((1,), {}),
    ((1, 2), {}),
    ((1, 2, 3), {}),
    ((1, 2, 3, 4), {}),
    ((1, 2, 3, 4, 5), {}),
    ((None,), {}),
    ((1, None), {}),
    ((1, None, None, None), {}),
    ((), {"s": 1}),
    ((), {"a": 1}),
    ((), {"b": 2}),
    ((), {"c": 3}),
    ((), {"a": 1, "b": 2, "c": 3, "d": 4}),
    ((), {"d": 4, "c": 3}),
    ((1,), {"a": 1}),
    ((1, 2), {"b": 2}),
    ((1,), {"b": None}),
    ((), {"zz": 1}),
    ((1, 2, 3, 4, 5), {"zz": 1}),
    ((1, 2, 3, 4, 5), {"a": 1}),
    ((), {"b": 1, "zz": 2}),
    ((1, 2, 3, 4, 5, 6), {}),
]


def make_oracle(params, n_required, owner):
    rendered = ", ".join(p if i < n_required else f"{p}=None" for i, p in enumerate(params))
    body = f"return ({', '.join(params)}{',' if params else ''})"
    if owner is None:
        namespace = {}
        exec(f"def f({rendered}):\n    {body}", namespace)
        return namespace["f"]
    # Counts in the messages exclude the receiver, as for a static method.
    namespace = {}
    exec(f"class {owner}:\n    @staticmethod\n    def f({rendered}):\n        {body}", namespace)
    return namespace[owner].f


def outcome(fn, args, kwargs):
    try:
        return ("ok", fn(*args, **kwargs))
    except TypeError as e:
        return ("TypeError", str(e))


@pytest.mark.parametrize("owner", [None, "Keypair"])
@pytest.mark.parametrize("params, n_required", SIGNATURES)
def test_binding_matches_the_interpreter(params, n_required, owner):
    oracle = make_oracle(params, n_required, owner)
    bound = probe.binder("f", owner, params, n_required)
    for args, kwargs in CALLS:
        expected = outcome(oracle, args, kwargs)
        got = outcome(bound, args, kwargs)
        if expected[0] == "ok":
            # An optional parameter given as None or left out is "absent".
            values = tuple(... if (i >= n_required and v is None) else v for i, v in enumerate(expected[1]))
            expected = ("ok", values)
        assert got == expected, (params, n_required, args, kwargs)


def test_missing_names_use_the_interpreters_separators():
    bound = probe.binder("py_prepare_transfer", None, ("from_pubkey", "to_pubkey", "margin_amount"), 3)
    with pytest.raises(TypeError) as e:
        bound()
    assert str(e.value) == (
        "py_prepare_transfer() missing 3 required positional arguments: 'from_pubkey', 'to_pubkey', and 'margin_amount'"
    )


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: _native.validate_pubkey(), "validate_pubkey() missing 1 required positional argument: 's'"),
        (lambda: _native.validate_hash("a", "b"), "validate_hash() takes 1 positional argument but 2 were given"),
        (lambda: _native.validate_hash(x="a"), "validate_hash() got an unexpected keyword argument 'x'"),
        (lambda: _native.validate_hash("a", s="b"), "validate_hash() got multiple values for argument 's'"),
        (lambda: _native.validate_pubkey(1), "argument 's': 'int' object cannot be converted to 'PyString'"),
        (lambda: _native.validate_pubkey(b"1"), "argument 's': 'bytes' object cannot be converted to 'PyString'"),
        (lambda: _native.Keypair.from_base58(), "Keypair.from_base58() missing 1 required positional argument: 's'"),
        (lambda: _native.Keypair.from_bytes("x"), "argument 'bytes': 'str' object cannot be converted to 'PyBytes'"),
        (lambda: _native.Keypair.from_bytes(bytearray(32)),
         "argument 'bytes': 'bytearray' object cannot be converted to 'PyBytes'"),
    ],
)
def test_registered_functions_bind_through_the_binder(call, message):
    with pytest.raises(TypeError) as e:
        call()
    assert str(e.value) == message


def interpreter_message(fn):
    try:
        fn()
    except TypeError as e:
        return str(e)
    raise AssertionError("no TypeError")


def test_parameterless_functions_raise_the_interpreters_own_errors():
    # A builtin without parameters: the interpreter checks the call itself.
    oracle = interpreter_message(lambda: math.pi.hex(1))  # float.hex(self): no parameters
    assert oracle == "float.hex() takes no arguments (1 given)"
    for name in ("random_hash", "current_timestamp"):
        fn = getattr(_native, name)
        assert interpreter_message(lambda: fn(1)) == f"_native.{name}() takes no arguments (1 given)"
        assert interpreter_message(lambda: fn(x=1)) == f"_native.{name}() takes no keyword arguments"


def test_keyword_arguments_and_str_subclasses():
    class Text(str):
        pass

    assert _native.validate_pubkey(s="1" * 32) is True
    assert _native.validate_pubkey(Text("1" * 32)) is True


# --- conversions ---------------------------------------------------------------


class Indexable:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class BadIndex:
    def __index__(self):
        raise TypeError("bad index")


def oracle_error(fn):
    try:
        fn()
    except (TypeError, OverflowError) as e:
        return type(e), str(e)
    raise AssertionError("no error")


U64 = 2**64 - 1


@pytest.mark.parametrize(
    "kind, value, extra, expected",
    [
        ("text", "héllo", (), "héllo"),
        ("text", 1, (), (TypeError, "argument 'p': 'int' object cannot be converted to 'PyString'")),
        ("text", None, (), (TypeError, "argument 'p': 'NoneType' object cannot be converted to 'PyString'")),
        ("bytes", b"\x00\xff", (), b"\x00\xff"),
        ("bytes", bytearray(b"x"), (), (TypeError, "argument 'p': 'bytearray' object cannot be converted to 'PyBytes'")),
        ("bytes", memoryview(b"x"), (), (TypeError, "argument 'p': 'memoryview' object cannot be converted to 'PyBytes'")),
        ("bytes", "x", (), (TypeError, "argument 'p': 'str' object cannot be converted to 'PyBytes'")),
        ("uint", 0, (0, U64), 0),
        ("uint", U64, (0, U64), U64),
        ("uint", True, (0, U64), 1),
        ("uint", Indexable(7), (0, U64), 7),
        ("uint", 2**64, (0, U64), OverflowError),
        ("uint", -1, (0, U64), OverflowError),
        ("uint", 255, (0, 255), 255),
        ("uint", 256, (0, 255), OverflowError),
        ("uint", -1, (0, 255), OverflowError),
        ("uint", 2**70, (0, 255), OverflowError),
        ("uint", 1.0, (0, U64), (TypeError, "argument 'p': " + oracle_error(lambda: operator.index(1.0))[1])),
        ("uint", "1", (0, U64), (TypeError, "argument 'p': " + oracle_error(lambda: operator.index("1"))[1])),
        ("uint", BadIndex(), (0, U64), (TypeError, "argument 'p': bad index")),
        ("int", -32768, (-32768, 32767), -32768),
        ("int", 32767, (-32768, 32767), 32767),
        ("int", 32768, (-32768, 32767), OverflowError),
        ("int", -32769, (-32768, 32767), OverflowError),
        ("int", 2**63, (-(2**63), 2**63 - 1), OverflowError),
        ("int", None, (-1, 1), (TypeError, "argument 'p': " + oracle_error(lambda: operator.index(None))[1])),
        ("bool", True, (), True),
        ("bool", False, (), False),
        ("bool", 1, (), (TypeError, "argument 'p': 'int' object cannot be converted to 'PyBool'")),
        ("bool", None, (), (TypeError, "argument 'p': 'NoneType' object cannot be converted to 'PyBool'")),
        ("f64", 1.5, (), 1.5),
        ("f64", 3, (), 3.0),
        ("f64", Indexable(4), (), 4.0),
        ("f64", "1.0", (), (TypeError, "argument 'p': " + oracle_error(lambda: math.sqrt("1.0"))[1])),
        ("f64", 2**1100, (), OverflowError),
    ],
)
def test_conversions(kind, value, extra, expected):
    args = (kind, value, "p") + extra
    if expected is OverflowError:
        with pytest.raises(OverflowError):
            probe.convert(*args)
    elif isinstance(expected, tuple):
        exc_type, message = expected
        with pytest.raises(exc_type) as e:
            probe.convert(*args)
        assert type(e.value) is exc_type
        assert str(e.value) == message
    else:
        got = probe.convert(*args)
        assert got == expected and type(got) is type(expected)


def test_type_error_subclasses_and_other_errors_pass_unchanged():
    class Special(TypeError):
        pass

    class Raises:
        def __init__(self, exc):
            self.exc = exc

        def __index__(self):
            raise self.exc

    with pytest.raises(Special, match="^special$"):
        probe.convert("uint", Raises(Special("special")), "p", 0, U64)
    with pytest.raises(ZeroDivisionError, match="^boom$"):
        probe.convert("uint", Raises(ZeroDivisionError("boom")), "p", 0, U64)


def test_lone_surrogate_text_raises_unicode_error_not_crash():
    with pytest.raises(UnicodeEncodeError):
        probe.convert("text", "\ud800", "p")
    with pytest.raises(UnicodeEncodeError):
        _native.validate_hash("\udfff")
    with pytest.raises(UnicodeEncodeError):
        _native.Keypair("\ud800")


# --- exception mapping -----------------------------------------------------------


def test_guarded_maps_every_escaping_failure():
    assert probe.guarded("ok") == 7
    with pytest.raises(ValueError) as e:
        probe.guarded("error")
    assert type(e.value) is ValueError
    assert str(e.value) == "invalid signature domain 'x'; expected mainnet, testnet, or devnet"
    assert e.value.__cause__ is None and e.value.args == (str(e.value),)
    with pytest.raises(MemoryError):
        probe.guarded("alloc")
    with pytest.raises(SystemError, match="^attempted to fetch exception but none was set$"):
        probe.guarded("null")
    for mode, message in [
        ("panic", "time went backwards: clock is before 1970"),
        ("std", "vector too long"),
        ("unknown", "unknown internal failure"),
    ]:
        with pytest.raises(BaseException) as e:
            probe.guarded(mode)
        assert not isinstance(e.value, Exception)
        assert type(e.value).__name__ == "PanicException"
        assert type(e.value).__bases__ == (BaseException,)
        assert str(e.value) == message
