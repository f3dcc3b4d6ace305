"""The signature: one line that names everything a reader needs to
reproduce a figure, printed under every table and stored in every summary
and in the metadata of Parquet per-pair files. For example

    tallygrams 0.1.12|rouge1,rouge2,rougeLsum|stem:porter|tok:default|sent:lines|refs:1|ci:95%,1000,seed:0

Fields, separated by `|`, always in this order:

1. `tallygrams VERSION`: the package that scored;
2. the ROUGE types, comma-separated, in the order of the table;
3. `stem:porter` (Porter stemming) or `stem:none`;
4. `tok:default` (ASCII letters and digits, as rouge-score) or `tok:unicode`;
5. how rougeLsum finds sentences: `sent:lines` (each line of a text),
   `sent:nltk` (NLTK's sentence splitter, --split-summaries), or
   `sent:sep=SEP` (SEP marks a sentence end, --sentence-separator);
6. `refs:N`, references per prediction, or `refs:N-M` when it varies;
7. `ci:LEVEL%,RESAMPLES,seed:SEED` for the bootstrap interval, or `ci:none`.

Other commands build theirs from the same record with `dataclasses.replace`
and may add fields of their own after these (`extra`).
"""

from __future__ import annotations

import dataclasses

import tallygrams_scorer


def percent(level: float) -> str:
    """0.95 as `95%`, 0.999 as `99.9%`: a level as people write it."""
    return f"{round(100 * level, 10):g}%"


@dataclasses.dataclass(frozen=True)
class Signature:
    rouge_types: tuple[str, ...]
    stemmer: bool = False
    tokenizer: str = "default"
    # "lines", "nltk", or "sep=SEP".
    sentences: str = "lines"
    # The fewest and the most references of a prediction.
    references: tuple[int, int] = (1, 1)
    # None: no interval.
    confidence: float | None = 0.95
    resamples: int = 1000
    seed: int = 0
    extra: tuple[str, ...] = ()
    version: str = tallygrams_scorer.__version__

    def fields(self) -> list[str]:
        low, high = self.references
        refs = f"refs:{low}" if low == high else f"refs:{low}-{high}"
        interval = "ci:none" if self.confidence is None else (
            f"ci:{percent(self.confidence)},{self.resamples},seed:{self.seed}")
        return [
            f"tallygrams {self.version}",
            ",".join(self.rouge_types),
            "stem:porter" if self.stemmer else "stem:none",
            f"tok:{self.tokenizer}",
            f"sent:{self.sentences}",
            refs,
            interval,
            *self.extra,
        ]

    def __str__(self) -> str:
        return "|".join(self.fields())
