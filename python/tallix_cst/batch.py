"""One function over many files, a chunk at a time: in this process, or in a pool of
processes."""

from __future__ import annotations

import signal
from concurrent.futures import ProcessPoolExecutor
from typing import Any, Callable, Iterator, List, Optional, Sequence, Tuple, TypeVar

Result = TypeVar("Result")

# Files handed over at a time: enough to make the hand-over cheap and to let a chunk's
# writes overlap, few enough to keep every process busy to the end and progress flowing.
CHUNK = 256


def run(
    work: Callable[[List[str]], List[Result]],
    paths: Sequence[str],
    jobs: int,
    start: Optional[Callable[..., None]] = None,
    start_args: Tuple[Any, ...] = (),
) -> Iterator[Result]:
    """The results of work(chunk) for chunks of the paths, in the order of the paths. With
    more than one job a pool of `jobs` processes does the work, each calling
    start(*start_args) first (when given); otherwise this process does, after calling start
    itself.
    `work` and `start` must be functions of a module, so that the processes find them."""
    size = max(1, min(CHUNK, len(paths) // (jobs * 4)))
    chunks = [list(paths[i : i + size]) for i in range(0, len(paths), size)]
    if jobs <= 1 or len(chunks) <= 1:
        if start:
            start(*start_args)
        for chunk in chunks:
            yield from work(chunk)
        return
    pool = ProcessPoolExecutor(jobs, initializer=_start_worker, initargs=(start, start_args))
    try:
        for results in pool.map(work, chunks):
            yield from results
    finally:
        pool.shutdown(cancel_futures=True)


def _start_worker(start: Optional[Callable[..., None]], start_args: Tuple[Any, ...]) -> None:
    # Ctrl-C is for the parent, which stops handing out work; a worker finishes the chunk
    # in hand rather than dropping files half-written.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    if start:
        start(*start_args)
