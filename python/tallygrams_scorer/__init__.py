"""Every configuration of rouge-score's RougeScorer (rouge1 to rouge9, rougeL,
rougeLsum, stemming, several references, any tokenizer), exact to the last bit
and native, with batches on all cores.

`rouge_scorer`, `scoring` and `tokenizers` hold the same names as rouge-score's
modules of those names, so that code written against it switches with one
import line; `accelerate()` switches code that cannot be edited.
"""

# The classes and functions live in the compiled submodule; their public
# names (and so their pickles) say `tallygrams_scorer`, as before the package
# existed.
from tallygrams_scorer._native import *  # noqa: F403
from tallygrams_scorer._native import __all__ as _native_names
from tallygrams_scorer._native import __version__  # noqa: F401
# Pickled ScoreColumns name this rebuilder.
from tallygrams_scorer._native import _score_columns_from_buffers  # noqa: F401


def accelerate() -> None:
    """Make rouge-score, installed beside this module, score with it.

    From this call on, rouge-score's RougeScorer, BootstrapAggregator, Score
    and AggregateScore are this module's, for every library in the process,
    including modules imported later. Scorers made before the call stay as
    they were. Raises ModuleNotFoundError when rouge-score is not installed.
    """
    from tallygrams_scorer import _acceleration

    _acceleration.install()


__all__ = [*_native_names, "accelerate"]
