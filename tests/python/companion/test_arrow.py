"""Arrow in and out: every text type, chunked and sliced, with nulls, from
pyarrow and polars, read in place and scored bit for bit as the Python-list
path scores the same texts; the result is Arrow again and pickles."""

import pickle
import random
import subprocess
import sys
from pathlib import Path

import pyarrow as pa
import pytest

import tallygrams
import tallygrams_scorer
import textgen
from arrow_exporter import CountingExporter

COLUMNS = [f"{m}_{s}" for m in ("rouge1", "rouge2", "rougeL") for s in ("precision", "recall", "fmeasure")]


def expected_columns(references, predictions):
    """What score_batch_flat gives for the rows where both texts are present."""
    flat = tallygrams.score_batch_flat([r or "" for r in references], [p or "" for p in predictions])
    return {name: [None if r is None or p is None else v for r, p, v in zip(references, predictions, getattr(flat, name))]
            for name in COLUMNS}


def bits(columns):
    return {name: [None if v is None else float(v).hex() for v in values] for name, values in columns.items()}


def texts_with_nulls(seed, count):
    rng = random.Random(seed)
    pairs = textgen.pairs(seed, count)
    references = [None if rng.random() < 0.1 else r for r, _ in pairs]
    predictions = [None if rng.random() < 0.1 else p for _, p in pairs]
    return references, predictions


def chunked(values, kind, rng):
    cuts = sorted(rng.sample(range(len(values) + 1), 3))
    pieces = [values[a:b] for a, b in zip([0, *cuts], [*cuts, len(values)])]
    return pa.chunked_array([pa.array(piece, type=kind) for piece in pieces], type=kind)


@pytest.mark.parametrize("kind", [pa.string(), pa.large_string(), pa.string_view()], ids=str)
@pytest.mark.parametrize("shape", ["array", "chunked", "sliced", "sliced-chunked"])
def test_every_text_type_and_shape_scores_as_the_list_path(kind, shape):
    rng = random.Random(7)
    references, predictions = texts_with_nulls(3, 400)
    if shape == "array":
        refs, preds = pa.array(references, type=kind), pa.array(predictions, type=kind)
    elif shape == "chunked":
        refs, preds = chunked(references, kind, rng), chunked(predictions, kind, rng)
    elif shape == "sliced":
        refs = pa.array(["x"] * 5 + references + ["y"], type=kind).slice(5, len(references))
        preds = pa.array(["z"] * 5 + predictions + ["w"], type=kind).slice(5, len(predictions))
    else:
        refs = chunked(["x"] * 3 + references, kind, rng).slice(3)
        preds = chunked(["x"] * 3 + predictions, kind, rng).slice(3)
    result = tallygrams_scorer.score_arrow(refs, preds)
    assert result.num_rows == len(references) and list(result.column_names) == COLUMNS
    assert bits(result.to_pydict()) == bits(expected_columns(references, predictions))
    # And back as Arrow, without a copy of the values.
    table = pa.table(result)
    assert bits(table.to_pydict()) == bits(result.to_pydict())


def test_polars_series_and_empty_inputs():
    pl = pytest.importorskip("polars")
    references, predictions = texts_with_nulls(5, 200)
    result = tallygrams_scorer.score_arrow(pl.Series(references, dtype=pl.String), pl.Series(predictions))
    assert bits(result.to_pydict()) == bits(expected_columns(references, predictions))
    frame = pl.DataFrame(result)
    assert frame.columns == COLUMNS and frame.height == 200
    empty = tallygrams_scorer.score_arrow(pa.array([], type=pa.string()), pa.chunked_array([], type=pa.string()))
    assert empty.num_rows == 0 and pa.table(empty).num_columns == 9


def test_configured_scorers_and_record_batches():
    references, predictions = texts_with_nulls(8, 150)
    for scorer in (tallygrams_scorer.RougeScorer(["rougeLsum", "rouge3"], use_stemmer=True),
                   tallygrams_scorer.RougeScorer(["rouge1", "rougeL"], tokenizer=str.split)):
        result = scorer.score_arrow(pa.array(references), pa.array(predictions))
        present = [i for i, (r, p) in enumerate(zip(references, predictions)) if r is not None and p is not None]
        listed = scorer.score_columns([references[i] for i in present], [predictions[i] for i in present]).to_pydict()
        arrowed = result.to_pydict()
        assert {k: [arrowed[k][i] for i in present] for k in arrowed} == listed
        assert all(arrowed[k][i] is None for k in arrowed for i in range(150) if i not in present)
    batch = pa.record_batch({"id": list(range(150)), "ref": references, "pred": predictions})
    assert bits(tallygrams_scorer.score_record_batch(batch, "ref", "pred").to_pydict()) == \
        bits(expected_columns(references, predictions))
    with pytest.raises(KeyError) as info:
        tallygrams_scorer.score_record_batch(batch, "reference", "pred")
    assert info.value.__notes__ == ["while processing 'reference_column'"]


