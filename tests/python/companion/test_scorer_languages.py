"""The scorer's other ways of cutting text: the tokenizer for every script,
reached through the module and compared with the oracle written from its
definition; and rougeLsum's sentences from NLTK's splitter, compared with
rouge-score using the same splitter, and refused clearly without its model."""

import os
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest
from rouge_score import rouge_scorer

import scorer_texts
import tallygrams_scorer

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "oracles"))
import unicode_oracle  # noqa: E402

SENTENCES = [
    "नमस्ते दुनिया, यह एक परीक्षण है।",
    "我们今天去公园散步。东京タワーは高い。",
    "ภาษาไทยไม่มีช่องว่างระหว่างคำ",
    "Ο ΣΟΦΟΣ ΑΝΘΡΩΠΟΣ μιλάει σοφά· ΟΔΟΣ.",
    "İstanbul'da KELVİN ve ǅemal; Straße, ﬁne, ＡＢＣ１２３.",
    "مرحبا بالعالم ١٢٣ — שלום עולם",
    "한국어 문장도 됩니다. Ελληνικά και русский текст.",
    "e\u0301te\u0301 cafe\u0301 \u200d👩‍👩‍👧 x²³ Ⅻ ⑫",
]


def test_the_unicode_tokenizer_is_the_definition():
    scorer = tallygrams_scorer.RougeScorer(["rouge1"], tokenizer="unicode")
    for sentence in SENTENCES + [s.upper() for s in SENTENCES]:
        assert scorer.tokenize(sentence) == unicode_oracle.tokens(sentence), sentence
    # Every code point once, in runs that mix scripts; lines are separators.
    every = "".join(chr(c) for c in range(0x110000) if not 0xD800 <= c <= 0xDFFF)
    for start in range(0, len(every), 50_000):
        chunk = every[start:start + 50_000]
        assert scorer.tokenize(chunk) == unicode_oracle.tokens(chunk)


def test_identical_texts_in_any_script_score_one():
    scorer = tallygrams_scorer.RougeScorer(["rouge1", "rougeL", "rougeLsum"], tokenizer="unicode")
    for sentence in SENTENCES:
        assert all(score.fmeasure == 1.0 for score in scorer.score(sentence, sentence).values()), sentence
    # The default tokenizer, like rouge-score's, sees no token at all there.
    assert tallygrams_scorer.RougeScorer(["rouge1"]).score(SENTENCES[0], SENTENCES[0])["rouge1"].fmeasure == 0


def punkt_model(root: Path) -> str:
    """A minimal 'punkt_tab' sentence model for English: NLTK's splitter with
    a few abbreviations, enough to split differently from lines."""
    english = root / "tokenizers" / "punkt_tab" / "english"
    english.mkdir(parents=True)
    for name in ("collocations.tab", "sent_starters.txt", "ortho_context.tab"):
        (english / name).write_text("")
    (english / "abbrev_types.txt").write_text("dr\nmr\ne.g\ni.e\n")
    return str(root)


def test_split_summaries_uses_nltks_sentences_as_rouge_score_does(tmp_path, monkeypatch):
    import nltk

    monkeypatch.setattr(nltk.data, "path", [punkt_model(tmp_path)])
    types = ["rougeLsum", "rouge2"]
    for use_stemmer in (False, True):
        peer = rouge_scorer.RougeScorer(types, use_stemmer=use_stemmer, split_summaries=True)
        ours = tallygrams_scorer.RougeScorer(types, use_stemmer=use_stemmer, split_summaries=True)
        for reference, prediction in scorer_texts.pairs(13, 200) + [
            ("Dr. Smith went home. He slept well! Did he?\nYes.", "Smith went home. He slept. Did he? Yes he did."),
        ]:
            assert ours.score(reference, prediction) == peer.score(reference, prediction), (reference, prediction)
        own = tallygrams_scorer.RougeScorer(types, split_summaries=True, tokenizer=str.split)
        peer_own = rouge_scorer.RougeScorer(types, split_summaries=True,
                                            tokenizer=type("T", (), {"tokenize": staticmethod(str.split)})())
        assert own.score("A b. C d e.", "A b c. D e.") == peer_own.score("A b. C d e.", "A b c. D e.")


def test_split_summaries_without_the_model_says_what_is_missing():
    # In a fresh process that can see no NLTK data at all.
    code = """
        import tallygrams_scorer
        try:
            tallygrams_scorer.RougeScorer(["rougeLsum"], split_summaries=True)
        except LookupError as error:
            print(error)
        print(tallygrams_scorer.RougeScorer(["rouge1"], split_summaries=True).score("a b", "a")["rouge1"].recall)
    """
    env = dict(os.environ, NLTK_DATA="/nonexistent", HOME="/nonexistent")
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                            timeout=120, env=env)
    message, recall = result.stdout.splitlines()
    assert "punkt_tab" in message and "is not installed" in message and "one sentence per line" in message
    assert recall == "0.5"  # without rougeLsum, no splitter is needed
