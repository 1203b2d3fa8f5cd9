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
