"""tallygrams rouge155: the Perl ROUGE-1.5.5 script's figures and printed
output, from line files or folders of summaries, with the script's flags."""

from __future__ import annotations

import os
import sys
from collections.abc import Sequence

import tallygrams_scorer

from .files import STDOUT, cannot_write, complete_or_absent, silence_stdout
from .inputs import InputError, open_input

STDIN = "-"

USAGE = """\
usage: tallygrams rouge155 [SCRIPT FLAGS] --predictions FILE --references FILE [--references FILE ...]
                           [--sentence-separator SEP] [--output FILE]
       tallygrams rouge155 [SCRIPT FLAGS] --prediction-dir DIR --reference-dir DIR [--output FILE]
"""

HELP = USAGE + """
Scores summaries as the Perl ROUGE-1.5.5 script does and prints what it
prints for system 1, digit for digit: the same measures, averages and
confidence intervals, and with -d every pair's figures.

script flags, spelled as the script spells them (default: -c 95 -2 4 -U -r 1000
-n 4 -w 1.2 -a):
  -n N     ROUGE-1 to ROUGE-N            -x       no ROUGE-L
  -w W     ROUGE-W with weight W         -2 GAP   ROUGE-S (-1: any gap)
  -u       ROUGE-SU instead of ROUGE-S   -U       both ROUGE-S and ROUGE-SU
  -m       stemming                      -s       remove stop words
  -l N     first N words only            -b N     first N bytes only
  -f A|B   average of the references, or the best one
  -p ALPHA weight of precision in F      -t 0|1|2 average pairs, tokens, or print counts
  -c CF    confidence level (percent)    -r N     bootstrap resamples
  -d       every pair's figures          -a -e -z accepted, no effect

inputs:
  --predictions FILE      one summary per line (- for standard input)
  --references FILE       one reference per line, line N for prediction N; give it
                          once per reference (one of the files may be -)
  --sentence-separator SEP
                          split each line into sentences at SEP (for example <n>);
                          without it a line is one sentence
  --prediction-dir DIR    one summary per file, one sentence per line; pairs in
  --reference-dir DIR     file-name order. The references of prediction NAME.EXT
                          are the files NAME.EXT and NAME.* of the reference folder
  --output FILE           write the report there (complete or not at all)

exit status: 0 on success, 2 for a problem with the flags or the input (a
one-line message on standard error says which), 130 when stopped by Ctrl-C.
"""

# The tool's own options and whether each takes a value.
_OWN = {"--predictions": True, "--references": True, "--sentence-separator": True, "--prediction-dir": True,
        "--reference-dir": True, "--output": True, "--help": False}


def _read_all(path: str) -> bytes:
    if path == STDIN:
        if sys.stdin is None:
            raise InputError("cannot read standard input: it is closed")
        try:
            return sys.stdin.buffer.read()
        except (OSError, ValueError) as error:
            raise InputError(f"cannot read standard input: {getattr(error, 'strerror', None) or error}") from None
    with open_input(path) as handle:
        try:
            return handle.read()
        except OSError as error:
            raise InputError(f"cannot read {path}: {error.strerror or error}") from None


def _read_lines(path: str) -> list[bytes]:
    """The lines of a file, as bytes: only a line feed ends a line, a carriage
    return before it is dropped, and a final line feed starts no line."""
    data = _read_all(path)
    if not data:
        return []
    lines = data.split(b"\n")
    if lines[-1] == b"":
        lines.pop()
    return [line[:-1] if line.endswith(b"\r") else line for line in lines]


def _line_files(predictions: str, references: list[str], separator: bytes | None
                ) -> tuple[list[bytes], list[list[bytes]]]:
    if [predictions, *references].count(STDIN) > 1:
        raise InputError("only one input can be standard input (-)")
    predicted = _read_lines(predictions)
    referenced = [_read_lines(path) for path in references]
    for path, lines in zip(references, referenced):
        if len(lines) != len(predicted):
            raise InputError(f"{path} has {len(lines)} lines but {predictions} has {len(predicted)}")
    if separator:
        predicted = [line.replace(separator, b"\n") for line in predicted]
        referenced = [[line.replace(separator, b"\n") for line in lines] for lines in referenced]
    return predicted, [list(several) for several in zip(*referenced)] if referenced else [[] for _ in predicted]


