# fyrn-keychain: `make demo`, `make test`, `make bench`.
# Everything the build needs is installed by `make setup` (idempotent):
# Debian packages through apt-get, Python tools into the project-local .venv.

SHELL := /bin/bash
VENV  := .venv
PY    := $(VENV)/bin/python
BUILD := build
DEB_PACKAGES := libsodium-dev libtbb-dev nlohmann-json3-dev libgtest-dev pkg-config g++
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all setup system-packages venv build test test-cpp test-py check-install demo bench clean sanitize

all: build

system-packages:
	@missing=""; for p in $(DEB_PACKAGES) $(EXTRA_DEB_PACKAGES); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing Debian packages:$$missing"; \
	  $(SUDO) apt-get update -q && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q $$missing; \
	fi

$(VENV)/.stamp: requirements-dev.txt
	@test -x $(PY) || python3 -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q -r requirements-dev.txt
	@touch $@

venv: $(VENV)/.stamp

setup: system-packages venv

$(BUILD)/build.ninja: CMakeLists.txt | setup
	$(VENV)/bin/cmake -S . -B $(BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	  -DFYRN_BUILD_TESTS=ON -DFYRN_WERROR=ON -DPython_EXECUTABLE=$(abspath $(PY))

build: setup $(BUILD)/build.ninja
	$(VENV)/bin/cmake --build $(BUILD)

test-cpp: build
	$(VENV)/bin/ctest --test-dir $(BUILD) --output-on-failure

test-py: build
	PYTHONPATH=$(BUILD) $(PY) -m pytest -q tests

# `pip install .` into a throwaway venv must produce an importable module.
check-install: setup
	@rm -rf $(BUILD)/install-venv && python3 -m venv $(BUILD)/install-venv
	$(BUILD)/install-venv/bin/pip install -q .
	cd / && $(abspath $(BUILD))/install-venv/bin/python -c "import _native; print('pip install . ok:', _native.__doc__)"
	@# The stub-only package _native-stubs must land where type checkers look.
	cd tests/stubs && $(abspath $(PY)) -m mypy --strict --cache-dir=/dev/null \
	  --python-executable $(abspath $(BUILD))/install-venv/bin/python usage_ok.py

test: test-cpp test-py check-install

demo: build
	PYTHONPATH=$(BUILD) $(PY) examples/quickstart.py

bench: build
	PYTHONPATH=$(BUILD) $(PY) bench/run.py

# `make sanitize`: the core, the C++ tests and the extension built with
# AddressSanitizer and UndefinedBehaviorSanitizer in their own build dir, then
# the C++ tests and the whole pytest suite under them. The interpreter is not
# built with the sanitizers, so their runtimes are preloaded into it, and its
# own leaks at exit are not reported there. Too slow for `make test`.
SAN_BUILD := build-asan
SAN_PRELOAD = $(shell g++ -print-file-name=libasan.so):$(shell g++ -print-file-name=libubsan.so)
SAN_ENV := UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
SAN_ASAN := halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1

$(SAN_BUILD)/build.ninja: CMakeLists.txt | setup
	$(VENV)/bin/cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFYRN_SANITIZE=ON \
	  -DFYRN_BUILD_TESTS=ON -DFYRN_WERROR=ON -DPython_EXECUTABLE=$(abspath $(PY))

sanitize: setup $(SAN_BUILD)/build.ninja
	$(VENV)/bin/cmake --build $(SAN_BUILD)
	$(SAN_ENV) ASAN_OPTIONS=$(SAN_ASAN) $(VENV)/bin/ctest --test-dir $(SAN_BUILD) --output-on-failure
	$(SAN_ENV) ASAN_OPTIONS=$(SAN_ASAN):detect_leaks=0 LD_PRELOAD=$(SAN_PRELOAD) \
	  PYTHONPATH=$(SAN_BUILD) $(PY) -m pytest -q -p no:cacheprovider tests
	@echo "sanitize: clean"

# `make fuzz`: the fuzz harnesses (fuzz/) one after another, FUZZ_SECONDS each,
# against a sanitizer build made by clang (build-fuzz: FYRN_SANITIZE plus
# coverage instrumentation): atheris over the Python surface, libFuzzer over
# core entry points. Atheris needs the extension built by clang and its own
# ASan+libFuzzer runtime preloaded: preloading GCC's libasan (as `make
# sanitize` does) would supply the coverage hooks and blind the fuzzer.
# Corpora persist in build-fuzz/runs/corpus; the summary (inputs per harness
# and per entry point, crashes) is build-fuzz/runs/summary.json.
FUZZ_SECONDS ?= 60
FUZZ_SEED ?= 1
FUZZ_BUILD := build-fuzz
FUZZ_DEB_PACKAGES := clang libclang-rt-14-dev

.PHONY: fuzz fuzz-packages fuzz-smoke

fuzz-packages:
	@$(MAKE) --no-print-directory system-packages EXTRA_DEB_PACKAGES="$(FUZZ_DEB_PACKAGES)"

$(FUZZ_BUILD)/build.ninja: CMakeLists.txt | setup fuzz-packages
	CC=clang CXX=clang++ $(VENV)/bin/cmake -S . -B $(FUZZ_BUILD) -G Ninja \
	  -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DFYRN_SANITIZE=ON -DFYRN_FUZZ=ON -DFYRN_WERROR=ON -DPython_EXECUTABLE=$(abspath $(PY))

fuzz: setup $(FUZZ_BUILD)/build.ninja
	$(VENV)/bin/cmake --build $(FUZZ_BUILD)
	$(SAN_ENV) ASAN_OPTIONS=$(SAN_ASAN):detect_leaks=0 LD_PRELOAD=$$($(PY) -c 'import atheris; print(atheris.path())')/asan_with_fuzzer.so \
	  PYTHONPATH=$(FUZZ_BUILD) $(PY) fuzz/run.py --out $(FUZZ_BUILD)/runs --seconds $(FUZZ_SECONDS) --seed $(FUZZ_SEED) --core $(FUZZ_BUILD)

# The bounded run of `make test`: the atheris harnesses on the normal build,
# fixed seed, fixed input counts from an empty corpus; each harness is capped at
# 10 s so that a busy machine cannot stretch the run past a minute.
FUZZ_SMOKE_RUNS ?= 100000
fuzz-smoke: build
	PYTHONPATH=$(BUILD) $(PY) fuzz/run.py --out $(BUILD)/fuzz-smoke --fresh --seed 7 \
	  --runs $(FUZZ_SMOKE_RUNS) --seconds 10

test: fuzz-smoke

# `make leaks`: every entry point 10^5 times on success and error paths;
# resident memory, allocated blocks and gc objects must stay flat.
.PHONY: leaks
leaks: build
	PYTHONPATH=$(BUILD) $(PY) tools/leaks.py

# `make test-pythons`: for every interpreter of the claimed range (3.10–3.13)
# found on this machine (pyenv's versions, else python3.X on PATH), a fresh
# venv, `pip install .[test]` (a build from source) and the whole pytest suite
# against that installed module, run from tests/ so that nothing of the dev
# build tree is imported. tests/test_cpp_package.py skips itself there: it
# needs the C++ example that `make check-cpp-package` builds. Not part of
# `make test`, which stays on the default interpreter.
PYTHON_VERSIONS ?= 3.10 3.11 3.12 3.13
PYTHONS_DIR := $(BUILD)/pythons

.PHONY: test-pythons
test-pythons: system-packages
	@mkdir -p $(PYTHONS_DIR); status=0; found=0; summary=""; \
	root=$$(pyenv root 2>/dev/null || true); \
	for v in $(PYTHON_VERSIONS); do \
	  py=""; \
	  if [ -n "$$root" ]; then \
	    py=$$(ls -d $$root/versions/$$v.*/bin/python$$v 2>/dev/null | sort -V | tail -n 1); fi; \
	  if [ -z "$$py" ] && command -v python$$v >/dev/null && python$$v -c pass 2>/dev/null; then \
	    py=$$(command -v python$$v); fi; \
	  if [ -z "$$py" ]; then summary="$$summary\n  $$v: not found"; continue; fi; \
	  found=$$((found + 1)); env=$(abspath $(PYTHONS_DIR))/$$v; log=$$env.log; \
	  echo "== Python $$v ($$py): venv, pip install .[test], pytest (log: $$log)"; \
	  rm -rf $$env && "$$py" -m venv $$env && \
	  ( $$env/bin/pip install -q --upgrade pip && $$env/bin/pip install -q ".[test]" && \
	    cd tests && $$env/bin/python -m pytest -q -p no:cacheprovider . ) > $$log 2>&1; rc=$$?; \
	  line=$$(grep -E '[0-9]+ (passed|failed)' $$log | tail -n 1); \
	  if [ $$rc -eq 0 ]; then summary="$$summary\n  $$v: $$line"; \
	  else status=1; summary="$$summary\n  $$v: FAILED ($${line:-see $$log})"; tail -n 30 $$log; fi; \
	done; \
	echo -e "test-pythons:$$summary"; \
	if [ $$found -eq 0 ]; then echo "test-pythons: no interpreter of $(PYTHON_VERSIONS) found"; exit 1; fi; \
	exit $$status


# `make coverage`: line and branch coverage of src/ by the C++ tests and the
# pytest suite together, from a gcov build (build-cov, -O0). Branches that only
# exceptions take are not counted. Per-file figures: $(COV_OUT) (json) and
# build-cov/coverage.txt; `make coverage COV_OUT=tools/coverage/x.json` keeps a
# copy. The repeated subprocess scenarios run COV_STRESS_RUNS times each (they
# reach the same lines every time).
COV_BUILD := build-cov
COV_OUT ?= $(COV_BUILD)/coverage.json
COV_STRESS_RUNS ?= 4
COV_TESTS ?= tests
GCOVR := $(VENV)/bin/gcovr

.PHONY: coverage mutate count-lines

$(GCOVR): | venv
	$(PY) -m pip install -q "gcovr>=7"

$(COV_BUILD)/build.ninja: CMakeLists.txt | setup
	$(VENV)/bin/cmake -S . -B $(COV_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG= -DFYRN_COVERAGE=ON \
	  -DFYRN_BUILD_TESTS=ON -DFYRN_WERROR=ON -DPython_EXECUTABLE=$(abspath $(PY))

coverage: setup $(GCOVR) $(COV_BUILD)/build.ninja
	$(VENV)/bin/cmake --build $(COV_BUILD) --target fyrn_core_tests _native
	find $(COV_BUILD) -name '*.gcda' -delete
	$(VENV)/bin/ctest --test-dir $(COV_BUILD) --output-on-failure -j2 >/dev/null
	FYRN_STRESS_RUNS=$(COV_STRESS_RUNS) PYTHONPATH=$(COV_BUILD) $(PY) -m pytest -q -p no:cacheprovider $(COV_TESTS)
	@mkdir -p $(dir $(COV_OUT))
	$(GCOVR) --root . --filter 'src/' --object-directory $(COV_BUILD) \
	  --exclude-throw-branches --exclude-unreachable-branches \
	  --json-summary-pretty --json-summary $(COV_OUT) --txt $(COV_BUILD)/coverage.txt \
	  --json $(COV_BUILD)/coverage-detail.json $(COV_BUILD)
	@tail -4 $(COV_BUILD)/coverage.txt

# `make mutate`: tools/mutate.py over the committed tree (see its docstring).
MUTATE_OUT ?= build-mut/results
mutate: setup
	nice -n 10 $(PY) tools/mutate.py --suite head=HEAD --out $(MUTATE_OUT)

count-lines:
	@python3 tools/count_lines.py

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD) $(COV_BUILD) build-mut build-ct

# --- Packaging: the installed C++ package and the self-contained wheel ---

# Wheels for every supported CPython: `make wheels`, `make check-wheels`.
include packaging/wheels.mk

.PHONY: check-cpp-package wheel check-wheel

# `make test` runs these after the suites and the install check.
test: check-cpp-package wheel

# The core alone (FYRN_BUILD_PYTHON=OFF: no Python anywhere in it) is built and
# installed into a build-local prefix; a separate CMake project (examples/cpp)
# finds it with find_package(fyrn_keychain), links fyrn::core and signs an
# order, which tests/test_cpp_package.py verifies.
CPP_PREFIX := $(abspath $(BUILD))/cpp-prefix
check-cpp-package: build
	$(VENV)/bin/cmake -S . -B $(BUILD)/cpp-core -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	  -DFYRN_BUILD_PYTHON=OFF -DFYRN_BUILD_TESTS=OFF -DFYRN_WERROR=ON >/dev/null
	$(VENV)/bin/cmake --build $(BUILD)/cpp-core
	@rm -rf $(CPP_PREFIX)
	$(VENV)/bin/cmake --install $(BUILD)/cpp-core --prefix $(CPP_PREFIX) >/dev/null
	$(VENV)/bin/cmake -S examples/cpp -B $(BUILD)/cpp-example -G Ninja \
	  -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) -DCMAKE_PREFIX_PATH=$(CPP_PREFIX) \
	  -DCMAKE_CXX_FLAGS="-Wall -Wextra" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
	$(VENV)/bin/cmake --build $(BUILD)/cpp-example
	FYRN_SIGN_ORDER=$(abspath $(BUILD))/cpp-example/sign_order PYTHONPATH=$(BUILD) \
	  $(PY) -m pytest -q tests/test_cpp_package.py

