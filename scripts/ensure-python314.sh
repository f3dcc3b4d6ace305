#!/usr/bin/env bash
# Make CPython 3.14 (interpreter, headers, venv support) available on a Debian
# machine whose own release does not ship it. Idempotent: does nothing when a
# usable python3.14 is already present.
#
# The interpreter comes from Debian's `testing` suite, pinned low so that only
# the packages asked for explicitly (and their dependencies) move to testing.
#
# With --debug it also provides the debug interpreter python3.14-dbg (with its
# headers), used to hunt reference leaks.
set -euo pipefail

want_debug=0
for argument in "$@"; do
    case "$argument" in
        --debug) want_debug=1 ;;
        *) echo "ensure-python314: unknown argument $argument" >&2; exit 2 ;;
    esac
done

have_usable_python() {
    command -v python3.14 >/dev/null 2>&1 || return 1
    local inc
    inc=$(python3.14 -c 'import sysconfig; print(sysconfig.get_paths()["include"])' 2>/dev/null) || return 1
    [ -f "$inc/Python.h" ] || return 1
    python3.14 -c 'import ensurepip' >/dev/null 2>&1 || return 1
}

# The URI of the machine's configured Debian archive (not the security one):
# deb822 *.sources files first, then the one-line sources.list format.
debian_archive_uri() {
    local f uri
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        uri=$(awk '
            /^URIs:/ { for (i = 2; i <= NF; i++) if ($i !~ /security/ && $i ~ /debian/) { print $i; exit } }
        ' "$f")
        if [ -n "$uri" ]; then echo "$uri"; return 0; fi
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        uri=$(awk '
            /^[[:space:]]*deb[[:space:]]/ {
                for (i = 2; i <= NF; i++) {
                    if ($i ~ /^\[/) { while ($i !~ /\]$/ && i < NF) i++; continue }
                    if ($i !~ /security/ && $i ~ /debian/) { print $i; exit }
                    break
                }
            }
        ' "$f")
        if [ -n "$uri" ]; then echo "$uri"; return 0; fi
    done
    return 1
}

# The debug build counts references (sys.gettotalrefcount) and has its own
# headers and extension suffix.
have_usable_debug_python() {
    command -v python3.14-dbg >/dev/null 2>&1 || return 1
    local inc
    inc=$(python3.14-dbg -c 'import sys, sysconfig; sys.gettotalrefcount; print(sysconfig.get_paths()["include"])' 2>/dev/null) || return 1
    [ -f "$inc/Python.h" ] || return 1
}

have_everything() {
    have_usable_python || return 1
    [ "$want_debug" -eq 0 ] || have_usable_debug_python
}

. "$(dirname "$0")/apt-helpers.sh"

if have_everything; then
    exit 0
fi

uri=$(debian_archive_uri) || {
    echo "ensure-python314: no Debian archive found in the apt configuration" >&2
    exit 1
}

keyring=/usr/share/keyrings/debian-archive-keyring.gpg
# Archives reached through a frozen mirror serve Release files past their
# validity date; signatures are still checked.
as_root tee /etc/apt/sources.list.d/tallygrams-testing.sources >/dev/null <<SRC
Types: deb
URIs: $uri
Suites: testing
Components: main
Signed-By: $keyring
Check-Valid-Until: no
SRC

as_root tee /etc/apt/preferences.d/tallygrams-testing >/dev/null <<PIN
Package: *
Pin: release a=testing
Pin-Priority: 100
PIN

packages=(python3.14-dev python3.14-venv python3-pip-whl python3-setuptools-whl)
if [ "$want_debug" -eq 1 ]; then
    packages+=(python3.14-dbg libpython3.14-dbg)
fi

as_root apt-get update -q
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q -t testing \
    -o Dpkg::Options::=--force-overwrite \
    -o Dpkg::Options::=--force-confdef \
    -o Dpkg::Options::=--force-confold \
    "${packages[@]}"

have_usable_python || {
    echo "ensure-python314: python3.14 still not usable after installation" >&2
    exit 1
}
if [ "$want_debug" -eq 1 ] && ! have_usable_debug_python; then
    echo "ensure-python314: python3.14-dbg still not usable after installation" >&2
    exit 1
fi
