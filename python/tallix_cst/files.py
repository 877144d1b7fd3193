"""Documents from and to files: `load`, `loads` and `dump`, bytes exactly as they are.

A path is written atomically: the new text goes to a temporary file beside the old one,
which is synced and then renamed over it, so a reader, a crash or an interrupt sees the old
file or the new, never a mix.
"""

from __future__ import annotations

import contextlib
import errno
import os
import secrets
import stat
import threading
from concurrent.futures import Future, ThreadPoolExecutor
from typing import IO, Callable, Optional, Union

from tallix_cst import interrupts
from tallix_cst._native import Document, parse_quarel

Path = Union[str, "os.PathLike[str]"]

# What a refused file is, by the type bits of its mode.
_SPECIAL = {
    stat.S_IFDIR: "a directory",
    stat.S_IFCHR: "a character device",
    stat.S_IFBLK: "a block device",
    stat.S_IFIFO: "a FIFO",
    stat.S_IFSOCK: "a socket",
}


def read_file(path: Path) -> bytes:
    """The file's bytes, in one read."""
    with open(path, "rb", buffering=0) as f:  # unbuffered: no copy through a buffer
        return f.readall()


def load(source: Union[Path, IO[bytes]]) -> Document:
    """Parses a file, given as a path or a binary file object. Its bytes are parsed as they
    are, carriage returns included; bytes that are not UTF-8 raise UnicodeDecodeError
    naming the file."""
    if isinstance(source, (str, os.PathLike)):
        data = read_file(source)
        name = os.fspath(source)
    else:
        data = source.read()
        if not isinstance(data, bytes):
            raise TypeError("load() needs a file opened in binary mode ('rb')")
        name = str(getattr(source, "name", "<file>"))
    try:
        return Document.parse(data)
    except UnicodeDecodeError as e:
        raise UnicodeDecodeError(
            e.encoding, e.object, e.start, e.end, f"{e.reason} in {name}"
        ) from None


def loads(data: Union[str, bytes, bytearray]) -> Document:
    """Parses the contents of a Quarel file given as text or as UTF-8 bytes. A leading
    U+FEFF is the file's byte-order mark, as if the bytes were read: it prints back but is not
    part of the first key."""
    if isinstance(data, str):
        return Document.parse(data.encode()) if data.startswith("\ufeff") else parse_quarel(data)
    if isinstance(data, (bytes, bytearray)):
        return Document.parse(data)
    raise TypeError(f"loads() argument must be str or bytes, not {type(data).__name__}")


def dump(doc: Document, target: Union[Path, IO[bytes]]) -> None:
    """Writes the document to a binary file object, or to a path (see `write_file`)."""
    data = doc.to_bytes()
    if isinstance(target, (str, os.PathLike)):
        write_file(target, data)
    else:
        target.write(data)


def write_file(path: Path, data: bytes) -> None:
    """Gives the file at `path` the content `data`, atomically.

    An existing file keeps its mode, and its owner and group where permitted. A symbolic
    link stays a link: the file it leads to is written. A file with more hard links is
    written through its own inode so that it stays one file. A directory, device, FIFO or
    socket is refused with an OSError, and nothing is written.
    """
    target = os.path.realpath(path)
    old = existing_file(path)
    with interrupts.sigterm_unwinds():
        if old is not None and old.st_nlink > 1:
            _rewrite_in_place(target, data, old)
        else:
            _replace(target, data, old)


class WriteQueue:
    """Writes files as `write_file` does, on a few threads. Making a file durable waits on
    the disk, and a disk makes a dozen files durable in about the time of one, so bulk
    edits write this way. Leaving the `with` block waits for every write."""

    def __init__(self, threads: int = 16) -> None:
        self._pool = ThreadPoolExecutor(threads, thread_name_prefix="tallix-write")
        # Each queued write may hold a file lock open: keep the number of them bounded.
        self._room = threading.BoundedSemaphore(threads * 4)

    def write(self, path: Path, data: bytes, then: Callable[[], None]) -> "Future[None]":
        """Queues the write; `then` runs after it, whether it succeeded or not."""
        self._room.acquire()

        def run() -> None:
            try:
                write_file(path, data)
            finally:
                then()
                self._room.release()

        return self._pool.submit(run)

    def __enter__(self) -> WriteQueue:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self._pool.shutdown(wait=True)


def existing_file(path: Path) -> Optional[os.stat_result]:
    """The status of the regular file at `path` (links followed), or None when there is
    none. Raises OSError for anything else there: `write_file` would not replace it."""
    try:
        status = os.stat(path)
    except FileNotFoundError:
        return None
    if not stat.S_ISREG(status.st_mode):
        what = _SPECIAL.get(stat.S_IFMT(status.st_mode), "not a regular file")
        raise OSError(errno.EINVAL, f"{what}, not a regular file", os.fspath(path))
    return status


def _replace(target: str, data: bytes, old: Optional[os.stat_result]) -> None:
    folder, name = os.path.split(target)
    temporary = _temporary_name(folder, name)
    try:
        _write_new(temporary, data, old)
        os.replace(temporary, target)
    except BaseException:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(temporary)
        raise
    _sync_folder(folder)


def _rewrite_in_place(target: str, data: bytes, old: os.stat_result) -> None:
    """Renaming would split the file from its other links, so the file itself is
    rewritten. A synced copy of the new content waits beside it meanwhile: should the
    machine stop half-way, the copy holds what the file was to become."""
    folder, name = os.path.split(target)
    copy = _temporary_name(folder, name)
    try:
        _write_new(copy, data, old)
        _sync_folder(folder)
    except BaseException:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(copy)
        raise
    try:
        with interrupts.deferred():  # a rewrite cut short would be a broken file
            fd = os.open(target, os.O_WRONLY | os.O_CLOEXEC)
            try:
                _write_all(fd, data)
                os.ftruncate(fd, len(data))
                os.fsync(fd)
            finally:
                os.close(fd)
    except OSError as e:
        raise OSError(e.errno, f"{e.strerror}; its new content is in {copy}", target) from None
    os.unlink(copy)


def _temporary_name(folder: str, name: str) -> str:
    # Random, so that concurrent writers never pick the same name.
    return os.path.join(folder, f".{name}.{secrets.token_hex(8)}.tmp")


def _write_new(path: str, data: bytes, old: Optional[os.stat_result]) -> None:
    """Creates the file (failing if it exists), writes and syncs it. A new file gets the
    mode that the umask leaves; otherwise the old file's mode, owner and group."""
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666)
    try:
        if old is not None:
            _keep_owner(fd, old)
            os.fchmod(fd, stat.S_IMODE(old.st_mode))  # after chown, which may clear set-id bits
        _write_all(fd, data)
        os.fsync(fd)
    finally:
        os.close(fd)


def _keep_owner(fd: int, old: os.stat_result) -> None:
    """Owner and group as before, or the group alone, or neither, as permitted."""
    if (old.st_uid, old.st_gid) == (os.geteuid(), os.getegid()):
        return
    for uid in (old.st_uid, -1):
        try:
            os.fchown(fd, uid, old.st_gid)
            return
        except PermissionError:
            continue


def _write_all(fd: int, data: bytes) -> None:
    view = memoryview(data)
    while view:
        view = view[os.write(fd, view) :]


def _sync_folder(folder: str) -> None:
    """Makes a rename durable."""
    fd = os.open(folder or ".", os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)
