#!/usr/bin/env bash
# The hardening checks, each in its own build under build/hardening:
#
#   asan      AddressSanitizer + UndefinedBehaviorSanitizer: the native unit
#             tests and the whole pytest suite against an instrumented module,
#             leak checking on
#   tsan      ThreadSanitizer on the native pool and runner tests
#   fuzz      libFuzzer: fast scorer against the straightforward one, the
#             tokenizer against the definition of a token, and the
#             configurable scorer against the oracle, for a bounded time
#   refleaks  every public path under the debug interpreter, with reference
#             counts and allocated blocks required to return to their level
#   soak      every public path 10^5 times with resident memory flat
#
#   bash scripts/hardening.sh [check ...]     (default: all, in that order)
#
# Expects what scripts/setup-hardening.sh installs and the module installed in
# .venv (make install-ci). Every check runs even if an earlier one failed; the
# exit status is non-zero if any failed. FUZZ_PAIR_SECONDS,
# FUZZ_TOKENIZER_SECONDS and FUZZ_CONFIG_SECONDS bound the fuzzing time.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

venv=$root/.venv
cmake=$venv/bin/cmake
ninja=$venv/bin/ninja
cxx=clang++-14
symbolizer=/usr/lib/llvm-14/bin/llvm-symbolizer
out=$root/build/hardening
# Debian 12's libstdc++ gives clang 14 no std::source_location.
shim="-include $root/tests/hardening/source_location_shim.hpp"

configure() {  # build-dir, then cmake arguments
    local dir=$1
    shift
    "$cmake" -S "$root" -B "$dir" -G Ninja -DCMAKE_MAKE_PROGRAM="$ninja" -DTALLYGRAMS_WERROR=ON "$@" >/dev/null
}

check_asan() {
    local dir=$out/asan
    local flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
    configure "$dir" -DCMAKE_CXX_COMPILER=$cxx -DCMAKE_BUILD_TYPE=None \
        -DTALLYGRAMS_BUILD_MODULE=ON -DTALLYGRAMS_BUILD_TESTS=ON -DPython_EXECUTABLE="$venv/bin/python" \
        "-DCMAKE_CXX_FLAGS=-O1 -g $flags $shim" "-DCMAKE_EXE_LINKER_FLAGS=$flags" \
        "-DCMAKE_MODULE_LINKER_FLAGS=$flags -shared-libsan" || return 1
    "$cmake" --build "$dir" || return 1

    # Leak checking stays on. clang 14's leak checker misreads the dynamic
    # thread-local storage of newer C libraries and crashes on it; with that
    # interception off, thread-local data is still scanned as static TLS.
    export ASAN_OPTIONS="detect_leaks=1:intercept_tls_get_addr=0:strict_string_checks=1:check_initialization_order=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export LSAN_OPTIONS="suppressions=$root/tests/hardening/lsan_suppressions.txt:print_suppressions=0"
    export ASAN_SYMBOLIZER_PATH=$symbolizer
    local binary
    for binary in scorer_tests batch_tests corpus_tests unicode_tokenizer_tests arrow_tests fork_tests boundary_tests; do
        "$dir/tests/native/$binary" --gtest_brief=1 || return 1
    done

    # The interpreter itself is not instrumented: the runtime is preloaded,
    # and PYTHONMALLOC=malloc routes every Python object through it, so the
    # leak checker sees (and can trace through) all of them. Subprocesses
    # started by the tests inherit all of this.
    local runtime
    runtime=$($cxx -print-file-name=libclang_rt.asan-x86_64.so)
    (
        export LD_PRELOAD=$runtime PYTHONMALLOC=malloc PYTHONPATH=$dir
        "$venv/bin/python" -c "import sys, tallygrams, tallygrams_scorer._native as companion
sys.exit(not all(m.__file__.startswith('$dir/') for m in (tallygrams, companion)))" \
            || { echo "asan: the instrumented modules are not the ones imported" >&2; exit 1; }
        # Packaging and type-stub tests build wheels and run mypy: they never
        # load the instrumented module, and under the preloaded runtime they
        # only take minutes. Tests that start dask worker processes are left
        # out too: the runtime those processes inherit reports the
        # interpreter's own allocations left at their exit.
        "$venv/bin/python" -m pytest -q -p no:cacheprovider \
            --ignore=tests/python/test_packaging.py --ignore=tests/python/test_stubs.py -m "not cluster" --durations=5
    )
}

