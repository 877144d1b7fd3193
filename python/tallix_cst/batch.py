"""One function over many files, in worker processes that start once and take the files a
batch at a time.

A worker only computes: whatever it does to files is for the caller to do with its
results. So a worker may be ended at any moment, by Ctrl-C in the parent, by the work
itself (a crash, `os._exit`) or by its limits, without harm. One that ends is replaced; the
file it was working on gets the result of `lost`, and the files it held but had not sent
back go to the others.

Its limits (`Limits`): a file that takes longer than the time limit has its worker killed;
a worker's address space may grow by the memory limit beyond what it started with (more
fails the work with MemoryError), and a worker whose peak memory has grown by half of it is
replaced between two files, so that work that leaks memory slowly never reaches the limit.
"""

from __future__ import annotations

import contextlib
import multiprocessing
import os
import resource
import signal
import sys
import time
from collections import deque
from dataclasses import dataclass
from multiprocessing.connection import Connection, wait
from typing import (
    Any,
    Callable,
    Deque,
    Dict,
    Generator,
    List,
    Optional,
    Sequence,
    Tuple,
    TypeVar,
    cast,
)

from tallix_cst.failures import EXIT_USAGE, Failure

Result = TypeVar("Result")
Batch = Tuple[int, List[str]]  # the index of its first path, and the paths

# Files handed over at a time: enough to make the hand-over cheap, few enough to keep
# every worker busy to the end. A worker holds this many batches, so it never waits for
# the next; paths are capped in bytes too, so that what is sent to a worker always fits
# in the pipe and never waits on a worker that is itself sending.
BATCH = 64
AHEAD = 2
BATCH_BYTES = 16384
# How long a worker keeps finished results before sending them: progress keeps
# flowing, and the new text of large files does not pile up in the worker.
SEND_SECONDS = 0.05
# How far results may run ahead of the first one not yet in, which holds them back.
WINDOW = 4096

READY, RESULTS, REFUSED = "ready", "results", "refused"
# What a worker's `current` holds when it is on no file: while starting, and once it has
# sent back every result and ends to be replaced.
STARTING, RETIRED = -1, -2


@dataclass(frozen=True)
class Limits:
    seconds: Optional[float] = None  # per file, and for starting
    memory: Optional[int] = None  # bytes a worker may grow by


def run(
    work: Callable[[str], Result],
    paths: Sequence[str],
    jobs: int,
    lost: Callable[[str, str], Result],
    start: Optional[Callable[..., None]] = None,
    start_args: Tuple[Any, ...] = (),
    limits: Limits = Limits(),
) -> Generator[List[Result], None, None]:
    """work(path) for each path, in the order of the paths, as many at a time as are
    ready. `jobs` worker processes compute them, each calling start(*start_args) first.
    A Failure raised by `start` ends the run; lost(path, why) is the result for a file
    whose worker ended while on it. Closing the iterator ends the workers at once.
    `work` and `start` must be functions of a module, so that the workers find them."""
    pool = _Pool(work, paths, lost, start, start_args, limits)
    try:
        pool.begin(max(1, min(jobs, len(paths))))
        while True:
            ready = pool.in_order()
            if ready:
                yield ready
            if pool.emitted == len(paths) and pool.ready:
                break
            pool.receive()
        pool.finish()
    finally:
        pool.end()


class _Worker:
    def __init__(self, context: Any, target: Callable[..., None], args: Tuple[Any, ...]) -> None:
        self.conn, theirs = context.Pipe()
        # The index of the file it is on, and since when, shared: the only word left when
        # it ends.
        self.current = context.RawValue("q", STARTING)
        self.since = context.RawValue("d", time.monotonic())
        self.batches: Deque[Batch] = deque()  # handed over, not all sent back
        self.stopped = ""  # why the parent ended it, if it did
        self.process = context.Process(
            target=target, args=(theirs, self.conn, self.current, self.since, *args), daemon=True
        )
        self._theirs = theirs

    def start(self) -> None:
        # Ctrl-C is the parent's to handle: held off until the worker has set it aside.
        signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
        try:
            self.process.start()
        finally:
            signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGINT})
            self._theirs.close()


