# Developer entry points. The README's two commands are `make demo` and `make test`.
# Everything is installed into the virtual environment .venv, so a run never depends on
# what else the machine's Python holds.
VENV ?= .venv
PYTHON := $(VENV)/bin/python
BUILD_FLAGS ?= -Ccmake.define.LUMOX_WERROR=ON

.PHONY: demo test install browsers node-packages test-cpp test-py dev

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

install: $(PYTHON)
	$(PYTHON) -m pip install -q $(BUILD_FLAGS) '.[test]'

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
dev: $(PYTHON)
	$(PYTHON) -m pip install -q "pybind11>=3,<4"
	cmake -S . -B build/dev -G Ninja -DLUMOX_INPLACE=ON -DLUMOX_TESTS=ON \
	  -DPython_EXECUTABLE=$(abspath $(PYTHON)) \
	  -Dpybind11_DIR=$$($(PYTHON) -m pybind11 --cmakedir)
	cmake --build build/dev
