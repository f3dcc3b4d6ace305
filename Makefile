# Entry points for a fresh machine; each does its own set-up.
#   make demo        score the bundled example pairs and print the scores
#   make test        build with warnings as errors and run every test
#   make hardening   sanitizers, fuzzing, reference-leak hunt and memory soak

VENV   := .venv
PYTHON := $(VENV)/bin/python
CMAKE  := $(VENV)/bin/cmake
NATIVE_BUILD := build/native

.PHONY: demo test hardening setup setup-hardening install install-ci native-tests python-tests clean

demo: install
	$(PYTHON) examples/demo.py

test: native-tests python-tests

setup:
	bash scripts/setup-dev.sh

setup-hardening:
	bash scripts/setup-hardening.sh

# The soak runs against the module installed in .venv.
hardening: setup-hardening install-ci
	bash scripts/hardening.sh

install: setup
	$(PYTHON) -m pip install -q --no-build-isolation .

# The CI flavour of the module: same optimisation, warnings are errors.
install-ci: setup
	$(PYTHON) -m pip install -q --no-build-isolation . -Ccmake.define.TALLYGRAMS_WERROR=ON

native-tests: setup
	$(CMAKE) -S . -B $(NATIVE_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	    -DTALLYGRAMS_BUILD_MODULE=OFF -DTALLYGRAMS_BUILD_TESTS=ON -DTALLYGRAMS_WERROR=ON
	$(CMAKE) --build $(NATIVE_BUILD)
	$(VENV)/bin/ctest --test-dir $(NATIVE_BUILD) --output-on-failure

python-tests: install-ci
	$(PYTHON) -m pytest -q

clean:
	rm -rf build
