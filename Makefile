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
	@missing=""; for p in $(DEB_PACKAGES); do \
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

clean:
	rm -rf $(BUILD) $(SAN_BUILD)
