"""The command-line tool on a Parquet file of 1,000,000 summary pairs.

1. Alone: its wall time and peak resident memory on the same pairs as
   Parquet, as two text files and as JSON Lines, next to score_arrow on
   the pairs already in memory (the scoring alone) and to reading the two
   columns with pyarrow and scoring them as a library call. Each run is a
   fresh process; the runs alternate, and the table gives the median of
   each and the spread over the repeats (the machine's noise). JSON Lines
   is also read once with each of the slower readers.
2. On dask.distributed: the tool with a LocalCluster(n_workers=2,
   threads_per_worker=1) on loopback, one task per row group (16 of them),
   beside the tool alone. Both write every pair's scores and the summary;
   they must be equal to the last bit.

The file is generated once (deterministic English pairs, 16 row groups) and
kept under build/benchmarks-data.

    python benchmarks/tool_scale.py [--pairs N] [--repeats R] [--only alone|cluster]
"""

from __future__ import annotations

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "build", "benchmarks-data")
TOOL = os.path.join(os.path.dirname(sys.executable), "tallygrams")
ROW_GROUPS = 16

LIBRARY = r"""
import json, sys, time
start = time.perf_counter()
import pyarrow.parquet as pq, tallygrams_scorer
table = pq.read_table(sys.argv[1], columns=["reference", "prediction"])
read = time.perf_counter()
scores = tallygrams_scorer.score_arrow(table.column("reference"), table.column("prediction"))
done = time.perf_counter()
assert scores.num_rows == table.num_rows
print(json.dumps({"read": read - start, "score": done - read}))
"""


