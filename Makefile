# make demo: install what building the module and drawing a picture need, build,
# pack examples/request.json and draw it (build/demo/).
# make test: also install the development tools, build, run the C++ and Python
# tests and the type checks.
# make lint: the formatters (ruff, clang-format) in check mode, ruff's linter and
# mypy --strict; make format applies both formatters.
# make golden: every request of the golden corpus (make test checks a part).
SHELL := /bin/bash
PYTHON ?= python3
VENV := .venv
VPY := $(VENV)/bin/python
# -qq: only errors; pip's warnings about the machine's own index settings stay out.
PIP_INSTALL := $(VPY) -m pip install -qq --disable-pip-version-check
# The folder of nlohmann_json's headers in the virtual environment (PyPI's nlohmann-json).
JSON_INCLUDE = $$($(VPY) -c 'import importlib.util as u, os; print(os.path.join(list(u.find_spec("nlohmann_json").submodule_search_locations)[0], "include"))')
# Development builds of the module go to their own folder; pip's own builds use build/<wheel tag>.
DEV_BUILD := build/dev/{wheel_tag}

.PHONY: demo test test-cpp test-python test-types test-sanitize module cpp deps browser \
    build-venv venv lint format clean

demo: module
	@$(VPY) examples/demo.py examples/request.json build/demo

test: test-cpp test-python test-types

deps:
	@scripts/deps.sh cpp

# The virtual environment in two steps: requirements-build.txt (what make demo
# needs: the build requirements, the runtime packages and the picture extra),
# then requirements-dev.txt (the development tools). A change of either file
# makes its step install again.
build-venv: $(VENV)/.build-installed
venv: $(VENV)/.dev-installed

$(VENV)/.build-installed: pyproject.toml requirements-build.txt
	@scripts/deps.sh compiler
	@test -x $(VPY) || $(PYTHON) -m venv $(VENV)
	@echo "installing the build requirements into $(VENV)"
	@$(PIP_INSTALL) -r requirements-build.txt
	@touch $@

$(VENV)/.dev-installed: requirements-dev.txt $(VENV)/.build-installed
	@echo "installing the development tools into $(VENV)"
	@$(PIP_INSTALL) -r requirements-dev.txt
	@touch $@

module: build-venv
	@echo "building the extension modules (build/dev)"
	@$(PIP_INSTALL) --no-build-isolation --no-deps -Cbuild-dir=$(DEV_BUILD) .

# make lint checks and make format rewrites: Python with ruff, C++ (every
# tracked .cpp and .hpp) with clang-format from Debian (.clang-format).
CXX_SOURCES = $$(git ls-files '*.cpp' '*.hpp')

lint: venv
	@scripts/deps.sh lint
	$(VENV)/bin/ruff check .
	$(VENV)/bin/ruff format --check .
	clang-format --dry-run -Werror $(CXX_SOURCES)
	$(VPY) -m mypy

format: venv
	@scripts/deps.sh lint
	$(VENV)/bin/ruff check --fix .
	$(VENV)/bin/ruff format .
	clang-format -i $(CXX_SOURCES)

cpp: deps venv
	PATH=$(CURDIR)/$(VENV)/bin:$$PATH cmake -S . -B build/cpp -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DSTOWVEX_TESTS=ON -DPython_EXECUTABLE=$(CURDIR)/$(VPY)
	PATH=$(CURDIR)/$(VENV)/bin:$$PATH cmake --build build/cpp

test-cpp: cpp
	cd build/cpp && PATH=$(CURDIR)/$(VENV)/bin:$$PATH ctest --output-on-failure -j 2

# Debian's chromium and its driver, for the test that opens a drawn result.
browser:
	scripts/browser.sh

test-python: module venv browser
	$(VPY) -m pytest

# make test-types: the stubs of both extension modules (src/stowvex.pyi,
# src/stowvex_tools/_native.pyi) against the built modules, then mypy --strict over the files
# pyproject.toml names.
test-types: module venv
	$(VPY) -m mypy.stubtest stowvex --allowlist tests/python/stubtest-allowlist.txt
	$(VPY) -m mypy.stubtest stowvex_tools._native
	$(VPY) -m mypy

