"""python -m tallygrams_scorer.accelerate script.py ARGS...
python -m tallygrams_scorer.accelerate -m module ARGS...

Runs a Python script (or module) as `python` would, after
tallygrams_scorer.accelerate(): every use of rouge-score in it, and in the
libraries it calls, scores natively.
"""

import os
import runpy
import sys
import types

_USAGE = __doc__.strip().split("\n\n")[0]


class _CallableModule(types.ModuleType):
    # Importing this module binds it to the package's `accelerate`, in place
    # of the function of that name; calling the module keeps doing what the
    # function does.
    def __call__(self) -> None:
        from tallygrams_scorer import _acceleration

        _acceleration.install()


def main(argv: list[str]) -> None:
    if not argv or argv[0] in ("-h", "--help") or argv == ["-m"]:
        stream = sys.stdout if argv[:1] in (["-h"], ["--help"]) else sys.stderr
        print("usage: " + _USAGE.replace("\n", "\n       "), file=stream)
        raise SystemExit(0 if stream is sys.stdout else 2)
    from tallygrams_scorer import _acceleration

    try:
        _acceleration.install()
    except ModuleNotFoundError as error:
        print(f"python -m tallygrams_scorer.accelerate: {error}", file=sys.stderr)
        raise SystemExit(2) from None
    if argv[0] == "-m":
        # As `python -m module`: the current directory stays first on the path.
        sys.argv = argv[1:]
        runpy.run_module(argv[1], run_name="__main__", alter_sys=True)
        return
    script = argv[0]
    if not os.path.exists(script):
        print(f"python -m tallygrams_scorer.accelerate: can't open file {os.path.abspath(script)!r}: "
              "No such file or directory", file=sys.stderr)
        raise SystemExit(2)
    # As `python script.py`: the script's own folder comes first on the path,
    # in place of the current directory that -m put there (neither is there
    # under -P).
    sys.argv = argv
    if not sys.flags.safe_path:
        sys.path[0] = os.path.dirname(os.path.abspath(script))
    runpy.run_path(script, run_name="__main__")


if __name__ == "__main__":
    main(sys.argv[1:])
else:
    sys.modules[__name__].__class__ = _CallableModule
