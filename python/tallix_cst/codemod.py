"""`quarel apply`: an edit script run over many files, one worker process per core.

The script is a Python file that defines `edit(doc, path)`, which changes the document in
place. Each worker loads the script from its path once, then takes files one by one: it
parses a file, calls `edit`, and compares the printed result with the bytes it read.
"""

from __future__ import annotations

import contextlib
import hashlib
import runpy
from dataclasses import dataclass
from typing import Callable, Optional

from tallix_cst._native import Document
from tallix_cst.failures import Failure, check_writable, described, read, read_bytes
from tallix_cst.files import write_file
from tallix_cst.lock import locked

Edit = Callable[[Document, str], object]

CHANGED, UNCHANGED, FAILED = "changed", "unchanged", "failed"


@dataclass(frozen=True)
class Options:
    write: bool  # write each changed file as soon as it is edited
    keep: bool  # hand the new bytes back, for writing once every file has succeeded
    diff: bool  # hand a unified diff back


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
        raise Failure(f"{path}: error: {type(e).__name__}: {e}", 2) from None
    edit = namespace.get("edit")
    if not callable(edit):
        raise Failure(f"{path}: error: the script defines no edit(doc, path) function", 2)
    return edit  # type: ignore[no-any-return]


def digest(data: bytes) -> bytes:
    return hashlib.blake2b(data, digest_size=16).digest()


# The worker's script and options, set once per process by `start`.
_edit: Optional[Edit] = None
_options = Options(write=False, keep=False, diff=False)


def start(script: str, options: Options) -> None:
    global _edit, _options
    _edit, _options = load_script(script), options


def apply(path: str) -> Outcome:
    """Edits one file; a failure of any kind is reported in the outcome."""
    assert _edit is not None, "start() loads the script first"
    try:
        if _options.write:
            check_writable(path)
        with locked(path) if _options.write else contextlib.nullcontext():
            before, doc = read(path)
            try:
                _edit(doc, path)
            except Exception as e:
                return Outcome(path, FAILED, f"{path}: {type(e).__name__}: {e}", 1)
            after = doc.to_bytes()
            if after == before:
                return Outcome(path, UNCHANGED)
            if _options.write:
                write_file(path, after)
    except Exception as e:
        failure = described(path, e)
        return Outcome(path, FAILED, str(failure), failure.status)
    outcome = Outcome(path, CHANGED)
    if _options.diff:
        outcome.before, outcome.after = before.decode(), after.decode()
    if _options.keep:
        outcome.data, outcome.digest = after, digest(before)
    return outcome


def write_kept(outcome: Outcome) -> None:
    """Writes the bytes that a run with Options.keep handed back. Failure when the file
    changed since it was read."""
    assert outcome.data is not None
    check_writable(outcome.path)
    with locked(outcome.path):
        if digest(read_bytes(outcome.path)) != outcome.digest:
            raise Failure(f"{outcome.path}: error: changed since it was read; not written", 1)
        write_file(outcome.path, outcome.data)
