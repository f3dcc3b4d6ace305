"""One scoring run: read and score the input a batch at a time, write the
per-pair rows as they come, then the interval, the summary and the table.

The per-pair and summary files are committed together at the very end, so a
run that fails anywhere, the interval included, leaves neither behind.
"""

from __future__ import annotations

import argparse
import contextlib
import os
import sys
from collections.abc import Generator, Iterator, Sequence
from typing import Any

import tallygrams_scorer

from . import output, per_pair, report, report_builders, summary
from .blocks import STDIN
from .files import STDOUT, cannot_write
from .inputs import InputError, Keys
from .jsonl import available_reader
from .notices import TextNotes
from .options import build_parser, check_combinations, check_sizes, signature_of
from .parquet import Columns, Options
from .scoring import ScoreBuffers
from .sources import JsonLines, ParquetData, Reading, Scored, Source, TextFiles

# Pairs read and scored at a time: enough to keep the worker pool busy and
# the per-call overhead small (a few milliseconds of scoring per call), few
# enough that a batch's texts, and pyarrow's buffers for reading them, take
# tens of megabytes rather than hundreds.
BATCH_PAIRS = 16_384
# Inputs with at least this many pairs get a progress bar (on a terminal).
LONG_INPUT = 10_000


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
    if (args.reference_key or args.prediction_key or args.id_key) is not None and args.jsonl is None:
        parser.error("--reference-key, --prediction-key and --id-key apply only with --jsonl")
    if (args.reference_column or args.prediction_column or args.id_column) is not None and args.parquet is None:
        parser.error("--reference-column, --prediction-column and --id-column apply only with --parquet")
    if args.scheduler is not None and args.parquet is None:
        parser.error("--scheduler applies only with --parquet: the workers read the Parquet files themselves")
    if args.delimiter is not None and (args.jsonl or args.parquet) is not None:
        parser.error("--delimiter applies only to text files: JSON Lines and Parquet have their own records")
    if args.jsonl is not None:
        keys = Keys(args.reference_key or "reference", args.prediction_key or "prediction", args.id_key)
        return JsonLines(args.jsonl, keys)
    if args.parquet is not None:
        columns = Columns(args.reference_column or "reference", args.prediction_column or "prediction",
                          args.id_column)
        return ParquetData(args.parquet, columns)
    if args.references or args.predictions is not None:
        if not args.references or args.predictions is None:
            parser.error("--references FILE (once or more) and --predictions FILE go together")
        paths = [*args.references, args.predictions]
    elif args.positional_predictions is None:
        parser.error("expected two files, REFERENCES and PREDICTIONS (or --jsonl FILE, or --parquet PATH)")
    else:
        paths = [args.positional_references, args.positional_predictions]
    if paths.count(STDIN) > 1:
        parser.error("only one input can be standard input (-)")
    return TextFiles(paths[:-1], paths[-1])


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
    outputs = [(option, path) for option, path in outputs if path is not None and path != STDOUT]
    for option, path in outputs:
        for input_path in source.input_paths():
            if _same_file(path, input_path):
                raise InputError(f"{option} {path} would overwrite the input file {input_path}")
            if _within(path, input_path):
                raise InputError(f"{option} {path} is inside the input folder {input_path}; write it elsewhere")
    for k, (option, path) in enumerate(outputs):
        for other, other_path in outputs[:k]:
            if os.path.abspath(path) == os.path.abspath(other_path):
                raise InputError(f"{other} and {option} name the same file")


def _scorer(args: argparse.Namespace) -> tallygrams_scorer.RougeScorer:
    try:
        return tallygrams_scorer.RougeScorer(args.rouge_types, use_stemmer=args.stemmer,
                                             split_summaries=args.split_summaries, tokenizer=args.tokenizer)
    except (ValueError, ImportError, LookupError) as error:
        # --split-summaries without NLTK or its sentence model.
        raise InputError(f"--split-summaries: {error}") from None


@contextlib.contextmanager
def _scores(args: argparse.Namespace, source: Source, scorer: tallygrams_scorer.RougeScorer,
            reading: Reading) -> Iterator[Generator[Scored]]:
    """Every batch's scores in input order, from this process or the cluster.
    The stream is closed (its files, its tasks) before the cluster is."""
    if args.scheduler is None:
        with contextlib.closing(source.score(scorer, reading)) as scores:
            yield scores
        return
    assert isinstance(source, ParquetData)
    from . import cluster  # only here: it brings dask's logging along

    options = Options(reading.batch_pairs, reading.refuse_nulls, reading.separator)
    with cluster.connect(args.scheduler) as client:
        with contextlib.closing(cluster.score_on_cluster(client, source, scorer, options)) as scores:
            yield scores


def _pyarrow() -> Any:
    try:
        import pyarrow  # type: ignore[import-untyped]
    except ImportError:
        return None
    return pyarrow