# make docs: the documentation site in build/docs/html (Sphinx, theme furo),
# every warning an error. docs/requirements.txt lists the packages it adds to
# the virtual environment.
.PHONY: docs
docs: module $(VENV)/.docs-installed
	$(VPY) -m sphinx -W --keep-going -q -b html -d build/docs/doctrees docs build/docs/html

$(VENV)/.docs-installed: docs/requirements.txt $(VENV)/.dev-installed
	$(PIP_INSTALL) -r docs/requirements.txt
	@touch $@

# make wheel: an sdist, and a wheel built from that sdist by pip's isolated
# build (its build requirements come from PyPI), both in build/dist; auditwheel
# repairs the wheel into a manylinux wheel in build/dist/wheelhouse, which is
# installed alone into a fresh virtual environment, build/wheel-venv. The
# installation tests then run the README example and the type checks against
# it outside the source tree.
DIST := build/dist
WHEEL_VENV := build/wheel-venv

.PHONY: wheel
wheel: venv
	rm -rf $(DIST) $(WHEEL_VENV)
	$(VPY) -m build --outdir $(DIST) .
	PATH=$(CURDIR)/$(VENV)/bin:$$PATH auditwheel repair --wheel-dir $(DIST)/wheelhouse $(DIST)/*.whl
	$(VPY) -m venv $(WHEEL_VENV)
	$(WHEEL_VENV)/bin/python -m pip install -q --disable-pip-version-check \
	    $(DIST)/wheelhouse/*.whl
	STOWVEX_SDIST=$$(ls $(DIST)/*.tar.gz) STOWVEX_WHEEL=$$(ls $(DIST)/wheelhouse/*.whl) \
	    STOWVEX_WHEEL_PYTHON=$(CURDIR)/$(WHEEL_VENV)/bin/python \
	    $(VPY) -m pytest tests/python/test_installed_package.py tests/python/test_types.py

# make test-sanitize: the C++ tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer in their own build directory; any finding fails.
SANITIZE_OPTIONS = ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1:abort_on_error=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

test-sanitize: deps venv
	PATH=$(CURDIR)/$(VENV)/bin:$$PATH cmake -S . -B build/cpp-sanitize -G Ninja \
	    -DCMAKE_BUILD_TYPE=Debug -DSTOWVEX_TESTS=ON -DSTOWVEX_SANITIZE=ON \
	    -DPython_EXECUTABLE=$(CURDIR)/$(VPY)
	PATH=$(CURDIR)/$(VENV)/bin:$$PATH $(SANITIZE_OPTIONS) cmake --build build/cpp-sanitize
	cd build/cpp-sanitize && PATH=$(CURDIR)/$(VENV)/bin:$$PATH $(SANITIZE_OPTIONS) \
	    ctest --output-on-failure -j 2

clean:
	rm -rf build

# make fuzz: the request fuzz target of tests/fuzz under AddressSanitizer and
# UndefinedBehaviorSanitizer for FUZZ_SECONDS seconds, with clang's libFuzzer
# (clang and libclang-rt-dev are installed from Debian if missing). Not run in
# CI; the corpus it grows stays in build/fuzz/corpus for the next run. A crash,
# a broken result or an input that runs over 300 s ends it (large orders take
# seconds to minutes under the sanitizers).
FUZZ_SECONDS ?= 300
FUZZ_FLAGS = -std=c++17 -g -O1 -ffp-contract=off -fno-sanitize-recover=all \
    -fsanitize=fuzzer,address,undefined,float-cast-overflow

.PHONY: fuzz clang
fuzz: deps venv clang
	@mkdir -p build/fuzz/corpus
	clang++ $(FUZZ_FLAGS) -Isrc -isystem $(JSON_INCLUDE) tests/fuzz/request_fuzzer.cpp \
	    src/model/*.cpp src/engine/*.cpp src/interchange/*.cpp -o build/fuzz/request_fuzzer
	cp examples/request.json tests/fuzz/seeds/* build/fuzz/corpus/
	build/fuzz/request_fuzzer -dict=tests/fuzz/request.dict -max_total_time=$(FUZZ_SECONDS) \
	    -timeout=300 -max_len=8192 -artifact_prefix=build/fuzz/ build/fuzz/corpus

# clang and its libFuzzer and sanitizer runtimes, from Debian when missing.
clang:
	@if ! command -v clang++ >/dev/null || \
	    ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a >/dev/null 2>&1; then \
	    sudo=; [ "$$(id -u)" -eq 0 ] || sudo=sudo; \
	    $$sudo apt-get update -qq && \
	    $$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-dev; \
	fi

# make test-sanitize-python: the extension module itself built with clang's
# AddressSanitizer and UndefinedBehaviorSanitizer, and libFuzzer's coverage
# instrumentation, into a virtual environment of its own
# (build/sanitize-python/venv: requirements-dev.txt and atheris); then the Python tests
# and SANITIZE_FUZZ_SECONDS of the Python fuzz harness under it, with the
# sanitizer runtime that atheris ships preloaded into the interpreter. Any
# finding fails. make fuzz-python runs the harness for FUZZ_SECONDS; its
# corpus stays in build/sanitize-python/corpus. Findings go to
# build/sanitize-python/crash-* (replay: the same command with the file).
SAN_DIR := build/sanitize-python
SAN_PY := $(SAN_DIR)/venv/bin/python
SAN_CXXFLAGS := -fsanitize=address,undefined,float-cast-overflow,fuzzer-no-link \
    -fno-sanitize=vptr,function -fno-sanitize-recover=all -fno-omit-frame-pointer -O1
SANITIZE_FUZZ_SECONDS ?= 60
SAN_RUN = env LD_PRELOAD="$$($(SAN_PY) -c 'import atheris, os; \
    print(os.path.join(atheris.path(), "asan_with_fuzzer.so"))')" PYTHONMALLOC=malloc \
    ASAN_OPTIONS=detect_leaks=0:strict_string_checks=1:check_initialization_order=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
PYFUZZ = $(SAN_RUN) $(SAN_PY) tests/fuzz/python_fuzzer.py -timeout=60 -rss_limit_mb=4096 \
    -max_len=4096 -len_control=0 \
    -artifact_prefix=$(SAN_DIR)/ $(SAN_DIR)/corpus

.PHONY: test-sanitize-python fuzz-python sanitized-module
sanitized-module: clang
	test -x $(SAN_PY) || $(PYTHON) -m venv $(SAN_DIR)/venv
	$(SAN_PY) -m pip install -q --disable-pip-version-check -r requirements-dev.txt atheris
	CC=clang CXX=clang++ $(SAN_PY) -m pip install -q --disable-pip-version-check \
	    --no-build-isolation --no-deps -Cbuild-dir=$(SAN_DIR)/build -Ccmake.build-type=Debug \
	    -Ccmake.define.CMAKE_CXX_FLAGS="$(SAN_CXXFLAGS)" .
	@mkdir -p $(SAN_DIR)/corpus

# The browser tests are left out: Chromium does not start with the sanitizer
# runtime preloaded, and the pages they open run no code of the module.
test-sanitize-python: sanitized-module
	$(SAN_RUN) $(SAN_PY) -m pytest -p no:cacheprovider --ignore=tests/python/test_browser.py \
	    --ignore=tests/python/test_service_browser.py
	$(PYFUZZ) -max_total_time=$(SANITIZE_FUZZ_SECONDS)

fuzz-python: sanitized-module
	$(PYFUZZ) -max_total_time=$(FUZZ_SECONDS)

# make test-py315: build and test with Debian's CPython 3.15 in a sid root
# cached under $(STOWVEX_CACHE) (default /var/cache/stowvex); made on first use.
# make test-pythons: the Python tests on every pyenv CPython 3.10+, one venv each.
.PHONY: test-py315 test-pythons

test-py315:
	scripts/py315.sh test

test-pythons:
	MAKE="$(MAKE)" scripts/pythons.sh

# make golden: the whole golden corpus of tests/golden (every frozen request,
# not only the quick part that make test checks).
# make golden-large: the same and the large requests of bench/large_orders.py.
.PHONY: golden golden-large
golden: module venv
	STOWVEX_GOLDEN=all $(VPY) -m pytest -q tests/python/test_golden.py

golden-large: module venv
	STOWVEX_GOLDEN=large $(VPY) -m pytest -q tests/python/test_golden.py

# make bench: build the module and the engine timer (build/bench), then the
# performance targets, the quick container-loading, parcel-order, scaling and
# balanced-order benchmarks, the interpreter lock and timeouts of
# stowvex_tools.solve, the optimiser beside the engine on the first two instances
# of BR0-BR15 and on every parcel order, and the loading rules on 50 parcel orders
# and two instances of each of BR1-BR7 (bench/README.md). BENCH_DATA is the data
# directory, relative to the project root.
# make bench-quality: the optimiser on all 1,600 instances of BR0-BR15, every run,
# spread over the cores (some five hours on 2 idle cores; every instance's fill and
# time go to build/bench/optimiser_quality.csv), then the many-box orders.
BENCH_DATA ?= ../shared/data

.PHONY: bench bench-tool bench-quality bench-batch bench-rules
bench-tool: venv
	PATH=$(CURDIR)/$(VENV)/bin:$$PATH cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DSTOWVEX_BENCH=ON -DPython_EXECUTABLE=$(CURDIR)/$(VPY)
	PATH=$(CURDIR)/$(VENV)/bin:$$PATH cmake --build build/bench --target engine_work

bench: module venv bench-tool
	$(VPY) bench/targets.py --data $(BENCH_DATA) --engine-work build/bench/engine_work
	$(VPY) bench/container_loading.py --data $(BENCH_DATA)
	$(VPY) bench/parcel_orders.py --data $(BENCH_DATA)
	$(VPY) bench/scaling.py
	$(VPY) bench/balanced_orders.py
	$(VPY) bench/settling.py --data $(BENCH_DATA)
	$(VPY) bench/lock_and_timeout.py
	$(VPY) bench/optimiser_quality.py --data $(BENCH_DATA) --instances 2 --runs "greedy,0.1 s,1 s"
	$(VPY) bench/optimiser_orders.py --data $(BENCH_DATA)
	$(VPY) bench/loading_rules.py --data $(BENCH_DATA) --orders 50 --instances 2

bench-quality: module venv
	$(VPY) bench/optimiser_quality.py --data $(BENCH_DATA) --csv build/bench/optimiser_quality.csv
	$(VPY) bench/many_boxes.py

# make bench-service: stowvex serve under wrk's load on the loopback interface beside
# pack_many (bench/README.md); SERVICE_SOAK is the soak's seconds (default 600).
SERVICE_SOAK ?= 600

.PHONY: bench-service
bench-service: module venv
	@scripts/deps.sh wrk
	$(VPY) bench/service_load.py --soak $(SERVICE_SOAK)

# make bench-batch: 100,000 parcel orders through stowvex batch with 1 and 2 workers
# and through Dask with 2 workers (bench/README.md). Run it on an idle machine.
bench-batch: module venv
	$(VPY) bench/batch_throughput.py --data $(BENCH_DATA)

# make bench-deadline: the optimiser's time limit on requests of 2,000 to 10,000 items
# against the engine's time (target: limit + engine time + 5 %).
# make bench-effort: CPU seconds per 10^8 effort units on BR1, BR15, carton orders and
# a many-box order (target: within a factor 2).
.PHONY: bench-deadline bench-effort
bench-deadline: module venv
	$(VPY) bench/optimiser_deadline.py

bench-effort: module venv
	$(VPY) bench/effort_rate.py --data $(BENCH_DATA)

# make bench-rules: the optimiser under loading rules on the 501 parcel orders, beside
# the same orders without them (some 17 minutes at 1 s an order), then on the first
# 10 instances of each of BR1-BR7 (70 instances in three runs of 1 s, some 4 minutes).
bench-rules: module venv
	$(VPY) bench/loading_rules.py --data $(BENCH_DATA)
