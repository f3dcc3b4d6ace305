"""The HTML report: one self-contained file to open offline or send by mail.

It is rendered from results the caller has already computed; nothing here
reads an input. Every text that came from the input or the command line
(file names, keys, the texts of pairs) is escaped, and the page carries a
content security policy that allows no script and no request beyond its own
inline images, so that even markup which slipped through would run nothing.

The charts are drawn with matplotlib as SVG (text as paths, so they need no
font) and embedded as data: images. matplotlib is an optional dependency,
installed with the `report` extra.
"""

from __future__ import annotations

import base64
import html
import io
import math
import os
from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field
from typing import Any

from .files import PendingFile, cannot_write, complete_or_absent
from .inputs import InputError

# Per-pair points beyond this many are drawn as one raster image inside the
# SVG: a vector point per pair would make the file grow with the input.
_VECTOR_POINTS = 2_000
_HISTOGRAM_BINS = 40
_COLOURS = ("#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#8c564b", "#e377c2", "#7f7f7f")

_STYLE = """
body { font-family: sans-serif; margin: 2em auto; max-width: 75em; color: #222; }
h1 { font-size: 1.5em; } h2 { font-size: 1.2em; margin-top: 2em; }
code.signature { display: block; background: #f4f4f4; padding: 0.5em; overflow-wrap: anywhere; }
table { border-collapse: collapse; font-size: 0.9em; }
th, td { border-bottom: 1px solid #ddd; padding: 0.2em 0.6em; text-align: right; vertical-align: top; }
th { background: #f4f4f4; } td.text, th.text { text-align: left; }
tr.marked td { background: #fff3c4; }
td.pair { text-align: left; white-space: pre-wrap; overflow-wrap: anywhere; max-width: 30em; }
img.chart { max-width: 100%; display: block; margin: 1em 0; }
p.note { color: #555; margin: 0.2em 0; }
"""

SUFFIXES = (".html", ".htm")

# Inline images and styles only: no script of any origin, no other request.
_POLICY = "default-src 'none'; img-src data:; style-src 'unsafe-inline'; base-uri 'none'; form-action 'none'"


def check_report_path(path: str) -> None:
    """Before any work: the charts can be drawn and the page can be written
    where asked. Raises the tool's one-line error otherwise."""
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise InputError("--report needs matplotlib, which is not installed (pip install 'tallygrams[report]')") from None
    folder = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(folder):
        raise InputError(f"--report {path}: the folder {folder} does not exist")
    if os.path.isdir(path):
        raise InputError(f"--report {path} is a folder; name a file")


@dataclass(frozen=True)
class Table:
    """The table the tool printed, cell by cell as shown, with the notes
    above it; marked rows are highlighted."""

    headers: Sequence[str]
    rows: Sequence[Sequence[str]]
    notes: Sequence[str] = ()
    marked: Sequence[bool] = ()
    # Leading columns that hold names (systems, types, measures); the rest
    # hold numbers and align right.
    name_columns: int = 0


@dataclass(frozen=True)
class DifferingPair:
    """One input pair (position counted from 1) with its references, the two
    predictions and each side's F-measure."""

    position: int
    references: Sequence[str]
    baseline: str
    system: str
    baseline_f: float
    system_f: float


@dataclass(frozen=True)
class Comparison:
    """A system against the baseline, for one ROUGE type after another."""

    system: str
    # Per ROUGE type: the bootstrap distribution of the difference of mean
    # F-measures, its interval and the observed difference.
    resampled: Mapping[str, Sequence[float]]
    intervals: Mapping[str, tuple[float, float]]
    observed: Mapping[str, float]
    # The pairs where the two differ most, and the measure that ranks them.
    differing: Sequence[DifferingPair] = ()
    ranked_by: str = ""


@dataclass(frozen=True)
class Report:
    title: str
    signature: str
    table: Table
    # System name -> ROUGE type -> the per-pair F-measures, in input order.
    # The first system is the baseline of the comparisons.
    f_measures: Mapping[str, Mapping[str, Sequence[float]]]
    comparisons: Sequence[Comparison] = field(default_factory=tuple)


