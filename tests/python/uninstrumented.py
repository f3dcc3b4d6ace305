"""The environment for programs that are not ours (perl, chromium) started
by the tests.

The sanitizer run preloads its runtime into every process the tests start.
A peer program loaded that way has its own allocations reported as leaks,
and chromium does not start at all; neither is code under test.
"""

import os

_SANITIZER_VARIABLES = ("LD_PRELOAD", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS")


def uninstrumented_environment() -> dict[str, str]:
    """This process's environment without the preloaded sanitizer runtime."""
    return {name: value for name, value in os.environ.items() if name not in _SANITIZER_VARIABLES}
