"""rouge155 against the Perl ROUGE-1.5.5 script over many random
evaluations across the flag matrix (tests/python/rouge155_texts.py), each
report compared line for line; prints the pairs scored, the evaluations
the script could finish, and every differing printed figure.

    python benchmarks/rouge155_equality.py --runs 400      # about 2,500 pairs
"""

import argparse
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "python"))

import rouge155_script  # noqa: E402
import rouge155_texts  # noqa: E402
import tallygrams_scorer  # noqa: E402

NUMBER = re.compile(r"\d+(?:\.\d+)?")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=400)
    parser.add_argument("--first-seed", type=int, default=100_000)
    args = parser.parse_args()
    pairs = finished = figures = differing = stopped = 0
    for seed in range(args.first_seed, args.first_seed + args.runs):
        predictions, references, options = rouge155_texts.evaluation(seed, resamples=(1, 10, 100, 1000))
        ours = tallygrams_scorer.rouge155(predictions, references, options).report()
        try:
            theirs = rouge155_script.run_script(predictions, references, options)
        except RuntimeError as error:
            if "Illegal division by zero" not in str(error):
                raise
            stopped += 1  # the script's ROUGE-W divided by zero
            continue
        pairs += len(predictions)
        finished += 1
        for line_ours, line_theirs in zip(ours.splitlines(), theirs.splitlines(), strict=False):
            a, b = NUMBER.findall(line_ours), NUMBER.findall(line_theirs)
            figures += len(b)
            differing += sum(x != y for x, y in zip(a, b)) + abs(len(a) - len(b))
        if ours.count("\n") != theirs.count("\n"):
            differing += 1
            print(f"seed {seed}: the reports differ in length ({options})")
    print(f"{finished} evaluations, {pairs} pairs, {figures} printed figures, {differing} differing; "
          f"{stopped} evaluations the script stopped (ROUGE-W division by zero)")
    return 1 if differing else 0


if __name__ == "__main__":
    sys.exit(main())