def _readable(text: str) -> str:
    """The text with each lone surrogate shown as U+FFFD: file names that
    are not UTF-8 arrive with their bytes as lone surrogates, as can texts
    of JSON Lines, and neither the page (UTF-8) nor the charts' fonts take
    them."""
    try:
        text.encode("utf-8")
        return text
    except UnicodeEncodeError:
        pass
    try:  # a file name's own bytes, each byte that is not UTF-8 one U+FFFD
        return text.encode("utf-8", "surrogateescape").decode("utf-8", "replace")
    except UnicodeEncodeError:
        return text.encode("utf-8", "surrogatepass").decode("utf-8", "replace")


def _e(text: object) -> str:
    return html.escape(_readable(str(text)), quote=True)


def _figure(columns: int, rows: int = 1) -> tuple[Any, Any]:
    from matplotlib.figure import Figure

    figure = Figure(figsize=(4.2 * columns, 3.4 * rows))
    figure.subplots_adjust(left=0.07, right=0.98, bottom=0.16, top=0.9, wspace=0.3)
    axes = figure.subplots(rows, columns, squeeze=False)
    return figure, axes[0] if rows == 1 else axes


def _svg_image(figure: Any, description: str) -> str:
    import matplotlib

    buffer = io.BytesIO()
    # Glyphs as paths: the image needs no font and holds no text element;
    # a fixed salt and no date keep the output the same from run to run.
    with matplotlib.rc_context({"svg.fonttype": "path", "svg.hashsalt": "tallygrams"}):
        figure.savefig(buffer, format="svg", metadata={"Date": None})
    encoded = base64.b64encode(buffer.getvalue()).decode("ascii")
    return f'<img class="chart" alt="{_e(description)}" src="data:image/svg+xml;base64,{encoded}">'


def _label(name: str, limit: int = 40) -> str:
    # matplotlib reads $...$ as mathematics; a file name is shown as it is.
    name = _readable(name)
    shown = name if len(name) <= limit else name[: limit - 1] + "\u2026"
    return shown.replace("$", r"\$")


def _distributions(report: Report) -> str:
    import numpy as np

    systems = list(report.f_measures)
    types = list(report.f_measures[systems[0]])
    figure, axes = _figure(len(types))
    bins = np.linspace(0.0, 1.0, _HISTOGRAM_BINS + 1)
    for ax, rouge_type in zip(axes, types):
        for k, system in enumerate(systems):
            values = np.asarray(report.f_measures[system][rouge_type], dtype=np.float64)
            ax.hist(values, bins=bins, histtype="step", linewidth=1.4, color=_COLOURS[k % len(_COLOURS)],
                    label=_label(system))
        ax.set_title(f"{rouge_type} F-measure per pair")
        ax.set_xlabel("F-measure")
        ax.set_ylabel("pairs")
    axes[0].legend(fontsize="small")
    return _svg_image(figure, "histograms of the per-pair F-measure of each system")


def _resampled(comparison: Comparison) -> str:
    import numpy as np
    from matplotlib.ticker import MaxNLocator

    types = list(comparison.resampled)
    figure, axes = _figure(len(types))
    for ax, rouge_type in zip(axes, types):
        values = np.asarray(comparison.resampled[rouge_type], dtype=np.float64)
        low, high = comparison.intervals[rouge_type]
        ax.hist(values, bins=_HISTOGRAM_BINS, color="#9ecae1", edgecolor="#3182bd", linewidth=0.5)
        if math.isfinite(low) and math.isfinite(high):
            ax.axvspan(low, high, color="#fdae6b", alpha=0.3, label="interval")
        ax.axvline(comparison.observed[rouge_type], color="#d62728", linewidth=1.5, label="observed")
        ax.axvline(0.0, color="#222222", linewidth=0.8, linestyle="--", label="no difference")
        ax.xaxis.set_major_locator(MaxNLocator(nbins=5))
        ax.set_title(f"{rouge_type}: resampled difference of F")
        ax.set_xlabel("system \u2212 baseline")
        ax.set_ylabel("resamples")
    axes[0].legend(fontsize="small")
    return _svg_image(figure, f"bootstrap distribution of the difference, {comparison.system} against the baseline")


