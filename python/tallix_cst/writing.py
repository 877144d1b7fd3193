"""How a file gets its new content without losing a byte, or writing anywhere else.

The new content is prepared beside the file: a temporary file that gets the old one's owner,
group, extended attributes (ACLs among them) and mode, is written and synced. As the last step
before it takes the file's place, the file at the path is checked to be still the one that
was read, as it was read (the same device and inode, not a symbolic link, the same size,
modification time and bytes). Then the temporary file is renamed over it, and a reader, a
crash or an interrupt sees the old file or the new, never a mix.

Where renaming would lose something (the file's other hard links, an owner or attributes a
new file cannot get, a file bind-mounted over the name), the file is rewritten through its
own inode instead: the prepared file becomes its recovery copy (see `leftovers`), room for
the new content is reserved first, so that a full disk fails before anything changes, and the
copy goes once the rewrite is synced. Every step works in the folder opened once, so that a
folder swapped meanwhile changes nothing.
"""

from __future__ import annotations

import contextlib
import errno
import hashlib
import os
import stat
import threading
from concurrent.futures import Future, ThreadPoolExecutor
from dataclasses import dataclass
from typing import Callable, List, Optional, Sequence, Tuple, Union

from tallix_cst import attributes, interrupts, leftovers
from tallix_cst.names import quoted

Path = Union[str, "os.PathLike[str]"]

# What a refused file is, by the type bits of its mode.
_SPECIAL = {
    stat.S_IFDIR: "a directory",
    stat.S_IFCHR: "a character device",
    stat.S_IFBLK: "a block device",
    stat.S_IFIFO: "a FIFO",
    stat.S_IFSOCK: "a socket",
}
_CHUNK = 1 << 20
Errors = List[Optional[OSError]]


class Changed(OSError):
    """The file at the path is no longer the one that was read, as it was read; nothing was
    written to it."""


@dataclass(frozen=True)
class Snapshot:
    """A file as it was read, for its writer to check that it still writes that file."""

    target: str  # its real path, symbolic links resolved
    device: int
    inode: int
    size: int
    mtime_ns: int
    digest: bytes

    @classmethod
    def of(cls, path: Path, status: os.stat_result, data: bytes) -> Snapshot:
        return cls(
            os.path.realpath(path),
            status.st_dev,
            status.st_ino,
            status.st_size,
            status.st_mtime_ns,
            digest(data),
        )

    def changed(self, status: os.stat_result) -> Optional[str]:
        """What changed, judged by the file's status; None when nothing seems to have."""
        if (status.st_dev, status.st_ino) != (self.device, self.inode):
            return "replaced by another file since it was read"
        if (status.st_size, status.st_mtime_ns) != (self.size, self.mtime_ns):
            return "changed since it was read"
        return None


def digest(data: bytes) -> bytes:
    return hashlib.blake2b(data, digest_size=16).digest()


def regular(status: os.stat_result, path: Path) -> os.stat_result:
    """The status of a regular file; OSError, with one line saying what it is, for anything
    else."""
    if not stat.S_ISREG(status.st_mode):
        what = _SPECIAL.get(stat.S_IFMT(status.st_mode), "not a regular file")
        raise OSError(errno.EINVAL, f"{what}, not a regular file", os.fspath(path))
    return status


def existing_file(path: Path) -> Optional[os.stat_result]:
    """The status of the regular file at `path` (links followed), or None when there is
    none. Raises OSError for anything else there: it is never written."""
    try:
        return regular(os.stat(path), path)
    except FileNotFoundError:
        return None