check_tsan() {
    local dir=$out/tsan
    configure "$dir" -DCMAKE_CXX_COMPILER=$cxx -DCMAKE_BUILD_TYPE=None \
        -DTALLYGRAMS_BUILD_MODULE=OFF -DTALLYGRAMS_BUILD_TESTS=ON \
        "-DCMAKE_CXX_FLAGS=-O1 -g -fsanitize=thread $shim" "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread" || return 1
    "$cmake" --build "$dir" --target batch_tests || return 1
    # Repeated: each run is another set of interleavings.
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:external_symbolizer_path=$symbolizer" \
        "$dir/tests/native/batch_tests" --gtest_brief=1 --gtest_repeat=4
}

check_fuzz() {
    local dir=$out/fuzz
    configure "$dir" -DCMAKE_CXX_COMPILER=$cxx -DCMAKE_BUILD_TYPE=None \
        -DTALLYGRAMS_BUILD_MODULE=OFF -DTALLYGRAMS_BUILD_TESTS=OFF -DTALLYGRAMS_BUILD_FUZZERS=ON \
        "-DCMAKE_CXX_FLAGS=-O1 -g -fno-omit-frame-pointer $shim" || return 1
    "$cmake" --build "$dir" || return 1
    local harness seconds status=0
    for harness in score_pair tokenizer rouge_config; do
        seconds=${FUZZ_PAIR_SECONDS:-60}
        [ "$harness" = tokenizer ] && seconds=${FUZZ_TOKENIZER_SECONDS:-20}
        [ "$harness" = rouge_config ] && seconds=${FUZZ_CONFIG_SECONDS:-60}
        # New inputs go to a scratch corpus; the committed one is read only.
        mkdir -p "$dir/work/$harness" "$dir/artifacts/$harness"
        ASAN_SYMBOLIZER_PATH=$symbolizer "$dir/tests/fuzz/fuzz_$harness" \
            -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 \
            -dict="$root/tests/fuzz/tokens.dict" -artifact_prefix="$dir/artifacts/$harness/" \
            "$dir/work/$harness" "$root/tests/fuzz/corpus/$harness" 2>"$dir/$harness.log"
        local rc=$?
        grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$dir/$harness.log"
        if [ $rc -ne 0 ]; then
            tail -n 40 "$dir/$harness.log"
            echo "fuzz: $harness found a failing input in $dir/artifacts/$harness/." >&2
            echo "fuzz: add it to tests/fuzz/corpus/$harness/ (it becomes a regression test) and fix the cause." >&2
            status=1
        fi
    done
    return $status
}

check_refleaks() {
    local dir=$out/dbg
    # -fno-canonical-system-headers: GCC would otherwise resolve the debug
    # headers' symlinks and pick up the release pyconfig.h, whose reference
    # counting does not match the debug interpreter's.
    configure "$dir" -DCMAKE_BUILD_TYPE=None -DTALLYGRAMS_BUILD_MODULE=ON \
        -DPython_EXECUTABLE="$(command -v python3.14-dbg)" \
        "-DCMAKE_CXX_FLAGS=-O2 -g -fno-canonical-system-headers" || return 1
    "$cmake" --build "$dir" || return 1
    local name module
    for name in tallygrams tallygrams_scorer/_native; do
        module=$(ls "$dir"/$name.cpython-314d-*.so) || return 1
        # grep reads to the end: with -q it could close the pipe early, and
        # pipefail would report nm's SIGPIPE as a failure.
        nm -u "$module" | grep _Py_DECREF_DecRefTotal >/dev/null || {
            echo "refleaks: $module was not compiled with the debug interpreter's headers" >&2
            return 1
        }
    done
    PYTHONPATH=$dir python3.14-dbg tests/hardening/refleaks.py || return 1
    PYTHONPATH=$dir RAYON_NUM_THREADS=4000 python3.14-dbg tests/hardening/refleaks.py --pool-fails
}

check_soak() {
    "$venv/bin/python" tests/hardening/soak.py || return 1
    RAYON_NUM_THREADS=4000 "$venv/bin/python" tests/hardening/soak.py --pool-fails
}

checks=("$@")
[ ${#checks[@]} -eq 0 ] && checks=(asan tsan fuzz refleaks soak)

declare -A seconds outcome
passed=0
failed=0
for check in "${checks[@]}"; do
    if ! declare -F "check_$check" >/dev/null; then
        echo "hardening: unknown check '$check'" >&2
        exit 2
    fi
    echo "=== hardening: $check"
    started=$(date +%s)
    if ( "check_$check" ); then
        outcome[$check]=passed
        passed=$((passed + 1))
    else
        outcome[$check]=FAILED
        failed=$((failed + 1))
    fi
    seconds[$check]=$(($(date +%s) - started))
done

echo "=== hardening summary"
for check in "${checks[@]}"; do
    printf '  %-9s %-7s %4d s\n' "$check" "${outcome[$check]}" "${seconds[$check]}"
done
echo "hardening: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
