"""Files edited in bulk: each is read, its document edited and printed, and a change
written back, several files at once.

`edit_file` reads and edits a file and tells what came of it, writing nothing; `Writes`
writes the changes and hands the outcomes back in order. Between the two a file stays
locked, where the same process edits and writes it, or else is locked again before it is
written; either way its writer checks, as the last step, that it is still the file read.
"""

from __future__ import annotations

import contextlib
import errno
import os
import resource
from collections import deque
from concurrent.futures import Future
from dataclasses import dataclass, field
from typing import Any, Callable, Deque, Dict, Iterator, List, Optional, Tuple

from tallix_cst import interrupts
from tallix_cst._native import Document
from tallix_cst.failures import (
    Failure,
    check_writable,
    described,
    parsed,
    read_bytes,
    read_for_writing,
)
from tallix_cst.files import MAX_SIZE
from tallix_cst.lock import FileLock
from tallix_cst.writing import Changed, Snapshot, WriteQueue, write_all

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
    source: Optional[Snapshot] = None  # ... and with Options.write what they replace
    lock: Optional[FileLock] = None  # held from before the read, where this process writes
    problems: List[Dict[str, Any]] = field(default_factory=list)  # what `quarel check` found

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
        if options.write:
            before, source = read_for_writing(path, options.max_size)
        else:
            before, source = read_bytes(path, options.max_size), None
        doc = parsed(path, before)
        edit(doc)
        after = doc.to_bytes()
    except BaseException as e:
        if lock is not None:
            lock.release()
        if not isinstance(e, (Failure, OSError, MemoryError)):
            raise
        return failed(path, e)
    changed = after != before
    outcome = Outcome(path, CHANGED if changed else UNCHANGED, lock=lock)
    if changed and options.diff:
        outcome.before, outcome.after = before.decode(), after.decode()
    if changed and options.write:
        outcome.data, outcome.source = after, source
    elif options.printed:
        outcome.data = after
    return outcome


def failed(path: str, error: BaseException) -> Outcome:
    failure = described(path, error if isinstance(error, Exception) else Exception(error))
    return Outcome(path, FAILED, str(failure), failure.status)


class Writes:
    """Writes changed files, several at once, and hands the outcomes back in the order
    they came, each once its write is done. A file is written under its lock."""

    def __init__(self) -> None:
        self._queue = WriteQueue()
        self._pending: Deque[Tuple[Outcome, Optional["Future[None]"]]] = deque()

    def add(self, outcome: Outcome, write: bool) -> None:
        """Queues the outcome, and with `write` the writing of its change: under its lock,
        held since before the file was read, or else under one taken now. An unwritten
        file's lock is released."""
        lock = outcome.lock
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
            queued = self._queue.write(outcome.path, outcome.data, lock.release, outcome.source)
            self._pending.append((outcome, queued))

    def all_or_nothing(self, outcomes: List[Outcome]) -> Tuple[List[Outcome], bool]:
        """Writes every change, or none where any fails before the first file is replaced
        (see `writing.write_all`): the outcomes, a failure for each file that failed (or,
        once files were replaced, was not written), and whether any was written."""
        _open_files_for(len(outcomes))
        locks: List[FileLock] = []
        try:
            for outcome in sorted(outcomes, key=lambda o: o.path):  # one order: no deadlock
                try:
                    locks.append(relocked(outcome))
                except Exception as e:
                    return [failed(o.path, e) if o is outcome else o for o in outcomes], False
            errors = write_all([(o.path, o.data or b"", o.source) for o in outcomes])
        finally:
            for lock in locks:
                lock.release()
        written = None in errors
        return [
            o if e is None or (not written and e.errno == errno.ECANCELED) else failed(o.path, e)
            for o, e in zip(outcomes, errors)
        ], written

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


def _open_files_for(count: int) -> None:
    """Raises the soft limit on open files towards the hard one where `count` files written at
    once need more: each holds its lock, its folder, its new file and, where it is rewritten
    in place, its old one, until the set is written; the usual soft limit of 1024 (256 on
    macOS) would fail every file of a set of a few hundred."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    needed = 4 * count + 64  # and what the process has open already
    if soft == resource.RLIM_INFINITY or soft >= needed:
        return
    wanted = needed if hard == resource.RLIM_INFINITY else min(needed, hard)
    with contextlib.suppress(OSError, ValueError):
        resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, wanted), hard))


def relocked(outcome: Outcome) -> FileLock:
    """The file's lock, taken once the file is found still writable."""
    if not os.path.lexists(outcome.path):
        raise Changed(errno.ENOENT, "removed or renamed since it was read", outcome.path)
    check_writable(outcome.path)
    lock = FileLock(outcome.path)
    lock.acquire()
    return lock
