"""One function over many files: in this process, or in a pool of processes."""

from __future__ import annotations

import signal
from concurrent.futures import ProcessPoolExecutor
from typing import Any, Callable, Iterator, Sequence, Tuple, TypeVar

Result = TypeVar("Result")


def run(
    work: Callable[[str], Result],
    paths: Sequence[str],
    jobs: int,
    start: Callable[..., None],
    start_args: Tuple[Any, ...] = (),
) -> Iterator[Result]:
    """work(path) for every path, in the order of the paths. With more than one job a pool
    of `jobs` processes does the work, each calling start(*start_args) first; otherwise
    this process does, after calling start itself. `work` and `start` must be functions of
    a module, so that the processes can find them."""
    if jobs <= 1 or len(paths) <= 1:
        start(*start_args)
        yield from map(work, paths)
        return
    pool = ProcessPoolExecutor(jobs, initializer=_start_worker, initargs=(start, start_args))
    try:
        # A few chunks per process: large enough to make the hand-over cheap, small enough
        # to keep every process busy to the end.
        yield from pool.map(work, paths, chunksize=max(1, len(paths) // (jobs * 8)))
    finally:
        pool.shutdown(cancel_futures=True)


def _start_worker(start: Callable[..., None], start_args: Tuple[Any, ...]) -> None:
    # Ctrl-C is for the parent, which stops handing out work; a worker finishes the file
    # in hand rather than dropping it half-written.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    start(*start_args)