def write_file(path: Path, data: bytes, expected: Optional[Snapshot] = None) -> None:
    """Gives the file at `path` the content `data`, atomically.

    An existing file keeps its mode, owner, group, ACL and extended attributes. A symbolic
    link stays a link: the file it leads to is written. A file with more hard links, or
    whose owner or attributes a new file could not get, or that is bind-mounted, is
    rewritten through its own inode. A directory, device, FIFO or socket is refused with an
    OSError, and so is a file that an earlier write left half-written; then nothing is
    written. With `expected`, the file read is written, or nothing: Changed when it is no
    longer that file as it was read.
    """
    with interrupts.stops_unwind():
        prepared = Prepared(path, data, expected)
        try:
            with interrupts.deferred():  # once it is checked, it is replaced
                prepared.check()
                prepared.reserve()
                prepared.commit()
        finally:
            prepared.discard()


def write_all(files: Sequence[Tuple[str, bytes, Optional[Snapshot]]]) -> Errors:
    """Writes every file (path, new content, what was read) or, where any fails before the
    first is replaced, none: each is prepared (written and synced beside its target), then
    each is checked and its room reserved, and only then are they renamed (or rewritten) one
    after the other. A failure after that stops the rest. The error of each file, None for
    those written."""
    errors: Errors = [None] * len(files)
    pool = ThreadPoolExecutor(16, thread_name_prefix="tallix-write")
    futures = [pool.submit(Prepared, *file) for file in files]
    prepared: List[Prepared] = []
    try:
        pool.shutdown(wait=True)
        for i, future in enumerate(futures):
            error = future.exception()
            if error is None:
                prepared.append(future.result())
            else:
                errors[i] = _oserror(error)
        if any(errors):
            return _unwritten(errors, "another file could not be prepared")
        with interrupts.deferred():  # once begun, the set is replaced whole
            for i, each in enumerate(prepared):
                try:
                    each.check()
                    each.reserve()
                except OSError as e:
                    errors[i] = e
                    return _unwritten(errors, "another file failed its last check")
            for i, each in enumerate(prepared):
                try:
                    each.commit()
                except OSError as e:
                    errors[i] = e
                    why = f"the write of {quoted(files[i][0])} failed after {i} of {len(files)} were"
                    why += " written"
                    return _unwritten(errors, why, first=i + 1)
        return errors
    finally:
        with interrupts.deferred():
            pool.shutdown(wait=True)  # again, after an interrupt
            for future in futures:
                if not future.cancelled() and future.exception() is None:
                    future.result().discard()


def _unwritten(errors: Errors, why: str, first: int = 0) -> Errors:
    """The errors, where each file from `first` on without one was not written, and why."""
    unwritten = OSError(errno.ECANCELED, f"not written: {why}")
    return [unwritten if error is None and i >= first else error for i, error in enumerate(errors)]


def _oserror(error: BaseException) -> OSError:
    if isinstance(error, OSError):
        return error
    if isinstance(error, Exception):
        return OSError(errno.EIO, str(error))
    raise error


