"""How the command line reads a file and reports what goes wrong with one: a single line
naming the file, and an exit status."""

from __future__ import annotations

import os
import sys
from typing import Optional, Tuple

from tallix_cst import leftovers
from tallix_cst._native import Document, QuarelSyntaxError
from tallix_cst.files import MAX_SIZE, TooLarge, loads, read_capped, read_file, read_source
from tallix_cst.names import quoted
from tallix_cst.writing import Changed, Snapshot, existing_file

EXIT_OK, EXIT_FAILED, EXIT_USAGE = 0, 1, 2
STDIN = "-"


class Failure(Exception):
    """Ends the work on one file, or a whole command: the line to print and the exit
    status (1 for what is wrong in a file's content, 2 for usage and I/O errors)."""

    def __init__(self, message: str, status: int) -> None:
        super().__init__(message)
        self.status = status


def label(path: str) -> str:
    """The file's name in messages."""
    return "<stdin>" if path == STDIN else quoted(path)


def read(path: str, max_size: Optional[int] = MAX_SIZE) -> Tuple[bytes, Document]:
    """The file's bytes and its document."""
    data = read_bytes(path, max_size)
    return data, parsed(path, data)


def parsed(path: str, data: bytes) -> Document:
    try:
        return loads(data)
    except Exception as e:
        raise described(path, e) from None


def read_bytes(path: str, max_size: Optional[int] = MAX_SIZE) -> bytes:
    """The bytes of the file, or of standard input (-); refused, as a Failure, where an
    earlier write left the file half-written."""
    try:
        if path == STDIN:
            return read_capped(sys.stdin.buffer.read, max_size, label(path))
        leftovers.check(path, clean=False)
        return read_file(path, max_size)
    except OSError as e:
        raise described(path, e) from None


def read_for_writing(path: str, max_size: Optional[int] = MAX_SIZE) -> Tuple[bytes, Snapshot]:
    """The bytes of the file, as `read_bytes` reads them, and what its writer is to check."""
    try:
        leftovers.check(path, clean=False)
        return read_source(path, max_size)
    except OSError as e:
        raise described(path, e) from None


def check_writable(path: str) -> None:
    """Refuses, before anything is read, a file that an in-place edit may not replace."""
    if path == STDIN:
        raise Failure("<stdin>: error: --in-place needs a file", EXIT_USAGE)
    try:
        if existing_file(path) is None:
            raise FileNotFoundError(2, os.strerror(2), path)
    except OSError as e:
        raise described(path, e) from None
    if not os.access(path, os.W_OK):
        raise Failure(
            f"{label(path)}: error: permission denied: the file is not writable", EXIT_USAGE
        )
    # The new content goes to a file beside it first.
    folder = os.path.dirname(os.path.realpath(path))
    if not os.access(folder, os.W_OK | os.X_OK):
        raise Failure(
            f"{label(path)}: error: permission denied: its folder {label(folder)} is not writable",
            EXIT_USAGE,
        )


def described(path: str, error: Exception) -> Failure:
    """The failure to report for an exception met while working on the file."""
    name = label(path)
    if isinstance(error, Failure):
        return error
    if isinstance(error, QuarelSyntaxError):
        return Failure(f"{name}:{error.line}:{error.column}: {error.message}", EXIT_FAILED)
    if isinstance(error, UnicodeDecodeError):
        return Failure(f"{name}: error: not valid UTF-8 (byte {error.start})", EXIT_USAGE)
    if isinstance(error, TooLarge):
        return Failure(f"{name}: error: {error.strerror} (--max-file-size raises it)", EXIT_USAGE)
    if isinstance(error, leftovers.HalfWritten):
        return Failure(f"{name}: error: {error.explained(error.copy)}", EXIT_USAGE)
    if isinstance(error, Changed):
        return Failure(f"{name}: error: {error.strerror}", EXIT_FAILED)
    if isinstance(error, MemoryError):
        return Failure(f"{name}: error: out of memory", EXIT_USAGE)
    if isinstance(error, OSError):
        return Failure(f"{name}: error: {error.strerror or error}", EXIT_USAGE)
    return Failure(f"{name}: error: {error}", EXIT_USAGE)
