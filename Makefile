# make demo: install what is missing, build, pack the example request.
# make test: install what is missing, build, run the C++ and Python tests.
SHELL := /bin/bash
PYTHON ?= python3
VENV := .venv
VPY := $(VENV)/bin/python
JSON_PREFIX = $$(cat build/json-prefix)

.PHONY: demo test test-cpp test-python module cpp deps venv clean

demo: module
	$(VPY) examples/demo.py examples/request.json

test: test-cpp test-python

deps: build/json-prefix

build/json-prefix: scripts/deps.sh
	@mkdir -p build
	scripts/deps.sh > $@.tmp
	@mv $@.tmp $@

venv: $(VENV)/.installed

$(VENV)/.installed: pyproject.toml
	test -x $(VPY) || $(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install -q --disable-pip-version-check \
	    "pybind11>=3,<4" "scikit-build-core>=0.10" cmake ninja pytest hypothesis
	@touch $@

module: deps venv
	CMAKE_PREFIX_PATH=$(JSON_PREFIX) $(VPY) -m pip install -q --disable-pip-version-check \
	    --no-build-isolation --no-deps .

cpp: deps venv
	PATH=$(CURDIR)/$(VENV)/bin:$$PATH cmake -S . -B build/cpp -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DSTOWVEX_TESTS=ON -DCMAKE_PREFIX_PATH=$(JSON_PREFIX)
	PATH=$(CURDIR)/$(VENV)/bin:$$PATH cmake --build build/cpp

test-cpp: cpp
	cd build/cpp && PATH=$(CURDIR)/$(VENV)/bin:$$PATH ctest --output-on-failure -j 2

test-python: module
	$(VPY) -m pytest

clean:
	rm -rf build

# make test-py315: build and test with Debian's CPython 3.15 in a sid root
# cached under $(STOWVEX_CACHE) (default /var/cache/stowvex); made on first use.
# make test-pythons: the Python tests on every pyenv CPython 3.10+, one venv each.
.PHONY: test-py315 test-pythons

test-py315:
	scripts/py315.sh test

test-pythons:
	MAKE="$(MAKE)" scripts/pythons.sh

# make bench: build, then the quick container-loading, parcel-order, scaling and
# balanced-order benchmarks (bench/README.md). BENCH_DATA is the data directory, relative to the
# project root.
BENCH_DATA ?= ../shared/data

.PHONY: bench
bench: module
	$(VPY) bench/container_loading.py --data $(BENCH_DATA)
	$(VPY) bench/parcel_orders.py --data $(BENCH_DATA)
	$(VPY) bench/scaling.py
	$(VPY) bench/balanced_orders.py
