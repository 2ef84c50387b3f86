# make demo / make test on a fresh Debian machine with Python 3.11 and a C++ compiler: each target
# installs what is missing (system ERFA, a .venv with the package's build and test requirements),
# builds the extension modules in place and runs. Nothing is redone without need.
#
# Another interpreter gets a venv and a build directory of its own; the modules it builds sit in
# the same tree, told apart by their ABI tag (e.g. `make test PYTHON=python3.12 VENV=.venv-3.12
# BUILD=build/py312`). `make test-all` runs the suite and the wheel check on every version we support.

PYTHON  ?= $(shell command -v python3.11 || command -v python3)
VENV    ?= .venv
VPY     := $(VENV)/bin/python
BUILD   ?= build/dev
# The versions test-all covers besides the default one, each found by .ci/find-python.
OTHER_PYTHONS := 3.12 3.13
SUDO    := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
SOURCES := $(shell find kelvara tests/ext -name '*.cpp' -o -name '*.hpp') CMakeLists.txt

.PHONY: all demo test test-all bench build clean system-deps check-asan fuzz wheel-check

all: test

system-deps:
	@pkg-config --exists erfa 2>/dev/null || { \
	  echo "installing pkg-config and liberfa-dev"; \
	  $(SUDO) apt-get update -qq && $(SUDO) DEBIAN_FRONTEND=noninteractive apt-get install -y -qq pkg-config liberfa-dev; }

$(VENV)/.installed: pyproject.toml | system-deps
	$(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install -q --upgrade pip
	$(VPY) -c "import tomllib; p = tomllib.load(open('pyproject.toml', 'rb'))['project']; \
	  print('\\n'.join(['cmake', 'ninja', 'scikit-build-core'] + p['dependencies'] + p['optional-dependencies']['test']))" \
	  > $(VENV)/requirements.txt
	$(VPY) -m pip install -q -r $(VENV)/requirements.txt
	# the working tree is the installed package: the modules are built in place
	echo "$(CURDIR)" > $$($(VPY) -c "import sysconfig; print(sysconfig.get_paths()['purelib'])")/kelvara-dev.pth
	touch $@

$(BUILD)/.built: $(VENV)/.installed $(SOURCES) | system-deps
	mkdir -p $(BUILD)
	$(VENV)/bin/cmake -S . -B $(BUILD) -G Ninja -DPython_EXECUTABLE=$(abspath $(VPY)) -DKELVARA_TESTS=ON \
	  -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) > $(BUILD)/configure.log || { cat $(BUILD)/configure.log; exit 1; }
	$(VENV)/bin/cmake --build $(BUILD)
	touch $@

build: $(BUILD)/.built

demo: build
	$(VPY) -m kelvara

test: build
	$(VPY) -m pytest -q

bench: build
	$(VPY) benchmarks/run.py

# The property-based fuzz tests with the long hypothesis profile (thousands of calls per operation).
fuzz: build
	KELVARA_FUZZ=1 $(VPY) -m pytest -q -p no:cacheprovider tests/test_fuzz.py

# The wheel as a user gets it: built from the sources (isolated build), installed into a fresh venv
# with nothing else of the tree, and checked from a directory outside it (.ci/check_wheel.py finds
# every extension module of the installed package, imports and uses it, and checks with ldd that
# none needs liberfa). Needs only what system-deps and the .venv provide.
WHEEL_DIR := $(BUILD)/wheel
wheel-check: $(VENV)/.installed | system-deps
	rm -rf $(WHEEL_DIR) && mkdir -p $(WHEEL_DIR)
	$(VPY) -m pip wheel -q --no-deps -w $(WHEEL_DIR) .
	@check=$$(mktemp -d) && trap 'rm -rf "$$check"' EXIT && \
	  $(PYTHON) -m venv "$$check/venv" && \
	  "$$check/venv/bin/python" -m pip install -q $(WHEEL_DIR)/kelvara-*.whl && \
	  cp .ci/check_wheel.py "$$check/" && \
	  cd "$$check" && env -u PYTHONPATH "$$check/venv/bin/python" -I check_wheel.py

# Every extension built with AddressSanitizer and UndefinedBehaviorSanitizer into a tree of its
# own (build/asan/tree: the Python sources and tests copied beside the instrumented modules),
# then the whole suite run there with the sanitizer runtime preloaded. pytest captures only
# Python-level output there, so a sanitizer report reaches the terminal even when it aborts the
# run; tests/asan.supp silences third-party code the tests use for reference values only.
ASAN_TREE := build/asan/tree
check-asan: $(VENV)/.installed | system-deps
	mkdir -p $(ASAN_TREE)
	$(VENV)/bin/cmake -S . -B build/asan -G Ninja -DPython_EXECUTABLE=$(abspath $(VPY)) -DKELVARA_TESTS=ON \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVARA_SANITIZE=address,undefined -DKELVARA_OUTPUT_ROOT=$(abspath $(ASAN_TREE)) \
	  -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) > build/asan/configure.log || { cat build/asan/configure.log; exit 1; }
	$(VENV)/bin/cmake --build build/asan
	tar -cf - pyproject.toml README.md LICENSE $$(git ls-files kelvara tests benchmarks docs examples | grep -v '\.\(cpp\|hpp\)$$') | tar -xf - -C $(ASAN_TREE)
	cd $(ASAN_TREE) && LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libstdc++.so)" \
	  ASAN_OPTIONS=detect_leaks=0:suppressions=$(abspath tests/asan.supp) UBSAN_OPTIONS=print_stacktrace=1 PYTHONMALLOC=malloc \
	  $(abspath $(VPY)) -m pytest -q -p no:cacheprovider --capture=sys

# The suite and the wheel check on the default interpreter, then on each of OTHER_PYTHONS in its
# own venv (.venv-3.12) and build directory (build/py312). .ci/find-python fails loudly when a
# version is missing.
test-all:
	$(MAKE) test
	$(MAKE) wheel-check
	@set -e; for v in $(OTHER_PYTHONS); do \
	  py=$$(.ci/find-python $$v); tag=$$(echo $$v | tr -d .); \
	  echo "== Python $$v: $$py"; \
	  $(MAKE) test PYTHON=$$py VENV=.venv-$$v BUILD=build/py$$tag; \
	  $(MAKE) wheel-check PYTHON=$$py VENV=.venv-$$v BUILD=build/py$$tag; \
	done

clean:
	rm -rf build
	find kelvara tests -name '*.so' -delete
