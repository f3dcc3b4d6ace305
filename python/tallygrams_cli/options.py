"""The tool's command line.

The options come in groups that other commands reuse: `add_scoring_options`
(the ROUGE types, stemming, tokenizer, sentences) and `add_summary_options`
(the interval, the format and figures of the summary, warnings and
progress); `signature_of` turns parsed options into the run's signature.
Sizes that would ask for more memory than the machine has are refused by
`check_sizes`, before any work.
"""

from __future__ import annotations

import argparse
import math
import re
from collections.abc import Callable
from typing import NoReturn

import tallygrams_scorer

from . import capacity, output, per_pair, report, summary
from .signature import Signature

DESCRIPTION = """\
Score predictions against references with ROUGE (by default ROUGE-1, ROUGE-2
and ROUGE-L) and print the mean precision, recall and F-measure of each type
with a bootstrap confidence interval, and the run's signature. The scores are
those of the rouge-score package with the same options, to the last bit.

Inputs, read and scored in batches (memory does not grow with their size):
  REFERENCES PREDICTIONS   two UTF-8 files, one text per line: line N of
                           PREDICTIONS is scored against line N of REFERENCES
                           (also as --references FILE --predictions FILE;
                           --references more than once for several references;
                           - for standard input)
  --jsonl FILE             one JSON record per line holding both texts (the
                           reference may be an array of texts; - for standard
                           input)
  --parquet FILE_OR_DIR    two text columns of a Parquet file or of every file
                           in a folder (needs pyarrow); with --scheduler, on a
                           dask.distributed cluster"""

EPILOG = """\
exit status: 0 on success, 2 for a problem with the options, the input
files or writing the results (a one-line message on standard error says
which), 130 or 143 when stopped by SIGINT (Ctrl-C) or SIGTERM."""

DEFAULT_TYPES = ["rouge1", "rouge2", "rougeL"]
_ROUGE_TYPE = re.compile(r"rouge([1-9]|l|lsum)")
_SEED_LIMIT = 2**64
# Pairs per batch at most: a batch's texts are held in memory at once.
_BATCH_LIMIT = 10_000_000
_DIGITS_LIMIT = 17
# Memory kept free for everything besides the resampled means.
_RESERVE = 256 << 20
LOCAL_PREFIX = "local:"
# What one local worker costs: its process and its nanny's, with the
# interpreter, pyarrow and the scorer loaded.
WORKER_MEMORY = 320 << 20


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


def _batch_pairs(text: str) -> int:
    value = _positive(text)
    if value > _BATCH_LIMIT:
        raise argparse.ArgumentTypeError(f"at most {_BATCH_LIMIT}: {value}")
    return value


def _digits(text: str) -> int:
    value = _non_negative(text)
    if value > _DIGITS_LIMIT:
        raise argparse.ArgumentTypeError(f"at most {_DIGITS_LIMIT} (a float has no more): {value}")
    return value


def _seed(text: str) -> int:
    value = _whole(text, "invalid int value")
    if value >= _SEED_LIMIT:
        raise argparse.ArgumentTypeError(f"must be below 2**64: {value}")
    return value


