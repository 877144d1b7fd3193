"""`quarel apply`: an edit script run over many files, in worker processes.

The script is a Python file that defines `edit(doc, path)`, which changes the document in
place. Each worker loads the script from its path once, then takes files one by one: it
parses a file, calls `edit`, and compares the printed result with the bytes it read. A
worker writes nothing: the new bytes come back to the command, which writes them with
`Writes`. So a script that ends its process, or a Ctrl-C, never cuts a write short.
"""

from __future__ import annotations

import hashlib
import runpy
from collections import deque
from concurrent.futures import Future
from dataclasses import dataclass
from typing import Callable, Deque, Iterator, Optional, Tuple

from tallix_cst import interrupts
from tallix_cst._native import Document
from tallix_cst.failures import (
    EXIT_FAILED,
    EXIT_USAGE,
    Failure,
    check_writable,
    described,
    read,
    read_bytes,
)
from tallix_cst.files import WriteQueue
from tallix_cst.lock import FileLock

Edit = Callable[[Document, str], object]

CHANGED, UNCHANGED, FAILED = "changed", "unchanged", "failed"


@dataclass(frozen=True)
class Options:
    data: bool  # hand back the new bytes and a digest of the old, for `Writes`
    diff: bool  # hand back the texts, for a diff


@dataclass
class Outcome:
    path: str
    state: str
    message: str = ""  # for a failure: the line to report
    status: int = 0  # for a failure: the exit status it asks for
    before: str = ""  # with Options.diff, the texts to compare
    after: str = ""
    data: Optional[bytes] = None  # with Options.data, the new bytes ...
    digest: bytes = b""  # ... and a digest of the bytes they replace


def load_script(path: str) -> Edit:
    """The script's `edit` function. Failure for a script that cannot be run or has none."""
    try:
        namespace = runpy.run_path(path, run_name="__quarel_apply__")
    except BaseException as e:  # sys.exit() too: the script is not to end the run
        raise Failure(f"{path}: error: {type(e).__name__}: {e}", EXIT_USAGE) from None
    edit = namespace.get("edit")
    if not callable(edit):
        raise Failure(f"{path}: error: the script defines no edit(doc, path) function", EXIT_USAGE)
    return edit  # type: ignore[no-any-return]


def digest(data: bytes) -> bytes:
    return hashlib.blake2b(data, digest_size=16).digest()


# The worker's script and options, set once per process by `start`.
_edit: Optional[Edit] = None
_options = Options(data=False, diff=False)


def start(script: str, options: Options) -> None:
    global _edit, _options
    _edit, _options = load_script(script), options


def apply(path: str) -> Outcome:
    """The file's outcome: it is read and edited, never written. With Options.data a file
    that cannot be written is refused before it is read."""
    assert _edit is not None, "start() loads the script first"
    try:
        if _options.data:
            check_writable(path)
        before, doc = read(path)
        run_script(_edit, doc, path)
        after = doc.to_bytes()
    except Exception as e:
        failure = described(path, e)
        return Outcome(path, FAILED, str(failure), failure.status)
    if after == before:
        return Outcome(path, UNCHANGED)
    outcome = Outcome(path, CHANGED)
    if _options.diff:
        outcome.before, outcome.after = before.decode(), after.decode()
    if _options.data:
        outcome.data, outcome.digest = after, digest(before)
    return outcome


def run_script(edit: Edit, doc: Document, path: str) -> None:
    try:
        edit(doc, path)
    except SystemExit as e:
        message = f"{path}: SystemExit: {e.code} (edit() may not end the run)"
        raise Failure(message, EXIT_FAILED) from None
    except BaseException as e:  # KeyboardInterrupt too: Ctrl-C never reaches a worker
        raise Failure(f"{path}: {type(e).__name__}: {e}", EXIT_FAILED) from None


def lost(path: str, why: str) -> Outcome:
    """The outcome of a file whose worker process ended while on it."""
    message = f"{path}: error: the process editing it ended ({why})"
    return Outcome(path, FAILED, message, EXIT_FAILED)


def edit_file(
    path: str, edit: Callable[[Document], object], locked: bool
) -> Tuple[FileLock, bytes, bytes]:
    """Reads the file, edits its document and prints it: the file's lock, its bytes before and
    after. With `locked` a file that cannot be written is refused before it is read, and the
    lock is held from before the read until the caller releases it; on a failure it is
    released and the exception goes on."""
    lock = FileLock(path)
    try:
        if locked:
            check_writable(path)
            lock.acquire()
        before, doc = read(path)
        edit(doc)
        return lock, before, doc.to_bytes()
    except BaseException:
        lock.release()
        raise


class Writes:
    """Writes changed files, several at once, and hands the outcomes back in the order
    they came, each once its write is done. A file is locked and checked to be as it was
    read before it is written; a file that changed since is a failure."""

    def __init__(self) -> None:
        self._queue = WriteQueue()
        self._pending: Deque[Tuple[Outcome, Optional["Future[None]"]]] = deque()

    def add(self, outcome: Outcome, write: bool) -> None:
        """Queues the outcome, and with `write` the writing of its change."""
        if not write or outcome.state != CHANGED:
            self._pending.append((outcome, None))
            return
        assert outcome.data is not None, "Options.data hands the bytes back"
        lock = FileLock(outcome.path)
        try:
            check_writable(outcome.path)
            lock.acquire()
            if digest(read_bytes(outcome.path)) != outcome.digest:
                raise Failure(f"{outcome.path}: error: changed since it was read", EXIT_FAILED)
        except Exception as e:
            lock.release()
            self._pending.append((failed(outcome.path, e), None))
            return
        except BaseException:
            lock.release()
            raise
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


def failed(path: str, error: BaseException) -> Outcome:
    failure = described(path, error if isinstance(error, Exception) else Exception(error))
    return Outcome(path, FAILED, str(failure), failure.status)
