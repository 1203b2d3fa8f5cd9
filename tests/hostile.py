"""Values whose conversion misbehaves, shared by the tests (and the subprocess
scripts, which put this directory on sys.path)."""


class Index:
    """Stands in for an int (and, through float()'s fallback, a float). Each
    conversion first runs `before` (a callback into the library, a sleep that
    gives the lock away, a mutation of the container) and keeps its result in
    `seen`; then it raises `value` if that is an exception, else returns it
    unchanged (so a wrong kind reaches the interpreter's own check)."""

    def __init__(self, value=1, before=None):
        self.value, self.before, self.seen = value, before, None

    def __index__(self):
        if self.before is not None:
            self.seen = self.before()
        if isinstance(self.value, BaseException) or isinstance(self.value, type):
            raise self.value
        return self.value


class Number(Index):
    """The same with a __float__ of its own."""

    __float__ = Index.__index__


def boom():
    return Number(RuntimeError("boom"))


class LyingSequence:
    """A sequence that is neither a list nor a tuple, with a length it does not have."""

    def __init__(self, *items):
        self.items = items

    def __len__(self):
        return 10**18

    def __getitem__(self, i):
        return self.items[i]