def _confidence(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not (0 < value < 1) or math.isnan(value):
        raise argparse.ArgumentTypeError(f"must lie between 0 and 1, both excluded (0.95 for 95%): {text}")
    return value


def canonical_rouge_type(name: str) -> str | None:
    """ROUGE-1, rouge-L, ROUGE-Lsum as rouge1, rougeL, rougeLsum; None for
    a name that is no ROUGE type."""
    match = _ROUGE_TYPE.fullmatch(name.strip().lower().replace("-", ""))
    if match is None:
        return None
    kind = match.group(1)
    return "rouge" + {"l": "L", "lsum": "Lsum"}.get(kind, kind)


def _rouge_types(text: str) -> list[str]:
    types = []
    for name in text.split(","):
        canonical = canonical_rouge_type(name)
        if canonical is None:
            raise argparse.ArgumentTypeError(
                f"not a ROUGE type: {name.strip()!r} (choose among rouge1 to rouge9, rougeL and rougeLsum; "
                "ROUGE-1 and rouge-L are read as rouge1 and rougeL)"
            )
        types.append(canonical)
    if len(set(types)) != len(types):
        raise argparse.ArgumentTypeError(f"a ROUGE type is named twice: {text!r}")
    return types


def _utf8_text(text: str) -> str:
    # The input's texts and keys are UTF-8; a command line in another
    # encoding arrives with its bytes as lone surrogates, which match nothing
    # and which the readers cannot even encode.
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        raise argparse.ArgumentTypeError(f"must be UTF-8 text, as the input is: {text!r}") from None
    return text


def _text_option(text: str) -> str:
    if not text:
        raise argparse.ArgumentTypeError("must not be empty")
    return _utf8_text(text)


def _scheduler(text: str) -> str:
    if text.startswith(LOCAL_PREFIX):
        _positive(text[len(LOCAL_PREFIX):])
    elif not text:
        raise argparse.ArgumentTypeError("an empty address")
    return text


def _suffixed(suffixes: tuple[str, ...]) -> Callable[[str], str]:
    shown = ", ".join(suffixes[:-1]) + " or " + suffixes[-1]

    def check(text: str) -> str:
        if not text.lower().endswith(suffixes):
            raise argparse.ArgumentTypeError(f"file name must end in {shown}: {text!r}")
        return text

    return check


def add_scoring_options(parser: argparse.ArgumentParser) -> None:
    """--rouge-types, --stemmer, --tokenizer, --split-summaries, --sentence-separator."""
    scoring = parser.add_argument_group("scoring")
    scoring.add_argument("--rouge-types", metavar="TYPES", type=_rouge_types, default=DEFAULT_TYPES,
                         help="comma-separated ROUGE types among rouge1 to rouge9, rougeL and rougeLsum, in any "
                              "case and with a hyphen too (ROUGE-1, rouge-L) (default rouge1,rouge2,rougeL); "
                              "rougeLsum reads each line of a text as a sentence")
    scoring.add_argument("--stemmer", action="store_true",
                         help="reduce words longer than three letters to their Porter stem (English)")
    scoring.add_argument("--tokenizer", choices=["unicode"],
                         help="unicode: words of every script, lower-cased, each Chinese or Japanese character, "
                              "Thai, Lao, Myanmar and Khmer letter a word of its own (default: ASCII letters "
                              "and digits only, as rouge-score)")
    scoring.add_argument("--sentence-separator", metavar="SEP", type=_text_option,
                         help="SEP (for example <n>) ends a sentence: it becomes a line break before scoring, "
                              "so that rougeLsum sees the sentences")
    scoring.add_argument("--split-summaries", action="store_true",
                         help="rougeLsum's sentences from NLTK's sentence splitter instead of lines, as "
                              "rouge-score's split_summaries=True (needs nltk and its punkt_tab model)")


def add_summary_options(parser: argparse.ArgumentParser) -> None:
    """The interval, the summary's format and figures, warnings and progress."""
    results = parser.add_argument_group("summary")
    results.add_argument("--format", choices=output.FORMATS, default="text",
                         help="the summary on standard output: text (a table and the signature, the default), "
                              "json, csv (rouge-score's columns and more) or latex (a tabular for a paper)")
    results.add_argument("--scale", type=int, choices=output.SCALES, default=1,
                         help="100 shows the figures from 0 to 100, as papers print them (default 1)")
    results.add_argument("--digits", metavar="N", type=_digits,
                         help="decimals in the text and LaTeX summary (default 4, or 2 with --scale 100)")
    results.add_argument("--confidence", metavar="LEVEL", type=_confidence, default=0.95,
                         help="coverage of the confidence interval, between 0 and 1 (default 0.95)")
    results.add_argument("--bootstrap-samples", metavar="N", type=_non_negative, default=1000,
                         help="resamples for the confidence interval (default 1000; 0 skips the interval)")
    results.add_argument("--seed", metavar="N", type=_seed, default=0,
                         help="seed of the resampling, from 0 to 2**64 - 1, so that runs repeat exactly "
                              "(default 0)")
    results.add_argument("--signature-only", action="store_true",
                         help="print only the signature line of the run")
    results.add_argument("--quiet", action="store_true", help="no warnings and no progress bar")
    results.add_argument("--no-progress", action="store_true", help="never draw a progress bar")


def build_parser(batch_pairs: int) -> argparse.ArgumentParser:
    parser = _Parser(
        prog="tallygrams",
        description=DESCRIPTION,
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    inputs = parser.add_argument_group("input")
    inputs.add_argument("positional_references", nargs="?", metavar="REFERENCES",
                        help="text file with one reference per line (- for standard input)")
    inputs.add_argument("positional_predictions", nargs="?", metavar="PREDICTIONS",
                        help="text file with one prediction per line, as many as references (- for standard "
                             "input)")
    inputs.add_argument("--references", metavar="FILE", action="append",
                        help="text file of references, one per line; again for a second reference of each "
                             "prediction, and so on")
    inputs.add_argument("--predictions", metavar="FILE",
                        help="text file of predictions, one per line, as many as each references file has")
    inputs.add_argument("--delimiter", metavar="TEXT", type=_text_option,
                        help="records of the text files end at TEXT instead of at a line break, so that a "
                             "record may span lines (rouge-score's --delimiter)")
    inputs.add_argument("--jsonl", metavar="FILE",
                        help="read both texts of each pair from one record per line of FILE instead")
    inputs.add_argument("--reference-key", metavar="KEY", type=_utf8_text,
                        help='key of the reference text (or array of texts) in --jsonl records '
                             '(default "reference")')
    inputs.add_argument("--prediction-key", metavar="KEY", type=_utf8_text,
                        help='key of the prediction text in --jsonl records (default "prediction")')
    inputs.add_argument("--id-key", metavar="KEY", type=_utf8_text,
                        help="key of each pair's id (a string or an integer) in --jsonl records, for the "
                             "per-pair file (default: the line number)")
    inputs.add_argument("--parquet", metavar="FILE_OR_DIR",
                        help="read the pairs from two text columns of a Parquet file, or of every data file "
                             "in a folder, in the natural order of their names")
    inputs.add_argument("--reference-column", metavar="NAME", type=_utf8_text,
                        help='column of the references in --parquet (default "reference")')
    inputs.add_argument("--prediction-column", metavar="NAME", type=_utf8_text,
                        help='column of the predictions in --parquet (default "prediction")')
    inputs.add_argument("--id-column", metavar="NAME", type=_utf8_text,
                        help="column of each pair's id in --parquet, for the per-pair file (default: the row "
                             "number, counted from 1 across the files)")
    inputs.add_argument("--nulls", choices=["skip", "error"], default="skip",
                        help="a null text (JSON null, Parquet null): skip leaves its pair out and counts it "
                             "(the default), error stops the run")
    inputs.add_argument("--scheduler", metavar="ADDRESS", type=_scheduler,
                        help="score --parquet on the dask.distributed cluster whose scheduler is at ADDRESS "
                             "(e.g. tcp://10.0.0.5:8786), or on local:N, N worker processes started on this "
                             "machine for the run; the workers read the files themselves")

    add_scoring_options(parser)
    add_summary_options(parser)

    files = parser.add_argument_group("result files")
    files.add_argument("--per-pair", metavar="FILE.csv|FILE.jsonl|FILE.parquet|-",
                       help="also write every pair's scores to this file (- for standard output, the summary "
                            "then goes to standard error), in input order, with an id column first")
    files.add_argument("--per-pair-format", choices=per_pair.FORMATS,
                       help="the per-pair file's format, if not given by its name (CSV for -)")
    files.add_argument("--per-pair-layout", choices=per_pair.LAYOUTS, default="tallygrams",
                       help="rouge-score: the columns and number format of rouge-score's own per-pair CSV")
    files.add_argument("--summary", metavar="FILE.csv|FILE.json", type=_suffixed(summary.SUFFIXES),
                       help="also write the summary to this file with every digit: CSV (rouge-score's "
                            "score_type,low,mid,high and more) or JSON")
    files.add_argument("--report", metavar="FILE.html", type=_suffixed(report.SUFFIXES),
                       help="also write an HTML page with the summary and charts of the per-pair scores "
                            "(needs matplotlib: the tallygrams[report] extra)")
    parser.add_argument("--version", action="version", version=f"tallygrams {tallygrams_scorer.__version__}")
    # Pairs per batch, for tests that need many batches from a small input.
    parser.add_argument("--batch-pairs", type=_batch_pairs, default=batch_pairs, help=argparse.SUPPRESS)
    # The JSON Lines reader, for tests that compare them.
    parser.add_argument("--json-reader", choices=["pyarrow", "orjson", "json"], help=argparse.SUPPRESS)
    return parser


def check_scoring_combinations(args: argparse.Namespace, parser: argparse.ArgumentParser) -> None:
    """Scoring options that are valid alone but not together."""
    if args.stemmer and args.tokenizer is not None:
        parser.error("--stemmer stems the words of the default tokenizer; it cannot be combined with --tokenizer")
    if args.split_summaries and args.sentence_separator is not None:
        parser.error("--sentence-separator marks the sentences as lines; --split-summaries finds them with NLTK "
                     "instead: give one of them")


def check_combinations(args: argparse.Namespace, parser: argparse.ArgumentParser) -> None:
    """Options that are valid alone but not together."""
    check_scoring_combinations(args, parser)
    if args.bootstrap_samples == 0 and (args.format == "csv" or (args.summary or "").lower().endswith(".csv")):
        parser.error("a CSV summary holds the interval, which --bootstrap-samples 0 skips; "
                     "use a .json summary or --format json for the means alone")
    if args.per_pair is not None:
        if args.per_pair_format is None and args.per_pair != "-":
            try:
                _suffixed(per_pair.SUFFIXES)(args.per_pair)
            except argparse.ArgumentTypeError as error:
                parser.error(f"argument --per-pair: {error} (or name the format with --per-pair-format)")
        file_format = per_pair.format_of(args.per_pair, args.per_pair_format)
        if args.per_pair_layout == "rouge-score" and file_format != "csv":
            parser.error("--per-pair-layout rouge-score is a CSV layout; it cannot be written as " + file_format)
        if args.per_pair == "-" and args.summary is not None and args.summary == "-":
            parser.error("--per-pair - and --summary - both name standard output")
    elif args.per_pair_format is not None or args.per_pair_layout != "tallygrams":
        parser.error("--per-pair-format and --per-pair-layout apply only with --per-pair")


def check_samples(samples: int, option: str, rouge_types: int, parser: argparse.ArgumentParser,
                  available: int | None = None) -> None:
    """Resamples (or rounds) whose means would need more memory than this
    process can get, refused before any work."""
    available = capacity.memory_bytes() if available is None else available
    columns = 3 * rouge_types
    # The resampled means: one double per resample and column.
    needed = samples * columns * 8
    if samples and needed > available - _RESERVE:
        most = max((available - _RESERVE) // (columns * 8), 0)
        parser.error(f"{option} {samples} needs {capacity.shown(needed)} for the resampled means of "
                     f"{columns} score columns, more than the {capacity.shown(available)} this process can get "
                     f"(at most about {most} resamples)")


def check_sizes(args: argparse.Namespace, parser: argparse.ArgumentParser) -> None:
    """Sizes that would need more memory than this process can get, refused
    before any work."""
    available = capacity.memory_bytes()
    check_samples(args.bootstrap_samples, "--bootstrap-samples", len(args.rouge_types), parser, available)
    if args.scheduler is not None and args.scheduler.startswith(LOCAL_PREFIX):
        workers = int(args.scheduler[len(LOCAL_PREFIX):])
        most = max(available // WORKER_MEMORY, 1)
        if workers > most:
            parser.error(f"--scheduler {args.scheduler} asks for {workers} worker processes; this machine can "
                         f"hold about {most} ({capacity.shown(WORKER_MEMORY)} each, "
                         f"{capacity.shown(available)} available)")


def signature_of(args: argparse.Namespace, references: tuple[int, int]) -> Signature:
    """The signature of a run with these options."""
    if args.split_summaries:
        sentences = "nltk"
    elif args.sentence_separator is not None:
        sentences = f"sep={args.sentence_separator}"
    else:
        sentences = "lines"
    return Signature(
        rouge_types=tuple(args.rouge_types),
        stemmer=args.stemmer,
        tokenizer=args.tokenizer or "default",
        sentences=sentences,
        references=references,
        confidence=args.confidence if args.bootstrap_samples else None,
        resamples=args.bootstrap_samples,
        seed=args.seed,
    )
