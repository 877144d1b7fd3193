"""Files edited in bulk: each is read, its document edited and printed, and a change
written back, several files at once.

`edit_file` reads and edits a file and tells what came of it, writing nothing; `Writes`
writes the changes and hands the outcomes back in order. Between the two a file stays
locked, where the same process edits and writes it, or else is found as it was read
before it is written.
"""

from __future__ import annotations

import hashlib
from collections import deque
from concurrent.futures import Future
from dataclasses import dataclass
from typing import Callable, Deque, Iterator, Optional, Tuple

from tallix_cst import interrupts
from tallix_cst._native import Document
from tallix_cst.failures import EXIT_FAILED, Failure, check_writable, described, read, read_bytes
from tallix_cst.files import MAX_SIZE, WriteQueue
from tallix_cst.lock import FileLock

CHANGED, UNCHANGED, FAILED = "changed", "unchanged", "failed"


@dataclass(frozen=True)
class Options:
    write: bool  # refuse a file that cannot be written; hand back a change's bytes and a digest
    diff: bool  # hand back the texts of a change, for a diff
    printed: bool = False  # hand back the new bytes of every file, to print them
    max_size: Optional[int] = MAX_SIZE  # the largest file read


@dataclass
class Outcome:
    path: str
    state: str
    message: str = ""  # for a failure: the line to report
    status: int = 0  # for a failure: the exit status it asks for
    before: str = ""  # with Options.diff, the texts to compare
    after: str = ""
    data: Optional[bytes] = None  # with Options.write or printed, the new bytes ...
    digest: bytes = b""  # ... and with Options.write a digest of the bytes they replace

    def failure(self) -> Failure:
        """What a failed outcome reports."""
        return Failure(self.message, self.status)


def edit_file(
    path: str, edit: Callable[[Document], object], options: Options, lock: Optional[FileLock] = None
) -> Outcome:
    """The file's outcome: it is read, edited and printed, never written. With Options.write
    a file that cannot be written is refused before it is read. `lock`, if any, is taken
    before the read; a failure releases it, else it is held for `Writes.add`."""
    try:
        if options.write:
            check_writable(path)
        if lock is not None:
            lock.acquire()
        before, doc = read(path, options.max_size)
        edit(doc)
        after = doc.to_bytes()
    except BaseException as e:
        if lock is not None:
            lock.release()
        if not isinstance(e, (Failure, OSError, MemoryError)):
            raise
        return failed(path, e)
    changed = after != before
    outcome = Outcome(path, CHANGED if changed else UNCHANGED)
    if changed and options.diff:
        outcome.before, outcome.after = before.decode(), after.decode()
    if changed and options.write:
        outcome.data, outcome.digest = after, digest(before)
    elif options.printed:
        outcome.data = after
    return outcome


def digest(data: bytes) -> bytes:
    return hashlib.blake2b(data, digest_size=16).digest()


def failed(path: str, error: BaseException) -> Outcome:
    failure = described(path, error if isinstance(error, Exception) else Exception(error))
    return Outcome(path, FAILED, str(failure), failure.status)


class Writes:
    """Writes changed files, several at once, and hands the outcomes back in the order
    they came, each once its write is done. A file is written under its lock."""

    def __init__(self) -> None:
        self._queue = WriteQueue()
        self._pending: Deque[Tuple[Outcome, Optional["Future[None]"]]] = deque()

    def add(self, outcome: Outcome, write: bool, lock: Optional[FileLock] = None) -> None:
        """Queues the outcome, and with `write` the writing of its change: under `lock`,
        held since before the file was read, or else under one taken now, once the file
        is found as it was read (a file that changed since is a failure). An unwritten
        file's `lock` is released."""
        if not write or outcome.state != CHANGED:
            if lock is not None:
                lock.release()
            self._pending.append((outcome, None))
            return
        assert outcome.data is not None, "Options.write hands the bytes back"
        if lock is None:
            try:
                lock = relocked(outcome)
            except Exception as e:
                self._pending.append((failed(outcome.path, e), None))
                return
        with interrupts.deferred():  # a write under way is always in the list
            queued = self._queue.write(outcome.path, outcome.data, lock.release)
            self._pending.append((outcome, queued))

    def settled(self, wait: bool = False) -> Iterator[Outcome]:
        """The outcomes whose turn has come: a write that failed is a failure. With
        `wait`, every one, once the writes under way are done."""
        while self._pending:
            outcome, write = self._pending[0]
            if write is not None and not (wait or write.done()):
                return
            self._pending.popleft()
            error = write.exception() if write is not None else None
            yield outcome if error is None else failed(outcome.path, error)

    def __enter__(self) -> Writes:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self._queue.__exit__(*exc_info)


def relocked(outcome: Outcome) -> FileLock:
    """The file's lock, taken once the file is found as it was read."""
    lock = FileLock(outcome.path)
    try:
        check_writable(outcome.path)
        lock.acquire()
        if digest(read_bytes(outcome.path)) != outcome.digest:
            raise Failure(f"{outcome.path}: error: changed since it was read", EXIT_FAILED)
    except BaseException:
        lock.release()
        raise
    return lock
