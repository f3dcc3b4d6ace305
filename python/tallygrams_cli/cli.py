"""The `tallygrams` command: score a file of predictions against a file of references."""

from __future__ import annotations

import argparse
import os
import signal
import sys
import threading
from collections.abc import Sequence
from types import FrameType
from typing import NoReturn

import tallygrams

from . import output, stats
from .inputs import InputError, read_jsonl, read_lines

# Pairs per call of the scorer: small enough that the progress bar moves,
# large enough that the worker pool stays busy between calls.
CHUNK = 8192
# Inputs with at least this many pairs get a progress bar (on a terminal).
LONG_INPUT = 10_000

DESCRIPTION = """\
Score predictions against references with ROUGE-1, ROUGE-2 and ROUGE-L and
print the mean precision, recall and F-measure of each metric with a 95%
bootstrap confidence interval. Texts are read one per line from two UTF-8
files (line N of PREDICTIONS is scored against line N of REFERENCES), or
from the records of a JSON Lines file with --jsonl."""

EPILOG = """\
exit status: 0 on success, 2 for a problem with the options or the input
files (a one-line message on standard error says which), 130 or 143 when
stopped by SIGINT (Ctrl-C) or SIGTERM."""


class _Parser(argparse.ArgumentParser):
    """Reports a problem with the options in one line, as the tool reports
    every other problem, with a pointer to --help instead of the usage."""

    def error(self, message: str) -> NoReturn:
        self.exit(2, f"{self.prog}: {message} (see {self.prog} --help)\n")


class Terminated(BaseException):
    """SIGTERM arrived. Unwinds like KeyboardInterrupt does for SIGINT, so
    that a half-written per-pair file is removed on the way out."""


def _raise_terminated(signum: int, frame: FrameType | None) -> None:
    raise Terminated


def _non_negative(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"must not be negative: {value}")
    return value


def _per_pair_path(text: str) -> str:
    if not text.lower().endswith(output.PER_PAIR_SUFFIXES):
        raise argparse.ArgumentTypeError(f"file name must end in .csv or .jsonl: {text!r}")
    return text


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog="tallygrams",
        description=DESCRIPTION,
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("references", nargs="?", metavar="REFERENCES",
                        help="text file with one reference per line")
    parser.add_argument("predictions", nargs="?", metavar="PREDICTIONS",
                        help="text file with one prediction per line, as many as references")
    parser.add_argument("--jsonl", metavar="FILE",
                        help="read both texts of each pair from one record per line of FILE instead")
    parser.add_argument("--reference-key", metavar="KEY",
                        help='key of the reference text in --jsonl records (default "reference")')
    parser.add_argument("--prediction-key", metavar="KEY",
                        help='key of the prediction text in --jsonl records (default "prediction")')
    parser.add_argument("--per-pair", metavar="FILE.csv|FILE.jsonl", type=_per_pair_path,
                        help="also write every pair's nine values to this file, in input order")
    parser.add_argument("--bootstrap-samples", metavar="N", type=_non_negative, default=1000,
                        help="resamples for the confidence interval (default 1000; 0 skips the interval)")
    parser.add_argument("--seed", metavar="N", type=int, default=0,
                        help="seed of the resampling, so that runs repeat exactly (default 0)")
    parser.add_argument("--no-progress", action="store_true",
                        help="never draw a progress bar")
    parser.add_argument("--version", action="version", version=f"tallygrams {tallygrams.__version__}")
    return parser


def _read_pairs(args: argparse.Namespace, parser: argparse.ArgumentParser) -> tuple[list[str], list[str]]:
    if args.jsonl is not None:
        if args.references is not None:
            parser.error("give either REFERENCES PREDICTIONS or --jsonl FILE, not both")
        return read_jsonl(args.jsonl, args.reference_key or "reference", args.prediction_key or "prediction")
    if args.reference_key is not None or args.prediction_key is not None:
        parser.error("--reference-key and --prediction-key apply only with --jsonl")
    if args.predictions is None:
        parser.error("expected two files, REFERENCES and PREDICTIONS (or --jsonl FILE)")
    reference_path, prediction_path = args.references, args.predictions
    references = read_lines(reference_path)
    predictions = read_lines(prediction_path)
    if len(references) != len(predictions):
        raise InputError(
            f"{reference_path} has {len(references)} lines but {prediction_path} has {len(predictions)}; "
            "each line of one must pair with the same line of the other"
        )
    return references, predictions


def _same_file(a: str, b: str) -> bool:
    try:
        return os.path.samefile(a, b)
    except OSError:
        return False


def score_columns(references: Sequence[str], predictions: Sequence[str],
                  progress: output.Progress) -> list[list[float]]:
    """The nine columns for all pairs, scored a chunk at a time."""
    columns: list[list[float]] = [[] for _ in output.COLUMNS]
    for start in range(0, len(references), CHUNK):
        end = start + CHUNK
        result = tallygrams.score_batch_flat(references[start:end], predictions[start:end])
        for column, name in zip(columns, output.COLUMNS):
            column.extend(getattr(result, name))
        progress.update(min(end, len(references)))
    progress.close()
    return columns


def run(args: argparse.Namespace, parser: argparse.ArgumentParser) -> int:
    references, predictions = _read_pairs(args, parser)
    pairs = len(references)
    if pairs == 0:
        raise InputError("no pairs to score: the input is empty")
    if args.per_pair is not None:
        inputs = [args.jsonl] if args.jsonl is not None else [args.references, args.predictions]
        for path in inputs:
            if _same_file(args.per_pair, path):
                raise InputError(f"--per-pair {args.per_pair} would overwrite the input file {path}")

    show_progress = not args.no_progress and pairs >= LONG_INPUT and sys.stderr.isatty()
    columns = score_columns(
        references, predictions, output.Progress(sys.stderr, "scoring   ", pairs, show_progress)
    )
    del references, predictions

    if args.per_pair is not None:
        try:
            output.write_per_pair(args.per_pair, columns)
        except OSError as error:
            raise InputError(f"cannot write {args.per_pair}: {error.strerror or error}") from None

    means = [stats.mean(column) for column in columns]
    intervals = None
    if args.bootstrap_samples > 0:
        progress = output.Progress(sys.stderr, "resampling", args.bootstrap_samples, show_progress)
        intervals = stats.bootstrap(columns, args.bootstrap_samples, args.seed, on_sample=progress.update)
        progress.close()
    sys.stdout.write(output.format_table(pairs, means, intervals, args.bootstrap_samples, args.seed))
    sys.stdout.flush()
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    # Signal handlers belong to the main thread; elsewhere SIGTERM keeps
    # whatever the caller set up.
    handles_sigterm = threading.current_thread() is threading.main_thread()
    previous = signal.signal(signal.SIGTERM, _raise_terminated) if handles_sigterm else None
    try:
        return run(args, parser)
    except InputError as error:
        print(f"tallygrams: {error}", file=sys.stderr)
        return 2
    except BrokenPipeError:
        # The reader of standard output went away (as with `| head`): stop
        # quietly, and keep the interpreter's final flush from complaining.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return 1
    except KeyboardInterrupt:
        return 130
    except Terminated:
        return 128 + signal.SIGTERM
    finally:
        if handles_sigterm:
            # None: the previous handler was not set from Python.
            signal.signal(signal.SIGTERM, signal.SIG_DFL if previous is None else previous)
