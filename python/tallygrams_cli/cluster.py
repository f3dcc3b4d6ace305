"""Scoring a Parquet dataset on a dask.distributed cluster.

Each row group is one task: a worker reads it itself (the files' paths must
be reachable from every worker, as on a shared file system) and scores it
with the same code as the tool does alone, so the columns are the same to
the last bit. The tool gathers the score columns in input order, writes the
per-pair file and computes the interval locally.
"""

from __future__ import annotations

import contextlib
import logging
import os
import signal
import threading
from collections.abc import Generator, Iterator
from typing import Any

import tallygrams_scorer

from . import parquet
from .inputs import InputError
from .options import LOCAL_PREFIX
from .sources import ParquetData, Scored



def _dask() -> Any:
    try:
        import dask.distributed
    except ImportError:
        raise InputError(
            "--scheduler needs dask.distributed, which is not installed (pip install 'dask[distributed]')"
        ) from None
    return dask.distributed


@contextlib.contextmanager
def _signals_deferred() -> Iterator[None]:
    """SIGINT and SIGTERM are noted, not acted on, until the block ends;
    then the first one noted is raised again for its usual handler."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    noted: list[int] = []
    stopping = (signal.SIGINT, signal.SIGTERM)
    previous = {signum: signal.signal(signum, lambda signum, frame: noted.append(signum)) for signum in stopping}
    try:
        yield
    finally:
        for signum, handler in previous.items():
            signal.signal(signum, handler)
        if noted:
            signal.raise_signal(noted[0])


@contextlib.contextmanager
def connect(address: str) -> Iterator[Any]:
    """A client of the scheduler at `address`, or of a cluster of N worker
    processes on this machine for `local:N`, started here and closed on the
    way out, whatever the way out is."""
    distributed = _dask()
    # A Ctrl-C that lands inside one of the client's blocking calls makes
    # distributed's own clean-up callback fail and log a traceback through
    # tornado; the tool reports the interruption itself, in one way.
    logging.getLogger("tornado.application").setLevel(logging.CRITICAL)
    if address.startswith(LOCAL_PREFIX):
        workers = int(address[len(LOCAL_PREFIX):])
        # One task per worker at a time; the native pool of each worker gets
        # its share of the cores instead of every worker taking all of them.
        threads = max(1, (os.cpu_count() or 1) // workers)
        # Ctrl-C or SIGTERM while the cluster starts would leave it half
        # made, beyond the reach of the code that closes it: they wait
        # until it is up, and then stop the run as usual.
        with _signals_deferred():
            cluster = distributed.LocalCluster(
                n_workers=workers,
                threads_per_worker=1,
                processes=True,
                host="127.0.0.1",  # loopback only: nothing listens on the network
                dashboard_address=None,
                # The tool reports the workers' failures itself, in one line.
                silence_logs=logging.CRITICAL,
                env={"RAYON_NUM_THREADS": str(threads)},
            )
        with cluster, distributed.Client(cluster) as client:
            yield client
        return
    try:
        client = distributed.Client(address, timeout="10s")
    except (OSError, TimeoutError, ValueError) as error:
        raise InputError(f"cannot reach the scheduler at {address}: {error}") from None
    with client:
        yield client


def _score_piece(piece: parquet.Piece, scorer: tallygrams_scorer.RougeScorer, columns: parquet.Columns,
                 options: parquet.Options) -> list[tuple[Any, Any]] | InputError:
    # A problem with the input comes back as a value, not raised: raised,
    # the worker would log it with a traceback on the tool's terminal.
    try:
        return parquet.score_piece(scorer, piece, columns, options)
    except InputError as error:
        return error


def score_on_cluster(client: Any, data: ParquetData, scorer: tallygrams_scorer.RougeScorer,
                     options: parquet.Options) -> Generator[Scored]:
    """The scores of every row group, in input order, each scored by a worker."""
    pieces = data.pieces()
    total = max(sum(piece.rows for piece in pieces), 1)
    futures = client.map(_score_piece, pieces, scorer=scorer, columns=data.columns, options=options, pure=False)
    futures.reverse()
    done = 0
    try:
        while futures:
            future = futures.pop()
            results = future.result()
            # Gathered: the worker may drop its copy.
            future.release()
            if isinstance(results, InputError):
                raise results
            for ids, columns in results:
                if ids is None:
                    ids = range(done + 1, done + 1 + columns.num_rows)
                done += columns.num_rows
                yield Scored(columns, min(done / total, 1.0), ids)
    finally:
        if futures:
            # Stopped early (an error, Ctrl-C): the rest is not wanted. The
            # cluster may be unreachable by now; closing it ends them anyway.
            with contextlib.suppress(Exception):
                client.cancel(futures)