def _scatter(report: Report, comparison: Comparison) -> str:
    import numpy as np

    baseline = next(iter(report.f_measures))
    types = list(comparison.resampled)
    figure, axes = _figure(len(types))
    for ax, rouge_type in zip(axes, types):
        x = np.asarray(report.f_measures[baseline][rouge_type], dtype=np.float64)
        y = np.asarray(report.f_measures[comparison.system][rouge_type], dtype=np.float64)
        many = len(x) > _VECTOR_POINTS
        alpha = max(0.03, min(0.6, 300 / max(len(x), 1)))
        ax.scatter(x, y, s=4 if many else 14, alpha=alpha, color="#1f77b4", linewidths=0, rasterized=many)
        ax.plot([0, 1], [0, 1], color="#888888", linewidth=0.8)
        ax.set_xlim(-0.02, 1.02)
        ax.set_ylim(-0.02, 1.02)
        ax.set_aspect("equal")
        ax.set_title(f"{rouge_type} F per pair")
        ax.set_xlabel(_label(f"baseline: {baseline}"))
        ax.set_ylabel(_label(f"system: {comparison.system}"))
    return _svg_image(figure, f"per-pair F-measure, {comparison.system} against the baseline")


def _table(table: Table) -> str:
    parts = [f'<p class="note">{_e(note)}</p>' for note in table.notes]
    parts.append("<table><thead><tr>")
    parts.extend(f'<th class="text">{_e(header)}</th>' if column < table.name_columns else f"<th>{_e(header)}</th>"
                 for column, header in enumerate(table.headers))
    parts.append("</tr></thead><tbody>")
    for k, row in enumerate(table.rows):
        marked = k < len(table.marked) and table.marked[k]
        parts.append('<tr class="marked">' if marked else "<tr>")
        for column, cell in enumerate(row):
            parts.append(f'<td class="text">{_e(cell)}</td>' if column < table.name_columns else f"<td>{_e(cell)}</td>")
        parts.append("</tr>")
    parts.append("</tbody></table>")
    return "\n".join(parts)


def _differing(comparison: Comparison) -> str:
    if not comparison.differing:
        return ""
    rows = [
        f"<h3>The {len(comparison.differing)} pairs where they differ most ({_e(comparison.ranked_by)})</h3>",
        '<table><thead><tr><th>pair</th><th class="text">references</th><th class="text">baseline</th>'
        '<th class="text">system</th><th>baseline F</th><th>system F</th></tr></thead><tbody>',
    ]
    for pair in comparison.differing:
        references = "\n\u2014\n".join(pair.references)
        rows.append(
            f"<tr><td>{pair.position}</td><td class=\"pair\">{_e(references)}</td>"
            f'<td class="pair">{_e(pair.baseline)}</td><td class="pair">{_e(pair.system)}</td>'
            f"<td>{pair.baseline_f:.4f}</td><td>{pair.system_f:.4f}</td></tr>"
        )
    rows.append("</tbody></table>")
    return "\n".join(rows)


def render(report: Report) -> str:
    """The whole page as one string."""
    body = [
        f"<h1>{_e(report.title)}</h1>",
        f'<code class="signature">{_e(report.signature)}</code>',
        "<h2>Scores</h2>",
        _table(report.table),
        "<h2>Per-pair F-measure</h2>",
        _distributions(report),
    ]
    for comparison in report.comparisons:
        body.append(f"<h2>{_e(comparison.system)} against the baseline</h2>")
        body.append(_resampled(comparison))
        body.append(_scatter(report, comparison))
        body.append(_differing(comparison))
    return (
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        f'<meta http-equiv="Content-Security-Policy" content="{_POLICY}">\n'
        f"<title>{_e(report.title)}</title>\n<style>{_STYLE}</style>\n</head>\n<body>\n"
        + "\n".join(part for part in body if part)
        + "\n</body>\n</html>\n"
    )


def pending_report(path: str, report: Report) -> PendingFile:
    """The page rendered and written under a temporary name; it appears
    under `path` when the caller commits it, with the run's other files."""
    page = render(report)
    pending = PendingFile(path, newline="")
    try:
        pending.file.write(page)
    except BaseException as error:
        pending.discard()
        if isinstance(error, OSError):
            raise cannot_write(path, error) from None
        raise
    return pending


def write_report(path: str, report: Report) -> None:
    """Renders, then writes: the file appears only once whole."""
    page = render(report)
    with complete_or_absent(path, newline="") as handle:
        handle.write(page)
