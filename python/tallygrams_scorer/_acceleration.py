"""Puts this module's classes in place of rouge-score's, process-wide.

rouge-score's modules are patched where their names live, so every module
that looks them up there, now or when it is imported later, gets ours. A
module already imported that copied a name into its own namespace
(`from rouge_score.scoring import BootstrapAggregator`) is patched too. What
no namespace can reach keeps the original: an instance made earlier, a class
that derives from the original, a reference held in a closure or a default
argument.
"""

import sys
import threading
import types

from tallygrams_scorer import _native

_lock = threading.Lock()


def _replacements():
    try:
        from rouge_score import rouge_scorer, scoring
    except ModuleNotFoundError as error:
        if error.name is not None and error.name.split(".")[0] != "rouge_score":
            raise  # rouge-score is there but cannot import one of its own dependencies
        raise ModuleNotFoundError(
            "tallygrams_scorer.accelerate() speeds up an installed rouge-score, and rouge_score cannot be "
            "imported (pip install rouge-score); code of one's own can use "
            "`from tallygrams_scorer import rouge_scorer, scoring` instead",
            name="rouge_score",
        ) from None
    return scoring, [
        (rouge_scorer, "RougeScorer", _native.RougeScorer),
        (scoring, "BootstrapAggregator", _native.BootstrapAggregator),
        (scoring, "Score", _native.Score),
        (scoring, "AggregateScore", _native.AggregateScore),
    ]


def _copies_in_loaded_modules(originals):
    """(namespace, name, replacement) for each module global bound to an original."""
    found = []
    for module in list(sys.modules.values()):
        namespace = getattr(module, "__dict__", None) if isinstance(module, types.ModuleType) else None
        if not isinstance(namespace, dict):
            continue
        for name, value in list(namespace.items()):
            # `originals` holds each original, so its id names no other object.
            entry = originals.get(id(value))
            if entry is not None and value is entry[0]:
                found.append((namespace, name, entry[1]))
    return found


def install():
    scoring, replacements = _replacements()
    with _lock:
        originals = {}
        for module, name, ours in replacements:
            current = getattr(module, name)
            if current is not ours:
                originals[id(current)] = (current, ours)
        for namespace, name, ours in _copies_in_loaded_modules(originals):
            namespace[name] = ours
        for module, name, ours in replacements:
            setattr(module, name, ours)
        # isinstance(scorer, scoring.BaseScorer) holds, as for the original.
        scoring.BaseScorer.register(_native.RougeScorer)
