"""Documents from and to files: `load`, `loads` and `dump`, bytes exactly as they are; and
the rules by which every reader of Quarel files reads them.

A reader reads regular files only: anything else (a directory, a FIFO, a device, a socket, or
a symbolic link to one) is refused with a one-line OSError when named, before it is opened,
and passed over when found in a folder. Files are opened without blocking, and read up to a
cap (`MAX_SIZE`, which a caller may raise), so that no file can hang a reader or exhaust its
memory.

A path is written atomically: the new text goes to a temporary file beside the old one,
which is synced and then renamed over it, so a reader, a crash or an interrupt sees the old
file or the new, never a mix. A file that must keep its inode is rewritten in place instead,
with a synced recovery copy beside it until it is done.
"""

from __future__ import annotations

import contextlib
import errno
import fcntl
import os
import re
import secrets
import stat
import threading
from concurrent.futures import Future, ThreadPoolExecutor
from typing import IO, Callable, Dict, Iterable, Iterator, List, Optional, Tuple, Union

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

# Beside a file `name` its writers keep `.name.<16 hex digits>.tmp` while they write, and
# `.name.<...>.recovery` while they rewrite it in place. Each holds an flock on its file as
# long as it lives, so a file that can be locked was left by a writer that is gone.
_TEMPORARY, _RECOVERY = ".tmp", ".recovery"
_LEFTOVER = re.compile(r"\.(?P<name>.+)\.[0-9a-f]{16}(?P<kind>\.tmp|\.recovery)")

# Per folder, what `_leftovers` found: the recovery copies by the name of their file.
_found: Dict[str, Dict[str, List[str]]] = {}
_found_lock = threading.Lock()


def regular(status: os.stat_result, path: Path) -> os.stat_result:
    """The status of a regular file; OSError, with one line saying what it is, for anything
    else."""
    if not stat.S_ISREG(status.st_mode):
        what = _SPECIAL.get(stat.S_IFMT(status.st_mode), "not a regular file")
        raise OSError(errno.EINVAL, f"{what}, not a regular file", os.fspath(path))
    return status


# The most a reader reads of one file: a document takes about seven times its size in memory.
MAX_SIZE = 64 << 20


class TooLarge(OSError):
    """A file larger than a reader reads."""

    def __init__(self, path: Path, size: Optional[int], limit: int) -> None:
        message = f"larger than the limit of {size_text(limit)}"
        if size is not None:
            message = f"{size_text(size)}, {message}"
        super().__init__(errno.EFBIG, message, os.fspath(path))


def size_text(size: int) -> str:
    for unit, shift in (("GiB", 30), ("MiB", 20), ("KiB", 10)):
        if size >= 1 << shift:
            value = size / (1 << shift)
            return f"{value:.0f} {unit}" if value == int(value) else f"{value:.1f} {unit}"
    return f"{size} bytes"


def quarel_files(paths: Iterable[str]) -> Iterator[str]:
    """The paths given, with folders replaced by the *.quarel files below them. Of those, what
    is there but is not a regular file (a FIFO, a device, a link to one) is passed over."""
    for path in paths:
        if not os.path.isdir(path):
            yield path
            continue
        for folder, subfolders, files in os.walk(path):
            subfolders.sort()
            for name in sorted(files):
                if name.endswith(".quarel") and not _special(os.path.join(folder, name)):
                    yield os.path.join(folder, name)


def _special(path: str) -> bool:
    try:
        return not stat.S_ISREG(os.stat(path).st_mode)
    except OSError:
        return False  # gone, or a dangling link: the reader says so


def read_file(path: Path, max_size: Optional[int] = MAX_SIZE) -> bytes:
    """The bytes of the regular file at `path`. Anything else is refused before it is opened,
    and a file of more than `max_size` bytes (None: no cap) is refused with TooLarge; each
    with an OSError whose message is one line."""
    return _read(path, max_size)[0]


def _read(path: Path, max_size: Optional[int]) -> Tuple[bytes, os.stat_result]:
    regular(os.stat(path), path)
    # Without blocking and without a terminal: should the path be swapped for a FIFO or a
    # device meanwhile, the open neither waits nor acts, and fstat tells.
    fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC)
    try:
        status = regular(os.fstat(fd), path)
        data = read_capped(lambda size: os.read(fd, size), max_size, path, status.st_size)
        return data, status
    finally:
        os.close(fd)