class _Pool:
    def __init__(
        self,
        work: Callable[[str], Any],
        paths: Sequence[str],
        lost: Callable[[str, str], Any],
        start: Optional[Callable[..., None]],
        start_args: Tuple[Any, ...],
        limits: Limits,
    ) -> None:
        # Forked workers start in milliseconds, with every module already imported.
        methods = multiprocessing.get_all_start_methods()
        self.context = multiprocessing.get_context("fork" if "fork" in methods else None)
        self.args = (work, start, start_args, limits.memory)
        self.seconds = limits.seconds
        self.paths, self.lost = paths, lost
        self.workers: Dict[Connection, _Worker] = {}
        self.results: Dict[int, Any] = {}
        self.retry: Deque[Batch] = deque()  # paths taken back from a worker that ended
        self.next = 0  # the first path not yet handed over
        self.emitted = 0
        self.ready = False

    def begin(self, workers: int) -> None:
        for _ in range(workers):
            self.add_worker()

    def add_worker(self) -> None:
        worker = _Worker(self.context, _serve, self.args)
        self.workers[worker.conn] = worker
        worker.start()
        self.feed(worker)

    def in_order(self) -> List[Any]:
        """The results that are next in order, taken out."""
        ready = []
        while self.emitted in self.results:
            ready.append(self.results.pop(self.emitted))
            self.emitted += 1
        for worker in list(self.workers.values()):
            self.feed(worker)
        return ready

    def feed(self, worker: _Worker) -> None:
        while len(worker.batches) < AHEAD:
            batch = self.next_batch()
            if batch is None:
                return
            worker.batches.append(batch)
            try:
                worker.conn.send(batch)
            except OSError:
                return  # it has ended: `receive` finds out and hands the batch on

    def next_batch(self) -> Optional[Batch]:
        if self.retry:
            return self.retry.popleft()
        if self.next >= len(self.paths) or self.next - self.emitted >= WINDOW:
            return None
        remaining = len(self.paths) - self.next
        count = max(1, min(BATCH, remaining // (len(self.workers) * 4)))
        batch: List[str] = []
        size = 0
        for path in self.paths[self.next : self.next + count]:
            if batch and size + len(path) > BATCH_BYTES:
                break
            batch.append(path)
            size += len(path)
        first, self.next = self.next, self.next + len(batch)
        return first, batch

    def receive(self) -> None:
        # A process that ended is known by its sentinel too: a process its work forked may
        # hold its end of the connection open.
        ends = {worker.process.sentinel: worker for worker in self.workers.values()}
        for ready in wait([*self.workers, *ends], timeout=self.stop_overdue()):
            if ready in ends:
                worker = ends[ready]
                if worker.conn in self.workers and not worker.conn.poll():  # nothing left to read
                    self.replace(worker)
                continue
            if ready not in self.workers:
                continue  # ended meanwhile
            worker = self.workers[ready]
            try:
                message = worker.conn.recv()
            except (EOFError, OSError):
                self.replace(worker)
                continue
            if message[0] == REFUSED:
                raise Failure(message[1], message[2])
            if message[0] == READY:
                self.ready = True
                continue
            first, results = message[1], message[2]
            self.results.update(zip(range(first, first + len(results)), results))
            self.settle(worker, len(results))

    def stop_overdue(self) -> Optional[float]:
        """Kills the workers that have been on one file (or starting) past the time limit;
        how long until the next may be, None when there is no limit."""
        if self.seconds is None:
            return None
        now, wake = time.monotonic(), self.seconds
        for worker in self.workers.values():
            current, since = worker.current.value, worker.since.value
            if current == RETIRED or worker.stopped:
                continue
            if now - since < self.seconds or worker.current.value != current:
                wake = min(wake, self.seconds - (now - since))
                continue
            doing = "starting" if current == STARTING else "on one file"
            worker.stopped = f"stopped after {self.seconds:g} s {doing}: the --timeout"
            worker.process.kill()
        return max(wake, 0.01)

    def settle(self, worker: _Worker, count: int) -> None:
        """Drops the first `count` files of the worker's first batch, which are back. (A
        worker sends results a batch at a time, in the order it got them; a batch taken
        back from a worker that ended may come before one of higher paths.)"""
        first, paths = worker.batches[0]
        if count < len(paths):
            worker.batches[0] = (first + count, paths[count:])
        else:
            worker.batches.popleft()

    def replace(self, worker: _Worker) -> None:
        """Reports the file the worker ended on and hands the rest of its files on."""
        del self.workers[worker.conn]
        worker.conn.close()
        worker.process.join()
        why = worker.stopped or ended(worker.process.exitcode)
        culprit = worker.current.value
        if culprit == STARTING:
            raise Failure(
                f"quarel: error: a worker process ended while starting ({why})", EXIT_USAGE
            )
        taken: List[Batch] = []
        for first, paths in worker.batches:
            if first <= culprit < first + len(paths) and culprit not in self.results:
                self.results[culprit] = self.lost(paths[culprit - first], why)
                at = culprit - first
                taken += [(first, paths[:at]), (culprit + 1, paths[at + 1 :])]
            else:
                taken.append((first, paths))
        self.retry.extendleft(reversed([batch for batch in taken if batch[1]]))
        self.add_worker()

    def finish(self) -> None:
        """Lets the workers end by themselves, so that what they printed is flushed."""
        for worker in self.workers.values():
            worker.conn.close()
        for worker in self.workers.values():
            worker.process.join(timeout=5)

    def end(self) -> None:
        for worker in self.workers.values():
            if worker.process.is_alive():
                worker.process.kill()
                worker.process.join()
            worker.conn.close()


def ended(exitcode: Optional[int]) -> str:
    if exitcode is not None and exitcode < 0:
        return f"killed by {signal.Signals(-exitcode).name}"
    return f"exit status {exitcode}"


def _serve(
    conn: Connection,
    parents: Connection,
    current: Any,
    since: Any,
    work: Callable[[str], Any],
    start: Optional[Callable[..., None]],
    start_args: Tuple[Any, ...],
    memory: Optional[int],
) -> None:
    """A worker: starts, then works through the batches it is sent until the parent
    closes the connection, or until it has grown too large."""
    parents.close()  # a copy that came with the fork: the parent's going must read as the end
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGINT})
    # Whatever the work prints is not the command's output.
    os.dup2(2, 1)
    sys.stdout = sys.stderr
    worker = os.getpid()
    try:
        if start:
            start(*start_args)
        _own(worker)
        grown = _growth(memory)
        conn.send((READY,))
        more = True
        while more:
            first, paths = conn.recv()
            more = _work_through(conn, first, paths, work, current, since, worker, grown)
    except Failure as e:
        _own(worker)
        conn.send((REFUSED, str(e), e.status))
    except (EOFError, OSError, MemoryError):
        pass  # the parent is done, or gone; or nothing more can be sent
    # Now, without waiting for threads the work may have left running.
    sys.stdout.flush()
    sys.stderr.flush()
    os._exit(0)


