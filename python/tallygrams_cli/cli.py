"""The `tallygrams` command: score predictions against references."""

from __future__ import annotations

import argparse
import contextlib
import os
import signal
import sys
import threading
from collections.abc import Generator, Iterator, Sequence
from types import FrameType

import tallygrams_scorer

from . import cluster, compare, output, per_pair, report, report_builders, summary
from .inputs import InputError
from .options import build_parser, check_combinations
from .scoring import ScoreBuffers
from .sources import JsonLines, ParquetData, Scored, Source, TextFiles
from .parquet import Columns

# Pairs read and scored at a time: enough to keep the worker pool busy and
# the per-call overhead small (a few milliseconds of scoring per call), few
# enough that a batch's texts, and pyarrow's buffers for reading them, take
# tens of megabytes rather than hundreds.
BATCH_PAIRS = 16_384
# Inputs with at least this many pairs get a progress bar (on a terminal).
LONG_INPUT = 10_000


class Terminated(BaseException):
    """SIGTERM arrived. Unwinds like KeyboardInterrupt does for SIGINT, so
    that a half-written output file is removed on the way out."""


def _raise_terminated(signum: int, frame: FrameType | None) -> None:
    raise Terminated


def _source(args: argparse.Namespace, parser: argparse.ArgumentParser) -> Source:
    given = []
    if args.positional_references is not None:
        given.append("REFERENCES PREDICTIONS")
    if args.references or args.predictions is not None:
        given.append("--references and --predictions")
    if args.jsonl is not None:
        given.append("--jsonl FILE")
    if args.parquet is not None:
        given.append("--parquet PATH")
    if len(given) > 1:
        parser.error(f"give either {given[0]} or {given[1]}, not both")
    if (args.reference_key is not None or args.prediction_key is not None) and args.jsonl is None:
        parser.error("--reference-key and --prediction-key apply only with --jsonl")
    if (args.reference_column is not None or args.prediction_column is not None) and args.parquet is None:
        parser.error("--reference-column and --prediction-column apply only with --parquet")
    if args.scheduler is not None and args.parquet is None:
        parser.error("--scheduler applies only with --parquet: the workers read the Parquet files themselves")
    if args.jsonl is not None:
        return JsonLines(args.jsonl, args.reference_key or "reference", args.prediction_key or "prediction")
    if args.parquet is not None:
        columns = Columns(args.reference_column or "reference", args.prediction_column or "prediction")
        return ParquetData(args.parquet, columns)
    if args.references or args.predictions is not None:
        if not args.references or args.predictions is None:
            parser.error("--references FILE (once or more) and --predictions FILE go together")
        return TextFiles(args.references, args.predictions)
    if args.positional_predictions is None:
        parser.error("expected two files, REFERENCES and PREDICTIONS (or --jsonl FILE, or --parquet PATH)")
    return TextFiles([args.positional_references], args.positional_predictions)


def _same_file(a: str, b: str) -> bool:
    try:
        return os.path.samefile(a, b)
    except OSError:
        return False


def _within(path: str, folder: str) -> bool:
    if not os.path.isdir(folder):
        return False
    parent = os.path.dirname(os.path.abspath(path))
    return os.path.commonpath([os.path.realpath(parent), os.path.realpath(folder)]) == os.path.realpath(folder)


def _check_outputs(args: argparse.Namespace, source: Source) -> None:
    outputs = [("--per-pair", args.per_pair), ("--summary", args.summary), ("--report", args.report)]
    outputs = [(option, path) for option, path in outputs if path is not None]
    for option, path in outputs:
        for input_path in source.input_paths():
            if _same_file(path, input_path):
                raise InputError(f"{option} {path} would overwrite the input file {input_path}")
            if _within(path, input_path):
                raise InputError(f"{option} {path} is inside the input folder {input_path}; write it elsewhere")
    if len(outputs) == 2 and os.path.abspath(args.per_pair) == os.path.abspath(args.summary):
        raise InputError("--per-pair and --summary name the same file")


def _scorer(args: argparse.Namespace) -> tallygrams_scorer.RougeScorer:
    return tallygrams_scorer.RougeScorer(args.rouge_types, use_stemmer=args.stemmer, tokenizer=args.tokenizer)


@contextlib.contextmanager
def _scores(args: argparse.Namespace, source: Source, scorer: tallygrams_scorer.RougeScorer) -> Iterator[Generator[Scored]]:
    """Every batch's scores in input order, from this process or the cluster.
    The stream is closed (its files, its tasks) before the cluster is."""
    if args.scheduler is None:
        with contextlib.closing(source.score(scorer, args.batch_pairs)) as scores:
            yield scores
        return
    assert isinstance(source, ParquetData)
    with cluster.connect(args.scheduler) as client:
        with contextlib.closing(cluster.score_on_cluster(client, source, scorer, args.batch_pairs)) as scores:
            yield scores


def run(args: argparse.Namespace, parser: argparse.ArgumentParser) -> int:
    check_combinations(args, parser)
    source = _source(args, parser)
    scorer = _scorer(args)
    _check_outputs(args, source)
    if args.report is not None:
        report.check_report_path(args.report)
    names = output.column_names(args.rouge_types)
    buffers = ScoreBuffers(names)
    show_progress = not args.no_progress and sys.stderr.isatty()
    progress = output.Progress(sys.stderr, "scoring   ", show_progress, LONG_INPUT)

    with contextlib.ExitStack() as stack:
        writer = stack.enter_context(per_pair.per_pair_file(args.per_pair, names)) if args.per_pair else None
        scores = stack.enter_context(_scores(args, source, scorer))
        for scored in scores:
            if writer is not None:
                writer.write(scored.columns)
            buffers.append(scored.columns)
            progress.update(buffers.pairs + buffers.left_out, scored.done)
        progress.close()
        if buffers.pairs == 0:
            reason = "every pair has a null text" if buffers.left_out else "the input is empty"
            raise InputError(f"no pairs to score: {reason}")

    intervals = None
    if args.bootstrap_samples == 0:
        means = buffers.means()
    else:
        resampling = output.Progress(sys.stderr, "resampling", show_progress, LONG_INPUT)
        resampling.status(buffers.pairs, f"{args.bootstrap_samples} resamples of {buffers.pairs} pairs")
        intervals = tallygrams_scorer.bootstrap(buffers.columns, args.bootstrap_samples, seed=args.seed)
        resampling.close()
        means = {name: interval.mean for name, interval in intervals.items()}
    if args.summary is not None:
        summary.write_summary(args.summary, args.rouge_types, buffers.pairs, buffers.left_out, means, intervals,
                              args.bootstrap_samples, args.seed)
    table = output.format_table(args.rouge_types, buffers.pairs, buffers.left_out, means, intervals,
                                args.bootstrap_samples, args.seed)
    if args.report is not None:
        report.write_report(args.report, report_builders.main_report(args, buffers, means, intervals))
    sys.stdout.write(table)
    sys.stdout.flush()
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    arguments = sys.argv[1:] if argv is None else list(argv)
    command, parser = run, build_parser(BATCH_PAIRS)
    if arguments[:1] == ["compare"]:
        command, parser, arguments = compare.run, compare.build_parser(BATCH_PAIRS), arguments[1:]
    args = parser.parse_args(arguments)
    # Signal handlers belong to the main thread; elsewhere SIGTERM keeps
    # whatever the caller set up.
    handles_sigterm = threading.current_thread() is threading.main_thread()
    previous = signal.signal(signal.SIGTERM, _raise_terminated) if handles_sigterm else None
    try:
        return command(args, parser)
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