@pytest.mark.parametrize("bad_row", [0, 7, 19])
def test_invalid_utf8_names_its_row(bad_row):
    texts = [b"fine text"] * 20
    texts[bad_row] = b"caf\xc3 au lait"
    column = pa.array(texts, type=pa.binary()).cast(pa.string(), safe=False)
    with pytest.raises(ValueError) as info:
        tallygrams_scorer.score_arrow(pa.array(["ok"] * 20), column)
    assert str(info.value).startswith(f"invalid UTF-8 in row {bad_row}, at byte 3 of its text")
    assert info.value.__notes__ == ["while processing 'predictions'"]


@pytest.mark.parametrize("call, kind", [
    (lambda: tallygrams_scorer.score_arrow(["a"], ["b"]), TypeError),
    (lambda: tallygrams_scorer.score_arrow(pa.array([1, 2]), pa.array(["a", "b"])), TypeError),
    (lambda: tallygrams_scorer.score_arrow(pa.array(["a"]), pa.array(["a", "b"])), ValueError),
    (lambda: tallygrams_scorer.score_arrow(pa.array([b"a"]), pa.array(["a"])), TypeError),
])
def test_what_is_not_a_text_column(call, kind):
    with pytest.raises(kind):
        call()


def test_results_pickle_with_their_nulls():
    references, predictions = texts_with_nulls(2, 50)
    result = tallygrams_scorer.score_arrow(pa.array(references), pa.array(predictions))
    for protocol in range(2, pickle.HIGHEST_PROTOCOL + 1):
        copy = pickle.loads(pickle.dumps(result, protocol))
        assert bits(copy.to_pydict()) == bits(result.to_pydict())
        assert pa.table(copy).equals(pa.table(result))


@pytest.mark.parametrize("rows, values", [
    (2**61, (b"",)),             # 2**61 rows of 8 bytes wrap to 0 bytes
    (2**61 + 1, (b"\0" * 8,)),  # and to 8
    (2**63 + 5, ()),             # more rows than len() can report
    (2, (b"\0" * 8,)),
    (1, ("not bytes",)),
])
def test_a_tampered_pickle_is_refused(rows, values):
    names = tuple(f"c{k}" for k in range(len(values)))
    nulls = (None,) * len(values)
    # What a pickle calls to rebuild, given arguments a payload could hold.
    rebuild, _ = tallygrams_scorer.score_arrow(pa.array(["a"]), pa.array(["a"])).__reduce__()
    with pytest.raises(ValueError, match="malformed pickled ScoreColumns"):
        rebuild(names, rows, values, nulls)


def test_an_exporters_release_callbacks_run_exactly_once():
    exporter = CountingExporter([b"the cat sat", b"a b c"])
    result = tallygrams_scorer.score_arrow(exporter, pa.array(["the cat", "a c"]))
    assert result.column("rouge1_recall") == [2 / 3, 2 / 3]
    assert exporter.released == {"schema": 1, "array": 1}
    failing = CountingExporter([b"x"])
    with pytest.raises(ValueError):
        tallygrams_scorer.score_arrow(failing, pa.array(["a", "b"]))
    assert failing.released == {"schema": 1, "array": 1}


@pytest.mark.parametrize("data_size, outcome", [
    (None, "[1.0, 1.0]"),
    (30, "ValueError: the view of row 1 (29 bytes at offset 28) lies outside data buffer 0 (30 bytes)"),
    (0, "ValueError: the view of row 0 (28 bytes at offset 0) lies outside data buffer 0 (0 bytes)"),
])
def test_a_hand_made_string_view_is_read_only_inside_the_size_its_producer_states(data_size, outcome):
    # The one layout whose producer states its data buffer's size (see the
    # README for what cannot be checked); in a subprocess, as a missed check
    # would read out of bounds.
    code = f"""if True:
        import tallygrams_scorer
        from arrow_exporter import CountingExporter
        texts = [b"the cat sat on the mat today", b"another rather long text here"]
        try:
            print(tallygrams_scorer.score_arrow(CountingExporter(texts, string_view=True, data_size={data_size}),
                                                CountingExporter(texts)).column("rouge1_recall"))
        except ValueError as error:
            print("ValueError:", error)
    """
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60,
                            cwd=Path(__file__).resolve().parents[1])
    assert (result.returncode, result.stdout.strip()) == (0, outcome), result.stderr
