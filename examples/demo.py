"""Score the bundled example pairs and print every pair's nine values."""

from pathlib import Path

import tallygrams

HERE = Path(__file__).resolve().parent


def read_lines(name: str) -> list[str]:
    return (HERE / name).read_text(encoding="utf-8").splitlines()


def main() -> None:
    references = read_lines("references.txt")
    predictions = read_lines("predictions.txt")
    print(f"tallygrams {tallygrams.__version__}: {len(references)} pairs")
    for index, (reference, prediction) in enumerate(zip(references, predictions, strict=True)):
        scores = tallygrams.score(reference, prediction)
        print(f"\npair {index}: reference={reference!r}")
        print(f"        prediction={prediction!r}")
        for metric, value in scores.items():
            print(
                f"  {metric:<7} precision={value.precision!r:<20} "
                f"recall={value.recall!r:<20} fmeasure={value.fmeasure!r}"
            )


if __name__ == "__main__":
    main()
