"""100,000 pairs through `tallygrams rouge155`, two references each, from
line files with a sentence separator, with the script's usual options; the
wall time of the whole command.

    python benchmarks/rouge155_tool_scale.py [--pairs N]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import rouge155_pairs  # noqa: E402

OPTIONS = ["-c", "95", "-2", "4", "-U", "-r", "1000", "-n", "4", "-w", "1.2", "-m"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--pairs", type=int, default=100_000)
    args = parser.parse_args()
    predictions, references = rouge155_pairs.news_pairs(args.pairs, seed=11)
    tool = os.path.join(os.path.dirname(sys.executable), "tallygrams")
    with tempfile.TemporaryDirectory() as work:
        def write(name, texts):
            with open(os.path.join(work, name), "w", encoding="utf-8") as out:
                out.writelines(text.replace("\n", "<n>") + "\n" for text in texts)
        write("predictions.txt", predictions)
        write("references1.txt", [r[0] for r in references])
        write("references2.txt", [r[1] for r in references])
        started = time.perf_counter()
        done = subprocess.run([tool, "rouge155", *OPTIONS, "--predictions", "predictions.txt",
                               "--references", "references1.txt", "--references", "references2.txt",
                               "--sentence-separator", "<n>", "--output", "report.txt"], cwd=work)
        elapsed = time.perf_counter() - started
        if done.returncode != 0:
            sys.exit(done.returncode)
    print(f"{args.pairs} pairs through tallygrams rouge155 ({' '.join(OPTIONS)}): {elapsed:.2f} s")


if __name__ == "__main__":
    main()