def read_capped(
    read: Callable[[int], bytes], max_size: Optional[int], path: Path, expected: int = 0
) -> bytes:
    """Reads to the end through `read`, refusing more than `max_size` bytes (None: no cap);
    `expected` is the size the file tells, read at once as a rule."""
    if max_size is not None and expected > max_size:
        raise TooLarge(path, expected, max_size)
    parts: List[bytes] = []
    total = 0
    while True:
        # One more byte than told: a file may grow, or tell no size (as in /proc).
        want = max(expected + 1 - total, 1 << 16)
        chunk = read(want if max_size is None else min(want, max_size + 1 - total))
        if not isinstance(chunk, bytes):
            raise TypeError("load() needs a file opened in binary mode ('rb')")
        if not chunk:
            return b"".join(parts)
        parts.append(chunk)
        total += len(chunk)
        if max_size is not None and total > max_size:
            raise TooLarge(path, None, max_size)


def load(source: Union[Path, IO[bytes]], max_size: Optional[int] = MAX_SIZE) -> Document:
    """Parses a file, given as a path or a binary file object. Its bytes are parsed as they
    are, carriage returns included; bytes that are not UTF-8 raise UnicodeDecodeError
    naming the file. A path is read as `read_file` reads it: anything but a regular file,
    and a file of more than `max_size` bytes (None: no cap), raise OSError."""
    if isinstance(source, (str, os.PathLike)):
        data = read_file(source, max_size)
        name = os.fspath(source)
    else:
        name = str(getattr(source, "name", "<file>"))
        data = read_capped(source.read, max_size, name)
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

    An existing file keeps its mode, owner and group. A symbolic link stays a link: the
    file it leads to is written. A file with more hard links, or whose owner and group a new
    file could not get, is rewritten through its own inode (see `_rewrite_in_place`). A
    directory, device, FIFO or socket is refused with an OSError, and so is a file that an
    earlier write left half-written (see `check_leftovers`); then nothing is written.
    """
    target = os.path.realpath(path)
    old = existing_file(path)
    check_leftovers(target)
    folder, name = os.path.split(target)
    with interrupts.stops_unwind():
        fd, temporary = _create(folder, name)
        try:
            kept = _fill(fd, data, old)
            if old is not None and (old.st_nlink > 1 or not kept):
                _rewrite_in_place(target, data, temporary)
            else:
                os.replace(temporary, target)
                _sync_folder(folder)
        except BaseException:
            with contextlib.suppress(FileNotFoundError):
                os.unlink(temporary)
            raise
        finally:
            os.close(fd)  # which releases its lock


def check_leftovers(path: Path) -> None:
    """Raises OSError when an earlier write of the file was cut short while rewriting it in
    place: a recovery copy of the new content waits beside it, and the file may be half
    written. A copy the same as the file is removed instead. The first look at a folder also
    removes the temporary files there whose writers are gone."""
    target = os.path.realpath(path)
    folder, name = os.path.split(target)
    for copy in list(_leftovers(folder).get(name, [])):
        if not _redundant(copy, target):
            raise OSError(
                errno.EEXIST,
                f"an earlier write was cut short and may have left the file half-written; "
                f"its new content is in {copy} (copy that over the file, or delete it)",
                os.fspath(path),
            )


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
        return regular(os.stat(path), path)
    except FileNotFoundError:
        return None


def _rewrite_in_place(target: str, data: bytes, temporary: str) -> None:
    """Renaming would split the file from its other links, or give it the writer's owner, so
    the file itself is rewritten. The synced temporary file becomes a recovery copy
    meanwhile: should the machine stop half-way, it holds what the file was to become, and
    the next run finds it (`check_leftovers`)."""
    fd = os.open(target, os.O_WRONLY | os.O_CLOEXEC)  # first: one that may not be written stays as it was
    try:
        copy = temporary[: -len(_TEMPORARY)] + _RECOVERY
        try:
            os.rename(temporary, copy)
            _sync_folder(os.path.dirname(target))
        except BaseException:
            with contextlib.suppress(FileNotFoundError):
                os.unlink(copy)
            raise
        try:
            with interrupts.deferred():  # a rewrite cut short would be a broken file
                _write_all(fd, data)
                os.ftruncate(fd, len(data))
                os.fsync(fd)
        except OSError as e:
            raise OSError(e.errno, f"{e.strerror}; its new content is in {copy}", target) from None
    finally:
        os.close(fd)
    os.unlink(copy)


def _create(folder: str, name: str) -> Tuple[int, str]:
    """A new empty temporary file beside `name`, locked; its descriptor and path."""
    while True:
        # Random, so that concurrent writers never pick the same name.
        path = os.path.join(folder, f".{name}.{secrets.token_hex(8)}{_TEMPORARY}")
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX)
            # Before the lock was taken, another run may have found the file and removed it.
            mine = os.path.samestat(os.fstat(fd), os.stat(path))
        except FileNotFoundError:
            mine = False
        except BaseException:
            os.close(fd)
            with contextlib.suppress(FileNotFoundError):
                os.unlink(path)
            raise
        if mine:
            return fd, path
        os.close(fd)


def _fill(fd: int, data: bytes, old: Optional[os.stat_result]) -> bool:
    """Writes and syncs the new file. It keeps the mode that the umask left, or gets the old
    file's mode, owner and group; False when it could not get the owner and group, and is
    then readable by its owner only."""
    kept = old is None or _keep_owner(fd, old)
    if old is not None:
        # After chown, which may clear set-id bits.
        os.fchmod(fd, stat.S_IMODE(old.st_mode) if kept else 0o600)
    _write_all(fd, data)
    os.fsync(fd)
    return kept


def _keep_owner(fd: int, old: os.stat_result) -> bool:
    """Gives the new file the old one's owner and group; False where not permitted."""
    new = os.fstat(fd)
    if (new.st_uid, new.st_gid) == (old.st_uid, old.st_gid):
        return True
    try:
        os.fchown(fd, old.st_uid, old.st_gid)
    except PermissionError:
        return False
    return True


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