def dataset(pairs: int) -> str:
    """The Parquet file of `pairs` pairs, made if missing."""
    path = os.path.join(DATA, f"summary-pairs-{pairs}.parquet")
    if os.path.exists(path):
        return path
    import pyarrow as pa
    import pyarrow.parquet as pq

    sys.path.insert(0, HERE)
    import corpus

    os.makedirs(DATA, exist_ok=True)
    schema = pa.schema([("reference", pa.string()), ("prediction", pa.string())])
    group = -(-pairs // ROW_GROUPS)
    with pq.ParquetWriter(path + ".part", schema) as writer:
        for k in range(ROW_GROUPS):
            chunk = corpus.summary_pairs(min(group, pairs - k * group), seed=100 + k)
            writer.write_table(pa.table({"reference": [r for r, _ in chunk], "prediction": [p for _, p in chunk]},
                                        schema=schema), row_group_size=group)
    os.replace(path + ".part", path)
    return path


def text_copies(path: str) -> tuple[str, str, str]:
    """The same pairs as two text files and as JSON Lines, made if missing."""
    stem = path[: -len(".parquet")]
    names = (f"{stem}.references.txt", f"{stem}.predictions.txt", f"{stem}.jsonl")
    if all(os.path.exists(name) for name in names):
        return names
    import pyarrow.parquet as pq

    with open(names[0] + ".part", "w", encoding="utf-8") as references, \
            open(names[1] + ".part", "w", encoding="utf-8") as predictions, \
            open(names[2] + ".part", "w", encoding="utf-8") as records:
        for batch in pq.ParquetFile(path).iter_batches(batch_size=16_384):
            for reference, prediction in zip(batch.column(0).to_pylist(), batch.column(1).to_pylist()):
                references.write(reference + "\n")
                predictions.write(prediction + "\n")
                records.write(json.dumps({"reference": reference, "prediction": prediction}) + "\n")
    for name in names:
        os.replace(name + ".part", name)
    return names


def measured(command: list[str], env: dict[str, str] | None = None) -> tuple[float, int, str]:
    """(wall seconds, peak resident bytes, standard output) of a child process;
    the peak is the child's own, from wait4, not that of every child so far."""
    start = time.perf_counter()
    child = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    # The pipes are read on threads so that a chatty child cannot block.
    chunks: dict[str, bytes] = {}

    def drain(name: str, stream) -> None:
        chunks[name] = stream.read()

    readers = [threading.Thread(target=drain, args=(n, s)) for n, s in (("out", child.stdout), ("err", child.stderr))]
    for reader in readers:
        reader.start()
    _, status, usage = os.wait4(child.pid, 0)
    elapsed = time.perf_counter() - start
    for reader in readers:
        reader.join()
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise SystemExit(f"{' '.join(command)} failed ({child.returncode}): {chunks['err'].decode()}")
    return elapsed, usage.ru_maxrss * 1024, chunks["out"].decode()


def spread(values: list[float]) -> str:
    if len(values) < 2:
        return ""
    middle = statistics.median(values)
    return f"±{100 * (max(values) - min(values)) / 2 / middle:.0f}%"


def alone(path: str, pairs: int, repeats: int) -> None:
    references, predictions, records = text_copies(path)
    quiet = ["--bootstrap-samples", "0", "--no-progress", "--quiet"]
    runs = {
        "Parquet": [TOOL, "--parquet", path, *quiet],
        "two text files": [TOOL, references, predictions, *quiet],
        "JSON Lines": [TOOL, "--jsonl", records, *quiet],
    }
    readers = {f"JSON Lines, {reader} reader": [TOOL, "--jsonl", records, "--json-reader", reader, *quiet]
               for reader in ("orjson", "json")}
    library_reads, library_scores, library_peaks = [], [], []
    times: dict[str, list[float]] = {name: [] for name in runs}
    peaks: dict[str, list[int]] = {name: [] for name in runs}
    # The runs alternate, so that a slow moment of the machine falls on all.
    for _ in range(repeats):
        seconds, peak, stdout = measured([sys.executable, "-c", LIBRARY, path])
        figures = json.loads(stdout)
        library_reads.append(figures["read"])
        library_scores.append(figures["score"])
        library_peaks.append(peak)
        for name, command in runs.items():
            seconds, peak, _ = measured(command)
            times[name].append(seconds)
            peaks[name].append(peak)
    once = {name: measured(command) for name, command in readers.items()}
    resampled_time, resampled_peak, _ = measured([TOOL, "--parquet", path, "--no-progress", "--quiet"])

    library = [r + s for r, s in zip(library_reads, library_scores)]
    in_memory = statistics.median(library_scores)
    bound = 300 * 2**20 + 80 * pairs
    mib = 2**20
    print(f"\n### The tool alone on {pairs:,} pairs (Parquet: {ROW_GROUPS} row groups), median of {repeats}\n")
    print("| run | seconds | spread | peak RSS | / score_arrow in memory | / read + score_arrow |")
    print("|---|---:|---:|---:|---:|---:|")
    print(f"| score_arrow on the table already in memory | {in_memory:.2f} | {spread(library_scores)} | | 1.00x | |")
    print(f"| read_table (two columns) + score_arrow, one process | {statistics.median(library):.2f} | "
          f"{spread(library)} | {statistics.median(library_peaks) / mib:,.0f} MiB | "
          f"{statistics.median(library) / in_memory:.2f}x | 1.00x |")
    for name in runs:
        median = statistics.median(times[name])
        print(f"| tool, {name}, --bootstrap-samples 0 | {median:.2f} | {spread(times[name])} | "
              f"{max(peaks[name]) / mib:,.0f} MiB | {median / in_memory:.2f}x | "
              f"{median / statistics.median(library):.2f}x |")
    for name, (seconds, peak, _) in once.items():
        print(f"| tool, {name} (once) | {seconds:.2f} | | {peak / mib:,.0f} MiB | {seconds / in_memory:.2f}x | |")
    print(f"| tool, Parquet, 1000 resamples (once) | {resampled_time:.2f} | | {resampled_peak / mib:,.0f} MiB | | |")
    print()
    for name, target in (("Parquet", 1.2), ("two text files", 1.5), ("JSON Lines", 2.0)):
        ratio = statistics.median(times[name]) / in_memory
        print(f"{name}: tool / score_arrow in memory {ratio:.2f}x (target <= {target}x): "
              f"{'ok' if ratio <= target else 'OVER'}")
    highest = max(resampled_peak, *(max(values) for values in peaks.values()), *(p for _, p, _ in once.values()))
    print(f"highest peak RSS of the tool: {highest / mib:,.0f} MiB; bound 300 MiB + 80 B/pair = {bound / mib:,.0f} MiB: "
          f"{'ok' if highest <= bound else 'OVER'}")


def on_cluster(path: str, pairs: int) -> None:
    from dask.distributed import LocalCluster

    work = tempfile.mkdtemp(prefix="tallygrams-cluster-")
    try:
        common = ["--parquet", path, "--no-progress", "--bootstrap-samples", "0"]
        outputs = {}
        times = {}
        for name, extra in (("alone", []), ("local:2", ["--scheduler", "local:2"])):
            files = ["--per-pair", os.path.join(work, f"{name}.parquet"), "--summary", os.path.join(work, f"{name}.json")]
            times[name], _, outputs[name] = measured([TOOL, *common, *extra, *files])
        # A cluster already running, as on a real deployment: only the work
        # is timed. One native thread per worker, as the tool's local:N sets.
        start = time.perf_counter()
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                          dashboard_address=None, env={"RAYON_NUM_THREADS": "1"}) as cluster:
            started = time.perf_counter() - start
            files = ["--per-pair", os.path.join(work, "running.parquet"), "--summary", os.path.join(work, "running.json")]
            times["running"], _, outputs["running"] = measured(
                [TOOL, *common, "--scheduler", cluster.scheduler_address, *files])

        import pyarrow.parquet as pq

        reference = pq.read_table(os.path.join(work, "alone.parquet"))
        equal = all(
            outputs[name] == outputs["alone"]
            and pq.read_table(os.path.join(work, f"{name}.parquet")).equals(reference)
            and open(os.path.join(work, f"{name}.json")).read() == open(os.path.join(work, "alone.json")).read()
            for name in ("local:2", "running")
        )
        print(f"\n### dask.distributed, LocalCluster(n_workers=2, threads_per_worker=1), {ROW_GROUPS} partitions, "
              f"{pairs:,} pairs, per-pair Parquet and summary written\n")
        print("| run | seconds |")
        print("|---|---:|")
        print(f"| tool alone (2 native threads) | {times['alone']:.2f} |")
        print(f"| tool --scheduler local:2 (starts and stops the cluster) | {times['local:2']:.2f} |")
        print(f"| tool --scheduler ADDRESS of a running cluster | {times['running']:.2f} |")
        print(f"\ncluster start-up, timed apart: {started:.2f} s")
        print(f"every score column, the summary and the table equal to the single-process run: {equal}")
        if not equal:
            raise SystemExit("the cluster's results differ")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--pairs", type=int, default=1_000_000)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--only", choices=["alone", "cluster"])
    parser.add_argument("--make-data", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.make_data:
        text_copies(dataset(args.pairs))
        return
    import tallygrams

    print(f"tallygrams {tallygrams.__version__}, CPython {sys.version.split()[0]}, {os.cpu_count()} CPUs, "
          f"load average before: {os.getloadavg()[0]:.1f}")
    started = time.perf_counter()
    # Made in a child: a child's peak resident size starts from its parent's
    # at fork, so this process stays small.
    subprocess.run([sys.executable, __file__, "--pairs", str(args.pairs), "--make-data"], check=True)
    path = dataset(args.pairs)
    print(f"data: {path} ({os.path.getsize(path) / 2**20:,.0f} MiB; ready in {time.perf_counter() - started:.0f} s)")
    if args.only in (None, "alone"):
        alone(path, args.pairs, args.repeats)
    if args.only in (None, "cluster"):
        on_cluster(path, args.pairs)
    print(f"\nload average after: {os.getloadavg()[0]:.1f}")


if __name__ == "__main__":
    main()
