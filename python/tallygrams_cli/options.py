"""The tool's command line."""

from __future__ import annotations

import argparse
import re
from collections.abc import Callable
from typing import NoReturn

import tallygrams

from . import per_pair, report, summary
from .cluster import LOCAL_PREFIX

DESCRIPTION = """\
Score predictions against references with ROUGE (by default ROUGE-1, ROUGE-2
and ROUGE-L) and print the mean precision, recall and F-measure of each type
with a 95% bootstrap confidence interval. The scores are those of the
rouge-score package with the same options, to the last bit.

Inputs, read and scored in batches (memory does not grow with their size):
  REFERENCES PREDICTIONS   two UTF-8 files, one text per line: line N of
                           PREDICTIONS is scored against line N of REFERENCES
                           (also as --references FILE --predictions FILE;
                           --references more than once for several references)
  --jsonl FILE             one JSON record per line holding both texts (the
                           reference may be an array of texts)
  --parquet FILE_OR_DIR    two text columns of a Parquet file or of every file
                           in a folder (needs pyarrow); with --scheduler, on a
                           dask.distributed cluster"""

EPILOG = """\
exit status: 0 on success, 2 for a problem with the options or the input
files (a one-line message on standard error says which), 130 or 143 when
stopped by SIGINT (Ctrl-C) or SIGTERM."""

DEFAULT_TYPES = ["rouge1", "rouge2", "rougeL"]
_ROUGE_TYPE = re.compile(r"rouge[1-9]|rougeL|rougeLsum")
_SEED_LIMIT = 2**64


class _Parser(argparse.ArgumentParser):
    """Reports a problem with the options in one line, as the tool reports
    every other problem, with a pointer to --help instead of the usage."""

    def error(self, message: str) -> NoReturn:
        self.exit(2, f"{self.prog}: {message} (see {self.prog} --help)\n")


def _whole(text: str, invalid: str) -> int:
    """An int of at least 0; `invalid` begins the message for text that is no int."""
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{invalid}: {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"must not be negative: {value}")
    return value


def _non_negative(text: str) -> int:
    return _whole(text, "not a whole number")


def _positive(text: str) -> int:
    value = _non_negative(text)
    if value == 0:
        raise argparse.ArgumentTypeError("must be at least 1")
    return value


def _seed(text: str) -> int:
    value = _whole(text, "invalid int value")
    if value >= _SEED_LIMIT:
        raise argparse.ArgumentTypeError(f"must be below 2**64: {value}")
    return value


def _rouge_types(text: str) -> list[str]:
    types = [name.strip() for name in text.split(",")]
    for name in types:
        if not _ROUGE_TYPE.fullmatch(name):
            raise argparse.ArgumentTypeError(
                f"not a ROUGE type: {name!r} (choose among rouge1 to rouge9, rougeL and rougeLsum)"
            )
    if len(set(types)) != len(types):
        raise argparse.ArgumentTypeError(f"a ROUGE type is named twice: {text!r}")
    return types


def _suffixed(suffixes: tuple[str, ...]) -> Callable[[str], str]:
    shown = ", ".join(suffixes[:-1]) + " or " + suffixes[-1]

    def check(text: str) -> str:
        if not text.lower().endswith(suffixes):
            raise argparse.ArgumentTypeError(f"file name must end in {shown}: {text!r}")
        return text

    return check


def _scheduler(text: str) -> str:
    if text.startswith(LOCAL_PREFIX):
        _positive(text[len(LOCAL_PREFIX):])
    elif not text:
        raise argparse.ArgumentTypeError("an empty address")
    return text


def add_scoring_options(parser: argparse.ArgumentParser) -> None:
    """How pairs are scored: the same options for every command that scores."""
    scoring = parser.add_argument_group("scoring")
    scoring.add_argument("--rouge-types", metavar="TYPES", type=_rouge_types, default=DEFAULT_TYPES,
                         help="comma-separated ROUGE types among rouge1 to rouge9, rougeL and rougeLsum "
                              "(default rouge1,rouge2,rougeL); rougeLsum reads each line of a text as a sentence")
    scoring.add_argument("--stemmer", action="store_true",
                         help="reduce words longer than three letters to their Porter stem (English)")
    scoring.add_argument("--tokenizer", choices=["unicode"],
                         help="unicode: words of every script, lower-cased, each Chinese or Japanese character, "
                              "Thai, Lao, Myanmar and Khmer letter a word of its own (default: ASCII letters "
                              "and digits only, as rouge-score)")


