"""`tallygrams compare`: is a system's score really higher than the
baseline's? Scores a baseline and one or more systems against the same
references, then tests each system against the baseline with a paired test.
"""

from __future__ import annotations

import argparse
import contextlib
import dataclasses
import math
import operator
import os
import sys
from array import array
from collections.abc import Callable, Sequence
from itertools import compress
from typing import NamedTuple

import tallygrams_scorer

from . import compare_output, output, report, report_builders
from .command import BATCH_PAIRS, _print, _reading, _scorer
from .inputs import InputError, Keys
from .options import (_batch_pairs, _confidence, _digits, _Parser, _positive, _seed, _suffixed, _utf8_text,
                      add_scoring_options, check_samples, check_scoring_combinations, signature_of)
from .parquet import Columns
from .scoring import ScoreBuffers
from .sources import JsonLines, ParquetData, Reading, Source, TextFiles

TESTS = ("bootstrap", "randomization")
DEFAULT_SAMPLES = {"bootstrap": 1000, "randomization": 10_000}
# Shown from this many pairs on, as the main command does.
LONG_INPUT = 10_000

DESCRIPTION = """\
Is a system really better than a baseline on the same inputs? Scores the
baseline and each system against the same references, then tests each
system's difference from the baseline with a paired significance test, each
pair's scores kept together: the paired bootstrap (Koehn 2004) or approximate
randomization (Noreen 1989). With several systems the p-values are also
Holm-Bonferroni adjusted, so that one lucky system among many is not taken
for a real gain.

Inputs (the first prediction named is the baseline):
  --references FILE BASELINE SYSTEM [SYSTEM ...]
                           UTF-8 files, one text per line: line N of each
                           is scored against line N of the references
                           (--references again for several references)
  --jsonl FILE --prediction-key BASELINE --prediction-key SYSTEM ...
                           one JSON record per line holding every text
  --parquet PATH --prediction-column BASELINE --prediction-column SYSTEM ...
                           text columns of a Parquet file or folder"""

EPILOG = """\
exit status: 0 on success, 2 for a problem with the options or the input
files (a one-line message on standard error says which), 130 or 143 when
stopped by SIGINT (Ctrl-C) or SIGTERM."""


class System(NamedTuple):
    name: str
    source: Source


def build_parser(batch_pairs: int) -> argparse.ArgumentParser:
    parser = _Parser(prog="tallygrams compare", description=DESCRIPTION, epilog=EPILOG,
                     formatter_class=argparse.RawDescriptionHelpFormatter)
    inputs = parser.add_argument_group("input")
    inputs.add_argument("systems", nargs="*", metavar="PREDICTIONS",
                        help="text files of predictions, one per line: the baseline, then each system")
    inputs.add_argument("--references", metavar="FILE", action="append",
                        help="text file of references, one per line; again for a second reference of each pair")
    inputs.add_argument("--jsonl", metavar="FILE", help="read every text of a pair from one record per line of FILE")
    inputs.add_argument("--reference-key", metavar="KEY", type=_utf8_text,
                        help='key of the reference (or array of references) in --jsonl records (default "reference")')
    inputs.add_argument("--prediction-key", metavar="KEY", type=_utf8_text, action="append",
                        help="key of a system's prediction in --jsonl records: once per system, the baseline's first")
    inputs.add_argument("--parquet", metavar="FILE_OR_DIR",
                        help="read the texts from columns of a Parquet file, or of every data file in a folder")
    inputs.add_argument("--reference-column", metavar="NAME", type=_utf8_text,
                        help='column of the references in --parquet (default "reference")')
    inputs.add_argument("--prediction-column", metavar="NAME", type=_utf8_text, action="append",
                        help="column of a system's predictions in --parquet: once per system, the baseline's first")

    add_scoring_options(parser)

    testing = parser.add_argument_group("test")
    testing.add_argument("--test", choices=[*TESTS, "both"], default="bootstrap",
                         help="bootstrap: paired bootstrap resampling; randomization: paired approximate "
                              "randomization; both (default bootstrap)")
    testing.add_argument("--samples", metavar="N", type=_positive,
                         help="resamples of the bootstrap, rounds of the randomization (default 1000 and 10000)")
    testing.add_argument("--confidence", metavar="LEVEL", type=_confidence, default=0.95,
                         help="coverage of the intervals, between 0 and 1 (default 0.95)")
    testing.add_argument("--seed", metavar="N", type=_seed, default=0,
                         help="seed of the resampling, from 0 to 2**64 - 1, so that runs repeat exactly (default 0)")

    results = parser.add_argument_group("results")
    results.add_argument("--format", choices=compare_output.FORMATS, default="text",
                         help="how the table is written to standard output (default text)")
    results.add_argument("--scale", type=int, choices=output.SCALES, default=1,
                         help="100 shows the scores and differences from 0 to 100, as papers print them (default 1)")
    results.add_argument("--digits", metavar="N", type=_digits,
                         help="decimals of the scores in the text table (default 4, or 2 with --scale 100)")
    results.add_argument("--report", metavar="FILE.html", type=_suffixed(report.SUFFIXES),
                         help="also write an HTML page with the table, the distributions of the per-pair scores "
                              "and of the differences, and the pairs where the systems differ most "
                              "(needs matplotlib: the tallygrams[report] extra)")
    results.add_argument("--quiet", action="store_true", help="no warnings and no progress bar")
    results.add_argument("--no-progress", action="store_true", help="never draw a progress bar")
    parser.add_argument("--batch-pairs", type=_batch_pairs, default=batch_pairs, help=argparse.SUPPRESS)
    # What the main command's reading takes that this command does not offer.
    parser.set_defaults(scheduler=None, nulls="skip", delimiter=None, json_reader=None)
    return parser


