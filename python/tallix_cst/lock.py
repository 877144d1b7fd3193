"""An advisory lock that serialises read-modify-write cycles on one file."""

from __future__ import annotations

import contextlib
import fcntl
import os
from typing import Iterator, Union


@contextlib.contextmanager
def locked(path: Union[str, "os.PathLike[str]"]) -> Iterator[None]:
    """Holds an exclusive flock on the file for the block. Every `quarel --in-place` run
    takes it before reading, so concurrent edits of one file follow each other instead of
    overwriting each other.

    Writing replaces the file by a new one, so a waiter may get the lock on a file that is
    gone by then; it then locks the file now at the path instead.
    """
    target = os.path.realpath(path)
    while True:
        # Non-blocking, so that a FIFO (which the writer will refuse) cannot hang the open.
        fd = os.open(target, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX)
            if os.path.samestat(os.fstat(fd), os.stat(target)):
                yield
                return
        finally:
            os.close(fd)  # releases the lock