def _work_through(
    conn: Connection,
    first: int,
    paths: List[str],
    work: Callable[[str], Any],
    current: Any,
    since: Any,
    worker: int,
    grown: Callable[[], bool],
) -> bool:
    """Works through a batch, sending results back as they come; False once the worker has
    grown too large and is to be replaced."""
    done: List[Any] = []
    sent = time.monotonic()
    for index, path in enumerate(paths, first):
        since.value, current.value = time.monotonic(), index
        done.append(work(path))
        _own(worker)
        retire = grown()
        if retire or index == first + len(paths) - 1 or time.monotonic() - sent > SEND_SECONDS:
            conn.send((RESULTS, index + 1 - len(done), done))
            done, sent = [], time.monotonic()
        if retire:
            current.value = RETIRED  # its other files are handed on
            return False
    return True


def _own(worker: int) -> None:
    """Ends a process the work forked from the worker, as soon as it is back here: only the
    worker answers the parent."""
    if os.getpid() != worker:
        os._exit(0)


def _growth(memory: Optional[int]) -> Callable[[], bool]:
    """Caps the worker's address space at `memory` bytes more than it has now, and tells
    whether its peak resident memory has grown by half of that since."""
    if memory is None:
        return lambda: False
    start = _peak()
    with contextlib.suppress(OSError, ValueError):  # where the system has no such limit
        hard = resource.getrlimit(resource.RLIMIT_AS)[1]
        cap = _address_space() + memory
        unlimited = hard == resource.RLIM_INFINITY
        resource.setrlimit(resource.RLIMIT_AS, (cap if unlimited else min(cap, hard), hard))
    return lambda: _peak() - start > memory // 2


def _peak() -> int:
    """The most resident memory this process has held, in bytes (one system call)."""
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    return peak if sys.platform == "darwin" else peak * 1024


def _address_space() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[0]) * resource.getpagesize()
