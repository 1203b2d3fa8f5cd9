import os

from hypothesis import settings

# The machine is shared; keep property tests modest.
settings.register_profile("fyrn", max_examples=int(os.environ.get("FYRN_HYPOTHESIS_EXAMPLES", "100")), deadline=None)
settings.load_profile("fyrn")
