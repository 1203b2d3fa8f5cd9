import os

import pytest
from hypothesis import settings

# The machine is shared; keep property tests modest.
settings.register_profile("fyrn", max_examples=int(os.environ.get("FYRN_HYPOTHESIS_EXAMPLES", "100")), deadline=None)
settings.load_profile("fyrn")


@pytest.fixture
def sanitizer_env():
    """The sanitizer runtime and options of `make sanitize`, for a child given its own environment."""
    return {k: v for k, v in os.environ.items() if k in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")}
