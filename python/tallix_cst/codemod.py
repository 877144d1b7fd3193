"""`quarel apply`: an edit script run over many files, one worker process per core.

The script is a Python file that defines `edit(doc, path)`, which changes the document in
place. Each worker loads the script from its path once, then takes files one by one: it
parses a file, calls `edit`, and compares the printed result with the bytes it read.
"""

from __future__ import annotations

import hashlib
import runpy
from concurrent.futures import Future
from dataclasses import dataclass
from typing import Callable, List, Optional, Tuple

from tallix_cst import interrupts
from tallix_cst._native import Document
from tallix_cst.failures import EXIT_FAILED, EXIT_USAGE, Failure, check_writable, described, read, read_bytes
from tallix_cst.files import WriteQueue
from tallix_cst.lock import FileLock

Edit = Callable[[Document, str], object]

CHANGED, UNCHANGED, FAILED = "changed", "unchanged", "failed"


@dataclass(frozen=True)
class Options:
    write: bool  # write each changed file as soon as it is edited
    keep: bool  # hand the new bytes back, for writing once every file has succeeded
    diff: bool  # hand the texts back, for a diff


@dataclass
class Outcome:
    path: str
    state: str
    message: str = ""  # for a failure: the line to report
    status: int = 0  # for a failure: the exit status it asks for
    before: str = ""  # with Options.diff, the texts to compare
    after: str = ""
    data: Optional[bytes] = None  # with Options.keep, the new bytes ...
    digest: bytes = b""  # ... and a digest of the bytes they replace


def load_script(path: str) -> Edit:
    """The script's `edit` function. Failure for a script that cannot be run or has none."""
    try:
        namespace = runpy.run_path(path, run_name="__quarel_apply__")
    except Exception as e:
        raise Failure(f"{path}: error: {type(e).__name__}: {e}", EXIT_USAGE) from None
    edit = namespace.get("edit")
    if not callable(edit):
        raise Failure(f"{path}: error: the script defines no edit(doc, path) function", EXIT_USAGE)
    return edit  # type: ignore[no-any-return]


def digest(data: bytes) -> bytes:
    return hashlib.blake2b(data, digest_size=16).digest()


# The worker's script and options, set once per process by `start`.
_edit: Optional[Edit] = None
_options = Options(write=False, keep=False, diff=False)


def start(script: str, options: Options) -> None:
    global _edit, _options
    _edit, _options = load_script(script), options


def apply_all(paths: List[str]) -> List[Outcome]:
    """Edits the files one by one, their writes overlapping. A failure of any kind is
    reported in the file's outcome; an interrupt lets the writes under way finish."""
    with interrupts.sigterm_unwinds(), WriteQueue() as writes:
        pending = [apply(path, writes) for path in paths]
    return [settled(outcome, write) for outcome, write in pending]


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


def apply(path: str, writes: WriteQueue) -> Tuple[Outcome, Optional["Future[None]"]]:
    """The file's outcome, and its write when one is under way. With Options.write the
    file is locked from before it is read until it is written."""
    assert _edit is not None, "start() loads the script first"
    edit = _edit

    def run_script(doc: Document) -> None:
        try:
            edit(doc, path)
        except Exception as e:
            raise Failure(f"{path}: {type(e).__name__}: {e}", EXIT_FAILED) from None

    try:
        lock, before, after = edit_file(path, run_script, _options.write)
    except Exception as e:
        failure = described(path, e)
        return Outcome(path, FAILED, str(failure), failure.status), None
    if after == before:
        lock.release()
        return Outcome(path, UNCHANGED), None
    outcome = Outcome(path, CHANGED)
    if _options.diff:
        outcome.before, outcome.after = before.decode(), after.decode()
    if _options.keep:
        outcome.data, outcome.digest = after, digest(before)
    if not _options.write:
        return outcome, None
    return outcome, writes.write(path, after, lock.release)


def settled(outcome: Outcome, write: Optional["Future[None]"]) -> Outcome:
    """The outcome, or a failure when its write failed."""
    error = write.exception() if write is not None else None
    if error is None:
        return outcome
    failure = described(outcome.path, error if isinstance(error, Exception) else Exception(error))
    return Outcome(outcome.path, FAILED, str(failure), failure.status)


def write_kept(outcomes: List[Outcome]) -> List[Outcome]:
    """Writes the bytes that a run with Options.keep handed back; the failures, such as a
    file that changed since it was read."""
    pending: List[Tuple[Outcome, Optional["Future[None]"]]] = []
    with interrupts.sigterm_unwinds(), WriteQueue() as writes:
        for outcome in outcomes:
            assert outcome.data is not None
            lock = FileLock(outcome.path)
            try:
                check_writable(outcome.path)
                lock.acquire()
                if digest(read_bytes(outcome.path)) != outcome.digest:
                    raise Failure(f"{outcome.path}: error: changed since it was read", EXIT_FAILED)
            except Exception as e:
                lock.release()
                failure = described(outcome.path, e)
                pending.append((Outcome(outcome.path, FAILED, str(failure), failure.status), None))
                continue
            pending.append((outcome, writes.write(outcome.path, outcome.data, lock.release)))
    return [done for done in (settled(*p) for p in pending) if done.state == FAILED]
