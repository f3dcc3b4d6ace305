"""What this machine can hold, for refusing sizes that cannot be met before
any work starts.

A size given on the command line (resamples, worker processes, pairs per
batch) turns into memory the run will ask for. Asking the native code for
more than the machine has ends the process without a word (the allocator
aborts), and asking the kernel for more than it has brings the OOM killer;
both after the input was read and scored. So each such size is checked
against the memory the process may use, once the options are parsed.
"""

from __future__ import annotations

import os
import resource

_GIB = 2**30


def _meminfo_available() -> int | None:
    # MemAvailable: what can be had without swapping, page cache included.
    try:
        with open("/proc/meminfo", encoding="ascii") as handle:
            for line in handle:
                if line.startswith("MemAvailable:"):
                    return int(line.split()[1]) * 1024
    except (OSError, ValueError, IndexError):
        pass
    return None


def _cgroup_limit() -> int | None:
    # A container's limit (cgroup v2), which /proc/meminfo does not show.
    try:
        with open("/sys/fs/cgroup/memory.max", encoding="ascii") as handle:
            text = handle.read().strip()
    except OSError:
        return None
    return int(text) if text.isdigit() else None


def _rlimit(kind: int) -> int | None:
    try:
        soft, _ = resource.getrlimit(kind)
    except (OSError, ValueError):
        return None
    return None if soft == resource.RLIM_INFINITY else soft


def memory_bytes() -> int:
    """The memory this process can expect to get: the smallest of the
    memory available on the machine, the container's limit and the
    process's own limits (ulimit -v, -d)."""
    limits = [_meminfo_available(), _cgroup_limit(), _rlimit(resource.RLIMIT_AS), _rlimit(resource.RLIMIT_DATA)]
    known = [limit for limit in limits if limit is not None]
    if not known:
        try:
            known.append(os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE"))
        except (OSError, ValueError):
            known.append(4 * _GIB)
    return min(known)


def shown(size: int) -> str:
    """A byte count for messages: 1.5 GiB, 72 TiB."""
    value = float(size)
    for unit in ("bytes", "KiB", "MiB", "GiB", "TiB", "PiB"):
        if value < 1024 or unit == "PiB":
            return f"{value:.0f} {unit}" if unit == "bytes" else f"{value:.1f} {unit}"
        value /= 1024
    raise AssertionError("unreachable")