def _reading(args: argparse.Namespace) -> Reading:
    notes = TextNotes(count_letters=args.tokenizer is None and not args.quiet,
                      look_for_breaks="rougeLsum" in args.rouge_types and not args.split_summaries
                      and not args.quiet and args.scheduler is None)
    return Reading(
        batch_pairs=args.batch_pairs,
        notes=notes,
        refuse_nulls=args.nulls == "error",
        separator=args.sentence_separator,
        delimiter=args.delimiter or "\n",
        json_reader=args.json_reader or (available_reader() if args.jsonl is not None else "json"),
        pyarrow=_pyarrow() if args.json_reader in (None, "pyarrow") else None,
        split_sentences=args.split_summaries,
    )


def _summary_stream(args: argparse.Namespace) -> Any:
    # Per-pair rows on standard output: the summary goes to standard error.
    return sys.stderr if args.per_pair == STDOUT else sys.stdout


def run(args: argparse.Namespace, parser: argparse.ArgumentParser) -> int:
    check_combinations(args, parser)
    check_sizes(args, parser)
    if args.per_pair is not None and per_pair.format_of(args.per_pair, args.per_pair_format) == "parquet":
        from .parquet import require_pyarrow

        require_pyarrow("--per-pair in Parquet")
    source = _source(args, parser)
    scorer = _scorer(args)
    _check_outputs(args, source)
    if args.report is not None:
        report.check_report_path(args.report)
    reading = _reading(args)
    buffers = ScoreBuffers(output.column_names(args.rouge_types))
    show_progress = not (args.no_progress or args.quiet) and sys.stderr.isatty()
    progress = output.Progress(sys.stderr, "scoring   ", show_progress, LONG_INPUT)
    figures = output.Figures(args.scale, args.digits)

    with contextlib.ExitStack() as stack:
        writer = None
        if args.per_pair is not None:
            file_format = per_pair.format_of(args.per_pair, args.per_pair_format)
            writer = per_pair.PerPairOutput(args.per_pair, file_format, args.per_pair_layout, args.rouge_types)
            stack.callback(writer.discard)
        scores = stack.enter_context(_scores(args, source, scorer, reading))
        zero_based = args.per_pair_layout == "rouge-score"
        for scored in scores:
            if writer is not None:
                ids = scored.ids
                if zero_based and isinstance(ids, range):
                    ids = range(ids.start - 1, ids.stop - 1)
                writer.write(ids, scored.columns)
            buffers.append(scored.columns)
            progress.update(buffers.pairs + buffers.left_out, scored.done)
        progress.close()
        if buffers.pairs == 0:
            reason = "every pair has a null text" if buffers.left_out else "the input is empty"
            raise InputError(f"no pairs to score: {reason}")

        notes = reading.notes
        references = (notes.fewest_references or 1, notes.most_references or 1)
        signature = signature_of(args, references)
        if args.signature_only:
            if writer is not None:
                writer.commit(str(signature))
            _print(str(signature) + "\n", _summary_stream(args))
            return 0
        intervals = None
        if args.bootstrap_samples == 0:
            means = buffers.means()
        else:
            resampling = output.Progress(sys.stderr, "resampling", show_progress, LONG_INPUT)
            resampling.status(buffers.pairs, f"{args.bootstrap_samples} resamples of {buffers.pairs} pairs")
            intervals = tallygrams_scorer.bootstrap(buffers.columns, args.bootstrap_samples, seed=args.seed,
                                                    confidence_interval=args.confidence)
            resampling.close()
            means = {name: interval.mean for name, interval in intervals.items()}
        result = output.Summary(tuple(args.rouge_types), buffers.pairs, buffers.left_out, means, intervals, signature)
        text = output.render(result, args.format, figures)
        pending = None
        if args.summary is not None:
            pending = summary.pending_summary(args.summary, result, figures)
            stack.callback(pending.discard)
        page = None
        if args.report is not None:
            content = report_builders.main_report(args, buffers, means, intervals, str(signature))
            page = report.pending_report(args.report, content)
            stack.callback(page.discard)
        if writer is not None:
            writer.commit(str(signature))
        if pending is not None:
            pending.commit()
        if page is not None:
            page.commit()
        # Leaving the block closes the input (and the cluster); the files'
        # discards do nothing once they are committed.
    for warning in notes.warnings("rougeLsum" in args.rouge_types):
        output.message(f"warning: {warning}")
    _print(text, _summary_stream(args))
    return 0


def _print(text: str, stream: Any) -> None:
    try:
        stream.write(text)
        stream.flush()
    except OSError as error:
        raise cannot_write(STDOUT if stream is sys.stdout else "standard error", error) from None


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser(BATCH_PAIRS)
    args = parser.parse_args(argv)
    return run(args, parser)