# The wheel links Debian's static libsodium (ISC) and grafts Debian's oneTBB
# runtime (Apache-2.0) with auditwheel. PyPI's oneTBB binaries are not used: they
# come under Intel's binary-only licence, which forbids the modification that
# grafting is (auditwheel rewrites the library's SONAME). The grafted oneTBB is
# then also the 2021.8 that the dev build tests. The tools live in their own
# venv.
WHEEL_TOOLS := $(BUILD)/wheel-tools
WHEEL_VENV  := $(BUILD)/wheel-venv
$(WHEEL_TOOLS)/.stamp: packaging/requirements-wheel.txt
	@rm -rf $(WHEEL_TOOLS) && python3 -m venv $(WHEEL_TOOLS)
	$(WHEEL_TOOLS)/bin/pip install -q -r $<
	@touch $@

wheel: system-packages $(WHEEL_TOOLS)/.stamp
	@rm -rf $(BUILD)/wheel-raw $(BUILD)/wheel-notices dist/fyrn_keychain-*.whl
	@mkdir -p $(BUILD)/wheel-notices
	cp /usr/share/doc/libsodium-dev/copyright $(BUILD)/wheel-notices/libsodium.copyright
	cp /usr/share/doc/libtbb12/copyright $(BUILD)/wheel-notices/oneTBB.copyright
	cp /usr/share/common-licenses/Apache-2.0 $(BUILD)/wheel-notices/Apache-2.0
	$(WHEEL_TOOLS)/bin/pip wheel -q --no-deps --no-build-isolation -w $(BUILD)/wheel-raw \
	  -Cbuild-dir=$(BUILD)/wheel-cmake -Ccmake.define.FYRN_STATIC_SODIUM=ON \
	  -Ccmake.define.FYRN_BUNDLED_NOTICES_DIR=$(abspath $(BUILD))/wheel-notices .
	PATH=$(abspath $(WHEEL_TOOLS))/bin:$$PATH $(WHEEL_TOOLS)/bin/auditwheel repair -w dist $(BUILD)/wheel-raw/*.whl
	@ls -l dist/fyrn_keychain-*.whl
	$(MAKE) --no-print-directory check-wheel

# A fresh venv installs the wheel and its test extras; check_wheel.py signs a
# parallel batch and reads /proc/self/maps. Then the whole Python suite (its
# fork and exit subprocess tests included) runs against the installed wheel:
# the module is built differently there (static libsodium, a grafted and
# renamed oneTBB).
check-wheel:
	@rm -rf $(WHEEL_VENV) && python3 -m venv $(WHEEL_VENV)
	$(WHEEL_VENV)/bin/pip install -q "$$(ls dist/fyrn_keychain-*.whl)[test]"
	cd / && $(abspath $(WHEEL_VENV))/bin/python $(abspath packaging/check_wheel.py)
	cd tests && $(abspath $(WHEEL_VENV))/bin/python -m pytest -q -p no:cacheprovider .

# --- Ed25519 signing checks outside `make test` ---

# `make ct`: the constant-time checks of the signing path (tools/ed25519/ct.sh):
# MemorySanitizer with the secrets poisoned (build-ct: clang, only the driver
# and the Ed25519 sources), valgrind memcheck with the secrets undefined (the
# code without AVX-512), and the dudect-style timing test. Each runs planted
# controls that must be caught beside the real code that must not be.
CT_BUILD := build-ct
CT_DEB_PACKAGES := clang libclang-rt-14-dev valgrind
CT_MEASUREMENTS ?= 200000

.PHONY: ct ct-packages sign-diff

ct-packages:
	@$(MAKE) --no-print-directory system-packages EXTRA_DEB_PACKAGES="$(CT_DEB_PACKAGES)"

$(CT_BUILD)/build.ninja: CMakeLists.txt | setup ct-packages
	CC=clang CXX=clang++ $(VENV)/bin/cmake -S . -B $(CT_BUILD) -G Ninja \
	  -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) -DCMAKE_BUILD_TYPE=Release \
	  -DFYRN_CT_MSAN=ON -DFYRN_WERROR=ON -DFYRN_BUILD_PYTHON=OFF

ct: setup ct-packages build $(CT_BUILD)/build.ninja
	@# Configure again: valgrind's headers may have arrived after the first configure.
	$(VENV)/bin/cmake -S . -B $(BUILD) >/dev/null
	$(VENV)/bin/cmake --build $(BUILD) --target ct_check ct_dudect
	$(VENV)/bin/cmake --build $(CT_BUILD)
	nice -n 10 tools/ed25519/ct.sh $(CT_BUILD) $(BUILD) $(CT_MEASUREMENTS)

# `make sign-diff`: SIGN_DIFF_COUNT random seeds and messages signed by every
# backend (one message per call and in batches) and compared byte for byte
# with libsodium's crypto_sign_detached, on every core.
SIGN_DIFF_COUNT ?= 10000000
sign-diff: build
	nice -n 10 $(BUILD)/sign_diff $(SIGN_DIFF_COUNT)
