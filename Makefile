# make demo   set up, build, and report on the bundled example screenshots
# make test   set up, build, and run every test (C++ unit tests and pytest)
# make wheel  the sdist and one self-contained wheel in dist/
# make test-sanitize   every test against an AddressSanitizer + UBSan build
# make lint   formatting (clang-format, ruff format), ruff check, shellcheck and mypy --strict;
#             make format applies the two formatters
# make fuzz            libFuzzer on every fuzz target (FUZZ_RUNS executions each);
#                      make fuzz-smoke runs each for FUZZ_SECONDS instead
PYTHON ?= python3
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: setup build demo test bench install wheel clean test-sanitize fuzz fuzz-smoke lint format

setup:
	@PYTHON=$(PYTHON) scripts/setup.sh

# In CI (CI set in the environment) a compiler warning fails the build.
WERROR = $(if $(CI),ON,OFF)

build: setup
	@cmake -S . -B $(BUILD) -G Ninja -DQUORVANE_TESTS=ON -DQUORVANE_WERROR=$(WERROR) \
		-DPython_EXECUTABLE="$$($(PYTHON) -c 'import sys; print(sys.executable)')" $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)

demo: build
	PYTHONPATH=$(BUILD):python $(PYTHON) examples/demo.py

test: build
	@PYTHON=$(PYTHON) scripts/setup.sh browser  # the report page and the pytest plugin are tested in a real browser
	ctest --test-dir $(BUILD) --output-on-failure
	QUORVANE_BUILD_DIR=$(BUILD) PYTHONPATH=$(BUILD):python $(PYTHON) -m pytest tests/python -q

bench: build
	@for script in bench/bench_*.py; do PYTHONPATH=$(BUILD):python $(PYTHON) $$script || exit 1; done

test-sanitize: setup
	PYTHON=$(PYTHON) scripts/test_sanitize.sh

FUZZ_RUNS ?= 1000000
FUZZ_SECONDS ?= 30
fuzz:
	@PYTHON=$(PYTHON) scripts/setup.sh fuzz
	PYTHON=$(PYTHON) FUZZ_RUNS=$(FUZZ_RUNS) fuzz/run.sh

fuzz-smoke:
	@PYTHON=$(PYTHON) scripts/setup.sh fuzz
	PYTHON=$(PYTHON) FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run.sh

install: setup
	$(PYTHON) -m pip install .

wheel: setup
	@$(PYTHON) scripts/build_wheel.py

clean:
	rm -rf $(BUILD) build-sanitize build-fuzz build-wheel dist examples/output

# What the formatters and checkers look at: the project's own files, never test data.
CXX_SOURCES = $(shell git ls-files '*.cpp' '*.hpp' | grep -v '^tests/data/')
SHELL_SCRIPTS = $(shell git ls-files '*.sh' .ci/run | grep -v '^tests/data/')

lint: setup
	@PYTHON=$(PYTHON) scripts/setup.sh lint
	clang-format-14 --dry-run --Werror $(CXX_SOURCES)
	$(PYTHON) -m ruff format --check --quiet .
	$(PYTHON) -m ruff check --quiet .
	shellcheck $(SHELL_SCRIPTS)
	$(PYTHON) -m mypy --strict python/quorvane_cli python/quorvane_pytest examples/typed_usage.py

format: setup
	@PYTHON=$(PYTHON) scripts/setup.sh lint
	clang-format-14 -i $(CXX_SOURCES)
	$(PYTHON) -m ruff format --quiet .
	$(PYTHON) -m ruff check --fix --quiet .