def build_parser(batch_pairs: int) -> argparse.ArgumentParser:
    parser = _Parser(
        prog="tallygrams",
        description=DESCRIPTION,
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    inputs = parser.add_argument_group("input")
    inputs.add_argument("positional_references", nargs="?", metavar="REFERENCES",
                        help="text file with one reference per line")
    inputs.add_argument("positional_predictions", nargs="?", metavar="PREDICTIONS",
                        help="text file with one prediction per line, as many as references")
    inputs.add_argument("--references", metavar="FILE", action="append",
                        help="text file of references, one per line; again for a second reference of each "
                             "prediction, and so on")
    inputs.add_argument("--predictions", metavar="FILE",
                        help="text file of predictions, one per line, as many as each references file has")
    inputs.add_argument("--jsonl", metavar="FILE",
                        help="read both texts of each pair from one record per line of FILE instead")
    inputs.add_argument("--reference-key", metavar="KEY",
                        help='key of the reference text (or array of texts) in --jsonl records '
                             '(default "reference")')
    inputs.add_argument("--prediction-key", metavar="KEY",
                        help='key of the prediction text in --jsonl records (default "prediction")')
    inputs.add_argument("--parquet", metavar="FILE_OR_DIR",
                        help="read the pairs from two text columns of a Parquet file, or of every data file "
                             "in a folder, in the natural order of their names")
    inputs.add_argument("--reference-column", metavar="NAME",
                        help='column of the references in --parquet (default "reference")')
    inputs.add_argument("--prediction-column", metavar="NAME",
                        help='column of the predictions in --parquet (default "prediction")')
    inputs.add_argument("--scheduler", metavar="ADDRESS", type=_scheduler,
                        help="score --parquet on the dask.distributed cluster whose scheduler is at ADDRESS "
                             "(e.g. tcp://10.0.0.5:8786), or on local:N, N worker processes started on this "
                             "machine for the run; the workers read the files themselves")

    add_scoring_options(parser)

    results = parser.add_argument_group("results")
    results.add_argument("--per-pair", metavar="FILE.csv|FILE.jsonl|FILE.parquet",
                         type=_suffixed(per_pair.SUFFIXES),
                         help="also write every pair's scores to this file, in input order")
    results.add_argument("--summary", metavar="FILE.csv|FILE.json", type=_suffixed(summary.SUFFIXES),
                         help="also write the table to this file with every digit: CSV as rouge-score writes it "
                              "(score_type,low,mid,high), or JSON with the means too")
    results.add_argument("--bootstrap-samples", metavar="N", type=_non_negative, default=1000,
                         help="resamples for the confidence interval (default 1000; 0 skips the interval)")
    results.add_argument("--seed", metavar="N", type=_seed, default=0,
                         help="seed of the resampling, from 0 to 2**64 - 1, so that runs repeat exactly "
                              "(default 0)")
    results.add_argument("--report", metavar="FILE.html", type=_suffixed(report.SUFFIXES),
                         help="also write an HTML page with the table and charts of the per-pair scores "
                              "(needs matplotlib: the tallygrams[report] extra)")
    results.add_argument("--no-progress", action="store_true",
                         help="never draw a progress bar")
    parser.add_argument("--version", action="version", version=f"tallygrams {tallygrams.__version__}")
    # Pairs per batch, for tests that need many batches from a small input.
    parser.add_argument("--batch-pairs", type=_positive, default=batch_pairs, help=argparse.SUPPRESS)
    return parser


def check_scoring_combinations(args: argparse.Namespace, parser: argparse.ArgumentParser) -> None:
    """Scoring options that are valid alone but not together."""
    if args.stemmer and args.tokenizer is not None:
        parser.error("--stemmer stems the words of the default tokenizer; it cannot be combined with --tokenizer")


def check_combinations(args: argparse.Namespace, parser: argparse.ArgumentParser) -> None:
    """Options that are valid alone but not together."""
    check_scoring_combinations(args, parser)
    if args.summary is not None and args.summary.lower().endswith(".csv") and args.bootstrap_samples == 0:
        parser.error("a --summary CSV holds the interval, which --bootstrap-samples 0 skips; "
                     "use a .json summary for the means alone")