class Prepared:
    """A file's new content, written and synced beside it, ready to take its place."""

    def __init__(self, path: Path, data: bytes, expected: Optional[Snapshot] = None) -> None:
        self.data, self.expected = data, expected
        self.target = expected.target if expected is not None else os.path.realpath(path)
        folder, self.name = os.path.split(self.target)
        self.folder = folder or "."
        self.folder_fd = os.open(self.folder, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
        self.fd: Optional[int] = None  # the new file's
        self.temporary: Optional[str] = None  # its name, until it is renamed
        self.copy: Optional[str] = None  # its name as a recovery copy
        self.file_fd: Optional[int] = None  # the old file's, to rewrite it through
        self.reserved: Optional[int] = None  # the old size, once room is reserved
        try:
            self._prepare()
        except BaseException:
            self.discard()
            raise

    def _prepare(self) -> None:
        old = self._old()
        leftovers.check(self.target, clean=True)
        leftovers.sweep(self.folder)
        # Readable by its owner alone until it has the old file's mode.
        mode = 0o600 if old is not None else 0o666
        self.fd, self.temporary = leftovers.create(self.folder_fd, self.name, old, mode)
        kept = old is None or attributes.copy(self.target, old, self.fd)
        if not kept:
            os.fchmod(self.fd, 0o600)
        _write_all(self.fd, self.data)
        os.fsync(self.fd)
        # A file on another device than its folder is mounted there: a rename cannot replace it.
        mounted = old is not None and old.st_dev != os.fstat(self.folder_fd).st_dev
        if old is not None and (old.st_nlink > 1 or not kept or mounted):
            self._to_recovery_copy()

    def _old(self) -> Optional[os.stat_result]:
        """The status of the file to replace, None when there is none."""
        try:
            status = os.stat(self.name, dir_fd=self.folder_fd, follow_symlinks=False)
        except FileNotFoundError as e:
            if self.expected is not None:
                raise self._changed(e) from None
            return None
        if stat.S_ISLNK(status.st_mode):
            raise self._changed(OSError(errno.ELOOP, ""))
        return regular(status, self.target)

    def _open(self, flags: int) -> int:
        """The file at the path, opened without following a link."""
        flags |= os.O_NOFOLLOW | os.O_NONBLOCK | os.O_CLOEXEC
        try:
            return os.open(self.name, flags, dir_fd=self.folder_fd)
        except OSError as e:
            raise self._changed(e) from None

    def _changed(self, error: OSError) -> OSError:
        """What to raise for an error met on the file at the path, since it was read."""
        if error.errno == errno.ENOENT:
            return Changed(error.errno, "removed or renamed since it was read", self.target)
        if error.errno == errno.ELOOP:
            return Changed(error.errno, "became a symbolic link since it was read", self.target)
        return error

    def _to_recovery_copy(self) -> None:
        """Renaming would split the file from its other links, or lose its owner or
        attributes, so it is to be rewritten through its inode; the new file is kept meanwhile
        as a recovery copy."""
        assert self.temporary is not None
        # First: a file that may not be written stays as it was.
        self.file_fd = self._open(os.O_RDWR if self.expected is not None else os.O_WRONLY)
        copy = self.temporary[: -len(leftovers.TEMPORARY)] + leftovers.RECOVERY
        _rename(self.folder_fd, self.temporary, copy)
        self.temporary, self.copy = None, copy
        os.fsync(self.folder_fd)

    def check(self) -> None:
        """Raises Changed unless the file at the path is still the one that was read, as it
        was read. The last step before it is replaced."""
        if self.expected is None:
            return
        fd = self.file_fd if self.file_fd is not None else self._open(os.O_RDONLY)
        try:
            why = self.expected.changed(os.fstat(fd))
            if why is None and _digest_of(fd) != self.expected.digest:
                why = "changed since it was read"
            if why is None:  # nor while its bytes were read
                why = self.expected.changed(os.fstat(fd))
        finally:
            if fd != self.file_fd:
                os.close(fd)
        if why is not None:
            raise Changed(errno.ESTALE, why, self.target)

    def reserve(self) -> None:
        """For a rewrite through the inode: marks the file with its recovery copy, and makes
        room for the new content, so that a full disk (or a limit on file sizes) fails before
        any old byte is overwritten."""
        if self.file_fd is None:
            return
        assert self.copy is not None
        leftovers.mark_rewriting(self.file_fd, os.path.join(self.folder, self.copy))
        size = os.fstat(self.file_fd).st_size
        self.reserved = size
        try:
            if not self._allocate():  # no way to reserve: the tail goes first
                _write_all(self.file_fd, self.data[size:], size)
            os.fsync(self.file_fd)
        except OSError as e:
            raise OSError(e.errno, f"{e.strerror}; the file is as it was", self.target) from None

    def _allocate(self) -> bool:
        """Allocates the blocks the new content needs (holes included); False where the
        system or the file system cannot."""
        if not self.data or not hasattr(os, "posix_fallocate"):
            return not self.data
        assert self.file_fd is not None
        try:
            os.posix_fallocate(self.file_fd, 0, len(self.data))
        except OSError as e:
            if e.errno in (errno.EOPNOTSUPP, errno.ENOTSUP, errno.EINVAL, errno.ENOSYS):
                return False
            raise
        return True

    def commit(self) -> None:
        """Replaces the file: renames the new one over it, or rewrites it."""
        if self.file_fd is None:
            assert self.temporary is not None
            try:
                _rename(self.folder_fd, self.temporary, self.name)
            except OSError as e:
                if e.errno != errno.EBUSY:
                    raise
                # Bind-mounted over the name (a container's configuration file, say).
                self._to_recovery_copy()
                self.check()
                self.reserve()
                self._rewrite()
                return
            self.temporary = None
            assert self.fd is not None
            leftovers.unmark(self.fd)
            os.fsync(self.folder_fd)
            return
        self._rewrite()

    def _rewrite(self) -> None:
        assert self.file_fd is not None and self.copy is not None
        with interrupts.deferred():  # a rewrite cut short would be a broken file
            try:
                _write_all(self.file_fd, self.data, 0)
                os.ftruncate(self.file_fd, len(self.data))
                os.fsync(self.file_fd)
            except OSError as e:
                copy = os.path.join(self.folder, self.copy)
                self.reserved = self.copy = None  # the file may be half-written: both stay
                message = f"{e.strerror}; its new content is in {quoted(copy)}"
                raise OSError(e.errno, message, self.target) from None
            self.reserved = None
            leftovers.unmark_rewriting(self.file_fd)
            os.unlink(self.copy, dir_fd=self.folder_fd)
            self.copy = None

    def discard(self) -> None:
        """Gives back the room reserved, removes whatever is left of the new file, and closes
        everything; the old file is as it was, unless it was replaced."""
        if self.reserved is not None and self.file_fd is not None:
            with contextlib.suppress(OSError):
                if os.fstat(self.file_fd).st_size > self.reserved:
                    os.ftruncate(self.file_fd, self.reserved)
                leftovers.unmark_rewriting(self.file_fd)
        self.reserved = None
        for name in (self.temporary, self.copy):
            if name is not None:
                with contextlib.suppress(FileNotFoundError):
                    os.unlink(name, dir_fd=self.folder_fd)
        self.temporary = self.copy = None
        for fd in (self.fd, self.file_fd, self.folder_fd):
            if fd is not None and fd >= 0:
                os.close(fd)  # the new file's releases its lock
        self.fd = self.file_fd = None
        self.folder_fd = -1


class WriteQueue:
    """Writes files as `write_file` does, on a few threads. Making a file durable waits on
    the disk, and a disk makes a dozen files durable in about the time of one, so bulk
    edits write this way. Leaving the `with` block waits for every write."""

    def __init__(self, threads: int = 16) -> None:
        self._pool = ThreadPoolExecutor(threads, thread_name_prefix="tallix-write")
        # Each queued write may hold a file lock open: keep the number of them bounded.
        self._room = threading.BoundedSemaphore(threads * 4)

    def write(
        self, path: Path, data: bytes, then: Callable[[], None], expected: Optional[Snapshot] = None
    ) -> "Future[None]":
        """Queues the write; `then` runs after it, whether it succeeded or not."""
        self._room.acquire()

        def run() -> None:
            try:
                write_file(path, data, expected)
            finally:
                then()
                self._room.release()

        return self._pool.submit(run)

    def __enter__(self) -> WriteQueue:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self._pool.shutdown(wait=True)


def _rename(folder: int, source: str, target: str) -> None:
    os.rename(source, target, src_dir_fd=folder, dst_dir_fd=folder)


def _write_all(fd: int, data: bytes, offset: Optional[int] = None) -> None:
    view = memoryview(data)
    while view:
        written = os.write(fd, view) if offset is None else os.pwrite(fd, view, offset)
        view = view[written:]
        if offset is not None:
            offset += written


def _digest_of(fd: int) -> bytes:
    hash = hashlib.blake2b(digest_size=16)
    offset = 0
    while True:
        chunk = os.pread(fd, _CHUNK, offset)
        if not chunk:
            return hash.digest()
        hash.update(chunk)
        offset += len(chunk)
