#!/usr/bin/env bash
# Everything the demo and the tests need on a fresh Debian machine:
# CPython 3.14, the native test libraries, and a virtual environment with
# the Python build and test tools. Safe to run repeatedly.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/ensure-python314.sh

. "$(dirname "$0")/apt-helpers.sh"

# Native packages from the machine's own Debian release.
native_packages=(g++ make libgtest-dev)
# English word lists (in /usr/share/dict) that the stemmer is checked against,
# word for word, by the native tests.
native_packages+=(wamerican wbritish wamerican-huge)
# Perl and the XML parser the ROUGE-1.5.5 script loads, to run it as the
# oracle of rouge155 (its WordNet database is built by the tests, with DB_File
# from perl's own modules).
native_packages+=(perl libxml-parser-perl)
# A real browser, headless, in which the tests open the tool's HTML report.
native_packages+=(chromium)
# Google Benchmark only for the native benchmarks.
if [ "${1:-}" = "--benchmarks" ]; then native_packages+=(libbenchmark-dev); fi
mapfile -t missing < <(missing_packages "${native_packages[@]}")
if [ "${#missing[@]}" -gt 0 ]; then
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

venv=.venv
if [ ! -x "$venv/bin/python" ] || ! "$venv/bin/python" -c 'import sys; assert sys.version_info[:2] == (3, 14)' 2>/dev/null; then
    rm -rf "$venv"
    python3.14 -m venv "$venv"
fi
stamp="$venv/.requirements-installed"
if [ ! -f "$stamp" ] || ! cmp -s requirements-dev.txt "$stamp"; then
    "$venv/bin/python" -m pip install -q --upgrade pip
    "$venv/bin/python" -m pip install -q -r requirements-dev.txt
    cp requirements-dev.txt "$stamp"
fi
