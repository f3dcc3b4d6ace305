"""Reading ahead on a thread of its own while the scorer works.

Reading a block of input (the read itself, pyarrow's JSON or Parquet
decoding, cutting lines) and scoring the block before it then overlap: the
native parts of both release the interpreter lock, so the reading thread
keeps the cores busy in the gaps the scorer's workers leave. At most DEPTH
items wait, so memory stays that of a few batches.
"""

from __future__ import annotations

import queue
import threading
import time
from collections.abc import Generator, Iterator
from typing import TypeVar

T = TypeVar("T")
DEPTH = 2
_END = object()
# How often a waiting producer checks whether it is still wanted.
_POLL = 0.05
# How long a stopped reader may take to wind down.
_LEAVE_AFTER = 2.0


def prefetched(items: Iterator[T]) -> Generator[T]:
    """The items of `items`, each made on a reading thread ahead of its
    use. An exception from `items` is raised here, in its place. Closing
    this generator (an error, Ctrl-C) stops the thread, which then closes
    `items` itself, on the thread that ran it."""
    waiting: queue.Queue[tuple[object, BaseException | None]] = queue.Queue(DEPTH)
    stopping = threading.Event()

    def hand_over(entry: tuple[object, BaseException | None]) -> bool:
        while not stopping.is_set():
            try:
                waiting.put(entry, timeout=_POLL)
                return True
            except queue.Full:
                continue
        return False

    def read() -> None:
        try:
            for item in items:
                if not hand_over((item, None)):
                    return
        except BaseException as error:  # handed to the consumer, which raises it
            hand_over((None, error))
        else:
            hand_over((_END, None))
        finally:
            close = getattr(items, "close", None)
            if close is not None:
                close()

    reader = threading.Thread(target=read, name="tallygrams-reader", daemon=True)
    reader.start()
    try:
        while True:
            item, error = waiting.get()
            if error is not None:
                try:
                    raise error
                finally:
                    # The traceback holds this frame; without the name the
                    # two are not a cycle left for the collector, which may
                    # not run again before the process ends.
                    del error
            if item is _END:
                return
            yield item  # type: ignore[misc]
    finally:
        stopping.set()
        # Unblock a reader waiting to hand over, then let it finish what it
        # reads (one block) and close its files; one blocked on a pipe that
        # sends nothing is left behind.
        deadline = time.monotonic() + _LEAVE_AFTER
        while reader.is_alive() and time.monotonic() < deadline:
            try:
                waiting.get(timeout=_POLL)
            except queue.Empty:
                pass