def _same_input(a: str, b: str) -> bool:
    if os.path.abspath(a) == os.path.abspath(b):
        return True
    try:
        return os.path.samefile(a, b)
    except OSError:
        return False


def _distinct(names: Sequence[str], what: str, same: Callable[[str, str], bool] = operator.eq) -> None:
    for j, later in enumerate(names):
        for k, earlier in enumerate(names[:j]):
            if same(earlier, later):
                role = "the baseline" if k == 0 else f"system {k}"
                raise InputError(f"{what} {later} is given twice (as {role} and as system {j}); "
                                 "each system must be a different one")


def _systems(args: argparse.Namespace, parser: argparse.ArgumentParser) -> list[System]:
    kinds = [kind for kind, given in (("PREDICTIONS files", args.systems), ("--jsonl FILE", args.jsonl),
                                      ("--parquet PATH", args.parquet)) if given]
    if len(kinds) > 1:
        parser.error(f"give either {kinds[0]} or {kinds[1]}, not both")
    if (args.reference_key or args.prediction_key) and not args.jsonl:
        parser.error("--reference-key and --prediction-key apply only with --jsonl")
    if (args.reference_column or args.prediction_column) and not args.parquet:
        parser.error("--reference-column and --prediction-column apply only with --parquet")
    if args.references and not args.systems:
        parser.error("--references goes with the files of predictions: --references FILE BASELINE SYSTEM ...")
    if args.jsonl:
        keys = args.prediction_key or []
        if len(keys) < 2:
            parser.error("name the baseline's and each system's key: --prediction-key BASELINE --prediction-key SYSTEM")
        _distinct(keys, "--prediction-key")
        return [System(key, JsonLines(args.jsonl, Keys(args.reference_key or "reference", key))) for key in keys]
    if args.parquet:
        names = args.prediction_column or []
        if len(names) < 2:
            parser.error("name the baseline's and each system's column: "
                         "--prediction-column BASELINE --prediction-column SYSTEM")
        _distinct(names, "--prediction-column")
        return [System(name, ParquetData(args.parquet, Columns(args.reference_column or "reference", name)))
                for name in names]
    if not args.references:
        parser.error("expected --references FILE and the files of predictions, or --jsonl FILE, or --parquet PATH")
    if len(args.systems) < 2:
        parser.error("expected the baseline's file of predictions and at least one system's after --references")
    _distinct(args.systems, "the file", _same_input)
    for path in args.systems:
        if any(_same_input(path, reference) for reference in args.references):
            raise InputError(f"{path} is given both as references and as predictions")
    return [System(path, TextFiles(args.references, path)) for path in args.systems]


