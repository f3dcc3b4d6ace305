#!/usr/bin/env bash
# Everything `make hardening` needs on a fresh Debian machine, on top of what
# the tests need: clang 14 with its sanitizer and libFuzzer runtimes (from
# the machine's own release) and the debug interpreter python3.14-dbg (from
# `testing`, pinned like the main interpreter). Safe to run repeatedly.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-dev.sh
bash scripts/ensure-python314.sh --debug

. "$(dirname "$0")/apt-helpers.sh"

packages=(clang-14 libclang-rt-14-dev llvm-14)
mapfile -t missing < <(missing_packages "${packages[@]}")
if [ "${#missing[@]}" -gt 0 ]; then
    as_root apt-get update -q
    # The runtimes depend on libc6-i386, which must match the installed libc6
    # exactly. That libc6 may have come from `testing` along with python3.14,
    # so ask for the matching version by number, from whichever suite has it;
    # if that suite has moved on since, take libc6-i386 from `testing` the way
    # python3.14 was taken (moving libc6 along with it).
    if ! dpkg -s libc6-i386 >/dev/null 2>&1; then
        libc_version=$(dpkg-query -W -f='${Version}' libc6)
        if apt-cache madison libc6-i386 | awk '{print $3}' | grep -Fx "$libc_version" >/dev/null; then
            missing+=("libc6-i386=$libc_version")
        else
            as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q -t testing \
                -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold libc6-i386
        fi
    fi
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

for tool in clang++-14 /usr/lib/llvm-14/bin/llvm-symbolizer python3.14-dbg; do
    command -v "$tool" >/dev/null 2>&1 || { echo "setup-hardening: $tool is missing" >&2; exit 1; }
done
