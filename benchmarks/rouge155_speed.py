"""rouge155 beside the Perl ROUGE-1.5.5 script, in one run: news-style
summaries with two references each (rouge155_pairs.py), the options
`-c 95 -2 4 -U -r 1000 -n 4 -w 1.2 -m`. The script's time is everything a
user of it waits for: writing the summaries as files and the list of them,
and perl running the script. Ours is the call of tallygrams_scorer.rouge155
on the Python strings. Both reports are compared, and must be equal.

    python benchmarks/rouge155_speed.py                  # 1,000 and 10,000 pairs
    python benchmarks/rouge155_speed.py --pairs 1000     # one size
"""

import argparse
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "python"))

import rouge155_pairs  # noqa: E402
import rouge155_script  # noqa: E402
import tallygrams_scorer  # noqa: E402

OPTIONS = "-c 95 -2 4 -U -r 1000 -n 4 -w 1.2 -m"


def best_of(rounds, call):
    times = []
    for _ in range(rounds):
        started = time.perf_counter()
        result = call()
        times.append(time.perf_counter() - started)
    return min(times), result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--pairs", type=int, action="append", help="pairs per run (default: 1000 and 10000)")
    parser.add_argument("--rounds", type=int, default=5, help="rounds of ours per size; the best counts")
    args = parser.parse_args()
    rouge155_script.data_dir()  # built once, outside the timings
    print(f"options: {OPTIONS}; two references per prediction")
    print(f"{'pairs':>7} {'script s':>9} {'rouge155 s':>11} {'ratio':>7}  reports")
    for count in args.pairs or [1000, 10000]:
        predictions, references = rouge155_pairs.news_pairs(count)
        started = time.perf_counter()
        theirs = rouge155_script.run_script(predictions, references, OPTIONS, timeout=3600)
        script_time = time.perf_counter() - started
        ours_time, result = best_of(args.rounds, lambda: tallygrams_scorer.rouge155(predictions, references, OPTIONS))
        same = "equal" if result.report() == theirs else "DIFFERENT"
        print(f"{count:>7} {script_time:>9.2f} {ours_time:>11.4f} {script_time / ours_time:>7.0f}  {same}", flush=True)


if __name__ == "__main__":
    main()
