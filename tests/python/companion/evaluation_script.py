"""Scores a file of pairs the way evaluation frameworks call rouge-score:
usage: evaluation_script.py PAIRS.json [SEED]

The tests run it unchanged with and without acceleration, and with its
import line switched; every line it prints must come out the same.
"""

import json
import sys

import numpy as np
from rouge_score import rouge_scorer, scoring


class WhitespaceTokenizer:
    """A tokenizer of one's own, as frameworks pass for other languages."""

    def tokenize(self, text):
        return text.lower().split()


def main(path, seed):
    with open(path, encoding="utf-8") as file:
        pairs = json.load(file)
    rouge_types = ["rouge1", "rouge2", "rougeL", "rougeLsum"]
    scorer = rouge_scorer.RougeScorer(rouge_types, use_stemmer=True)
    aggregator = scoring.BootstrapAggregator()
    per_pair = {key: [] for key in rouge_types}
    for reference, prediction in pairs:
        scores = scorer.score(reference, prediction)
        aggregator.add_scores(scores)
        for key in rouge_types:
            per_pair[key].append(scores[key].fmeasure)
    np.random.seed(seed)
    result = aggregator.aggregate()
    print(result)
    print({key: round(value.mid.fmeasure * 100, 4) for key, value in result.items()})
    print({key: float(np.mean(values)) for key, values in per_pair.items()})

    references = [reference for reference, _ in pairs[:5]]
    print(scorer.score_multi(references, pairs[0][1]))

    custom = rouge_scorer.RougeScorer(["rouge1", "rougeL"], tokenizer=WhitespaceTokenizer())
    narrow = scoring.BootstrapAggregator(confidence_interval=0.9, n_samples=200)
    for reference, prediction in pairs:
        narrow.add_scores(custom.score(reference, prediction))
    print(narrow.aggregate())


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 0)
