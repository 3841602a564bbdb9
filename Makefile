# make demo   set up, build, and report on the bundled example screenshots
# make test   set up, build, and run every test (C++ unit tests and pytest)
# make wheel  the sdist and the release wheels (manylinux_2_17, x86_64 and aarch64) in dist/
# make bench  every benchmark, then the summary table of the performance targets
# make test-sanitize   every test against an AddressSanitizer + UBSan build
# make lint   formatting (clang-format, ruff format), ruff check, shellcheck and mypy --strict;
#             make format applies the two formatters
# make fuzz            libFuzzer on every fuzz target (FUZZ_RUNS executions each);
#                      make fuzz-smoke runs each for FUZZ_SECONDS instead
#
# PYTHON names the interpreter; where it refuses system-wide installs
# (Debian's own python3), every target runs in the virtual environment .venv
# made from it instead.
PYTHON ?= python3
# Found once, when a target first needs it.
PY = $(eval PY := $$(shell PYTHON='$(PYTHON)' scripts/interpreter.sh))$(PY)
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: setup build demo test bench install wheel clean test-sanitize fuzz fuzz-smoke lint format

setup:
	@PYTHON=$(PY) scripts/setup.sh build

# The tools CMake and Ninja from PyPI, beside the interpreter, come first.
TOOLS_PATH = PATH="$(dir $(PY)):$$PATH"

# In CI (CI set in the environment) a compiler warning fails the build.
WERROR = $(if $(CI),ON,OFF)

build: setup
	@$(TOOLS_PATH) cmake -S . -B $(BUILD) -G Ninja -DQUORVANE_TESTS=ON -DQUORVANE_WERROR=$(WERROR) \
		-DPython_EXECUTABLE="$(PY)" $(CMAKE_FLAGS) >/dev/null
	@$(TOOLS_PATH) cmake --build $(BUILD)

demo: build
	PYTHONPATH=$(BUILD):python $(PY) examples/demo.py

# Besides the Python packages, the report page and the pytest plugin are
# tested in a real browser, and the aarch64 wheel under qemu.
test: build
	@PYTHON=$(PY) scripts/setup.sh test
	$(TOOLS_PATH) ctest --test-dir $(BUILD) --output-on-failure
	QUORVANE_BUILD_DIR=$(BUILD) PYTHONPATH=$(BUILD):python $(TOOLS_PATH) $(PY) -m pytest tests/python -q

bench: build
	@PYTHON=$(PY) scripts/setup.sh test
	@for script in bench/bench_*.py; do PYTHONPATH=$(BUILD):python $(PY) $$script || exit 1; done
	@PYTHONPATH=$(BUILD):python $(PY) bench/summary.py

test-sanitize:
	@PYTHON=$(PY) scripts/setup.sh test
	PYTHON=$(PY) $(TOOLS_PATH) scripts/test_sanitize.sh

FUZZ_RUNS ?= 1000000
FUZZ_SECONDS ?= 30
fuzz:
	@PYTHON=$(PY) scripts/setup.sh fuzz
	PYTHON=$(PY) FUZZ_RUNS=$(FUZZ_RUNS) $(TOOLS_PATH) fuzz/run.sh

fuzz-smoke:
	@PYTHON=$(PY) scripts/setup.sh fuzz
	PYTHON=$(PY) FUZZ_SECONDS=$(FUZZ_SECONDS) $(TOOLS_PATH) fuzz/run.sh

install: setup
	$(PY) -m pip install .

wheel:
	@PYTHON=$(PY) scripts/setup.sh wheel
	@$(PY) scripts/build_wheel.py

clean:
	rm -rf $(BUILD) build-sanitize build-fuzz build-wheel dist examples/output

# What the formatters and checkers look at: the project's own files, never test data.
CXX_SOURCES = $(shell git ls-files '*.cpp' '*.hpp' | grep -v '^tests/data/')
SHELL_SCRIPTS = $(shell git ls-files '*.sh' .ci/run | grep -v '^tests/data/')

lint:
	@PYTHON=$(PY) scripts/setup.sh lint
	clang-format-14 --dry-run --Werror $(CXX_SOURCES)
	$(PY) -m ruff format --check --quiet .
	$(PY) -m ruff check --quiet .
	shellcheck $(SHELL_SCRIPTS)
	$(PY) -m mypy --strict python/quorvane_cli python/quorvane_pytest examples/typed_usage.py

format:
	@PYTHON=$(PY) scripts/setup.sh lint
	clang-format-14 -i $(CXX_SOURCES)
	$(PY) -m ruff format --quiet .
	$(PY) -m ruff check --fix --quiet .
