"""Sixteen Python threads hammering all three functions at once, every result
checked against answers computed beforehand, one pair at a time."""

import os
import random
import threading
import time

import tallygrams
import textgen

THREADS = 16
SECONDS = float(os.environ.get("TALLYGRAMS_LOAD_SECONDS", "10"))
METRICS = ("rouge1", "rouge2", "rougeL")
STATISTICS = ("precision", "recall", "fmeasure")
COLUMNS = [f"{m}_{s}" for m in METRICS for s in STATISTICS]


def nine(result):
    return tuple(getattr(result[m], s) for m in METRICS for s in STATISTICS)


def test_sixteen_threads_mixing_every_function_get_exact_answers():
    pairs = textgen.pairs(2024, 1500, max_words=60)
    # A few long texts, so that some batches keep workers busy while others
    # are short enough to be scored on the calling thread.
    long_rng = random.Random(7)
    pairs += [(textgen.text(long_rng, 2000), textgen.text(long_rng, 2000)) for _ in range(12)]
    expected = [nine(tallygrams.score(r, p)) for r, p in pairs]

    deadline = time.monotonic() + SECONDS
    start = threading.Barrier(THREADS)
    counts = [dict(score=0, score_batch=0, score_batch_flat=0, errors=0) for _ in range(THREADS)]
    failures = []

    def check(indices, got, what):
        want = [expected[i] for i in indices]
        if got != want:
            bad = next(k for k in range(len(want)) if k >= len(got) or got[k] != want[k])
            failures.append(f"{what}: pair {indices[bad]} of {len(indices)} differs")

    def work(t):
        rng = random.Random(t)
        start.wait()
        while time.monotonic() < deadline and not failures:
            size = rng.choice([0, 1, 2, 3, 17, 64, 300])
            indices = [rng.randrange(len(pairs)) for _ in range(size)]
            references = [pairs[i][0] for i in indices]
            predictions = [pairs[i][1] for i in indices]
            kind = rng.randrange(10)
            if kind < 3:
                for i in indices[:20] or [0]:
                    check([i], [nine(tallygrams.score(*pairs[i]))], "score")
                    counts[t]["score"] += 1
            elif kind < 6:
                result = tallygrams.score_batch(references, tuple(predictions))
                check(indices, [nine(d) for d in result], "score_batch")
                counts[t]["score_batch"] += 1
            elif kind < 9:
                result = tallygrams.score_batch_flat(references, predictions)
                check(indices, list(zip(*(getattr(result, c) for c in COLUMNS))), "score_batch_flat")
                counts[t]["score_batch_flat"] += 1
            else:
                # Failing calls interleaved with the rest must not disturb them.
                try:
                    tallygrams.score_batch(references + [None], predictions + ["x"])
                    failures.append("an element of the wrong type was accepted")
                except TypeError:
                    counts[t]["errors"] += 1

    threads = [threading.Thread(target=work, args=(t,)) for t in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=SECONDS + 120)
    assert not any(thread.is_alive() for thread in threads), "a thread is stuck"
    assert not failures, failures[:5]
    for t, count in enumerate(counts):
        assert all(count[kind] > 0 for kind in ("score", "score_batch", "score_batch_flat")), (t, count)
