"""An advisory lock that serialises read-modify-write cycles on one file."""

from __future__ import annotations

import fcntl
import os
from types import TracebackType
from typing import Optional, Type, Union


class FileLock:
    """An exclusive flock on a file. Every `quarel --in-place` run takes it before reading,
    so concurrent edits of one file follow each other instead of overwriting each other.
    It may be released from another thread than the one that acquired it.

    Writing replaces the file by a new one, so a waiter may get the lock on a file that is
    gone by then; it then locks the file now at the path instead.
    """

    def __init__(self, path: Union[str, "os.PathLike[str]"]) -> None:
        self.path = os.path.realpath(path)
        self._fd: Optional[int] = None

    def acquire(self) -> None:
        while True:
            # Non-blocking, so that a FIFO (which the writer will refuse) cannot hang the open.
            fd = os.open(self.path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
            try:
                fcntl.flock(fd, fcntl.LOCK_EX)
                if os.path.samestat(os.fstat(fd), os.stat(self.path)):
                    self._fd = fd
                    return
            except BaseException:
                os.close(fd)
                raise
            os.close(fd)

    def release(self) -> None:
        if self._fd is not None:
            fd, self._fd = self._fd, None
            os.close(fd)  # which releases the lock

    def __enter__(self) -> FileLock:
        self.acquire()
        return self

    def __exit__(
        self,
        kind: Optional[Type[BaseException]],
        error: Optional[BaseException],
        traceback: Optional[TracebackType],
    ) -> None:
        self.release()
