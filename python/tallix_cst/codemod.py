"""`quarel apply`: an edit script run over many files, in worker processes.

The script is a Python file that defines `edit(doc, path)`, which changes the document in
place. Each worker loads the script from its path once, then takes files one by one: it
parses a file, calls `edit`, and compares the printed result with the bytes it read. A
worker writes nothing: the new bytes come back to the command, which writes them with
`edits.Writes`. So a script that ends its process, or a Ctrl-C, never cuts a write short;
nor does one that hangs or grows without end, which `batch`'s limits stop.
"""

from __future__ import annotations

import runpy
from typing import Callable, Optional

from tallix_cst._native import Document
from tallix_cst.edits import FAILED, Options, Outcome, edit_file
from tallix_cst.failures import EXIT_FAILED, EXIT_USAGE, Failure, label
from tallix_cst.files import size_text
from tallix_cst.names import quoted

Edit = Callable[[Document, str], object]

# The limits of `quarel apply` unless given: seconds per file, and the memory a worker process
# may take beyond what it starts with.
TIMEOUT = 60
MAX_MEMORY = 2 << 30


def load_script(path: str) -> Edit:
    """The script's `edit` function. Failure for a script that cannot be run or has none."""
    name = quoted(path)
    try:
        namespace = runpy.run_path(path, run_name="__quarel_apply__")
    except BaseException as e:  # sys.exit() too: the script is not to end the run
        raise Failure(f"{name}: error: {type(e).__name__}: {e}", EXIT_USAGE) from None
    edit = namespace.get("edit")
    if edit is None:
        raise Failure(f"{name}: error: the script defines no edit(doc, path) function", EXIT_USAGE)
    if not callable(edit):
        what = type(edit).__name__
        message = f"{name}: error: `edit` is a {what}, not a function edit(doc, path)"
        raise Failure(message, EXIT_USAGE)
    return edit  # type: ignore[no-any-return]


# The worker's script, options and memory limit, set once per process by `start`.
_edit: Optional[Edit] = None
_options = Options(write=False, diff=False)
_memory: Optional[int] = None


def start(script: str, options: Options, memory: Optional[int] = None) -> None:
    global _edit, _options, _memory
    _edit, _options, _memory = load_script(script), options, memory


def apply(path: str) -> Outcome:
    """The file's outcome: it is read and edited, never written."""
    edit = _edit
    assert edit is not None, "start() loads the script first"
    return edit_file(path, lambda doc: run_script(edit, doc, path), _options)


def run_script(edit: Edit, doc: Document, path: str) -> None:
    try:
        edit(doc, path)
    except SystemExit as e:
        message = f"{label(path)}: SystemExit: {e.code} (edit() may not end the run)"
        raise Failure(message, EXIT_FAILED) from None
    except MemoryError:
        limit = "" if _memory is None else f" (--max-memory is {size_text(_memory)})"
        message = f"{label(path)}: error: the edit ran out of memory{limit}"
        raise Failure(message, EXIT_FAILED) from None
    except BaseException as e:  # KeyboardInterrupt too: Ctrl-C never reaches a worker
        raise Failure(f"{label(path)}: {type(e).__name__}: {e}", EXIT_FAILED) from None


def lost(path: str, why: str) -> Outcome:
    """The outcome of a file whose worker process ended while on it."""
    message = f"{label(path)}: error: the process editing it ended ({why})"
    return Outcome(path, FAILED, message, EXIT_FAILED)