def _score(systems: list[System], scorer: tallygrams_scorer.RougeScorer, args: argparse.Namespace,
           names: tuple[str, ...], reading: Reading) -> list[ScoreBuffers]:
    """Every system's score columns, row i of each being input pair i
    (NaN where a text is null)."""
    show_progress = not (args.no_progress or args.quiet) and sys.stderr.isatty()
    scored_systems: list[ScoreBuffers] = []
    for k, system in enumerate(systems):
        buffers = ScoreBuffers(names, keep_null_rows=True)
        progress = output.Progress(sys.stderr, f"scoring {k + 1}/{len(systems)}", show_progress, LONG_INPUT)
        with contextlib.closing(system.source.score(scorer, reading)) as scores:
            for scored in scores:
                buffers.append(scored.columns)
                progress.update(buffers.pairs, scored.done)
        progress.close()
        if scored_systems and buffers.pairs != scored_systems[0].pairs:
            raise InputError(f"{system.name} has {buffers.pairs} pairs but {systems[0].name} has "
                             f"{scored_systems[0].pairs}; every system must score the same pairs")
        scored_systems.append(buffers)
    return scored_systems


class Aligned(NamedTuple):
    columns: list[dict[str, array[float]]]
    # rows[i]: the input pair that row i of the columns scores.
    rows: range | list[int]
    left_out: int


def _aligned(scored: list[ScoreBuffers], names: tuple[str, ...]) -> Aligned:
    """The rows that every system scored: a pair with a null text in any
    system is left out of all, so that row i stays the same pair."""
    first = names[0]
    total = scored[0].pairs
    # Scores are finite, so a sum is NaN only where a null row is.
    if not any(math.isnan(sum(buffers.columns[first])) for buffers in scored):
        return Aligned([buffers.columns for buffers in scored], range(total), 0)
    keep = [all(value == value for value in row) for row in zip(*(buffers.columns[first] for buffers in scored))]
    columns = [{name: array("d", compress(buffers.columns[name], keep)) for name in names} for buffers in scored]
    return Aligned(columns, list(compress(range(total), keep)), total - sum(keep))


def run(args: argparse.Namespace, parser: argparse.ArgumentParser) -> int:
    check_scoring_combinations(args, parser)
    tests = list(TESTS) if args.test == "both" else [args.test]
    samples = {test: args.samples or DEFAULT_SAMPLES[test] for test in tests}
    for count in samples.values():
        check_samples(count, "--samples", len(args.rouge_types), parser)
    systems = _systems(args, parser)
    if args.report is not None:
        report.check_report_path(args.report)
        for system in systems:
            if any(_same_input(args.report, path) for path in system.source.input_paths()):
                raise InputError(f"--report {args.report} would overwrite the input file")
    scorer = _scorer(args)
    reading = _reading(args)
    names = output.column_names(args.rouge_types)
    aligned = _aligned(_score(systems, scorer, args, names, reading), names)
    pairs = len(aligned.rows)
    if pairs < 2:
        raise InputError(f"a paired test needs at least 2 pairs; the input has {pairs}"
                         + (f" after leaving out {aligned.left_out} with a null text" if aligned.left_out else ""))

    # Each system's own interval from as many resamples as the bootstrap
    # test draws; the same seed, so the same draws for every system.
    interval_samples = samples.get("bootstrap", DEFAULT_SAMPLES["bootstrap"])
    intervals = [tallygrams_scorer.bootstrap(columns, interval_samples, seed=args.seed,
                                             confidence_interval=args.confidence)
                 for columns in aligned.columns]
    comparisons = {
        test: [tallygrams_scorer.compare(aligned.columns[0], columns, test=test,  # type: ignore[arg-type]
                                         n_samples=samples[test], confidence_interval=args.confidence,
                                         seed=args.seed)
               for columns in aligned.columns[1:]]
        for test in tests
    }
    notes = reading.notes
    references = (notes.fewest_references or 1, notes.most_references or 1)
    signature = dataclasses.replace(
        signature_of(argparse.Namespace(**{**vars(args), "bootstrap_samples": interval_samples}), references),
        extra=("test:" + ",".join(f"{test}:{count}" for test, count in samples.items()),))
    outcome = compare_output.Outcome([system.name for system in systems], args.rouge_types, pairs,
                                     aligned.left_out, tests, samples, args.seed, args.confidence, intervals,
                                     comparisons, str(signature), output.Figures(args.scale, args.digits))
    if args.report is not None:
        content = report_builders.comparison_report(outcome, aligned.columns, aligned.rows,
                                                     [system.source for system in systems], interval_samples)
        report.write_report(args.report, content)
    for warning in notes.warnings("rougeLsum" in args.rouge_types):
        output.message(f"warning: {warning}")
    _print(compare_output.format_outcome(outcome, args.format), sys.stdout)
    return 0


def main(argv: Sequence[str]) -> int:
    parser = build_parser(BATCH_PAIRS)
    return run(parser.parse_args(argv), parser)
