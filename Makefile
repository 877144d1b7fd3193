# `make demo` and `make test` set up everything they need in .venv.
PYTHON ?= python3
VENV := .venv
BIN := $(VENV)/bin

.PHONY: demo test test-matrix check install format clean bench

$(VENV)/.ready: requirements-dev.txt
	$(PYTHON) -m venv $(VENV)
	$(BIN)/pip install -q --upgrade pip
	$(BIN)/pip install -q -r requirements-dev.txt
	touch $@

# Builds the abi3 wheel (incrementally, in build/) and installs it.
install: $(VENV)/.ready
	@wheels=$$(mktemp -d) && \
	$(BIN)/pip wheel -q --no-build-isolation --no-deps -w $$wheels . && \
	$(BIN)/pip install -q --force-reinstall --no-deps $$wheels/*.whl && \
	rm -rf build/wheel && mkdir -p build/wheel && mv $$wheels/*.whl build/wheel/ && \
	rm -rf $$wheels

# The sanitized run covers the tests that push hardest on memory, re-entry
# and refusals, printing (to_bytes() and round trips, whose word-sized
# stores must stop at the end of the buffer) and formatting (which moves the
# texts of a tree it parsed into the document's), with the lean Hypothesis
# profile (the whole suite under the sanitizers is `make sanitize`); the
# full suite runs last, so that its summary closes the output.
test: install check
	$(MAKE) sanitize SANITIZE_TESTS="tests/test_hostile.py tests/test_leaks.py tests/test_editing_errors.py tests/test_arguments.py tests/test_roundtrip.py tests/test_format.py --hypothesis-profile=lean"
	$(MAKE) test-matrix MATRIX_SKIP=$$($(BIN)/python -c 'import sys; print("%d.%d" % sys.version_info[:2])')
	$(BIN)/python -m pytest -q

# The one abi3 wheel against every CPython from 3.9 on the machine, each in its
# own venv under build/matrix, with the lean Hypothesis profile (`make test`
# runs the full one on .venv's interpreter and skips that version here).
test-matrix: install
	MATRIX_SKIP="$(MATRIX_SKIP)" bash tests/matrix.sh -q --hypothesis-profile=lean

# The stub matches the module, the examples pass mypy --strict against the installed
# package (so its py.typed is checked too), so does the package's source, and the wheel
# is tagged cp39-abi3 and uses the stable ABI only. mypy caches under build/.
check: install
	cd build && ../$(BIN)/python -m mypy.stubtest tallix_cst._native
	$(BIN)/python -m mypy --strict --cache-dir build/.mypy_cache examples
	$(BIN)/python -m mypy --strict --cache-dir build/.mypy_cache python/tallix_cst
	@ls build/wheel/*-cp39-abi3-*.whl >/dev/null || (echo "the wheel is not tagged cp39-abi3"; exit 1)
	$(BIN)/abi3audit --strict --summary build/wheel/*.whl

# The benchmarks against the peers; tomlkit is installed for them alone, and
# valgrind (from Debian, when missing) counts instructions, of the installed
# module and of the engine alone (bench/engine.cpp, built in build/bench).
bench: install
	$(BIN)/pip install -q -r bench/requirements.txt
	command -v valgrind >/dev/null || (apt-get update -qq && apt-get install -y -qq valgrind)
	$(BIN)/cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALLIX_BENCH=ON \
	  -DPython_EXECUTABLE=$(CURDIR)/$(BIN)/python >/dev/null
	$(BIN)/cmake --build build/bench --target engine_bench
	$(BIN)/python bench/run.py
	$(BIN)/python bench/lsp.py
	$(BIN)/python bench/lsp.py schema
	$(BIN)/python bench/cli_output.py
	$(BIN)/python bench/writes.py

demo: install
	$(BIN)/quarel check examples/
	@echo "round trip: every example prints back byte for byte"
	@$(BIN)/python -c "import pathlib, tallix_cst as t; \
	[print(' ', p, 'ok' if t.load(p).to_bytes() == p.read_bytes() else 'CHANGED') \
	 for p in sorted(pathlib.Path('examples').rglob('*.quarel'))]"
	@echo "edits, on a copy of examples/: add a dimension, relabel a view, hide every key dimension, format a file"
	@demo=$$(mktemp -d) && cp -r examples/* $$demo/ && cd $$demo && \
	$(CURDIR)/$(BIN)/quarel add 'view:users' --index 2 --in-place --diff \
	  --source "$$(printf 'dimension: age {\n  type: number\n  sql: $${TABLE}.age ;;\n}')" views/users.quarel && \
	$(CURDIR)/$(BIN)/quarel set 'view:users/label' Accounts --in-place --diff views/users.quarel && \
	$(CURDIR)/$(BIN)/quarel apply hide_ids.py views --in-place && \
	$(CURDIR)/$(BIN)/quarel fmt --diff untidy.quarel; [ $$? -eq 1 ] && $(CURDIR)/$(BIN)/quarel fmt untidy.quarel && \
	$(CURDIR)/$(BIN)/quarel check views; status=$$?; rm -rf $$demo; exit $$status

format:
	clang-format -i src/*/*.cpp src/*/*.hpp fuzz/*.cpp fuzz/*.hpp bench/*.cpp

clean:
	rm -rf build $(VENV)

# Runs the libFuzzer targets of fuzz/ for FUZZ_SECONDS each (installs clang if
# missing); FUZZ_TARGETS picks some of them.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= parse edit utf8 recover
.PHONY: fuzz sanitize coverage
fuzz:
	sh fuzz/run.sh $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# The whole suite against the extension built with AddressSanitizer and
# UndefinedBehaviorSanitizer (in build/sanitize, beside the installed build),
# at -O1, which builds much faster than -O2 and keeps the reports exact, and
# as a unity build (a few large translation units), which halves its build time.
# CPython's own allocations outlive exit, so leak detection is off here;
# tests/test_leaks.py measures growth instead. SANITIZE_TESTS picks a subset.
sanitize: $(VENV)/.ready
	$(BIN)/cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
	  -DTALLIX_SANITIZE=ON -DPython_EXECUTABLE=$(CURDIR)/$(BIN)/python >/dev/null
	$(BIN)/cmake --build build/sanitize
	rm -rf build/sanitize/site && mkdir -p build/sanitize/site && \
	cp -r python/tallix_cst build/sanitize/site/ && cp build/sanitize/_native*.so build/sanitize/site/tallix_cst/
	PYTHONPATH=$(CURDIR)/build/sanitize/site LD_PRELOAD=$$(gcc -print-file-name=libasan.so) \
	ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	$(BIN)/python -m pytest -q -p no:cacheprovider $(SANITIZE_TESTS)

# Line and branch coverage of the engine and binding (gcovr, from an extension
# built with --coverage in build/coverage) and of the package (coverage.py,
# subprocesses of the command-line tests included), over the whole suite.
coverage: $(VENV)/.ready
	$(BIN)/pip install -q -r requirements-coverage.txt
	$(BIN)/cmake -S . -B build/coverage -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_MODULE_LINKER_FLAGS=--coverage \
	  -DPython_EXECUTABLE=$(CURDIR)/$(BIN)/python >/dev/null
	$(BIN)/cmake --build build/coverage
	find build/coverage -name '*.gcda' -delete
	rm -rf build/coverage/site build/coverage/data && mkdir -p build/coverage/site build/coverage/data && \
	cp -r python/tallix_cst build/coverage/site/ && cp build/coverage/_native*.so build/coverage/site/tallix_cst/
	# A test runs the command as another user, whose coverage.py data goes here too.
	chmod -R a+rwX build/coverage
	PYTHONPATH=$(CURDIR)/build/coverage/site COVERAGE_RCFILE=$(CURDIR)/.coveragerc \
	$(BIN)/python -m coverage run -m pytest -q -p no:cacheprovider
	$(BIN)/python -m coverage combine -q --rcfile=.coveragerc
	$(BIN)/python -m coverage report --rcfile=.coveragerc
	$(BIN)/gcovr -r . --filter src/ --exclude-throw-branches --exclude-unreachable-branches \
	  --txt-summary build/coverage/CMakeFiles/quarel_engine.dir build/coverage/CMakeFiles/_native.dir
