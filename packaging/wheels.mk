# `make wheels`: one self-contained wheel per CPython 3.10-3.13 in dist/wheels/,
# tagged manylinux_2_28 (glibc 2.28 and newer, x86-64), built with zig's clang
# from PyPI; libsodium, oneTBB and nlohmann::json come from Debian's source
# packages (pinned in packaging/deps.py) and are linked in statically, as is the
# C++ runtime. `make check-wheels`: each wheel installed into a fresh venv of
# its own interpreter, auditwheel's verdict, the loaded-library check and the
# whole pytest suite. Both are driven by packaging/wheels.py.
.PHONY: wheels check-wheels

wheels: system-packages
	nice -n 10 python3 packaging/wheels.py build

check-wheels: system-packages
	nice -n 10 python3 packaging/wheels.py check

# `make bench-wheels`: Signer.sign's ratio to PyNaCl for the development build
# and for the checked wheel of the same interpreter, side by side in one run
# (after `make build wheels check-wheels`).
DEV_PY_MINOR = $(shell $(PY) -c 'import sys; print("%d.%d" % sys.version_info[:2])')
.PHONY: bench-wheels
bench-wheels: build
	$(PY) bench/wheels_vs_dev.py dev-build=$(abspath $(PY)):$(abspath $(BUILD)) \
	  wheel=$(abspath build/wheels/check-$(DEV_PY_MINOR)/bin/python)
