# Developer entry points. The README's two commands are `make demo` and `make test`.
# Everything is installed into the virtual environment .venv, so a run never depends on
# what else the machine's Python holds.
VENV ?= .venv
PYTHON := $(VENV)/bin/python
BUILD_FLAGS ?= -Ccmake.define.LUMOX_WERROR=ON

.PHONY: demo test install build-deps browsers node-packages test-cpp test-py dev clang fuzz bench bench-venvs bench-lumox

$(PYTHON):
	python3 -m venv $(VENV)
	$(PYTHON) -m pip install -q --upgrade pip

# Debian's Chromium and ChromeDriver, for the browser fixtures (nothing is downloaded
# by the tests themselves).
browsers:
	@if ! command -v chromium >/dev/null || ! command -v chromedriver >/dev/null; then \
	  apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q chromium chromium-driver; \
	fi

# The Node.js packages of package-lock.json (front-end libraries of the test pages),
# installed exactly as locked; node_modules is never committed.
node_modules/.package-lock.json: package.json package-lock.json
	npm ci --no-audit --no-fund --loglevel=error

node-packages: node_modules/.package-lock.json

# Debian's libyaml headers: lumox.yaml_cases reads case files with libyaml when built
# with them (without, PyYAML reads them, more slowly).
build-deps:
	@if [ ! -e /usr/include/yaml.h ]; then \
	  apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q libyaml-dev; \
	fi

# Without build isolation the build tools stay the same between installs, so the
# persistent build directory (build/<wheel tag>) rebuilds only what changed.
install: build-deps $(PYTHON)
	$(PYTHON) -m pip install -q "scikit-build-core>=0.10" "pybind11>=3,<4"
	$(PYTHON) -m pip install -q --no-build-isolation $(BUILD_FLAGS) '.[test]'

demo: browsers node-packages install
	PYTHON=$(abspath $(PYTHON)) bash examples/demo.sh

# The C++ core library's GoogleTest suite.
test-cpp: $(PYTHON)
	$(PYTHON) -m pip install -q "pybind11>=3,<4"
	cmake -S . -B build/gtest -G Ninja -DLUMOX_TESTS=ON -DLUMOX_WERROR=ON \
	  -DPython_EXECUTABLE=$(abspath $(PYTHON)) \
	  -Dpybind11_DIR=$$($(PYTHON) -m pybind11 --cmakedir) >/dev/null
	cmake --build build/gtest --target lumox_core_tests
	./build/gtest/lumox_core_tests --gtest_brief=1

test-py:
	$(PYTHON) -m pytest -ra

test: browsers node-packages install test-cpp test-py

# In-place build for development: modules land in src/lumox (use PYTHONPATH=src).
dev: build-deps $(PYTHON)
	$(PYTHON) -m pip install -q "pybind11>=3,<4"
	cmake -S . -B build/dev -G Ninja -DLUMOX_INPLACE=ON -DLUMOX_TESTS=ON \
	  -DPython_EXECUTABLE=$(abspath $(PYTHON)) \
	  -Dpybind11_DIR=$$($(PYTHON) -m pybind11 --cmakedir)
	cmake --build build/dev

# libFuzzer targets of the core library (fuzz/), built by clang with ASan and UBSan in
# build/fuzz, which needs no Python. Each target runs FUZZ_SECONDS on a copy of its seed
# corpus, so what it learns stays out of the repository; crashing inputs land in
# build/fuzz/crashes/.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := $(patsubst fuzz/fuzz_%.cpp,%,$(wildcard fuzz/fuzz_*.cpp))

# Debian's clang and the runtime libraries of libFuzzer and the sanitizers.
clang:
	@if ! command -v clang++ >/dev/null || ! dpkg -s libclang-rt-14-dev >/dev/null 2>&1; then \
	  apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q clang libclang-rt-14-dev; \
	fi