def _leftovers(folder: str) -> Dict[str, List[str]]:
    """The recovery copies in the folder whose writers are gone, by the name of their file;
    the temporary files of such writers are removed. The folder is listed once per process:
    a run over many files in it stays linear."""
    with _found_lock:
        if folder not in _found:
            _found[folder] = _sweep(folder)
        return _found[folder]


def _sweep(folder: str) -> Dict[str, List[str]]:
    copies: Dict[str, List[str]] = {}
    try:
        with os.scandir(folder) as entries:
            files = [e.path for e in entries if e.is_file(follow_symlinks=False)]
    except OSError:  # a folder that may not be listed: nothing to find
        return copies
    for path in files:
        match = _LEFTOVER.fullmatch(os.path.basename(path))
        if match is None:
            continue
        with _abandoned(path) as gone:
            if gone is False:
                continue
            if match["kind"] == _RECOVERY:
                copies.setdefault(match["name"], []).append(path)
            elif gone:
                with contextlib.suppress(OSError):
                    os.unlink(path)
    return copies


@contextlib.contextmanager
def _abandoned(path: str) -> Iterator[Optional[bool]]:
    """Whether the writer of a temporary file or recovery copy is gone (None: the file may
    not be opened to tell). Its lock is held meanwhile, so that its writer cannot be
    starting on it."""
    fd: Optional[int] = None
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOFOLLOW | os.O_CLOEXEC)
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        gone: Optional[bool] = os.path.samestat(os.fstat(fd), os.stat(path))
    except OSError as e:
        # Its writer holds it, or has renamed or removed it meanwhile; or it is not ours to open.
        gone = None if fd is None and not isinstance(e, FileNotFoundError) else False
    try:
        yield gone
    finally:
        if fd is not None:
            os.close(fd)


def _redundant(copy: str, target: str) -> bool:
    """Whether the recovery copy is gone or holds what the file holds, and is then removed."""
    try:
        if read_file(copy, None) != read_file(target, None):
            return False
        os.unlink(copy)
    except OSError as e:
        # Unless the copy is gone meanwhile, a file that is gone or a copy not ours to read
        # or remove is for the user to sort out.
        if not (isinstance(e, FileNotFoundError) and e.filename == copy):
            return False
    folder, name = os.path.split(target)
    with _found_lock:
        copies = _found[folder][name]
        if copy in copies:
            copies.remove(copy)
    return True