def _read_file(path: str) -> bytes:
    with open_input(path) as handle:
        try:
            return handle.read()
        except OSError as error:
            raise InputError(f"cannot read {path}: {error.strerror or error}") from None


def _folders(prediction_dir: str, reference_dir: str) -> tuple[list[bytes], list[list[bytes]]]:
    names = []
    for folder in (prediction_dir, reference_dir):
        try:
            names.append(sorted(entry.name for entry in os.scandir(folder) if entry.is_file()))
        except OSError as error:
            raise InputError(f"cannot read the folder {folder}: {error.strerror or error}") from None
    predicted_names, reference_names = names
    if not predicted_names:
        raise InputError(f"{prediction_dir} holds no file")
    predictions, references = [], []
    for name in predicted_names:
        stem = name.rsplit(".", 1)[0] if "." in name else name
        matched = [other for other in reference_names if other == name or other.startswith(stem + ".")]
        if not matched:
            raise InputError(f"no reference for {name} in {reference_dir} (expected {name} or {stem}.*)")
        predictions.append(_read_file(os.path.join(prediction_dir, name)))
        references.append([_read_file(os.path.join(reference_dir, other)) for other in matched])
    return predictions, references


def _split_arguments(argv: Sequence[str]) -> tuple[dict[str, list[str]], list[str]]:
    """The tool's own options, and the script's flags in their order."""
    own: dict[str, list[str]] = {}
    flags: list[str] = []
    words = list(argv)
    k = 0
    while k < len(words):
        word = words[k]
        if word.startswith("--") and word != "--":
            name, has_value, value = word.partition("=")
            if name not in _OWN:
                raise InputError(f"unknown option {name}")
            if _OWN[name]:
                if not has_value:
                    if k + 1 >= len(words):
                        raise InputError(f"option {name} needs a value")
                    k += 1
                    value = words[k]
                own.setdefault(name, []).append(value)
            else:
                own.setdefault(name, []).append("")
        else:
            flags.append(word)
        k += 1
    return own, flags


def _single(own: dict[str, list[str]], name: str) -> str | None:
    values = own.get(name, [])
    if len(values) > 1:
        raise InputError(f"option {name} given more than once")
    return values[0] if values else None


def run(argv: Sequence[str]) -> int:
    own, flags = _split_arguments(argv)
    if "--help" in own:
        sys.stdout.write(HELP)
        return 0
    prediction_file = _single(own, "--predictions")
    reference_files = own.get("--references", [])
    prediction_dir = _single(own, "--prediction-dir")
    reference_dir = _single(own, "--reference-dir")
    separator = _single(own, "--sentence-separator")
    output = _single(own, "--output")
    if (prediction_file is None) == (prediction_dir is None):
        raise InputError("give --predictions FILE with --references FILE, or --prediction-dir and --reference-dir")
    if prediction_file is not None:
        if not reference_files or reference_dir is not None:
            raise InputError("--predictions needs at least one --references FILE (and no --reference-dir)")
        if separator == "":
            raise InputError("the sentence separator must not be empty")
        # The separator is matched against the files' bytes, so it is taken
        # as the bytes of the command line, whatever their encoding.
        predictions, references = _line_files(prediction_file, reference_files,
                                              None if separator is None else os.fsencode(separator))
    else:
        if reference_dir is None or reference_files or separator is not None:
            raise InputError("--prediction-dir needs --reference-dir (and no --references or --sentence-separator)")
        assert prediction_dir is not None
        predictions, references = _folders(prediction_dir, reference_dir)
    options = " ".join(flags) if flags else None
    try:
        result = tallygrams_scorer.rouge155(predictions, references, options)
    except (ValueError, MemoryError) as error:
        raise InputError(str(error)) from None
    report = result.report()
    if output is None:
        try:
            sys.stdout.write(report)
            sys.stdout.flush()
        except OSError as error:  # a full disk, a closed pipe
            silence_stdout()
            raise cannot_write(STDOUT, error) from None
    else:
        with complete_or_absent(output) as handle:
            handle.write(report)
    return 0


def main(argv: Sequence[str]) -> int:
    try:
        return run(argv)
    except InputError as error:
        print(f"tallygrams rouge155: {error}", file=sys.stderr)
        return 2
    except MemoryError:
        print("tallygrams rouge155: out of memory: the input needs more memory than this process can get",
              file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        return 130