fuzz: clang
	cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DLUMOX_FUZZ=ON >/dev/null
	cmake --build build/fuzz
	@mkdir -p build/fuzz/crashes
	@for name in $(FUZZ_TARGETS); do \
	  mkdir -p build/fuzz/corpus/$$name && cp fuzz/corpus/$$name/* build/fuzz/corpus/$$name/; \
	  if ./build/fuzz/fuzz_$$name -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	      -artifact_prefix=build/fuzz/crashes/$$name- build/fuzz/corpus/$$name \
	      >build/fuzz/fuzz_$$name.log 2>&1; then \
	    echo "fuzz_$$name: $$(grep '^Done' build/fuzz/fuzz_$$name.log)"; \
	  else \
	    tail -n 40 build/fuzz/fuzz_$$name.log; echo "fuzz_$$name failed, see build/fuzz/crashes/"; exit 1; \
	  fi; \
	done

# Benchmarks of lumox against its peers, one table of medians (benchmarks/README.md).
# The peers get their own virtual environments under benchmarks/.work, made once.
# lumox runs in benchmarks/.work/lumox, where it is installed from a wheel of this tree as a
# tester installs it: with its dependencies and nothing else (the test extras, xdist and
# timeout, would add their own start-up). LUMOX_PYTHON runs lumox from another environment;
# BENCH_PYTHONPATH=src measures the in-place build of `make dev` with .venv's Python.
# BENCH_ARGS: --runs, --only, --quick.
BENCH_WORK := benchmarks/.work
BENCH_BASE_PYTHON ?= python3
BENCH_LUMOX := $(BENCH_WORK)/lumox
BENCH_PYTHONPATH ?=
LUMOX_PYTHON ?= $(if $(BENCH_PYTHONPATH),$(PYTHON),$(BENCH_LUMOX)/bin/python)
BENCH_ARGS ?=
BENCH_VENVS := $(BENCH_WORK)/pytest-httpx/.ready $(BENCH_WORK)/tavern/.ready $(BENCH_WORK)/robot/.ready

$(BENCH_WORK)/pytest-httpx/.ready:
	rm -rf $(@D) && $(BENCH_BASE_PYTHON) -m venv $(@D)
	$(@D)/bin/python -m pip install -q --upgrade pip
	$(@D)/bin/python -m pip install -q pytest httpx
	touch $@

# Tavern 3.7 still imports a module that pytest 9 no longer has.
$(BENCH_WORK)/tavern/.ready:
	rm -rf $(@D) && $(BENCH_BASE_PYTHON) -m venv $(@D)
	$(@D)/bin/python -m pip install -q --upgrade pip
	$(@D)/bin/python -m pip install -q "tavern>=3,<4" "pytest<9"
	touch $@

$(BENCH_WORK)/robot/.ready:
	rm -rf $(@D) && $(BENCH_BASE_PYTHON) -m venv $(@D)
	$(@D)/bin/python -m pip install -q --upgrade pip
	$(@D)/bin/python -m pip install -q "robotframework>=7,<8" robotframework-requests
	touch $@

bench-venvs: $(BENCH_VENVS)

# The wheel is built by .venv's tools into the same persistent build directory as `install`.
bench-lumox: build-deps $(PYTHON)
	$(PYTHON) -m pip install -q "scikit-build-core>=0.10" "pybind11>=3,<4"
	rm -rf $(BENCH_WORK)/wheel
	$(PYTHON) -m pip wheel -q --no-build-isolation --no-deps $(BUILD_FLAGS) -w $(BENCH_WORK)/wheel .
	test -x $(BENCH_LUMOX)/bin/python || $(BENCH_BASE_PYTHON) -m venv $(BENCH_LUMOX)
	$(BENCH_LUMOX)/bin/python -m pip install -q $(BENCH_WORK)/wheel/lumox-*.whl
	$(BENCH_LUMOX)/bin/python -m pip install -q --force-reinstall --no-deps $(BENCH_WORK)/wheel/lumox-*.whl

bench: $(if $(BENCH_PYTHONPATH),,bench-lumox) bench-venvs
	$(LUMOX_PYTHON) benchmarks/run.py --lumox-python $(LUMOX_PYTHON) \
	  $(if $(BENCH_PYTHONPATH),--lumox-pythonpath $(abspath $(BENCH_PYTHONPATH))) $(BENCH_ARGS)
