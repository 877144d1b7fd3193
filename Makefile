# `make demo` and `make test` set up everything they need in .venv.
PYTHON ?= python3
VENV := .venv
BIN := $(VENV)/bin

.PHONY: demo test install format clean

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
	rm -rf $$wheels

test: install
	$(BIN)/python -m pytest -q

demo: install
	$(BIN)/quarel check examples/
	@echo "round trip: every example prints back byte for byte"
	@$(BIN)/python -c "import pathlib, tallix_cst as t; \
	[print(' ', p, 'ok' if str(t.parse_quarel(p.read_bytes().decode())) == p.read_bytes().decode() else 'CHANGED') \
	 for p in sorted(pathlib.Path('examples').rglob('*.quarel'))]"

format:
	clang-format -i src/*/*.cpp src/*/*.hpp

clean:
	rm -rf build $(VENV)
