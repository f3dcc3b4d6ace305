"""The content of the HTML report, assembled from a run's results: the table
as printed, each system's per-pair F-measures, and for a comparison the
resampled differences (the very draws behind the interval in the table) and
the pairs where the two systems differ most, whose texts are read again.
"""

from __future__ import annotations

import argparse
from array import array
from collections.abc import Mapping, Sequence

import tallygrams_scorer

from . import compare_output, pair_texts, report
from .output import column_names, percentiles_line
from .scoring import ScoreBuffers
from .sources import Source

# Pairs shown where a system and the baseline differ most.
DIFFERING_PAIRS = 20


def _f_measures(columns: Mapping[str, array[float]], rouge_types: Sequence[str]) -> dict[str, array[float]]:
    return {rouge_type: columns[f"{rouge_type}_fmeasure"] for rouge_type in rouge_types}


def _prediction_name(args: argparse.Namespace) -> str:
    if args.jsonl is not None:
        return args.prediction_key or "prediction"
    if args.parquet is not None:
        return args.prediction_column or "prediction"
    return str(args.predictions or args.positional_predictions)


def main_report(args: argparse.Namespace, buffers: ScoreBuffers, means: Mapping[str, float],
                intervals: Mapping[str, tallygrams_scorer.Interval] | None, signature: str) -> report.Report:
    """The main command's report: its table and the per-pair F-measures."""
    headers = ["metric", "measure", "mean"] + (["low", "mid", "high"] if intervals else [])
    cells = []
    for name in column_names(args.rouge_types):
        values = [means[name]]
        if intervals:
            values += [intervals[name].low, intervals[name].mid, intervals[name].high]
        cells.append([*name.split("_"), *(f"{value:.4f}" for value in values)])
    notes = [f"{buffers.pairs} pairs" + (f", {buffers.left_out} left out for a null text" if buffers.left_out else "")]
    if intervals:
        notes.append(percentiles_line(args.confidence) + f" ({args.bootstrap_samples} resamples, seed {args.seed})")
    table = report.Table(headers, cells, notes, name_columns=2)
    name = _prediction_name(args)
    return report.Report(f"tallygrams: {name}, {buffers.pairs} pairs", signature, table,
                         {name: _f_measures(buffers.columns, args.rouge_types)})


def _most_differing(outcome: compare_output.Outcome, baseline: Mapping[str, array[float]],
                    system: Mapping[str, array[float]]) -> list[int]:
    """The rows where the system's F-measure of the first type differs most
    from the baseline's: largest |difference| first, the earlier of equals."""
    import numpy as np

    name = f"{outcome.rouge_types[0]}_fmeasure"
    b = np.frombuffer(baseline[name], dtype=np.float64)
    s = np.frombuffer(system[name], dtype=np.float64)
    return [int(i) for i in np.lexsort((np.arange(len(b)), -np.abs(s - b)))[:DIFFERING_PAIRS]]


def comparison_report(outcome: compare_output.Outcome, columns: Sequence[Mapping[str, array[float]]], rows: Sequence[int],
                      sources: Sequence[Source], resamples: int) -> report.Report:
    import numpy as np

    every_row = compare_output.rows(outcome)
    table = report.Table(compare_output.headers(outcome), [compare_output.cells(outcome, row) for row in every_row],
                         compare_output.notes(outcome), [row.marked for row in every_row], name_columns=3)
    f_names = [f"{rouge_type}_fmeasure" for rouge_type in outcome.rouge_types]
    first_f = f_names[0]
    differing = [_most_differing(outcome, columns[0], columns[k]) for k in range(1, len(outcome.systems))]
    # Each input is read once more: the baseline's with the references, for
    # every row shown, and each system's for its own rows.
    baseline_texts = pair_texts.texts_at(sources[0], {rows[i] for found in differing for i in found})
    comparisons = []
    for k in range(1, len(outcome.systems)):
        # The differences resampled with the seed and count of the table's
        # interval: the histogram shows the draws the interval came from.
        differences = {
            name: memoryview(np.frombuffer(columns[k][name]) - np.frombuffer(columns[0][name])) for name in f_names
        }
        resampled = tallygrams_scorer.resample_means(differences, resamples, seed=outcome.seed)
        system_texts = pair_texts.texts_at(sources[k], {rows[i] for i in differing[k - 1]}, references=False)
        pairs = [
            report.DifferingPair(rows[i] + 1, *baseline_texts[rows[i]], system_texts[rows[i]][1],
                                 columns[0][first_f][i], columns[k][first_f][i])
            for i in differing[k - 1]
        ]
        # Every test's interval comes from the same paired bootstrap.
        first = outcome.comparisons[outcome.tests[0]][k - 1]
        comparisons.append(report.Comparison(
            outcome.systems[k],
            {name.split("_")[0]: resampled[name] for name in f_names},
            {name.split("_")[0]: (first[name].low, first[name].high) for name in f_names},
            {name.split("_")[0]: first[name].difference for name in f_names},
            pairs,
            f"by the difference of {outcome.rouge_types[0]} F-measure",
        ))
    title = f"tallygrams compare: {len(outcome.systems)} systems on {outcome.pairs} pairs"
    f_measures = {system: _f_measures(columns[k], outcome.rouge_types) for k, system in enumerate(outcome.systems)}
    return report.Report(title, outcome.signature, table, f_measures, comparisons)
